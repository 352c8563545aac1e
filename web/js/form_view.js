// Draws one form control (a `dw_n`) of the state: free-form forms at their objects'
// coordinates, grid and tabular forms as tables, forms in print preview as page images.
//
// Cells post `type` when the user leaves them (or presses Enter), drop-downs post `filter`
// while the user types (see dropdown.js), rows post `select` when clicked. Every element that
// can hold the focus carries data-key "window/control/row/column" so that the app can give
// the focus back after the state is drawn again.

import {h} from './dom.js';
import {Dropdown} from './dropdown.js';
import {handleListKey} from './list_keys.js';

const PT = 96 / 72;

export function cellKey(ctx, control, row, column) {
  return `${ctx.windowKey}/${control}/${row}/${column}`;
}

export function truthy(value) {
  if (value === null || value === undefined) return false;
  const text = String(value).trim().toLowerCase();
  return !(text === '' || text === '0' || text === 'false' || text === 'no' || text === 'n');
}

// Colours of definitions: rgb(r,g,b), or a whole number with red in the low byte.
export function cssColor(value) {
  if (value === null || value === undefined || value === '') return null;
  const text = String(value).trim();
  const rgb = /^rgb\(\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*\)$/i.exec(text);
  if (rgb) return `rgb(${rgb[1]}, ${rgb[2]}, ${rgb[3]})`;
  if (/^\d+$/.test(text)) {
    const n = Number(text);
    return `rgb(${n & 255}, ${(n >> 8) & 255}, ${(n >> 16) & 255})`;
  }
  return null;
}

// The property of an object for a row: the row's evaluated attribute when the property is an
// expression, else the object's own text.
function prop(object, row, name) {
  const key = `${object.name}.${name}`;
  if (row && row.attributes && key in row.attributes) return row.attributes[key];
  return object[name];
}

function num(value, fallback = 0) {
  const n = Number(value);
  return Number.isFinite(n) ? n : fallback;
}

function fontStyle(object, row) {
  const style = {};
  const size = Math.abs(num(prop(object, row, 'font.height'), 0));  // -11 is 11 points too
  if (size > 0) style.fontSize = `${(size * PT).toFixed(1)}px`;
  if (num(prop(object, row, 'font.weight'), 400) >= 600) style.fontWeight = '700';
  if (truthy(prop(object, row, 'font.italic'))) style.fontStyle = 'italic';
  if (truthy(prop(object, row, 'font.underline'))) style.textDecoration = 'underline';
  const face = prop(object, row, 'font.face');
  if (face && /宋/.test(face)) style.fontFamily = 'var(--font-song)';
  if (face && /楷/.test(face)) style.fontFamily = 'var(--font-kai)';
  const color = cssColor(prop(object, row, 'color'));
  if (color) style.color = color;
  return style;
}

// An object's place on the canvas, in the pixels the state gives; `top` is where its band starts.
function box(object, row, top) {
  return {
    left: `${num(prop(object, row, 'x'))}px`,
    top: `${num(prop(object, row, 'y')) + top}px`,
    width: `${Math.max(0, num(prop(object, row, 'width')))}px`,
    height: `${Math.max(0, num(prop(object, row, 'height')))}px`,
  };
}

function visible(object, row) {
  const v = prop(object, row, 'visible');
  return v === undefined || v === null || v === '' || truthy(v);
}

function alignClass(object, row) {
  const align = prop(object, row, 'align');
  return align === 'right' ? 'al-right' : align === 'center' ? 'al-center' : 'al-left';
}

function borderClass(object, row) {
  const border = prop(object, row, 'border');
  return border === 'box' ? 'bd-box' : border === 'underline' ? 'bd-underline' : '';
}

// The characters a text column holds; 0 for other columns.
function textLimit(type) {
  const m = /^char\((\d+)\)$/.exec(type || '');
  return m ? Number(m[1]) : 0;
}

// A text cell takes as many characters as its column holds.
function maxLength(type) {
  return textLimit(type) || undefined;
}

const NUMERIC = /^(long|number|decimal)/;

