// A product's queryables (GET /products/{id}/queryables, a JSON Schema) as form fields, and the
// CQL2-JSON filter the filled fields make: a number gets "from" and "to" fields (>=, <=), a
// text with choices a list (=). Empty fields constrain nothing.

import { el } from './dom.js';
import { slot } from './errors.js';

export function build(schema) {
  const fields = [];
  const box = el('div', { className: 'queryables' });
  let n = 0;
  for (const [name, field] of Object.entries((schema && schema.properties) || {})) {
    n += 1;
    const id = `q${n}`;
    const label = el('label', { for: `${id}-a`, text: field.title || name,
                                title: field.description || name });
    const row = el('div', { className: 'field', dataset: { queryable: name } }, label);
    if (field.type === 'number' || field.type === 'integer') {
      const input = (suffix, placeholder, word) => el('input', {
        id: `${id}-${suffix}`, type: 'number', step: 'any', placeholder,
        'aria-label': `${field.title || name} ${word}`, dataset: { bound: suffix } });
      const low = input('a', field.minimum ?? '', 'from');
      const high = input('b', field.maximum ?? '', 'to');
      row.append(low, el('span', { text: 'to' }), high);
      fields.push({ name, number: true, low, high });
    } else if (Array.isArray(field.enum)) {
      const select = el('select', { id: `${id}-a` }, el('option', { value: '', text: 'any' }),
        ...field.enum.map((v) => el('option', { value: String(v), text: String(v) })));
      row.append(select);
      fields.push({ name, select });
    } else {
      continue;
    }
    box.append(row);
  }
  const error = slot('queryables-error');
  box.append(error);
  return { element: box, error, filter: () => filter(fields) };
}

function filter(fields) {
  const args = [];
  for (const f of fields) {
    const p = { property: f.name };
    if (f.number) {
      const a = f.low.value.trim(), b = f.high.value.trim();
      if (a !== '') args.push({ op: '>=', args: [p, Number(a)] });
      if (b !== '') args.push({ op: '<=', args: [p, Number(b)] });
    } else if (f.select.value !== '') {
      args.push({ op: '=', args: [p, f.select.value] });
    }
  }
  if (!args.length) return null;
  return args.length === 1 ? args[0] : { op: 'and', args };
}
