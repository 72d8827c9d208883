// Elements made from data. Every text from the service, a file or the user goes in as text
// (textContent, attribute values); nothing here parses markup.

const SVG = 'http://www.w3.org/2000/svg';

function build(node, props, children) {
  for (const [k, v] of Object.entries(props || {})) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'text') node.textContent = String(v);
    else if (k === 'className') node.setAttribute('class', v);
    else if (k === 'dataset') Object.assign(node.dataset, v);
    else if (k.startsWith('on') || k === 'style') throw new Error(`no inline ${k} here`);
    else node.setAttribute(k, v === true ? '' : String(v));
  }
  for (const c of children) {
    if (c === null || c === undefined || c === false) continue;
    node.append(c instanceof Node ? c : String(c));
  }
  return node;
}

// An HTML element: el('td', {className: 'x', text: name}, child, 'more text').
export function el(tag, props, ...children) {
  return build(document.createElement(tag), props, children);
}

// An SVG element likewise.
export function svg(tag, props, ...children) {
  return build(document.createElementNS(SVG, tag), props, children);
}

export function byId(id) {
  return document.getElementById(id);
}

export function clear(node) {
  node.replaceChildren();
  return node;
}

export function show(node, visible) {
  node.hidden = !visible;
}

// A number as text with `digits` decimals, or a dash when it is missing.
export function fixed(value, digits) {
  return typeof value === 'number' && Number.isFinite(value) ? value.toFixed(digits) : '\u2013';
}