// Everything a form needs to know about its columns.
function describe(form) {
  const index = new Map();
  form.columns.forEach((c, i) => index.set(c.name, i));
  return {index, column: (name) => form.columns[index.get(name)]};
}

export function renderForm(control, ctx) {
  const form = control.form || {};
  const el = h('div', {
    class: `form form-${form.style || 'empty'}`,
    dataset: {control: control.name},
  });
  // A definition a script created at run time has no library name, but it is drawn all the same.
  if (!form.dataobject && !form.style) return el;
  if (form.preview) {
    el.classList.add('form-preview');
    el.append(renderPreview(control, form, ctx));
  } else if (form.style === 'grid' || form.style === 'tabular') {
    el.append(renderGrid(control, form, ctx));
  } else {
    el.append(renderFreeform(control, form, ctx));
  }
  return el;
}

// ---- free form ------------------------------------------------------------------------

// What a form's box takes of its width: the borders and a scroll bar (style.css).
const FORM_CHROME_PX = 12;
// How much smaller than its definition a free form may be drawn to fit the width of its box:
// no further than its 22-pixel fields stay 20 pixels high.
const LEAST_FIT = 0.91;

function renderFreeform(control, form, ctx) {
  const canvas = h('div', {class: 'freeform-canvas'});
  const cols = describe(form);
  const bands = form.bands || {};
  const byBand = {header: [], detail: [], summary: [], footer: []};
  for (const object of form.objects) (byBand[object.band] || byBand.detail).push(object);
  let top = 0;
  let right = 0;
  const place = (objects, row, rowNumber) => {
    for (const object of objects) {
      if (!visible(object, row)) continue;
      const node = renderObject(control, form, cols, object, row, rowNumber, top, ctx);
      if (node) canvas.append(node);
      right = Math.max(right, num(object.x) + num(object.width), num(object.x2));
    }
  };
  if (bands.header) {
    place(byBand.header, null, 0);
    top += bands.header;
  }
  if (form.rows.length === 0) {
    // No row yet: the layout is shown greyed, without values, so the user sees what will come.
    canvas.classList.add('no-rows');
    place(byBand.detail, null, 0);
    top += bands.detail || 0;
  }
  form.rows.forEach((row, i) => {
    place(byBand.detail, row, (form.rows_from || 1) + i);
    top += bands.detail || 0;
  });
  if (bands.summary) {
    place(byBand.summary, null, 0);
    top += bands.summary;
  }
  if (bands.footer) {
    place(byBand.footer, null, 0);
    top += bands.footer;
  }
  canvas.style.width = `${right + 8}px`;
  // A form a little wider than its box is drawn a little smaller, so that it scrolls down only.
  const room = control.width - FORM_CHROME_PX;
  if (right + 8 > room) canvas.style.zoom = String(Math.max(LEAST_FIT, room / (right + 8)));
  canvas.style.height = `${top}px`;
  return canvas;
}

function renderObject(control, form, cols, object, row, rowNumber, top, ctx) {
  switch (object.kind) {
    case 'text': {
      const text = String(prop(object, row, 'text') ?? '');
      const style = {...box(object, row, top), ...fontStyle(object, row), ...background(object, row)};
      // A caption one line high stays on one line (read across, never broken into a column
      // of single glyphs); what does not fit shows whole in its tooltip.
      const oneLine = !text.includes('\n') && parseFloat(style.height) < 2 * parseFloat(style.fontSize || '13') * 1.15;
      return h('div', {
        class: `ff-text ${alignClass(object, row)} ${borderClass(object, row)}${oneLine ? ' one-line' : ''}`,
        style,
        title: oneLine && text ? text : undefined,
      }, text);
    }
    case 'groupbox':
      return h('fieldset', {class: 'ff-group', style: box(object, row, top)},
               h('legend', {style: fontStyle(object, row)}, prop(object, row, 'text') || ''));
    case 'rectangle': {
      const fill = cssColor(prop(object, row, 'brush.color'));
      const pen = cssColor(prop(object, row, 'pen.color')) || '#000';
      return h('div', {
        class: 'ff-rect',
        style: {...box(object, row, top), borderColor: pen, background: fill || 'transparent'},
      });
    }
    case 'line': return renderLine(object, row, top);
    case 'compute':
      return h('div', {
        class: `ff-text ff-compute ${alignClass(object, row)} ${borderClass(object, row)}`,
        style: {...box(object, row, top), ...fontStyle(object, row)},
      }, computedText(form, object, row));
    case 'column': return renderCell(control, form, cols, object, row, rowNumber, top, ctx);
    default: return null;
  }
}

