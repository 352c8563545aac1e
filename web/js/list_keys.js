// Lists that follow the keyboard: the arrow keys, PageUp, PageDown, Home and End move the
// current row of a grid, and typing the first characters of a name (or its pinyin initials,
// "zjg" for 张建国) jumps to the first row that starts so.
//
// Every key press counts, also when keys repeat faster than the server answers: the row a key
// moves to is worked out from the row the previous key asked for (not from the state drawn
// last), the row is marked and scrolled into view at once, and each `select` is queued behind
// the others (Api keeps them in order and drops none). Once every select of the list has been
// answered, the state the server drew is again what counts.
//
//   handleListKey(e, {ctx, control, rowNumber, form, tr, typeAhead})   // from a row's keydown: true when used
//                                                        // (typeAhead false: the arrow keys only)
//
// A long list holds only a window of its rows (rows_from .. rows_from + rows.length - 1 of
// row_count): the keys move over the whole list, and typing that matches no row of the window
// asks the server, which searches the whole list by the start of the text.

const TYPE_AHEAD_PAUSE = 900;  // ms without a key after which typing starts a new search

const lists = new Map();  // by window/control: {target, pending, typed, typedAt}

function listState(key) {
  if (!lists.has(key)) lists.set(key, {target: 0, pending: 0, typed: '', typedAt: 0});
  return lists.get(key);
}

// ---- pinyin initials ------------------------------------------------------------------------

// The pinyin module is served from the npm package pinyin-pro; without it, type-ahead still
// matches the characters themselves.
let pinyinModule = null;
let pinyinLoading = null;
const initialsCache = new Map();

export function loadPinyin() {
  if (!pinyinLoading) {
    pinyinLoading = import('/vendor/pinyin-pro/esm/index.mjs')
      .then((m) => { pinyinModule = m; })
      .catch(() => { pinyinModule = null; });
  }
  return pinyinLoading;
}

const HAN = /[\u3400-\u9fff]/;

// "张建国" → "zjg"; other characters stay as they are (lower case). A surname is read as one.
export function initials(text) {
  const value = String(text ?? '');
  if (!HAN.test(value) || !pinyinModule) return value.toLowerCase();
  let cached = initialsCache.get(value);
  if (cached === undefined) {
    try {
      cached = pinyinModule.pinyin(value, {pattern: 'first', toneType: 'none', type: 'array', surname: 'head'})
        .join('').toLowerCase();
    } catch (e) {
      cached = value.toLowerCase();
    }
    if (initialsCache.size > 5000) initialsCache.clear();
    initialsCache.set(value, cached);
  }
  return cached;
}

function rowMatches(row, typed) {
  const lower = typed.toLowerCase();
  for (const value of row.values) {
    if (value === null || value === undefined) continue;
    const text = String(value).trim();
    if (!text) continue;
    if (text.toLowerCase().startsWith(lower)) return true;
    if (HAN.test(text) && initials(text).startsWith(lower)) return true;
  }
  return false;
}

// The first row of the window from `from` on (wrapping round within the window) that starts
// with what was typed; 0 when none of the rows held does.
function findRow(form, typed, from) {
  const first = form.rows_from || 1;
  const n = form.rows.length;
  const start = Math.min(Math.max(from, first), first + n - 1) - first;
  for (let i = 0; i < n; i++) {
    const index = (start + i) % n;
    if (rowMatches(form.rows[index], typed)) return first + index;
  }
  return 0;
}

function rowCount(form) {
  return form.row_count ?? form.rows.length;
}

// The first row of the whole list, from `from` on, whose text in one of the shown columns
// starts with `typed`; 0 when none.
async function findOnServer({ctx, control, form}, typed, from) {
  const columns = [...new Set((form.objects || [])
    .filter((o) => o.kind === 'column' && o.band === 'detail' && o.column)
    .map((o) => o.column))];
  for (const column of columns) {
    const row = await ctx.findRow(control, column, typed, from);
    if (row) return row;
  }
  return 0;
}

// ---- moving -----------------------------------------------------------------------------

function rowsPerPage(tr) {
  const wrap = tr.closest('.ctl-form') || tr.closest('.grid-wrap');
  const height = tr.getBoundingClientRect().height || 24;
  const head = wrap ? (wrap.querySelector('thead') || {}).offsetHeight || 0 : 0;
  const room = wrap ? wrap.getBoundingClientRect().height - head * (height / (tr.offsetHeight || height)) : height * 10;
  return Math.max(1, Math.floor(room / height) - 1);
}

