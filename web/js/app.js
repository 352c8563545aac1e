// The browser side of shenbao: a thin renderer of the session state.
//
// It logs in, then draws what the server's state says: the frame with its menu of categories,
// the sheet tabs, the active window (zoomed to fit), modal windows, the message box, the
// status line and the print jobs. Every user action is one event posted to the server; the
// answer carries the new state, which is drawn again. Nothing of the application's behaviour
// lives here.

import {Api} from './api.js';
import {caption, h, mnemonic, plain} from './dom.js';
import {closeOpenList, openListKey, placeOpenList} from './dropdown.js';
import {initials, loadPinyin} from './list_keys.js';
import {renderWindow} from './window_view.js';

const BUTTONS = {yes: '是(Y)', no: '否(N)', ok: '确定', cancel: '取消', retry: '重试(R)'};
const BUTTON_KEYS = {y: 'yes', n: 'no', r: 'retry'};
const ICONS = {information: 'i', question: '?', exclamation: '!', stop: '×'};
const ROLE = {clerk: '申报单位', authority: '人事主管部门'};

const root = document.getElementById('app');
const busyBar = document.getElementById('busy-bar');

const app = {
  state: null,
  user: null,
  units: [],
  seenJobs: null,
  rendering: false,
  rejected: null,      // {key, error}: a typed value the window refused, shown on its cell
  previews: new Map(), // preview info by form and rows
  frame: null,         // the frame's long-lived elements
};

// ---- names of codes --------------------------------------------------------------------

// What every code list of a form has shown so far, so that a cell keeps showing a name when
// its list is narrowed to other entries.
const names = {
  lists: new Map(),
  entry(windowKey, control, column) {
    const key = `${windowKey}/${control}/${column}`;
    if (!this.lists.has(key)) this.lists.set(key, {byCode: new Map(), size: 0});
    return this.lists.get(key);
  },
  learn(windowKey, control, column, list) {
    const e = this.entry(windowKey, control, column);
    for (const [code, name] of list) e.byCode.set(String(code), name);
    e.size = Math.max(e.size, list.length);
  },
  name(windowKey, control, column, code, shown) {
    if (code === null || code === undefined) return shown ?? '';
    if (shown !== undefined && shown !== null && String(shown) !== String(code)) return shown;
    const e = this.lists.get(`${windowKey}/${control}/${column}`);
    return (e && e.byCode.get(String(code))) ?? shown ?? String(code);
  },
  codeOf(windowKey, control, column, name) {
    const e = this.lists.get(`${windowKey}/${control}/${column}`);
    if (!e) return undefined;
    for (const [code, n] of e.byCode) if (n === name) return code;
    return undefined;
  },
  size(windowKey, control, column) {
    const e = this.lists.get(`${windowKey}/${control}/${column}`);
    return e ? e.size : 0;
  },
};

// ---- busy indicator ----------------------------------------------------------------------

let busyTimer = null;
let api = null;
function showBusy(busy) {
  // How many requests are under way, for whoever waits for the page to settle (tests).
  document.body.dataset.pending = String(api ? api.inFlight : 0);
  const on = busy || !!(app.state && app.state.hourglass);
  if (on && !busyTimer && busyBar.hidden) {
    // Quick answers do not flash the bar.
    busyTimer = setTimeout(() => {
      busyTimer = null;
      busyBar.hidden = false;
      document.body.classList.add('busy');
    }, 150);
  } else if (!on) {
    clearTimeout(busyTimer);
    busyTimer = null;
    busyBar.hidden = true;
    document.body.classList.remove('busy');
  }
}

api = new Api({
  onBusy: showBusy,
  // A session the server does not know: its server went away (HAProxy sent the browser to
  // another), or the login expired.
  onExpired: ({code, error} = {}) =>
    showLogin(code === 'session-unknown' ? '服务器已重新启动，请重新登录。' : error || '登录已过期，请重新登录'),
});
document.body.dataset.pending = '0';

// ---- toasts and notices ----------------------------------------------------------------------

// A short notice at the bottom. One about a window (`windowKey`) goes when another window
// comes to the front, where it would speak of something the user no longer sees.
function toast(text, kind = 'info', windowKey = '') {
  let area = document.querySelector('.toasts');
  if (!area) {
    area = h('div', {class: 'toasts', role: 'status'});
    document.body.append(area);
  }
  const item = h('div', {class: `toast toast-${kind}`, dataset: {window: windowKey}}, text);
  area.append(item);
  setTimeout(() => item.classList.add('leaving'), 4200);
  setTimeout(() => item.remove(), 4700);
}

// ---- login ---------------------------------------------------------------------------------

