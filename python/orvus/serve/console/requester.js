// The requester's form: product, area, interval, the product's queryables and the priority;
// "Find opportunities" draws each opportunity's footprint and lists it (hovering a row lights
// its footprint and back); "Order" orders one opportunity's window or the whole request.

import * as api from './api.js';
import { byId, clear, el, fixed } from './dom.js';
import { ErrorScope } from './errors.js';
import * as queryables from './queryables.js';
import { bothTimes, fieldInstant, fieldValue, localText, parseInstant, rfc3339 } from './time.js';
import { describe } from './area.js';

const FOOTPRINT = { color: '#1f6fb2', weight: 1.5, fillOpacity: 0.15, pane: 'footprints' };
const LIT = { color: '#e67e22', weight: 3, fillOpacity: 0.4 };

export class Requester {
  constructor(map, area, onOrdered) {
    this.map = map;
    this.area = area;
    this.onOrdered = onOrdered;
    this.products = [];
    this.fields = null;
    this.found = null; // the last search: {productId, collection}
    this.footprints = L.layerGroup().addTo(map);
    this.rows = [];
    this.layers = [];
    this.form = byId('request-form');
    this.start = byId('start');
    this.end = byId('end');
    this.priority = byId('priority');
    this.scope = new ErrorScope(byId('request-error'))
      .field(['path', 'productId'], byId('product-error'), byId('product'))
      .field(['body', 'datetime'], byId('interval-error'), this.start)
      .field(['body', 'geometry'], byId('area-error'))
      .field(['body', 'order_parameters'], byId('priority-error'), this.priority)
      .field(['body', 'limit'], byId('request-error'));
    this.form.addEventListener('submit', (e) => {
      e.preventDefault();
      this.find();
    });
    byId('order-request').addEventListener('click', () => this.orderRequest());
    byId('product').addEventListener('change', () => this.selectProduct());
    byId('area-file').addEventListener('change', (e) => {
      if (e.target.files[0]) area.fromFile(e.target.files[0]);
      e.target.value = '';
    });
    for (const input of [this.start, this.end]) {
      input.addEventListener('input', () => this.showLocal());
    }
  }

  areaChanged(geometry, problem) {
    byId('area-text').textContent = describe(geometry);
    const slot = byId('area-error');
    slot.replaceChildren();
    if (problem) slot.append(el('span', { className: 'error-text', text: problem }));
  }

  showLocal() {
    for (const [input, out] of [[this.start, 'start-local'], [this.end, 'end-local']]) {
      const ms = fieldInstant(input.value);
      byId(out).textContent = Number.isFinite(ms) ? localText(ms) : '';
    }
  }

  async init(nowMs, horizonS) {
    const start = Math.floor(nowMs / 60000) * 60000; // the minute: the past part is not searched
    this.start.value = fieldValue(start);
    this.end.value = fieldValue(start + horizonS * 1000);
    this.showLocal();
    const doc = await api.get('/products', { anonymous: true });
    this.products = doc.products || [];
    const select = clear(byId('product'));
    for (const p of this.products) {
      select.append(el('option', { value: p.id, text: `${p.title} (${p.id})` }));
    }
    await this.selectProduct();
  }

  product() {
    return this.products.find((p) => p.id === byId('product').value);
  }

  async selectProduct() {
    const p = this.product();
    if (!p) return;
    byId('product-description').textContent = p.description || '';
    const base = `/products/${encodeURIComponent(p.id)}`;
    const [schema, params] = await Promise.all([
      api.get(`${base}/queryables`, { anonymous: true }),
      api.get(`${base}/order-parameters`, { anonymous: true })]);
    this.fields = queryables.build(schema);
    byId('queryables').replaceChildren(el('legend', { text: 'Constraints' }), this.fields.element);
    this.scope.fields = this.scope.fields.filter((f) => f.path[1] !== 'filter');
    this.scope.field(['body', 'filter'], this.fields.error);
    const priority = (params.properties || {}).priority || {};
    this.priority.value = priority.default ?? '';
    this.priority.min = priority.minimum ?? '';
    this.priority.max = priority.maximum ?? '';
    byId('priority-range').textContent = `${priority.minimum ?? ''} to ${priority.maximum ?? ''}`;
    this.clearResults();
  }

  // The search's body, or null (and a message beside the field) without an area.
  body() {
    const geometry = this.area.geometry();
    if (!geometry) {
      this.scope.show({ details: [{ loc: ['body', 'geometry'],
                                    msg: 'draw an area on the map or drop a GeoJSON file on it' }] });
      return null;
    }
    const when = (input) => {
      const ms = fieldInstant(input.value);
      return Number.isFinite(ms) ? rfc3339(ms) : input.value;
    };
    const out = { datetime: `${when(this.start)}/${when(this.end)}`, geometry };
    const filter = this.fields ? this.fields.filter() : null;
    if (filter) out.filter = filter;
    return out;
  }

