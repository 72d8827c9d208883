// Times: the service speaks RFC 3339 in UTC; the console shows UTC beside the browser's local
// time, and its time fields are UTC.

import { el } from './dom.js';

const pad = (n, w = 2) => String(n).padStart(w, '0');

// Milliseconds since 1970 of an RFC 3339 text (NaN when it is not one).
export function parseInstant(text) {
  return typeof text === 'string' ? Date.parse(text) : NaN;
}

// [start, end] in ms of an interval "a/b".
export function parseInterval(text) {
  const [a, b] = String(text).split('/');
  return [parseInstant(a), parseInstant(b)];
}

export function utcText(ms) {
  const d = new Date(ms);
  return `${d.getUTCFullYear()}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ` +
         `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}Z`;
}

const zones = new Intl.DateTimeFormat(undefined, { timeZoneName: 'short' });
const zoneName = (d) => {
  const part = zones.formatToParts(d).find((p) => p.type === 'timeZoneName');
  return part ? part.value : 'local';
};

export function localText(ms) {
  const d = new Date(ms);
  return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())} ` +
         `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())} ${zoneName(d)}`;
}

// An element with the instant in UTC and, beside it, in local time.
export function bothTimes(ms) {
  if (!Number.isFinite(ms)) return el('span', { className: 'time', text: '\u2013' });
  return el('span', { className: 'time' },
    el('span', { className: 'utc', text: utcText(ms) }),
    el('span', { className: 'local', text: localText(ms) }));
}

// The value of a datetime-local field that holds a UTC time, and back.
export function fieldValue(ms) {
  return new Date(ms).toISOString().slice(0, 19);
}

export function fieldInstant(value) {
  return /^\d{4}-\d\d-\d\dT\d\d:\d\d(:\d\d(\.\d+)?)?$/.test(value) ? Date.parse(value + 'Z') : NaN;
}

// RFC 3339 text of ms, as the service reads it.
export function rfc3339(ms) {
  return new Date(ms).toISOString();
}