function showLogin(message = '') {
  app.state = null;
  app.user = null;
  app.frame = null;
  closeOpenList();
  document.title = '登录 — 人事管理系统';
  const error = h('div', {class: 'login-error', role: 'alert'}, message);
  error.hidden = !message;
  const username = h('input', {type: 'text', name: 'username', id: 'username', autocomplete: 'username',
                               required: true, maxlength: '20', spellcheck: 'false'});
  const password = h('input', {type: 'password', name: 'password', id: 'password', autocomplete: 'current-password',
                               required: true, maxlength: '256'});
  const submit = h('button', {type: 'submit', class: 'btn btn-primary login-submit'}, '登 录');
  const form = h('form', {class: 'login-card', autocomplete: 'on'},
    h('div', {class: 'login-brand'},
      h('div', {class: 'login-logo', 'aria-hidden': 'true'}, '申'),
      h('div', {}, h('h1', {}, '人事管理系统'), h('p', {}, '申报模块'))),
    h('label', {for: 'username'}, '用户名'), username,
    h('label', {for: 'password'}, '密码'), password,
    error, submit,
    h('p', {class: 'login-note'}, '请使用本单位分配的账号登录。连续输错密码 5 次后，须等待片刻才能再试。'));
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    submit.disabled = true;
    error.hidden = true;
    const r = await api.login(username.value.trim(), password.value);
    password.value = '';
    submit.disabled = false;
    if (!r.ok) {
      error.textContent = r.data.error || '登录失败';
      error.hidden = false;
      password.focus();
      return;
    }
    await start();
  });
  root.replaceChildren(h('div', {class: 'login-page'}, form,
    h('footer', {class: 'login-footer'}, '人事管理系统 · 申报模块')));
  username.focus();
}

async function start() {
  const r = await api.state();
  if (!r.ok) {
    if (r.status !== 401) showLogin(r.data.error || '无法连接服务器');
    return;
  }
  app.user = r.data.user;
  const units = await api.units();
  app.units = units.ok && Array.isArray(units.data) ? units.data : [];
  app.seenJobs = null;
  applyState(r.data.state);
}

// ---- events --------------------------------------------------------------------------------

// The reason for a refused action as the server wrote it for the user; a refusal with only a
// technical detail goes to the console.
function reasonForClerk(result) {
  const refusal = result.refusal || {};
  if (refusal.text) return refusal.text;
  if (refusal.detail || result.error) console.warn('refused:', refusal.detail || result.error);
  return '当前不能执行此操作';
}

// Posts an event and draws the state it answers. `quiet`: draw nothing (a drop-down's list
// follows the typing by itself).
async function post(event, {quiet = false} = {}) {
  if (event.kind !== 'filter') app.rejected = null;
  const r = await api.event(event);
  if (!r) return null;
  const result = r.data && r.data.result;
  if (r.status === 409 && result) {
    // A click that came while a box asks (the second click of a double-click) needs no word:
    // the box on screen is the answer.
    if (!(r.data.state && r.data.state.message)) toast(`操作未执行：${reasonForClerk(result)}`, 'warn');
  } else if (!r.ok && r.status !== 401) {
    toast(r.data.error || `请求失败（${r.status}）`, r.status === 403 ? 'error' : 'warn');
  }
  // A script may have put the cursor somewhere (a refused save: on the offending column).
  app.focusFromState = event.kind === 'click' || event.kind === 'answer';
  if (result && result.accepted === false && event.kind === 'type') {
    const why = (result.refusal && result.refusal.text) || '输入的内容未被接受，请检查后重新输入';
    app.rejected = {key: `${currentWindowKey()}/${event.target}/${event.row}/${event.column}`, error: why};
    toast(why, 'warn', currentWindowKey());
  }
  if (r.data && r.data.state) {
    app.state = r.data.state;
    if (event.kind !== 'filter') app.statusEdited = false;
    // The window is drawn once the queue is empty, also when the last answer was a quiet one.
    if (!quiet) app.renderOwed = true;
    if (api.idle && app.renderOwed) {
      app.renderOwed = false;
      render();
    } else {
      renderStatus();
    }
  }
  return r;
}

// Asks for rows of a long list that came into view; the answer's state holds them.
const rowsAsked = new Set();
async function showRows(control, from, count) {
  const key = `${control}/${from}/${count}`;
  if (rowsAsked.has(key)) return;
  rowsAsked.add(key);
  try {
    const r = await api.rows(control, from, count);
    if (r && r.ok && r.data.state) {
      app.state = r.data.state;
      app.renderOwed = true;
      if (api.idle) {
        app.renderOwed = false;
        render();
      }
    }
  } finally {
    rowsAsked.delete(key);
  }
}

function currentWindowKey() {
  const s = app.state;
  if (!s) return '';
  if (s.modals.length) return `m${s.modals.length - 1}:${s.modals[s.modals.length - 1].class}`;
  const sheet = s.sheets[s.active_sheet];
  return sheet ? `s${s.active_sheet}:${sheet.class}` : '';
}

function applyState(state) {
  app.state = state;
  render();
}

// ---- the frame -----------------------------------------------------------------------------

function hasUnsavedChanges(state) {
  if (!state) return false;
  return [...state.sheets, ...state.modals].some((w) => w.controls.some((c) => c.form && c.form.modified));
}