// A computed field's text: per row in the detail band, once for the form in the other bands.
function computedText(form, object, row) {
  if (row) return prop(object, row, 'value') ?? '';
  return (form.computed && form.computed[object.name]) ?? '';
}

function background(object, row) {
  const color = cssColor(prop(object, row, 'background.color'));
  return color ? {background: color} : {};
}

function renderLine(object, row, top) {
  const x1 = num(prop(object, row, 'x1'));
  const y1 = num(prop(object, row, 'y1')) + top;
  const x2 = num(prop(object, row, 'x2'));
  const y2 = num(prop(object, row, 'y2')) + top;
  const length = Math.hypot(x2 - x1, y2 - y1);
  const angle = Math.atan2(y2 - y1, x2 - x1);
  return h('div', {
    class: 'ff-line',
    style: {
      left: `${x1}px`, top: `${y1}px`, width: `${length}px`,
      borderTopWidth: `${Math.max(1, num(prop(object, row, 'pen.width'), 1))}px`,
      borderTopColor: cssColor(prop(object, row, 'pen.color')) || '#000',
      transform: `rotate(${angle}rad)`,
    },
  });
}

function editable(control, object, row, ctx) {
  if (!row || !ctx.interactive || control.read_only) return false;
  if (truthy(prop(object, row, 'protect'))) return false;
  const edit = prop(object, row, 'edit');
  return edit !== 'none';
}

function renderCell(control, form, cols, object, row, rowNumber, top, ctx) {
  const column = object.column || object.name;
  const i = cols.index.get(column);
  const def = cols.column(column) || {};
  const code = row ? row.codes[i] : null;
  const shown = row ? row.values[i] : '';
  const edit = prop(object, row, 'edit') || def.edit || 'edit';
  const canEdit = editable(control, object, row, ctx);
  const key = cellKey(ctx, control.name, rowNumber, column);
  const style = {...box(object, row, top), ...fontStyle(object, row), ...background(object, row)};
  const classes = `ff-cell ${alignClass(object, row)} ${borderClass(object, row)} ${canEdit ? '' : 'readonly'}`;
  const label = labelFor(form, object);

  if (edit === 'checkbox') {
    const on = prop(object, row, 'checkbox.on') ?? '1';
    const off = prop(object, row, 'checkbox.off') ?? '0';
    const input = h('input', {
      type: 'checkbox',
      checked: row ? String(code) === String(on) : false,
      disabled: !canEdit,
      dataset: {key},
      'aria-label': prop(object, row, 'checkbox.text') || label,
      onchange: (e) => ctx.commit(control.name, rowNumber, column, e.target.checked ? on : off, e.target),
    });
    return h('label', {class: `${classes} ff-check`, style}, input,
             h('span', {}, prop(object, row, 'checkbox.text') || ''));
  }
  if (edit === 'dropdown') {
    // The list as the window holds it (narrowed by the window as the user types).
    const list = (form.lists || {})[column] || [];
    const dropdown = new Dropdown({
      ctx, control: control.name, row: rowNumber, column, key, code,
      shown: ctx.names.name(ctx.windowKey, control.name, column, code, shown),
      list, editable: canEdit, label,
    });
    const node = dropdown.element;
    node.className += ` ${classes}`;
    Object.assign(node.style, style);
    return node;
  }
  if (edit === 'mle' || textLimit(def.type) > 100) {
    // A text longer than one line: a multi-line edit, where Enter starts a new line.
    const area = h('textarea', {
      class: `${classes} ff-mle`,
      style,
      readOnly: !canEdit,
      tabIndex: canEdit ? 0 : -1,
      maxlength: maxLength(def.type),
      'aria-label': label,
      spellcheck: 'false',
      dataset: {key, mask: '', original: shown ?? ''},
    });
    area.value = shown ?? '';
    if (canEdit) wireTextCell(area, control.name, rowNumber, column, ctx);
    openWhileFocused(area);
    return area;
  }
  const mask = prop(object, row, 'mask') || (edit === 'mask' ? def.mask : '');
  const input = h('input', {
    type: 'text',
    class: classes,
    style,
    value: shown ?? '',
    readOnly: !canEdit,
    tabIndex: canEdit ? 0 : -1,
    maxlength: maxLength(def.type),
    inputmode: NUMERIC.test(def.type || '') ? 'decimal' : undefined,
    placeholder: mask && canEdit ? mask : undefined,
    'aria-label': label,
    autocomplete: 'off',
    spellcheck: 'false',
    dataset: {key, mask: mask || '', original: shown ?? ''},
  });
  if (canEdit) wireTextCell(input, control.name, rowNumber, column, ctx);
  return input;
}

