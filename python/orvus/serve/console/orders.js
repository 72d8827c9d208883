// "My orders" (an operator's: every order): the orders with their current status, newest
// first, 100 a page; a click shows an order's history, its area and, once scheduled, its
// acquisition (time, satellite, roll, footprint). The list keeps itself current: it reads
// the service's pages of 100 once, then every few seconds again the pages it shows and the
// last one (which new orders join), following new "next" links.

import * as api from './api.js';
import { byId, clear, el, fixed } from './dom.js';
import { ErrorScope } from './errors.js';
import { bothTimes, parseInstant, parseInterval } from './time.js';

export const PAGE = 100;
const POLL_MS = 4000;
const CANCELLABLE = ['received', 'accepted'];
const AREA = { color: '#6c3483', weight: 2, fillOpacity: 0.08, dashArray: '4 4', pane: 'area' };
const SHOT = { color: '#117a65', weight: 2, fillOpacity: 0.35, pane: 'footprints' };

export class Orders {
  constructor(map, operator) {
    this.map = map;
    this.operator = operator;
    this.pages = [{ href: `/orders?limit=${PAGE}`, ids: [] }];
    this.orders = new Map(); // id -> {order, page}
    this.sorted = [];
    this.shown = 0;
    this.selected = null;
    this.timer = null;
    this.running = false;
    this.complete = false;
    this.drawn = L.layerGroup().addTo(map);
    this.scope = new ErrorScope(byId('orders-error'));
    this.detailScope = new ErrorScope(byId('order-detail-error'));
    byId('orders-newer').addEventListener('click', () => this.turn(-1));
    byId('orders-older').addEventListener('click', () => this.turn(1));
    byId('order-cancel').addEventListener('click', () => this.cancel());
    if (operator) byId('orders-owner-head').hidden = false;
  }

  async start() {
    this.running = true;
    await this.walk(0);
    this.schedule();
  }

  stop() {
    this.running = false;
    clearTimeout(this.timer);
  }

  schedule() {
    clearTimeout(this.timer);
    if (this.running) this.timer = setTimeout(() => this.poll(), POLL_MS);
  }

  // Reads page k and tells whether anything changed.
  async read(k) {
    const page = await api.get(this.pages[k].href);
    let changed = false;
    const ids = [];
    for (const order of page.features || []) {
      const before = this.orders.get(order.id);
      if (!before || before.order.status.timestamp !== order.status.timestamp ||
          before.order.status.status_code !== order.status.status_code) changed = true;
      this.orders.set(order.id, { order, page: k });
      ids.push(order.id);
    }
    this.pages[k].ids = ids;
    const next = (page.links || []).find((l) => l.rel === 'next');
    if (next && k === this.pages.length - 1) this.pages.push({ href: next.href, ids: [] });
    return changed;
  }

  // Reads page k and every page after it; tells whether anything changed.
  async walk(k) {
    let changed = false;
    for (let i = k; i < this.pages.length; i++) {
      const more = await this.read(i);
      changed = more || changed;
      if (more && !this.complete) this.render(); // the first reading shows as it goes
    }
    if (!this.complete) {
      this.complete = true;
      this.render();
      performance.mark('orders-listed');
    }
    return changed;
  }

  async poll() {
    if (this.busy) return;
    this.busy = true;
    try {
      const shownPages = new Set(this.visible().map((o) => this.orders.get(o.id).page));
      let changed = false;
      for (const k of [...shownPages].sort((a, b) => a - b)) {
        if (k < this.pages.length - 1) changed = (await this.read(k)) || changed;
      }
      changed = (await this.walk(this.pages.length - 1)) || changed;
      if (changed) this.render();
      if (this.selected) await this.refreshDetail(false);
      this.scope.clear();
    } catch (e) {
      if (e.status !== 401) this.scope.show(e);
    } finally {
      this.busy = false;
      this.schedule();
    }
  }

  // An order this console just made: shown at once.
  add(order) {
    this.orders.set(order.id, { order, page: this.pages.length - 1 });
    this.shown = 0;
    this.render();
    this.schedule();
  }

  visible() {
    return this.sorted.slice(this.shown * PAGE, this.shown * PAGE + PAGE);
  }

  turn(by) {
    const last = Math.max(0, Math.ceil(this.sorted.length / PAGE) - 1);
    this.shown = Math.min(last, Math.max(0, this.shown + by));
    this.render(true);
  }

  render(turned) {
    this.sorted = [...this.orders.values()].map((v) => v.order).sort((a, b) =>
      (b.created < a.created ? -1 : b.created > a.created ? 1 : b.id < a.id ? -1 : 1));
    const total = this.sorted.length;
    const first = this.shown * PAGE;
    const rows = this.visible().map((o) => this.row(o));
    clear(byId('order-rows')).append(...rows);
    byId('orders-range').textContent = total
      ? `${first + 1}\u2013${first + rows.length} of ${total}${this.complete ? '' : ' so far'}, newest first`
      : (this.complete ? 'no order yet' : 'reading\u2026');
    byId('orders-newer').disabled = this.shown === 0;
    byId('orders-older').disabled = first + PAGE >= total;
    if (turned) byId('order-rows').parentElement.scrollIntoView({ block: 'nearest' });
  }

