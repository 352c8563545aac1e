// Draws one window of the state: its controls at their window-unit coordinates (one unit is
// one CSS pixel before the window is zoomed to fit), buttons, static texts, edit masks, the
// unit selector, check boxes and form controls.

import {caption, h, mnemonic, plain} from './dom.js';
import {completeDate, maskDateInput, renderForm} from './form_view.js';

export function renderWindow(win, ctx) {
  const canvas = h('div', {
    class: 'window-canvas',
    style: {width: `${win.width}px`, height: `${win.height}px`},
    dataset: {window: win.class},
  });
  for (const control of win.controls) {
    if (!control.visible) continue;
    const node = renderControl(control, win, ctx);
    if (!node) continue;
    node.classList.add('ctl', `ctl-${control.kind}`);
    node.dataset.name = control.name;
    Object.assign(node.style, {
      left: `${control.x}px`,
      top: `${control.y}px`,
      width: `${Math.max(0, control.width)}px`,
      height: `${Math.max(0, control.height)}px`,
    });
    canvas.append(node);
  }
  return canvas;
}

function renderControl(control, win, ctx) {
  switch (control.kind) {
    case 'button': return renderButton(control, ctx);
    case 'static': return h('div', {class: 'static'}, control.text);
    case 'editmask':
    case 'edit': return renderEdit(control, ctx);
    case 'mle': return renderMultiLine(control, ctx);
    case 'checkbox':
      return h('label', {class: 'checkbox'},
               h('input', {type: 'checkbox', checked: control.text === '1', disabled: !control.enabled || !ctx.interactive,
                           dataset: {key: `${ctx.windowKey}/${control.name}`},
                           onchange: () => ctx.post({kind: 'click', target: control.name})}),
               h('span', {}, plain(control.text)));
    case 'selector': return renderSelector(control, win, ctx);
    case 'form': return renderForm(control, ctx);
    default: return null;
  }
}

function renderButton(control, ctx) {
  const key = mnemonic(control.text);
  const role = control.role || {};
  // A right the user lacks, or a declaration that is locked: the button is off, and says why.
  const lacksRight = Boolean(role.right) && !ctx.rights.includes(role.right);
  const enabled = control.enabled && !lacksRight && !role.locked;
  return h('button', {
    type: 'button',
    class: `btn${role.accent ? ' btn-accent' : ''}`,
    disabled: !enabled || !ctx.interactive,
    // The key is the page's own (app.js), not the browser's accesskey, which presses the
    // first of several buttons that share it.
    'aria-keyshortcuts': key ? `Alt+${key.toUpperCase()}` : undefined,
    dataset: key ? {key: `${ctx.windowKey}/${control.name}`, mnemonic: key} : {key: `${ctx.windowKey}/${control.name}`},
    title: enabled ? undefined : (lacksRight && role.refusal) || role.locked || '当前不可用',
    onclick: () => ctx.post({kind: 'click', target: control.name}),
  }, h('span', {class: 'btn-label'}, caption(control.text)));
}

// A multi-line edit: Enter starts a new line; the text goes to the server when the edit is
// left (a click on a button leaves it first, so the button's script sees the text).
function renderMultiLine(control, ctx) {
  const area = h('textarea', {
    class: 'edit mle',
    readOnly: !control.enabled || !ctx.interactive,
    maxlength: control.limit || undefined,
    spellcheck: 'false',
    'aria-label': control.name,
    dataset: {key: `${ctx.windowKey}/${control.name}`, original: control.text},
  });
  area.value = control.text;
  area.addEventListener('blur', () => {
    if (ctx.rendering() || area.value === area.dataset.original) return;
    area.dataset.original = area.value;
    ctx.post({kind: 'text', target: control.name, text: area.value});
  });
  return area;
}

function renderEdit(control, ctx) {
  const isDate = control.mask === 'yyyy-mm-dd';
  const input = h('input', {
    type: 'text',
    class: 'edit',
    value: control.text,
    readOnly: !control.enabled || !ctx.interactive,
    placeholder: control.mask || undefined,
    autocomplete: 'off',
    spellcheck: 'false',
    inputmode: isDate ? 'numeric' : undefined,
    'aria-label': control.name,
    dataset: {key: `${ctx.windowKey}/${control.name}`, original: control.text},
  });
  input.addEventListener('input', () => {
    if (isDate) maskDateInput(input);
    input.dataset.dirty = input.value !== input.dataset.original ? '1' : '';
  });
  const send = () => {
    if (!input.dataset.dirty) return Promise.resolve();
    input.dataset.dirty = '';
    if (isDate) input.value = completeDate(input.value);
    input.dataset.original = input.value;
    return ctx.post({kind: 'text', target: control.name, text: input.value});
  };
  input.addEventListener('blur', () => {
    if (!ctx.rendering()) send();
  });
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      send();
      // Enter in the date range runs the query, as the query button would.
      if (ctx.hasControl('pb_3')) ctx.post({kind: 'click', target: 'pb_3'});
    }
  });
  return input;
}

// The unit selector (uo_1): the authority chooses any unit; a clerk sees his own, fixed.
function renderSelector(control, win, ctx) {
  const units = ctx.units || [];
  const nameOf = (code) => {
    const unit = units.find((u) => u.company_num === code);
    return unit ? `${unit.company_num} ${unit.company_name}` : code;
  };
  if (!control.enabled || !ctx.interactive) {
    return h('div', {class: 'selector fixed', title: '本单位'}, control.text ? nameOf(control.text) : '（未选择单位）');
  }
  const select = h('select', {
    class: 'selector',
    'aria-label': '单位',
    dataset: {key: `${ctx.windowKey}/${control.name}`},
  }, h('option', {value: ''}, '— 请选择单位 —'),
     units.map((u) => h('option', {value: u.company_num}, `${u.company_num} ${u.company_name}`)));
  select.value = control.text || '';
  select.addEventListener('change', async () => {
    await ctx.post({kind: 'text', target: control.name, text: select.value});
    if (win.controls.some((c) => c.name === 'pb_3' && c.enabled && c.visible)) ctx.post({kind: 'click', target: 'pb_3'});
  });
  return select;
}