function buildFrame() {
  const user = app.user;
  const unit = app.units.find((u) => u.company_num === user.company_num);
  const logout = h('button', {type: 'button', class: 'btn btn-ghost'}, '退出登录');
  logout.addEventListener('click', async () => {
    // Logging out ends the session with its windows: changes not yet saved would be lost.
    if (hasUnsavedChanges(app.state) && !window.confirm('有尚未保存的修改，退出登录后将丢失。确定要退出登录吗？')) return;
    await api.logout();
    showLogin('您已退出登录');
  });
  const jobs = h('div', {class: 'jobs'});
  const frame = {
    title: h('div', {class: 'brand-title'}),
    menu: h('nav', {class: 'menu', 'aria-label': '申报类别'}),
    tabs: h('div', {class: 'tabs', role: 'tablist',
                    // The wheel scrolls the strip along.
                    onwheel: (e) => {
                      if (!e.deltaY || e.currentTarget.scrollWidth <= e.currentTarget.clientWidth) return;
                      e.preventDefault();
                      e.currentTarget.scrollLeft += e.deltaY;
                    }}),
    stage: h('div', {class: 'stage'}),
    status: h('div', {class: 'status-text'}),
    overlays: h('div', {class: 'overlays'}),
    boxes: new Map(),  // the boxes of the windows on screen, by window key (windowBox)
    jobs,
  };
  const who = h('div', {class: 'who'},
    h('span', {class: 'who-name'}, user.display_name || user.username),
    h('span', {class: 'who-role'}, user.may_accept ? ROLE.authority : (unit ? unit.company_name : user.company_num)));
  root.replaceChildren(
    h('header', {class: 'topbar'},
      h('div', {class: 'brand'}, h('div', {class: 'brand-logo', 'aria-hidden': 'true'}, '申'), frame.title),
      h('div', {class: 'spacer'}), jobs, who, logout),
    h('div', {class: 'body'},
      h('aside', {class: 'sidebar'}, h('div', {class: 'sidebar-title'}, '申报类别'), frame.menu),
      h('main', {class: 'workspace'}, frame.tabs, frame.stage)),
    h('footer', {class: 'statusbar'}, frame.status,
      h('div', {class: 'status-user'}, `${user.display_name || user.username}（${user.may_accept ? ROLE.authority : ROLE.clerk}）`)),
    frame.overlays);
  app.frame = frame;
}

function render() {
  const s = app.state;
  if (!s || !app.user) return;
  if (!app.frame) buildFrame();
  const f = app.frame;
  f.title.textContent = s.frame.title;
  const shown = currentWindowKey();
  for (const stale of document.querySelectorAll('.toast[data-window]')) {
    if (stale.dataset.window && stale.dataset.window !== shown) stale.remove();
  }
  const blocked = !!s.message || s.modals.length > 0;

  f.menu.replaceChildren(...s.frame.menu.map((item) => {
    const open = s.sheets.findIndex((w) => w.class === item.class);
    const active = open >= 0 && open === s.active_sheet;
    return h('button', {
      type: 'button',
      class: `menu-item${active ? ' active' : ''}${open >= 0 ? ' open' : ''}`,
      disabled: blocked,
      onclick: () => (open >= 0 ? post({kind: 'activate', target: String(open)}) : post({kind: 'open', target: item.class})),
    }, h('span', {class: 'menu-dot', 'aria-hidden': 'true'}), h('span', {class: 'menu-caption'}, item.caption),
       item.note ? h('span', {class: 'menu-note'}, item.note) : null);
  }));

  f.tabs.replaceChildren(...s.sheets.map((w, i) => {
    const active = i === s.active_sheet;
    const close = h('span', {class: 'tab-close', role: 'button', title: '关闭', 'aria-label': `关闭${w.title}`}, '×');
    close.addEventListener('click', async (e) => {
      e.stopPropagation();
      if (blocked) return;
      if (!active) await post({kind: 'activate', target: String(i)});
      post({kind: 'close'});
    });
    return h('div', {
      class: `tab${active ? ' active' : ''}`,
      role: 'tab',
      'aria-selected': active ? 'true' : 'false',
      onclick: () => { if (!active && !blocked) post({kind: 'activate', target: String(i)}); },
    }, h('span', {class: 'tab-title'}, w.title || w.class), close);
  }));
  f.tabs.hidden = s.sheets.length === 0;
  showActiveTab(f.tabs);

  const sheet = s.sheets[s.active_sheet];
  document.title = `${sheet ? `${sheet.title} — ` : ''}人事管理系统`;
  drawWindows();
  renderStatus();
  renderJobs();
}

// The tab strip scrolls sideways (the page never does) and keeps the active tab in sight.
function showActiveTab(tabs) {
  const tab = tabs.querySelector('.tab.active');
  if (!tab || tabs.hidden) return;
  const left = tab.offsetLeft;
  const right = left + tab.offsetWidth;
  if (left < tabs.scrollLeft) tabs.scrollLeft = left;
  else if (right > tabs.scrollLeft + tabs.clientWidth) tabs.scrollLeft = right - tabs.clientWidth;
}

function renderStatus() {
  if (!app.frame || !app.state) return;
  // What the last action did, until the next edit begins (the server clears it once the edit
  // is posted; typing clears it on screen at once).
  app.frame.status.textContent = (!app.statusEdited && app.state.status) || '就绪';
  showBusy(api.inFlight > 0);
}

