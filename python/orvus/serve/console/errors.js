// The API's errors beside the fields they name. A scope knows its fields by the path the
// service names them with (["body", "datetime"], ["body", "order_parameters", "priority"]):
// an error goes beside the field whose path is the longest start of its `loc`, or to the
// scope's general place when no field matches.

import { el } from './dom.js';

export class ErrorScope {
  constructor(general) {
    this.general = general;
    this.fields = [];
  }

  // `slot` shows the message; `input` (optional) is marked invalid.
  field(path, slot, input) {
    this.fields.push({ path, slot, input });
    return this;
  }

  clear() {
    for (const f of this.fields) {
      f.slot.replaceChildren();
      if (f.input) f.input.removeAttribute('aria-invalid');
    }
    if (this.general) this.general.replaceChildren();
  }

  // Shows an ApiError (or any Error) and returns the slots used.
  show(error) {
    this.clear();
    const list = error && Array.isArray(error.details) ? error.details
      : [{ loc: [], msg: String(error && error.message ? error.message : error) }];
    const used = [];
    for (const d of list) {
      let best = null;
      for (const f of this.fields) {
        if (f.path.length <= d.loc.length && f.path.every((p, i) => String(d.loc[i]) === String(p)) &&
            (!best || f.path.length > best.path.length)) best = f;
      }
      const where = best ? best.slot : this.general;
      if (!where) continue;
      const rest = best ? d.loc.slice(best.path.length) : d.loc;
      const at = rest.length ? ` (at ${rest.join('.')})` : '';
      where.append(el('span', { className: 'error-text', text: d.msg + at }));
      if (best && best.input) best.input.setAttribute('aria-invalid', 'true');
      used.push(where);
    }
    return used;
  }
}

// A slot for a field's messages, placed after it.
export function slot(id) {
  return el('span', { className: 'field-error', id, role: 'alert' });
}
