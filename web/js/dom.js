// A small helper for building DOM nodes. Texts always go in as text, never as markup.
//
//   h('button', {class: 'btn', onclick: () => …}, '保存')

export function h(tag, attrs = {}, ...children) {
  const el = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') el.className = value;
    else if (key === 'style') Object.assign(el.style, value);
    else if (key === 'dataset') Object.assign(el.dataset, value);
    else if (key.startsWith('on') && typeof value === 'function') el.addEventListener(key.slice(2), value);
    else if (key === 'value' || key === 'checked' || key === 'readOnly' || key === 'disabled' || key === 'tabIndex')
      el[key] = value;
    else el.setAttribute(key, value === true ? '' : String(value));
  }
  append(el, children);
  return el;
}

function append(el, children) {
  for (const child of children) {
    if (child === undefined || child === null || child === false) continue;
    if (Array.isArray(child)) append(el, child);
    else el.append(child instanceof Node ? child : String(child));
  }
}

// A caption with a mnemonic ("保存申报(&D)"): the letter after & underlined, the & dropped.
export function caption(text) {
  const frag = document.createDocumentFragment();
  const at = text.indexOf('&');
  if (at < 0 || at + 1 >= text.length) {
    frag.append(text);
    return frag;
  }
  frag.append(text.slice(0, at), h('u', {}, text[at + 1]), text.slice(at + 2));
  return frag;
}

export function mnemonic(text) {
  const at = text.indexOf('&');
  return at >= 0 && at + 1 < text.length ? text[at + 1].toLowerCase() : '';
}

export function plain(text) {
  return text.replace(/&(.)/, '$1');
}
