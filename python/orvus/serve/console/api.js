// Requests to the service. The API key lives in this tab's session storage only and goes out
// in the Authorization header. A request that gets no answer tells the connection's listeners
// that the connection is lost; one marked `retry` (reads and searches, never an order) tries
// again, sooner first, until an answer comes (as it does after a 503 with Retry-After). A 401
// tells the key's listeners to ask again.

const STORE = 'orvus-console-key';
const listeners = { connection: [], unauthorized: [] };
let generation = 0; // counts key changes: a retry loop of an older key gives up

export class ApiError extends Error {
  // status: the HTTP status (0: no answer); details: [{loc, msg, type}] as the service sends.
  constructor(status, details) {
    super(details.map((d) => d.msg).join('; '));
    this.status = status;
    this.details = details;
  }
}

export function key() {
  return sessionStorage.getItem(STORE);
}

export function setKey(value) {
  generation += 1;
  if (value) sessionStorage.setItem(STORE, value);
  else sessionStorage.removeItem(STORE);
}

export function on(event, callback) {
  listeners[event].push(callback);
}

function tell(event, value) {
  for (const f of listeners[event]) f(value);
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function details(status, body, fallback) {
  if (body && Array.isArray(body.detail)) {
    return body.detail.map((d) => ({ loc: Array.isArray(d.loc) ? d.loc : [],
                                     msg: String(d.msg ?? ''), type: String(d.type ?? '') }));
  }
  return [{ loc: [], msg: fallback || `the service answered ${status}`, type: 'http_error' }];
}

// The JSON answer to METHOD path (a path of this origin); throws ApiError.
export async function request(method, path, { body, retry = false, anonymous = false } = {}) {
  if (typeof path !== 'string' || !path.startsWith('/') || path.startsWith('//')) {
    throw new ApiError(0, [{ loc: [], type: 'bad_link', msg: `not a path of this service: ${path}` }]);
  }
  const mine = generation;
  let wait = 1000;
  for (;;) {
    const headers = { Accept: 'application/json, application/geo+json' };
    const k = key();
    if (k && !anonymous) headers.Authorization = `Bearer ${k}`;
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    let response;
    try {
      response = await fetch(path, { method, headers, cache: 'no-store', credentials: 'omit',
                                     redirect: 'error',
                                     body: body === undefined ? undefined : JSON.stringify(body) });
    } catch (e) {
      if (!retry || mine !== generation) {
        tell('connection', { lost: true, retryMs: null });
        throw new ApiError(0, [{ loc: [], type: 'connection_lost',
                                 msg: 'the connection to the service is lost' }]);
      }
      tell('connection', { lost: true, retryMs: wait });
      await pause(wait);
      wait = Math.min(wait * 2, 10000);
      continue;
    }
    tell('connection', { lost: false });
    let parsed = null;
    const type = response.headers.get('content-type') || '';
    if (type.includes('json')) {
      try { parsed = await response.json(); } catch (e) { parsed = null; }
    }
    if (response.ok) return parsed;
    if (response.status === 401 && !anonymous) tell('unauthorized', details(401, parsed));
    // A database out of reach says when to come back (Retry-After); a planner that cannot
    // serve the request does not, and its reason is shown.
    if (response.status === 503 && retry && response.headers.get('retry-after') &&
        mine === generation) {
      tell('connection', { lost: true, retryMs: wait, unavailable: true });
      await pause(wait);
      wait = Math.min(wait * 2, 10000);
      continue;
    }
    throw new ApiError(response.status, details(response.status, parsed, response.statusText));
  }
}

export const get = (path, options) => request('GET', path, { retry: true, ...options });
export const post = (path, body, options) => request('POST', path, { body, ...options });

// Every item of a paged list: follows the "next" links from `path`, `pick(page)` giving a
// page's items.
export async function all(path, pick) {
  const out = [];
  for (let url = path; url;) {
    const page = await get(url);
    out.push(...pick(page));
    const next = (page.links || []).find((l) => l.rel === 'next');
    url = next ? next.href : null;
  }
  return out;
}