// Marks `row` as the current row in what is drawn and brings it into view with the focus.
function showRow(tr, row) {
  const body = tr.parentElement;
  const next = body && body.querySelector(`tr[data-row="${row}"]`);
  if (!next) return;
  for (const current of body.querySelectorAll('tr.current')) {
    current.classList.remove('current');
    current.setAttribute('aria-selected', 'false');
    current.tabIndex = -1;
  }
  next.classList.add('current');
  next.setAttribute('aria-selected', 'true');
  next.tabIndex = 0;
  next.focus({preventScroll: true});
  scrollRowIntoView(next);
}

// Scrolls the row's list (only that) so that the whole row, under the sticky header, shows.
export function scrollRowIntoView(tr) {
  const box = tr.closest('.ctl-form');
  if (!box) return;
  const head = box.querySelector('thead');
  const boxRect = box.getBoundingClientRect();
  const rowRect = tr.getBoundingClientRect();
  const headHeight = head ? head.getBoundingClientRect().height : 0;
  // The control may be zoomed: rectangles are in screen pixels, scrollTop in the control's.
  const scale = box.offsetHeight ? boxRect.height / box.offsetHeight : 1;
  const top = boxRect.top + headHeight;
  const bottom = boxRect.top + box.clientHeight * scale;
  if (rowRect.top < top) box.scrollTop -= (top - rowRect.top) / scale;
  else if (rowRect.bottom > bottom) box.scrollTop += (rowRect.bottom - bottom) / scale;
}

function moveTo(state, {ctx, control, tr}, row) {
  state.target = row;
  showRow(tr, row);
  state.pending += 1;
  Promise.resolve(ctx.post({kind: 'select', target: control, row})).finally(() => {
    state.pending -= 1;
    if (state.pending === 0) state.target = 0;
  });
}

const MOVES = new Set(['ArrowDown', 'ArrowUp', 'PageDown', 'PageUp', 'Home', 'End']);

// Keys are worked off one after the other, in the order pressed: the first typed character
// waits for the pinyin module, and the keys after it wait their turn.
let keys = Promise.resolve();

// Handles a key pressed on a row of a grid; answers true when the key was the list's.
export function handleListKey(e, info) {
  if (e.ctrlKey || e.metaKey || e.altKey || !rowCount(info.form)) return false;
  const typed = !MOVES.has(e.key);
  if (typed && (e.key.length !== 1 || e.key === ' ' || info.typeAhead === false)) return false;
  e.preventDefault();
  if (!pinyinModule) loadPinyin();
  const key = e.key;
  const at = Date.now();
  keys = keys.then(async () => {
    if (typed && !pinyinModule) await loadPinyin();
    await listKey(key, at, info);
  }).catch((err) => console.warn('list key:', err));
  return true;
}

async function listKey(key, at, info) {
  const {ctx, control, rowNumber, form} = info;
  const count = rowCount(form);
  const state = listState(`${ctx.windowKey}/${control}`);
  const from = state.pending > 0 && state.target ? state.target : (form.current_row || rowNumber);
  let row = 0;
  switch (key) {
    case 'ArrowDown': row = Math.min(count, from + 1); break;
    case 'ArrowUp': row = Math.max(1, from - 1); break;
    case 'PageDown': row = Math.min(count, from + rowsPerPage(info.tr)); break;
    case 'PageUp': row = Math.max(1, from - rowsPerPage(info.tr)); break;
    case 'Home': row = 1; break;
    case 'End': row = count; break;
    default: {
      // Typing goes on within a pause: a first character looks from the next row on, more
      // characters refine from the row reached. One key pressed again and again ("zzz") that
      // no row starts with goes on to the next row that starts with that key.
      const typed = at - state.typedAt < TYPE_AHEAD_PAUSE ? state.typed + key : key;
      state.typed = typed;
      state.typedAt = at;
      const next = from % count + 1;
      row = findRow(form, typed, typed.length === 1 ? next : from);
      if (!row && [...typed].every((c) => c === key)) row = findRow(form, key, next);
      // Beyond the rows held: the server looks through the whole list.
      if (!row && rowCount(form) > form.rows.length) row = await findOnServer(info, typed, next);
      if (!row) row = from;
    }
  }
  if (row !== from) moveTo(state, info, row);
}