// A multi-line edit laid out one line high shows several lines while the user is in it,
// over what lies below it, and goes back to its place when he leaves.
const OPEN_LINES = 6;
function openWhileFocused(area) {
  const rest = area.style.height;
  area.addEventListener('focus', () => {
    const lineHeight = parseFloat(getComputedStyle(area).lineHeight) || 17;
    const open = OPEN_LINES * lineHeight + 6;
    if (parseFloat(rest) >= open) return;
    area.style.height = `${open}px`;
    area.classList.add('ff-mle-open');
  });
  area.addEventListener('blur', () => {
    area.style.height = rest;
    area.classList.remove('ff-mle-open');
  });
}

// The caption of a column: the text object named <column>_t, for screen readers and tests.
function labelFor(form, object) {
  const name = `${object.column || object.name}_t`;
  const text = form.objects.find((o) => o.kind === 'text' && o.name === name);
  return text ? String(text.text || '').replace(/\s+/g, '') : object.column || object.name;
}

// A date mask "yyyy-mm-dd": digits only, the dashes put in while typing. Typing at the end,
// a one-digit month the user closed with a dash of his own ("2005-3-") is read as "03".
function applyDateMask(text, typingAtEnd) {
  const padded = typingAtEnd ? text.replace(/^(\d{4})\D(\d)\D/, '$1-0$2-') : text;
  const digits = padded.replace(/\D/g, '').slice(0, 8);
  if (digits.length <= 4) return digits;
  if (digits.length <= 6) return `${digits.slice(0, 4)}-${digits.slice(4)}`;
  return `${digits.slice(0, 4)}-${digits.slice(4, 6)}-${digits.slice(6)}`;
}

// Applies the date mask to what is being typed, keeping the cursor after the same digits
// (at the end when it was there), so that a digit changed in the middle stays in place.
export function maskDateInput(input) {
  const text = input.value;
  const caret = input.selectionStart ?? text.length;
  const masked = applyDateMask(text, caret >= text.length);
  if (masked === text) return;
  input.value = masked;
  let pos = masked.length;
  if (caret < text.length) {
    const digitsBefore = text.slice(0, caret).replace(/\D/g, '').length;
    pos = 0;
    for (let seen = 0; pos < masked.length && seen < digitsBefore; pos++) if (/\d/.test(masked[pos])) seen++;
  }
  input.setSelectionRange(pos, pos);
}

// A date as it is sent: a one-digit day is read as "0d" ("2005-03-1" is 2005-03-01).
export function completeDate(text) {
  return text.replace(/^(\d{4})-(\d{2})-(\d)$/, '$1-$2-0$3');
}