// The sheet, the modal windows and the message box, with the focus kept where it was.
function drawWindows() {
  const s = app.state;
  const f = app.frame;
  const active = document.activeElement;
  let focusKey = active && active.dataset ? active.dataset.key : null;
  // Where the user was when a message box came up is where he goes on once it is answered.
  if (s.message && focusKey) app.focusBeforeMessage = focusKey;
  if (!s.message && !focusKey && app.focusBeforeMessage) focusKey = app.focusBeforeMessage;
  if (!s.message) app.focusBeforeMessage = null;
  const keepTyping = focusKey && active.dataset.dirty ? active : null;
  const selection = active && typeof active.selectionStart === 'number'
    ? [active.selectionStart, active.selectionEnd] : null;
  const listOpen = openListKey();
  app.rendering = true;
  try {
    closeOpenList();
    const sheet = s.sheets[s.active_sheet];
    const topInteractive = !s.message && s.modals.length === 0;
    const kept = new Set();
    if (sheet) {
      const key = `s${s.active_sheet}:${sheet.class}`;
      const box = windowBox(key, () => {
        const viewport = h('div', {class: 'viewport'});
        return {viewport, element: h('section', {class: 'window'}, h('div', {class: 'window-title'}), viewport)};
      });
      kept.add(key);
      box.element.setAttribute('aria-label', sheet.title);
      box.element.firstElementChild.textContent = sheet.title;
      const ctx = context(key, sheet, topInteractive);
      putCanvas(box.viewport, renderWindow(sheet, ctx));
      if (f.stage.firstElementChild !== box.element) f.stage.replaceChildren(box.element);
      fit(box.viewport, sheet, ctx, 1);
      if (topInteractive) askForRoom(box.viewport, sheet, key);
    } else {
      f.stage.replaceChildren(welcome());
    }
    const layers = s.modals.map((w, i) => {
      const top = i === s.modals.length - 1 && !s.message;
      const key = `m${i}:${w.class}`;
      const box = windowBox(key, () => {
        const viewport = h('div', {class: 'viewport'});
        const title = h('span', {class: 'dialog-title'});
        const dialog = h('section', {class: 'dialog', role: 'dialog', 'aria-modal': 'true'},
          h('div', {class: 'window-title'}, title, h('span', {class: 'tab-close', role: 'button', title: '关闭',
            onclick: () => box.top && post({kind: 'close'})}, '×')),
          viewport);
        const box = {viewport, title, dialog, element: h('div', {class: 'modal-layer'}, dialog)};
        return box;
      });
      kept.add(key);
      box.top = top;
      box.title.textContent = w.title;
      box.dialog.setAttribute('aria-label', w.title);
      // A dialog takes its window's size, shrunk to fit the screen, never enlarged.
      box.dialog.style.width = `min(92vw, ${w.width}px)`;
      box.viewport.style.height = `min(calc(88vh - 34px), ${w.height}px)`;
      const ctx = context(key, w, top);
      putCanvas(box.viewport, renderWindow(w, ctx));
      fit(box.viewport, w, ctx, 1);
      return box.element;
    });
    for (const key of [...f.boxes.keys()]) if (!kept.has(key)) f.boxes.delete(key);
    if (s.message) layers.push(messageBox(s.message));
    // Layers already on screen stay where they are: taken out and put back, a dialog would
    // replay its fade-in.
    for (const child of [...f.overlays.children]) if (!layers.includes(child)) child.remove();
    layers.forEach((layer, i) => {
      if (f.overlays.children[i] !== layer) f.overlays.insertBefore(layer, f.overlays.children[i] || null);
    });

    // The focus goes back where it was; a cell the window refused takes it.
    let target = null;
    if (app.rejected) {
      target = root.querySelector(`[data-key="${CSS.escape(app.rejected.key)}"]`);
      if (target) {
        target.classList.add('rejected');
        target.title = app.rejected.error;
      }
    }
    if (!target && app.focusFromState && !s.message) target = stateFocus(s);
    app.focusFromState = false;
    if (!target && focusKey && !s.message) {
      let found = root.querySelector(`[data-key="${CSS.escape(focusKey)}"]`);
      // In a list the focus follows the current row, which the arrow keys move.
      if (found && found.tagName === 'TR') found = found.parentElement.querySelector('tr.current') || found;
      if (found && keepTyping && (found.tagName === 'INPUT' || found.tagName === 'TEXTAREA') && !found.readOnly) {
        // Typing in progress survives: the old input, with what was typed, takes the new one's place.
        keepTyping.className = found.className;
        keepTyping.style.cssText = found.style.cssText;
        found.replaceWith(keepTyping);
        target = keepTyping;
      } else {
        target = found;
      }
    }
    if (target && !s.message) {
      target.focus({preventScroll: true});
      // A list that was open stays open.
      if (target.dropdown && listOpen === target.dataset.key) target.dropdown.open();
      if (selection && target === document.activeElement && typeof target.setSelectionRange === 'function' &&
          target.type === 'text') {
        try {
          target.setSelectionRange(...selection);
        } catch (e) { /* not a text field */ }
      }
    }
  } finally {
    app.rendering = false;
  }
}

