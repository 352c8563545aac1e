// A drop-down cell: shows the name of its code, offers the column's code list, narrows it as
// the user types and stores the code of what was chosen.
//
// Each keystroke posts `filter` (the window narrows its list; the answer brings the narrowed
// list, drawn into the open list without drawing the window again). Choosing an entry, or
// leaving the cell after typing, posts `type` with the code: a name or code typed in full
// becomes that code; anything else goes as typed and the window refuses it.

import {h} from './dom.js';

let openList = null;  // the one list that is open

export class Dropdown {
  constructor({ctx, control, row, column, key, code, shown, list, editable, label}) {
    this.ctx = ctx;
    this.control = control;
    this.row = row;
    this.column = column;
    this.code = code;
    this.shown = shown ?? '';
    this.list = list;
    this.highlight = -1;
    this.composing = false;
    this.input = h('input', {
      type: 'text',
      class: 'dd-input',
      value: this.shown,
      readOnly: !editable,
      tabIndex: editable ? 0 : -1,
      role: 'combobox',
      'aria-expanded': 'false',
      'aria-autocomplete': 'list',
      'aria-label': label,
      autocomplete: 'off',
      spellcheck: 'false',
      dataset: {key, original: this.shown, dropdown: '1'},
    });
    this.input.dropdown = this;
    const caret = h('span', {class: 'dd-caret', 'aria-hidden': 'true'});
    this.element = h('div', {class: 'dd'}, this.input, caret);
    if (!editable) return;
    caret.addEventListener('mousedown', (e) => {
      e.preventDefault();
      if (this.popup) this.close();
      else {
        this.input.focus();
        this.open();
      }
    });
    this.input.addEventListener('focus', () => {
      if (!ctx.rendering()) this.open();
    });
    this.input.addEventListener('click', () => {
      if (!this.popup) this.open();
    });
    this.input.addEventListener('compositionstart', () => { this.composing = true; });
    this.input.addEventListener('compositionend', () => {
      this.composing = false;
      this.typed();
    });
    this.input.addEventListener('input', () => {
      if (!this.composing) this.typed();
    });
    this.input.addEventListener('keydown', (e) => this.key(e));
    this.input.addEventListener('blur', () => {
      if (ctx.rendering()) return;
      this.close();
      if (this.input.dataset.dirty) this.commit(this.resolve(this.input.value));
    });
  }

  typed() {
    this.input.dataset.dirty = this.input.value !== this.input.dataset.original ? '1' : '';
    this.open();
    this.narrow(this.input.value);
  }

  async narrow(text) {
    if (this.popup) this.popup.classList.add('narrowing');
    const list = await this.ctx.filter(this.control, this.row, this.column, text);
    if (this.popup) this.popup.classList.remove('narrowing');
    if (list) this.setList(list, text !== '');
  }

  setList(list, pickFirst) {
    this.list = list;
    const current = list.findIndex(([code]) => String(code) === String(this.code));
    this.highlight = pickFirst ? (list.length ? 0 : -1) : current;
    if (this.popup) this.drawItems();
  }

  open() {
    if (this.popup || this.input.readOnly) return;
    if (openList && openList !== this) openList.close();
    openList = this;
    this.popup = h('ul', {class: 'dd-popup', role: 'listbox'});
    document.body.append(this.popup);
    this.input.setAttribute('aria-expanded', 'true');
    this.highlight = this.list.findIndex(([code]) => String(code) === String(this.code));
    this.drawItems();
    this.place();
    // A list still narrowed by an earlier entry opens whole again.
    if (!this.input.dataset.dirty &&
        this.list.length < this.ctx.names.size(this.ctx.windowKey, this.control, this.column))
      this.narrow('');
  }

  place() {
    if (!this.popup) return;
    const r = this.input.getBoundingClientRect();
    const below = window.innerHeight - r.bottom;
    this.popup.style.minWidth = `${Math.max(r.width, 180)}px`;
    this.popup.style.left = `${Math.min(r.left, window.innerWidth - Math.max(r.width, 180) - 8)}px`;
    if (below < 220 && r.top > below) {
      this.popup.style.bottom = `${window.innerHeight - r.top + 2}px`;
      this.popup.style.top = '';
      this.popup.style.maxHeight = `${Math.min(320, r.top - 12)}px`;
    } else {
      this.popup.style.top = `${r.bottom + 2}px`;
      this.popup.style.bottom = '';
      this.popup.style.maxHeight = `${Math.min(320, below - 12)}px`;
    }
  }