export function wireTextCell(input, control, row, column, ctx) {
  const isDate = input.dataset.mask === 'yyyy-mm-dd';
  input.addEventListener('input', () => {
    if (isDate) maskDateInput(input);
    input.dataset.dirty = input.value !== input.dataset.original ? '1' : '';
  });
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && input.tagName !== 'TEXTAREA') {
      e.preventDefault();
      ctx.focusNext(input);
    } else if (e.key === 'Escape' && input.dataset.dirty) {
      input.value = input.dataset.original;
      input.dataset.dirty = '';
    }
  });
  input.addEventListener('blur', () => {
    if (ctx.rendering() || !input.dataset.dirty) return;
    input.dataset.dirty = '';
    const text = isDate ? completeDate(input.value) : input.value;
    ctx.commit(control, row, column, text.trim() === '' ? '' : text, input);
  });
}

// ---- grid and tabular -------------------------------------------------------------------

function renderGrid(control, form, ctx) {
  const cols = describe(form);
  const detail = form.objects
    .filter((o) => o.band === 'detail' && (o.kind === 'column' || o.kind === 'compute') && visible(o, null))
    .sort((a, b) => num(a.x) - num(b.x));
  // A shown header text names its column (<column>_t), else the one nearest its left edge
  // stands over it; the server's export captions its columns the same way.
  const headers = form.objects.filter((o) => o.band === 'header' && o.kind === 'text' && visible(o, null));
  const headerFor = (object) => {
    const named = headers.find((t) => t.name === `${object.column || object.name}_t`);
    if (named) return named.text;
    const x = num(object.x);
    let near = null;
    for (const t of headers) {
      const distance = Math.abs(num(t.x) - x);
      if (distance < 8 && (!near || distance < Math.abs(num(near.x) - x))) near = t;
    }
    return near ? near.text : '';
  };
  const table = h('table', {class: 'grid', role: 'grid'});
  const colgroup = h('colgroup', {});
  // Columns a little too wide for the control are narrowed to fit rather than scrolled.
  const widths = detail.map((o) => num(o.width, 80) + 4);
  const totalWidth = widths.reduce((a, b) => a + b, 0);
  const room = control.width - 4;
  const factor = totalWidth > room && totalWidth < room * 1.3 ? room / totalWidth : 1;
  for (const w of widths) colgroup.append(h('col', {style: {width: `${Math.floor(w * factor)}px`}}));
  table.append(colgroup);
  table.append(h('thead', {}, h('tr', {}, detail.map((o) => h('th', {class: alignClass(o, null)}, headerFor(o) || '')))));
  // A grid whose cells take input (a dialog's table of subjects) has no type-ahead: what is
  // typed belongs in its cells. Type-ahead is for read-only lists.
  const entries = ctx.interactive && !control.read_only && detail.some((o) => o.kind === 'column' &&
    savedColumn(cols, o.column || o.name) && prop(o, null, 'edit') !== 'checkbox' && !truthy(prop(o, null, 'protect')));
  const body = h('tbody', {});
  // A long list comes as a window of its rows: spacers above and below give it its full
  // height, and scrolling asks for the rows that come into view (keepScroll).
  const first = form.rows_from || 1;
  const total = form.row_count ?? form.rows.length;
  const spacer = (rows, where) => h('tr', {class: 'grid-spacer', dataset: {spacer: where, rows: String(rows)}, 'aria-hidden': 'true'},
                                     h('td', {colspan: String(Math.max(1, detail.length)), style: {height: `${rows * ROW_HEIGHT}px`}}));
  if (first > 1) body.append(spacer(first - 1, 'above'));
  form.rows.forEach((row, r) => {
    const rowNumber = first + r;
    const current = rowNumber === form.current_row;
    const tr = h('tr', {
      class: current ? 'current' : '',
      dataset: {row: String(rowNumber), key: cellKey(ctx, control.name, rowNumber, '')},
      tabIndex: current && ctx.interactive ? 0 : -1,
      'aria-selected': current ? 'true' : 'false',
    });
    for (const object of detail) {
      const column = object.column || object.name;
      const i = cols.index.get(column);
      const edit = prop(object, row, 'edit');
      const code = i === undefined ? null : row.codes[i];
      let content = object.kind === 'compute' ? computedText(form, object, row) : i === undefined ? '' : row.values[i];
      if (edit === 'checkbox') {
        const on = prop(object, row, 'checkbox.on') ?? '1';
        const checked = String(code) === String(on);
        content = h('span', {class: checked ? 'tick on' : 'tick', role: 'img', 'aria-label': checked ? '是' : '否'});
      } else if (edit === 'dropdown' || prop(object, row, 'dddw.name')) {
        content = ctx.names.name(ctx.windowKey, control.name, column, code, content);
      }
      const style = background(object, row);
      if (object.kind === 'column' && edit !== 'checkbox' && savedColumn(cols, column) &&
          editable(control, object, row, ctx)) {
        const dropdown = edit === 'dropdown' || prop(object, row, 'dddw.name');
        tr.append(h('td', {class: `${alignClass(object, row)} grid-edit`, style},
                    dropdown ? gridDropdown(control, form, object, column, row, rowNumber, code, content, ctx)
                             : gridInput(control, form, cols, object, column, row, rowNumber, ctx)));
        continue;
      }
      tr.append(h('td', {class: alignClass(object, row), style, title: typeof content === 'string' ? content : undefined}, content));
    }
    if (ctx.interactive) {
      // A key typed into a cell is the cell's; only the row itself takes the list's keys.
      const ownKey = (e) => e.target === tr;
      tr.addEventListener('click', (e) => {
        // A double-click is told by its second click: the row may have been drawn anew after
        // the first, and then no dblclick event comes.
        if (e.detail === 2) ctx.rowActivated(control.name, rowNumber, row, form);
        else if (e.detail < 2) ctx.post({kind: 'select', target: control.name, row: rowNumber});
      });
      tr.addEventListener('keydown', (e) => {
        if (!ownKey(e)) return;
        if (e.key === 'Enter') ctx.rowActivated(control.name, rowNumber, row, form);
        else handleListKey(e, {ctx, control: control.name, rowNumber, form, tr, typeAhead: !entries});
      });
      tr.addEventListener('contextmenu', (e) => ctx.rowMenu(e, control.name, rowNumber, row, form));
    }
    body.append(tr);
  });
  const after = total - first - form.rows.length + 1;
  if (after > 0) body.append(spacer(after, 'below'));
  table.append(body);
  const wrap = h('div', {class: 'grid-wrap'}, table);
  if (total === 0) wrap.append(h('div', {class: 'grid-empty'}, '（无记录）'));
  // A right-click anywhere on the list that is not on a row (the row has its own menu).
  if (ctx.interactive && ctx.listMenu) {
    wrap.addEventListener('contextmenu', (e) => {
      if (!e.defaultPrevented) ctx.listMenu(e, control.name);
    });
  }
  keepScroll(wrap, control, form, ctx, first, total);
  return wrap;
}