// The cell that the active window's focus names: its form's current row and column.
function stateFocus(s) {
  const win = s.modals.length ? s.modals[s.modals.length - 1] : s.sheets[s.active_sheet];
  if (!win || !win.focus) return null;
  const control = win.controls.find((c) => c.name === win.focus);
  if (!control || !control.form || !control.form.current_column || !control.form.current_row) return null;
  const key = `${currentWindowKey()}/${control.name}/${control.form.current_row}/${control.form.current_column}`;
  const found = root.querySelector(`[data-key="${CSS.escape(key)}"]`);
  return found && !found.readOnly && !found.disabled ? found : null;
}

// The box a window is drawn in (a sheet's frame, a dialog with its layer), made once and kept
// while the window is on screen: a dialog is drawn once and then updated in place, and a
// sheet keeps its scroll position.
function windowBox(key, make) {
  const boxes = app.frame.boxes;
  if (!boxes.has(key)) boxes.set(key, make());
  return boxes.get(key);
}

// Puts a window's new drawing into its box. Its buttons stay the elements they were, brought
// up to date: a click whose mouse-down left an edit (which posts its text, and the answer is
// drawn) ends on the same button and counts. Free forms keep where they were scrolled.
function putCanvas(viewport, canvas) {
  const old = viewport.firstElementChild;
  if (!old) {
    viewport.append(canvas);
    return;
  }
  for (const button of canvas.querySelectorAll('button[data-key]')) {
    const before = old.querySelector(`button[data-key="${CSS.escape(button.dataset.key)}"]`);
    if (!before) continue;
    // The style through the style object: the page's policy refuses style attributes.
    for (const name of before.getAttributeNames()) if (name !== 'style' && !button.hasAttribute(name)) before.removeAttribute(name);
    for (const name of button.getAttributeNames()) if (name !== 'style') before.setAttribute(name, button.getAttribute(name));
    before.style.cssText = button.style.cssText;
    before.disabled = button.disabled;
    before.replaceChildren(...button.childNodes);
    button.replaceWith(before);
  }
  const scrolled = [];
  for (const form of old.querySelectorAll('.ctl-form')) {
    if (form.scrollTop || form.scrollLeft) scrolled.push([form.dataset.name, form.scrollTop, form.scrollLeft]);
  }
  viewport.replaceChildren(canvas);
  for (const [name, top, left] of scrolled) {
    const form = canvas.querySelector(`.ctl-form[data-name="${CSS.escape(name)}"]`);
    // A list scrolls to its current row by itself (form_view's keepScroll).
    if (form && !form.querySelector('.grid-wrap')) {
      form.scrollTop = top;
      form.scrollLeft = left;
    }
  }
}

// A sheet is laid out for the room the page gives it, in window units of one pixel (the
// window's own resize places its buttons at the foot and gives its forms the rest, which
// scroll): the room is measured once the box is on the page, and asked for at once, so that
// whoever waits for the page to settle waits for the window laid out anew. Below a least
// size the window keeps that and the page zooms it out.
const LEAST_ROOM = {width: 640, height: 440};
function askForRoom(viewport, win, key) {
  const width = Math.max(LEAST_ROOM.width, Math.floor(viewport.offsetWidth));
  const height = Math.max(LEAST_ROOM.height, Math.floor(viewport.offsetHeight));
  if (!viewport.offsetWidth || (width === win.width && height === win.height)) return;
  // Asked once: a window that refuses the size (a box came up meanwhile) is not asked again
  // at every drawing.
  const asked = `${key}/${win.width}x${win.height}/${width}x${height}`;
  if (app.roomAsked === asked) return;
  app.roomAsked = asked;
  post({kind: 'resize', target: win.class, args: [String(width), String(height)]}).then((r) => {
    if (r && r.ok && app.roomAsked === asked) app.roomAsked = null;
  });
}

// The least zoom at which the window's smallest text is still 12 px: a narrow screen scrolls
// rather than shrink text below that. Measured once per window and forms.
const LEAST_TEXT_PX = 12;
const zoomFloors = new Map();
function zoomFloor(viewport, win) {
  const key = `${win.class}/${win.controls.map((c) => (c.form ? c.form.dataobject : '')).join(',')}`;
  if (zoomFloors.has(key)) return zoomFloors.get(key);
  let smallest = Infinity;
  for (const el of viewport.querySelectorAll('.window-canvas *')) {
    if (![...el.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim()) && el.tagName !== 'INPUT') continue;
    const size = parseFloat(getComputedStyle(el).fontSize);
    if (size > 0) smallest = Math.min(smallest, size);
  }
  const floor = Number.isFinite(smallest) ? Math.min(1, LEAST_TEXT_PX / smallest) : 0.55;
  if (zoomFloors.size > 100) zoomFloors.clear();
  zoomFloors.set(key, floor);
  return floor;
}

function fit(viewport, win, ctx, largest = 1.35) {
  const apply = () => {
    const width = viewport.clientWidth || window.innerWidth;
    const height = viewport.clientHeight || window.innerHeight;
    let zoom = Math.min(width / win.width, height / win.height);
    zoom = Math.max(zoomFloor(viewport, win), Math.min(largest, zoom));
    ctx.zoom = zoom;
    const canvas = viewport.firstElementChild;
    if (canvas) canvas.style.zoom = String(zoom);
  };
  apply();
  requestAnimationFrame(apply);
}