  priorityValue() {
    const text = this.priority.value.trim();
    return text === '' ? undefined : Number(text);
  }

  busy(on) {
    for (const id of ['find', 'order-request']) byId(id).disabled = on;
    byId('request-note').textContent = on ? 'Searching\u2026' : '';
  }

  async find() {
    this.scope.clear();
    const body = this.body();
    if (!body) return;
    const p = this.product();
    this.busy(true);
    try {
      const found = await api.post(`/products/${encodeURIComponent(p.id)}/opportunities`, body,
                                   { retry: true });
      this.found = { productId: p.id, collection: found };
      this.showResults();
    } catch (e) {
      this.scope.show(e);
      this.clearResults();
    } finally {
      this.busy(false);
    }
  }

  clearResults() {
    this.footprints.clearLayers();
    this.rows = [];
    this.layers = [];
    clear(byId('opportunity-rows'));
    byId('opportunity-count').textContent = '';
  }

  showResults() {
    this.clearResults();
    const features = this.found.collection.features || [];
    byId('opportunity-count').textContent =
      `${features.length} opportunit${features.length === 1 ? 'y' : 'ies'}`;
    const body = byId('opportunity-rows');
    features.forEach((f, i) => {
      const q = f.properties || {};
      const layer = L.geoJSON(f.geometry, {
        style: FOOTPRINT, pane: 'footprints',
        pointToLayer: (_, at) => L.circleMarker(at, { radius: 5, pane: 'footprints' }),
      });
      layer.on('mouseover', () => this.light(i, true, true));
      layer.on('mouseout', () => this.light(i, false));
      layer.addTo(this.footprints);
      const note = el('span', { className: 'row-note' });
      const button = el('button', { type: 'button', className: 'small', text: 'Order' });
      button.addEventListener('click', () => this.orderOpportunity(f, note));
      const row = el('tr', { dataset: { index: i } },
        el('td', {}, bothTimes(parseInstant(q['orvus:best_time']))),
        el('td', { text: q.platform ?? '' }),
        el('td', { className: 'num', text: fixed(q['view:off_nadir'], 2) }),
        el('td', { className: 'num', text: fixed(q['view:sun_elevation'], 1) }),
        el('td', { text: q['sat:orbit_state'] ?? '' }),
        el('td', { className: 'num', text: typeof q['orvus:coverage'] === 'number'
          ? `${(q['orvus:coverage'] * 100).toFixed(0)} %` : '\u2013' }),
        el('td', {}, button, note));
      row.addEventListener('mouseenter', () => this.light(i, true));
      row.addEventListener('mouseleave', () => this.light(i, false));
      body.append(row);
      this.rows.push(row);
      this.layers.push(layer);
    });
    const bounds = this.footprints.getLayers().length ? L.featureGroup(this.layers).getBounds() : null;
    if (bounds && bounds.isValid()) this.map.fitBounds(bounds, { padding: [30, 30], maxZoom: 9 });
  }

  light(i, on, fromMap) {
    const row = this.rows[i], layer = this.layers[i];
    if (!row) return;
    row.classList.toggle('lit', on);
    layer.setStyle(on ? LIT : FOOTPRINT);
    if (on) {
      layer.bringToFront();
      if (fromMap) row.scrollIntoView({ block: 'nearest' });
    }
  }

  // POST an order (the body a create-order link gives, with the priority).
  async order(productId, body, note) {
    this.scope.clear();
    note.textContent = 'Ordering\u2026';
    const priority = this.priorityValue();
    const sent = { ...body };
    if (sent.filter === null || sent.filter === undefined) delete sent.filter;
    if (priority !== undefined) sent.order_parameters = { priority };
    try {
      const order = await api.post(`/products/${encodeURIComponent(productId)}/orders`, sent);
      const st = order.status || {};
      note.textContent = `Order ${order.id.slice(0, 8)} ${st.status_code}` +
        (st.reason_text ? `: ${st.reason_text}` : '');
      this.onOrdered(order);
    } catch (e) {
      note.textContent = '';
      this.scope.show(e);
    }
  }

  orderOpportunity(feature, note) {
    const link = (feature.links || []).find((l) => l.rel === 'create-order');
    const search = this.found.collection.links.find((l) => l.rel === 'create-order');
    if (!link || !search) return;
    const body = link.merge ? { ...search.body, ...link.body } : link.body;
    this.order(this.found.productId, body, note);
  }

  orderRequest() {
    const body = this.body();
    if (!body) return;
    this.order(this.product().id, body, byId('request-note'));
  }
}