// A grid column takes entries only when the form saves it (a list's columns never do) and
// the cell is not protected: lists stay lists, an entry grid such as a dialog's table of
// subjects is typed into in place.
function savedColumn(cols, column) {
  const def = cols.column(column);
  return Boolean(def && def.update);
}

function gridInput(control, form, cols, object, column, row, rowNumber, ctx) {
  const def = cols.column(column) || {};
  const i = cols.index.get(column);
  const shown = row.values[i] ?? '';
  const input = h('input', {
    type: 'text',
    class: `grid-input ${alignClass(object, row)}`,
    style: fontStyle(object, row),
    value: shown,
    maxlength: maxLength(def.type),
    inputmode: NUMERIC.test(def.type || '') ? 'decimal' : undefined,
    'aria-label': labelFor(form, object),
    autocomplete: 'off',
    spellcheck: 'false',
    dataset: {key: cellKey(ctx, control.name, rowNumber, column), mask: '', original: shown},
  });
  wireTextCell(input, control.name, rowNumber, column, ctx);
  return input;
}

// A code column of an entry grid (培训形式): the drop-down of its code list in the cell.
function gridDropdown(control, form, object, column, row, rowNumber, code, shown, ctx) {
  const dropdown = new Dropdown({
    ctx, control: control.name, row: rowNumber, column, code,
    key: cellKey(ctx, control.name, rowNumber, column),
    shown,
    list: (form.lists || {})[column] || [],
    editable: true,
    label: labelFor(form, object),
  });
  dropdown.element.classList.add('grid-dd');
  return dropdown.element;
}