  drawItems() {
    this.popup.replaceChildren();
    if (this.list.length === 0) {
      this.popup.append(h('li', {class: 'dd-none'}, '（无匹配项）'));
      return;
    }
    this.list.forEach(([code, name], i) => {
      const item = h('li', {
        class: `dd-item${i === this.highlight ? ' active' : ''}${String(code) === String(this.code) ? ' chosen' : ''}`,
        role: 'option',
        'aria-selected': i === this.highlight ? 'true' : 'false',
        dataset: {code: String(code)},
      }, h('span', {class: 'dd-name'}, name), h('span', {class: 'dd-code'}, code));
      item.addEventListener('mousedown', (e) => {
        e.preventDefault();
        this.choose(code, name);
      });
      this.popup.append(item);
    });
    const active = this.popup.querySelector('.active');
    if (active) active.scrollIntoView({block: 'nearest'});
  }

  close() {
    if (!this.popup) return;
    this.popup.remove();
    this.popup = null;
    this.input.setAttribute('aria-expanded', 'false');
    if (openList === this) openList = null;
  }

  key(e) {
    if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
      e.preventDefault();
      if (!this.popup) this.open();
      const n = this.list.length;
      if (!n) return;
      this.highlight = e.key === 'ArrowDown' ? Math.min(n - 1, this.highlight + 1) : Math.max(0, this.highlight - 1);
      this.drawItems();
    } else if (e.key === 'Enter') {
      e.preventDefault();
      if (this.popup && this.highlight >= 0 && this.input.dataset.dirty) {
        const [code, name] = this.list[this.highlight];
        this.choose(code, name);
      } else if (this.popup && this.highlight >= 0 && String(this.list[this.highlight][0]) !== String(this.code)) {
        const [code, name] = this.list[this.highlight];
        this.choose(code, name);
      }
      this.ctx.focusNext(this.input);
    } else if (e.key === 'Tab') {
      // Leaving a narrowed list with Tab takes its highlighted entry, as Enter does; the
      // focus then moves on as Tab moves it.
      const typed = this.input.value.trim();
      const entry = this.popup && this.highlight >= 0 && this.input.dataset.dirty ? this.list[this.highlight] : null;
      // Only an entry that answers to what was typed (its code begins with it or its name
      // holds it, as the list narrows), not one still highlighted from before.
      if (entry && typed && (String(entry[0]).startsWith(typed) || String(entry[1]).includes(typed))) {
        this.choose(entry[0], entry[1]);
      }
    } else if (e.key === 'Escape') {
      this.close();
      if (this.input.dataset.dirty) {
        this.input.value = this.input.dataset.original;
        this.input.dataset.dirty = '';
      }
    }
  }

  // The code for what was typed: a name or code of the list written in full, else the text.
  resolve(text) {
    const wanted = text.trim();
    if (!wanted) return '';
    const all = this.list;
    const byName = all.find(([, name]) => name === wanted);
    if (byName) return byName[0];
    const byCode = all.find(([code]) => String(code) === wanted);
    if (byCode) return byCode[0];
    const known = this.ctx.names.codeOf(this.ctx.windowKey, this.control, this.column, wanted);
    return known ?? wanted;
  }

  choose(code, name) {
    this.input.value = name;
    this.input.dataset.original = name;
    this.input.dataset.dirty = '';
    this.code = code;
    this.close();
    this.commit(code);
  }

  commit(code) {
    this.input.dataset.dirty = '';
    this.ctx.commit(this.control, this.row, this.column, code === null ? '' : String(code), this.input);
  }
}

// The data-key of the cell whose list is open, or null.
export function openListKey() {
  return openList ? openList.input.dataset.key : null;
}

export function closeOpenList() {
  if (openList) openList.close();
}

export function placeOpenList() {
  if (openList) openList.place();
}