function welcome() {
  const s = app.state;
  return h('div', {class: 'welcome'},
    h('h2', {}, `您好，${app.user.display_name || app.user.username}`),
    h('p', {}, app.user.may_accept
      ? '请从左侧选择申报类别，选择单位后查看、审核并办理数据入库。'
      : '请从左侧选择申报类别，新增或维护本单位的申报。'),
    h('div', {class: 'tiles'}, s.frame.menu.map((item) => h('button', {
      type: 'button', class: 'tile', onclick: () => post({kind: 'open', target: item.class}),
    }, h('span', {class: 'tile-title'}, item.caption),
       // What waits there (the authority's declarations to accept), as the server counted it.
       item.note ? h('span', {class: 'tile-sub tile-note'}, item.note) : h('span', {class: 'tile-sub'}, '打开')))));
}

function context(windowKey, win, interactive) {
  for (const control of win.controls) {
    const form = control.form;
    if (!form || !form.lists) continue;
    for (const [column, list] of Object.entries(form.lists)) names.learn(windowKey, control.name, column, list);
  }
  const ctx = {
    windowKey,
    interactive,
    zoom: 1,
    names,
    units: app.units,
    user: app.user,
    rights: (app.state && app.state.user && app.state.user.rights) || [],
    rendering: () => app.rendering,
    post: (event) => post(event),
    hasControl: (name) => win.controls.some((c) => c.name === name && c.visible && c.enabled),
    commit: (control, row, column, text) => {
      const role = (win.controls.find((c) => c.name === control) || {}).role || {};
      if (role.initials_gesture && role.initials_column === column) return postWithInitials(role.initials_gesture, text);
      return post({kind: 'type', target: control, row, column, text});
    },
    filter: async (control, row, column, text) => {
      const r = await post({kind: 'filter', target: control, row, column, text}, {quiet: true});
      if (!r || !r.data || !r.data.state) return null;
      const w = findWindow(r.data.state, windowKey);
      const c = w && w.controls.find((x) => x.name === control);
      const list = c && c.form && c.form.lists ? c.form.lists[column] : null;
      if (list) names.learn(windowKey, control, column, list);
      return list || [];
    },
    focusNext: (el) => {
      const scope = el.closest('.window-canvas') || root;
      const all = [...scope.querySelectorAll('input[data-key]:not([readonly]):not([disabled]), select[data-key]')];
      const next = all[all.indexOf(el) + 1];
      if (next) next.focus();
      else el.blur();
    },
    rowActivated: (control, rowNumber, row, form) => addWorker(win, control, rowNumber, row, form),
    rowMenu: (e, control, rowNumber, row, form) => rowMenu(e, win, control, rowNumber, row, form),
    listMenu: (e, control) => listMenu(e, win, control),
    preview: (control, form) => previewInfo(windowKey, control, form),
    // A print is of what is stored: changes still on screen are not in it.
    unsaved: hasUnsavedChanges(app.state),
    // Long lists: the rows scrolled into view, and a row found by the start of a column's text
    // over the whole list (the server's search; 0 when none).
    showRows: (control, from, count) => showRows(control, from, count),
    findRow: async (control, column, text, from = 1) => {
      const r = await api.find(control, column, text, from);
      return r.ok ? r.data.row : 0;
    },
  };
  return ctx;
}

// A text that may be pinyin initials ("czj" for 江州市财政局) goes to the window as its gesture,
// with the numbers of the units whose names' initials hold it: the browser has every unit's
// name (app.units) and the pinyin module; the server has neither. Other texts go alone.
const INITIALS = /^[a-z]+$/;
async function postWithInitials(gesture, text) {
  const typed = String(text ?? '').trim().toLowerCase();
  // Busy from the key on: the pinyin module may still be loading.
  api.busy(+1);
  try {
    let units = [];
    if (INITIALS.test(typed)) {
      await loadPinyin();
      units = app.units.filter((u) => u.company_name && initials(u.company_name).includes(typed)).map((u) => u.company_num);
    }
    return await post({kind: 'gesture', target: gesture, args: [String(text ?? ''), ...units]});
  } finally {
    api.busy(-1);
  }
}

function findWindow(state, windowKey) {
  const [where, cls] = windowKey.split(':');
  const index = Number(where.slice(1));
  const w = where[0] === 'm' ? state.modals[index] : state.sheets[index];
  return w && w.class === cls ? w : null;
}

// A list whose role offers a gesture (a declaration window's worker list: take the worker into
// the open declaration) makes it on a double-click, Enter, or the row's menu; other lists just
// move to the row.
function rowGesture(win, control) {
  const c = win.controls.find((x) => x.name === control);
  return c && c.role && c.role.gesture ? c.role : null;
}

async function addWorker(win, control, rowNumber, row, form) {
  const role = rowGesture(win, control);
  if (!role) {
    if (rowNumber !== form.current_row) post({kind: 'select', target: control, row: rowNumber});
    return;
  }
  const index = form.columns.findIndex((c) => c.name === role.gesture_column);
  if (index < 0) return;
  post({kind: 'gesture', target: role.gesture, args: [String(row.codes[index])]});
}