// ---- long lists: scroll position and windows of rows ---------------------------------------

const ROW_HEIGHT = 25;
// Where each list was scrolled, kept across redraws: {top, current}.
const scrolls = new Map();

function keepScroll(wrap, control, form, ctx, first, total) {
  const key = `${ctx.windowKey}/${control.name}`;
  requestAnimationFrame(() => {
    const scroller = wrap.closest('.ctl-form');
    if (!scroller || !wrap.isConnected) return;
    const real = wrap.querySelector('tbody tr[data-row]');
    const rowHeight = (real && real.offsetHeight) || ROW_HEIGHT;
    for (const s of wrap.querySelectorAll('tr.grid-spacer > td')) {
      s.style.height = `${Number(s.parentElement.dataset.rows) * rowHeight}px`;
    }
    // A zoomed window scrolls in zoomed pixels: a row's height in them is the list's
    // scroll height shared out over its rows and its header.
    const step = scroller.scrollHeight / (total + 1) || rowHeight;
    const head = step;
    const saved = scrolls.get(key);
    if (saved && saved.current === form.current_row) {
      scroller.scrollTop = saved.top;
    } else if (form.current_row > 0) {
      // The current row moved: it comes into view.
      const y = (form.current_row - 1) * step;
      const view = scroller.clientHeight - head;
      if (y < scroller.scrollTop || y + step > scroller.scrollTop + view) {
        scroller.scrollTop = Math.max(0, y - Math.floor(view / 2));
      }
    }
    const note = () => scrolls.set(key, {top: scroller.scrollTop, current: form.current_row});
    note();
    if (scrolls.size > 200) scrolls.delete(scrolls.keys().next().value);
    let timer = null;
    const want = () => {
      const firstShown = Math.floor(scroller.scrollTop / step) + 1;
      const shown = Math.ceil(scroller.clientHeight / step) + 1;
      const last = first + form.rows.length - 1;
      const missingAbove = first > 1 && firstShown - 5 < first;
      const missingBelow = last < total && firstShown + shown + 5 > last;
      if (missingAbove || missingBelow) ctx.showRows(control.name, Math.max(1, firstShown - 40), shown + 80);
    };
    scroller.addEventListener('scroll', () => {
      note();
      clearTimeout(timer);
      timer = setTimeout(want, 60);
    });
    if (total > form.rows.length) want();
  });
}

// ---- print preview ------------------------------------------------------------------------

function renderPreview(control, form, ctx) {
  const area = h('div', {class: 'preview-area'}, h('div', {class: 'preview-loading'}, '正在生成打印预览…'));
  const notice = ctx.unsaved
    ? h('div', {class: 'preview-unsaved', role: 'status'}, '屏幕上有尚未保存的修改，打印预览和打印的是已保存的数据。')
    : null;
  ctx.preview(control.name, form).then((info) => {
    area.replaceChildren();
    if (notice) area.append(notice);
    if (!info) {
      area.append(h('div', {class: 'preview-loading'}, '打印预览暂不可用'));
      return;
    }
    const scale = Math.min(3, Math.max(1, Math.ceil((window.devicePixelRatio || 1) * ctx.zoom * 2) / 2 + 0.5));
    for (let page = 1; page <= info.pages; ++page) {
      const img = h('img', {
        class: 'preview-page',
        alt: `第 ${page} 页，共 ${info.pages} 页`,
        src: `/api/preview/${encodeURIComponent(control.name)}/${page}.png?scale=${scale}&v=${info.version}`,
        width: String(info.width),
        height: String(info.height),
        draggable: 'false',
      });
      area.append(h('figure', {class: 'preview-sheet'}, img,
                    h('figcaption', {}, `第 ${page} 页 / 共 ${info.pages} 页`)));
    }
  });
  // A list in print preview (a generated list of names) is exported as a grid would be.
  if ((form.style === 'grid' || form.style === 'tabular') && ctx.interactive && ctx.listMenu) {
    area.addEventListener('contextmenu', (e) => ctx.listMenu(e, control.name));
  }
  return area;
}
