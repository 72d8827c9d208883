// The operator's view: the current plan as a timeline per satellite and a table of its
// acquisitions, "Replan now", and each acquisition's outcome (completed, or failed with a
// reason) reported from its row. The plan is read again every few seconds.

import * as api from './api.js';
import { byId, clear, el, fixed } from './dom.js';
import { ErrorScope, slot } from './errors.js';
import { statusClass } from './orders.js';
import { bothTimes, parseInterval } from './time.js';
import * as timeline from './timeline.js';

const POLL_MS = 8000;
const SHOT = { color: '#117a65', weight: 1, fillOpacity: 0.2, pane: 'footprints' };
const CHOSEN = { color: '#e67e22', weight: 3, fillOpacity: 0.45 };

export class PlanView {
  constructor(map, onChanged) {
    this.map = map;
    this.onChanged = onChanged;
    this.plan = null;
    this.mark = null;
    this.swaths = new Map();
    this.selected = null;
    this.timer = null;
    this.running = false;
    this.drawn = L.layerGroup().addTo(map);
    this.scope = new ErrorScope(byId('plan-error'));
    byId('replan').addEventListener('click', () => this.replan());
    byId('timeline-span').addEventListener('change', () => this.drawTimeline());
    window.addEventListener('resize', () => this.drawTimeline());
  }

  async start() {
    this.running = true;
    await this.load();
  }

  stop() {
    this.running = false;
    clearTimeout(this.timer);
  }

  async load() {
    clearTimeout(this.timer);
    try {
      const plan = await api.get('/plan');
      this.scope.clear();
      // Drawn again only when it changed, so that a reason being typed stays.
      const mark = JSON.stringify([plan.generation, plan.acquisitions.map((a) => [a.id, a.order_status])]);
      if (mark !== this.mark) {
        this.plan = plan;
        this.mark = mark;
        this.render();
      }
    } catch (e) {
      if (e.status !== 401) this.scope.show(e);
    } finally {
      if (this.running) this.timer = setTimeout(() => this.load(), POLL_MS);
    }
  }

  async replan() {
    const button = byId('replan');
    button.disabled = true;
    byId('replan-note').textContent = 'Replanning\u2026';
    this.scope.clear();
    try {
      const done = await api.post('/admin/replan');
      byId('replan-note').textContent = `Plan ${done.generation}: ${done.acquisitions} ` +
        `acquisition${done.acquisitions === 1 ? '' : 's'} for ${done.targets} order` +
        `${done.targets === 1 ? '' : 's'} in contention, ${done.unscheduled} unscheduled.`;
      await this.load();
      this.onChanged();
    } catch (e) {
      byId('replan-note').textContent = '';
      this.scope.show(e);
    } finally {
      button.disabled = false;
    }
  }

  drawTimeline() {
    if (this.plan && !byId('view-plan').hidden) {
      timeline.draw(byId('timeline'), this.plan, this.selected, (id) => this.select(id),
                    Number(byId('timeline-span').value));
    }
  }

  render() {
    const p = this.plan;
    const s = p.schedule || {};
    byId('plan-summary').textContent = p.generation
      ? `Plan ${p.generation} (${p.trigger}), ${p.acquisitions.length} acquisitions` +
        (typeof s.gap === 'number' ? `, objective ${s.objective} (gap ${(s.gap * 100).toFixed(2)} %)` : '')
      : 'No plan yet.';
    byId('plan-interval').replaceChildren(...(p.datetime
      ? (() => { const [a, b] = parseInterval(p.datetime); return [bothTimes(a), ' to ', bothTimes(b)]; })()
      : []));
    this.drawTimeline();
    clear(byId('plan-rows')).append(...p.acquisitions.map((a) => this.row(a)));
    // Every acquisition's swath on the map; the selected one lit.
    this.drawn.clearLayers();
    this.swaths = new Map();
    for (const a of p.acquisitions) {
      if (!a.footprint) continue;
      const layer = L.geoJSON(a.footprint, { style: a.id === this.selected ? CHOSEN : SHOT,
                                             pane: 'footprints' }).addTo(this.drawn);
      layer.on('click', () => this.select(a.id));
      this.swaths.set(a.id, layer);
    }
    if (this.selected && !p.acquisitions.some((a) => a.id === this.selected)) this.select(null);
  }

  row(a) {
    const [start] = parseInterval(a.datetime);
    const note = el('div', { className: 'row-error', role: 'alert' });
    const actions = el('td', { className: 'actions' });
    if (a.order_status === 'scheduled') {
      const reason = el('input', { type: 'text', maxlength: 2000, placeholder: 'reason of a failure',
                                   'aria-label': 'reason of a failure', className: 'reason-input' });
      const reasonError = slot(null);
      const scope = new ErrorScope(note).field(['body', 'reason_text'], reasonError, reason)
        .field(['body', 'reason_code'], reasonError, reason);
      const done = el('button', { type: 'button', className: 'small', text: 'Completed' });
      const failed = el('button', { type: 'button', className: 'small', text: 'Failed' });
      done.addEventListener('click', () => this.report(a, 'completed', null, scope));
      failed.addEventListener('click', () => this.report(a, 'failed', reason.value.trim(), scope));
      actions.append(done, failed, reason, reasonError);
    }
    actions.append(note);
    const tr = el('tr', { dataset: { acquisition: a.id, order: a.order_id },
                          className: a.id === this.selected ? 'selected' : null },
      el('td', {}, bothTimes(start)),
      el('td', { className: 'platform', text: a.platform }),
      el('td', { className: 'num', text: fixed(a.roll_deg, 2) }),
      el('td', { className: 'order-id', text: a.order_id.slice(0, 8), title: a.order_id }),
      el('td', { className: `status ${statusClass(a.order_status)}`, text: a.order_status }),
      el('td', { text: a.downlink_station || '\u2013' }),
      actions);
    tr.addEventListener('click', (e) => {
      if (!e.target.closest('button, input')) this.select(a.id);
    });
    return tr;
  }

  async report(a, code, reason, scope) {
    scope.clear();
    const body = { status_code: code };
    if (reason) body.reason_text = reason;
    try {
      await api.post(`/orders/${encodeURIComponent(a.order_id)}/statuses`, body);
      await this.load();
      this.onChanged();
    } catch (e) {
      scope.show(e);
    }
  }

  select(id) {
    this.selected = id;
    for (const tr of byId('plan-rows').children) {
      tr.classList.toggle('selected', tr.dataset.acquisition === id);
    }
    this.drawTimeline();
    for (const [key, layer] of this.swaths) layer.setStyle(key === id ? CHOSEN : SHOT);
    const layer = this.swaths.get(id);
    if (layer) {
      layer.bringToFront();
      this.map.fitBounds(layer.getBounds(), { padding: [60, 60], maxZoom: 8 });
    }
    const tr = id && byId('plan-rows').querySelector(`tr[data-acquisition="${CSS.escape(id)}"]`);
    if (tr) tr.scrollIntoView({ block: 'nearest' });
  }
}