const EXPORT_CAPTION = '导出Excel(&X)';

// The menu of a list's row: the list's gesture, when its role offers one (take the worker into
// the open declaration), and the export of the whole list.
function rowMenu(e, win, control, rowNumber, row, form) {
  const items = [];
  if (rowGesture(win, control)) {
    const nameAt = form.columns.findIndex((c) => c.name === 'worker_name');
    const who = nameAt >= 0 ? row.values[nameAt] : '';
    items.push({label: `加入本次申报${who ? `：${who}` : ''}`, run: () => addWorker(win, control, rowNumber, row, form)});
  }
  items.push(exportItem(control));
  contextMenu(e, items);
}

// The menu of a list anywhere but on a row (its header, the space below its rows).
function listMenu(e, win, control) {
  contextMenu(e, [exportItem(control)]);
}

function exportItem(control) {
  return {label: EXPORT_CAPTION, accel: true, run: () => exportList(control)};
}

function contextMenu(e, items) {
  e.preventDefault();
  document.querySelectorAll('.context-menu').forEach((m) => m.remove());
  const close = () => {
    menu.remove();
    document.removeEventListener('mousedown', away, true);
  };
  // An item with an accelerator (导出Excel(&X)) is chosen by its key too; others show their
  // text as it is (a worker's name).
  const buttons = items.map((item) => h('button', {
    type: 'button', role: 'menuitem', dataset: {key: item.accel ? mnemonic(item.label) : ''},
    onclick: () => { close(); item.run(); },
  }, item.accel ? caption(item.label) : item.label));
  const menu = h('div', {class: 'context-menu', role: 'menu', style: {left: `${e.clientX}px`, top: `${e.clientY}px`}},
                 buttons);
  menu.addEventListener('keydown', (ev) => {
    const hit = buttons.find((b) => b.dataset.key && b.dataset.key === ev.key.toLowerCase());
    if (hit) hit.click();
    else if (ev.key === 'Escape') close();
  });
  document.body.append(menu);
  const away = (ev) => {
    if (!menu.contains(ev.target)) close();
  };
  document.addEventListener('mousedown', away, true);
  queueMicrotask(() => buttons[0] && buttons[0].focus());
}