  row(o) {
    const st = o.status || {};
    const tr = el('tr', { dataset: { order: o.id }, className: o.id === this.selected ? 'selected' : null },
      el('td', {}, bothTimes(parseInstant(o.created))),
      el('td', { text: o.product_id }),
      el('td', { className: `status ${statusClass(st.status_code)}`, text: st.status_code }),
      el('td', { className: 'reason', text: st.reason_text || '' }),
      this.operator ? el('td', { className: 'owner', text: o.user ?? '' }) : null);
    tr.addEventListener('click', () => this.select(o.id));
    return tr;
  }

  async select(id) {
    this.selected = id;
    for (const tr of byId('order-rows').children) tr.classList.toggle('selected', tr.dataset.order === id);
    await this.refreshDetail(true);
  }

  // The selected order's history, area and acquisition; `fit` moves the map to them.
  async refreshDetail(fit) {
    const id = this.selected;
    const box = byId('order-detail');
    box.hidden = false;
    try {
      const [order, statuses] = await Promise.all([
        api.get(`/orders/${encodeURIComponent(id)}`),
        api.all(`/orders/${encodeURIComponent(id)}/statuses?limit=100`, (p) => p.statuses || [])]);
      if (id !== this.selected) return;
      const known = this.orders.get(id);
      this.orders.set(id, { order, page: known ? known.page : this.pages.length - 1 });
      if (!known || known.order.status.timestamp !== order.status.timestamp ||
          known.order.status.status_code !== order.status.status_code) this.render();
      let acquisition = null, lost = false;
      const link = [...statuses].reverse().flatMap((s) => s.links || [])
        .find((l) => l.rel === 'acquisition');
      if (link) {
        try {
          acquisition = await api.get(link.href);
        } catch (e) {
          if (e.status !== 404) throw e;
          lost = true;
        }
      }
      if (id !== this.selected) return;
      this.detailScope.clear();
      this.showDetail(order, statuses, acquisition, lost, fit);
    } catch (e) {
      this.detailScope.show(e);
    }
  }

  showDetail(order, statuses, acquisition, lost, fit) {
    const st = order.status || {};
    byId('order-detail-title').textContent = `Order ${order.id}`;
    const facts = [
      ['Product', order.product_id],
      ['Requester', order.user],
      ['Status', st.status_code],
      ['Priority', fixed((order.properties.order_parameters || {}).priority, 1)],
    ];
    const [a, b] = parseInterval(order.properties.search_parameters.datetime);
    clear(byId('order-facts')).append(
      ...facts.flatMap(([k, v]) => [el('dt', { text: k }), el('dd', { text: v ?? '' })]),
      el('dt', { text: 'Interval' }), el('dd', {}, bothTimes(a), ' to ', bothTimes(b)));
    clear(byId('order-history')).append(...statuses.map((s) => el('tr', {},
      el('td', {}, bothTimes(parseInstant(s.timestamp))),
      el('td', { className: `status ${statusClass(s.status_code)}`, text: s.status_code }),
      el('td', { text: s.reason_code || '' }),
      el('td', { className: 'reason', text: s.reason_text || '' }))));
    const shot = byId('order-acquisition');
    clear(shot);
    if (acquisition) {
      const [t0, t1] = parseInterval(acquisition.datetime);
      shot.append(el('h4', { text: 'Acquisition' }), el('dl', {},
        el('dt', { text: 'Time' }), el('dd', {}, bothTimes(t0), ' to ', bothTimes(t1)),
        el('dt', { text: 'Satellite' }), el('dd', { className: 'platform', text: acquisition.platform }),
        el('dt', { text: 'Roll' }), el('dd', { className: 'roll', text: `${fixed(acquisition.roll_deg, 2)}\u00b0` }),
        el('dt', { text: 'Data down at' }),
        el('dd', { text: acquisition.downlink_station || 'not within the plan' })));
    } else if (lost) {
      shot.append(el('p', { className: 'note', text: 'Its acquisition belonged to a plan no longer kept.' }));
    }
    const cancel = byId('order-cancel');
    cancel.hidden = !CANCELLABLE.includes(st.status_code);
    cancel.dataset.order = order.id;
    this.drawn.clearLayers();
    L.geoJSON(order.geometry, { style: AREA, pane: 'area',
      pointToLayer: (_, at) => L.circleMarker(at, { ...AREA, radius: 6 }) }).addTo(this.drawn);
    if (acquisition && acquisition.footprint) {
      L.geoJSON(acquisition.footprint, { style: SHOT, pane: 'footprints' }).addTo(this.drawn);
    }
    if (fit) {
      const bounds = L.featureGroup(this.drawn.getLayers()).getBounds();
      if (bounds.isValid()) this.map.fitBounds(bounds, { padding: [40, 40], maxZoom: 9 });
    }
  }

  async cancel() {
    const id = byId('order-cancel').dataset.order;
    try {
      await api.post(`/orders/${encodeURIComponent(id)}/statuses`, { status_code: 'user_cancelled' });
      await this.refreshDetail(false);
    } catch (e) {
      this.detailScope.show(e);
    }
  }

  clearMap() {
    this.drawn.clearLayers();
  }
}

export function statusClass(code) {
  return /^[a-z_]{1,32}$/.test(code || '') ? `status-${code}` : 'status-other';
}