// Downloads the whole list (every row the server holds, not the rows drawn) as a spreadsheet,
// under the name the server gives it ("职位职数上报_2026-12-11.xlsx").
async function exportList(control) {
  const r = await api.download(`/api/export/${encodeURIComponent(control)}.xlsx`);
  if (!r.ok) {
    toast(r.error || '导出失败', 'error');
    return;
  }
  const url = URL.createObjectURL(r.blob);
  const link = h('a', {href: url, download: r.fileName || 'export.xlsx', hidden: true});
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// ---- print preview and print jobs -------------------------------------------------------------

function previewInfo(windowKey, control, form) {
  // The objects too: a definition generated anew (other captions, other columns) over the same
  // rows is another page.
  const key = `${windowKey}/${control}/${form.dataobject}/${JSON.stringify(form.objects)}/${JSON.stringify(form.rows)}`;
  if (!app.previews.has(key)) {
    if (app.previews.size > 20) app.previews.clear();
    app.previews.set(key, api.previewInfo(control).then((r) => (r.ok ? r.data : null)));
  }
  return app.previews.get(key);
}

function renderJobs() {
  const jobs = app.state.print_jobs || [];
  const f = app.frame;
  if (app.seenJobs === null) app.seenJobs = new Set(jobs.map((j) => j.id));
  const fresh = jobs.filter((j) => !app.seenJobs.has(j.id));
  for (const job of fresh) {
    app.seenJobs.add(job.id);
    announceJob(job);
  }
  f.jobs.replaceChildren();
  if (!jobs.length) return;
  const list = h('div', {class: 'jobs-list', role: 'menu'},
    [...jobs].reverse().map((job) => h('a', {
      href: jobUrl(job), target: '_blank', rel: 'noopener', role: 'menuitem', class: 'jobs-item',
    }, h('span', {}, job.name), h('span', {class: 'jobs-pages'}, `${job.pages} 页`))));
  const toggle = h('button', {type: 'button', class: 'btn btn-ghost jobs-toggle', 'aria-haspopup': 'menu'},
    `打印文件（${jobs.length}）`);
  toggle.addEventListener('click', () => list.classList.toggle('open'));
  f.jobs.append(toggle, list);
}

function jobUrl(job) {
  return `/api/jobs/${job.id}.pdf`;
}

function announceJob(job) {
  const url = jobUrl(job);
  // The PDF opens in a new tab; should the browser block that, the notice has the link.
  window.open(url, '_blank', 'noopener');
  const notice = h('div', {class: 'notice', role: 'status'},
    h('span', {class: 'notice-icon', 'aria-hidden': 'true'}),
    h('span', {}, `打印文件已生成：${job.name}（${job.pages} 页）`),
    h('a', {href: url, target: '_blank', rel: 'noopener', class: 'notice-link'}, '打开 PDF'),
    h('button', {type: 'button', class: 'notice-close', 'aria-label': '关闭', onclick: () => notice.remove()}, '×'));
  document.querySelectorAll('.notice').forEach((n) => n.remove());
  document.body.append(notice);
  setTimeout(() => notice.remove(), 15000);
}

// ---- message box ---------------------------------------------------------------------------

// The default button (the state's "default", else the first) looks primary and has the
// focus, so that Enter, which a focused button takes as its click, presses it.
function messageBox(message) {
  const defaultAnswer = message.buttons.includes(message.default) ? message.default : message.buttons[0];
  const buttons = message.buttons.map((name) => h('button', {
    type: 'button',
    class: `btn${name === defaultAnswer ? ' btn-primary' : ''}`,
    dataset: {answer: name},
    onclick: () => post({kind: 'answer', target: name}),
  }, BUTTONS[name] || name));
  const box = h('div', {class: 'msgbox', role: 'alertdialog', 'aria-modal': 'true', 'aria-labelledby': 'msg-title',
                        'aria-describedby': 'msg-text'},
    h('div', {class: 'msgbox-title', id: 'msg-title'}, message.title),
    h('div', {class: 'msgbox-body'},
      message.icon !== 'none' ? h('div', {class: `msgbox-icon icon-${message.icon}`, 'aria-hidden': 'true'},
                                  ICONS[message.icon] || '') : null,
      h('div', {class: 'msgbox-text', id: 'msg-text'}, message.text)),
    h('div', {class: 'msgbox-buttons'}, buttons));
  box.addEventListener('keydown', (e) => {
    const key = e.key.toLowerCase();
    if (e.key === 'Escape') {
      // Escape cancels, or closes a box with a single button. It never answers "否": a
      // Yes/No question ("是否保存？") must be answered on purpose, as "否" drops work.
      const escape = message.buttons.includes('cancel') ? 'cancel'
                   : message.buttons.length === 1 ? message.buttons[0] : null;
      if (escape) post({kind: 'answer', target: escape});
    } else if (BUTTON_KEYS[key] && message.buttons.includes(BUTTON_KEYS[key])) {
      post({kind: 'answer', target: BUTTON_KEYS[key]});
    } else if (e.key === 'Tab') {
      // The focus stays on the box's buttons.
      const i = buttons.indexOf(document.activeElement);
      e.preventDefault();
      buttons[(i + (e.shiftKey ? buttons.length - 1 : 1)) % buttons.length].focus();
    }
  });
  const focused = buttons[message.buttons.indexOf(defaultAnswer)];
  queueMicrotask(() => focused && focused.focus());
  return h('div', {class: 'modal-layer msg-layer'}, box);
}

// ---- start ---------------------------------------------------------------------------------

window.addEventListener('resize', () => {
  placeOpenList();
  // Drawn again once per frame while the browser is being resized.
  if (app.resizeOwed) return;
  app.resizeOwed = true;
  requestAnimationFrame(() => {
    app.resizeOwed = false;
    if (app.state && app.frame) drawWindows();
  });
});
window.addEventListener('scroll', placeOpenList, true);
document.addEventListener('input', (e) => {
  if (!app.state || !e.target.closest || !e.target.closest('.ctl-form')) return;
  app.statusEdited = true;
  renderStatus();
}, true);

// Access keys (Alt and the underlined letter) of the window in front, as the desktop has
// them: a key that one button owns presses it, after the edit being typed in is left (so its
// text goes first); a key that several buttons share moves the focus among them and presses
// none.
document.addEventListener('keydown', (e) => {
  if (!e.altKey || e.ctrlKey || e.metaKey || !app.state || !app.frame || app.state.message) return;
  const m = /^(?:Key|Digit)(\w)$/.exec(e.code || '');
  if (!m) return;
  const letter = m[1].toLowerCase();
  const dialogs = app.frame.overlays.querySelectorAll('.dialog');
  const scope = dialogs.length ? dialogs[dialogs.length - 1] : app.frame.stage;
  const buttons = [...scope.querySelectorAll('button[data-mnemonic]')]
    .filter((b) => b.dataset.mnemonic === letter && !b.disabled && b.offsetParent);
  if (!buttons.length) return;
  e.preventDefault();
  if (buttons.length > 1) {
    buttons[(buttons.indexOf(document.activeElement) + 1) % buttons.length].focus();
    return;
  }
  const editing = document.activeElement;
  if (editing && editing !== document.body && editing !== buttons[0]) editing.blur();
  buttons[0].click();
}, true);

// The window in front is asked once a minute to bring what it shows up to date (the
// authority's inbox lists what was submitted since), while the user is not in the middle of
// something: no box, no dialog, no edit being typed, nothing under way.
const REFRESH_EVERY_MS = 60000;
setInterval(() => {
  const s = app.state;
  if (!s || !app.frame || !s.sheets.length || s.modals.length || s.message || !api.idle || api.inFlight) return;
  const active = document.activeElement;
  if (active && active.dataset && active.dataset.dirty) return;
  post({kind: 'activate', target: String(s.active_sheet)});
}, REFRESH_EVERY_MS);

start().then(() => {
  if (!app.state) showLogin();
});

export {plain};
