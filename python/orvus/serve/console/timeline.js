// The plan as a timeline per satellite: its station passes as shaded bands, its acquisitions
// as bars coloured by their order's status, and its recorder's fill as a line under them.

import { el, svg } from './dom.js';
import { statusClass } from './orders.js';
import { profile } from './recorder.js';
import { parseInterval, utcText } from './time.js';

const ROW = 70, BAR_Y = 6, BAR_H = 26, REC_Y = 38, REC_H = 28;
const HOUR = 3600000;

function ticks(t0, t1, width) {
  const span = t1 - t0;
  const step = [1, 2, 3, 6, 12, 24].map((h) => h * HOUR).find((s) => span / s <= width / 90) || 48 * HOUR;
  const out = [];
  for (let t = Math.ceil(t0 / step) * step; t <= t1; t += step) out.push(t);
  return out;
}

// The part of [t0, t1] `span` ms long (all of it for 0) around the instant `at` (or from t0).
export function visiblePart(t0, t1, span, at) {
  if (!(span > 0) || span >= t1 - t0) return [t0, t1];
  const start = Number.isFinite(at) ? at - span / 2 : t0;
  const from = Math.min(Math.max(start, t0), t1 - span);
  return [from, from + span];
}

// Draws `plan` (GET /plan) into `box`, `span` ms of it (0: all) around the selected
// acquisition; onSelect(acquisition id) on a bar's click.
export function draw(box, plan, selected, onSelect, span) {
  box.replaceChildren();
  if (!plan.datetime) {
    box.append(el('p', { className: 'note', text: 'No plan yet: replan to make one.' }));
    return;
  }
  const [p0, p1] = parseInterval(plan.datetime);
  const chosen = plan.acquisitions.find((a) => a.id === selected);
  const middle = chosen ? parseInterval(chosen.datetime).reduce((a, b) => (a + b) / 2) : NaN;
  const [t0, t1] = visiblePart(p0, p1, span, middle);
  const width = Math.max(300, box.clientWidth - 130);
  const x = (t) => ((t - t0) / (t1 - t0)) * width;
  const axis = svg('svg', { className: 'tl-axis', width, height: 18 });
  for (const t of ticks(t0, t1, width)) {
    axis.append(svg('line', { x1: x(t), x2: x(t), y1: 12, y2: 18 }),
      svg('text', { x: x(t) + 2, y: 10, text: utcText(t).slice(5, 16) }));
  }
  box.append(el('div', { className: 'tl-row tl-head' }, el('div', { className: 'tl-label' }), axis));
  const rates = new Map((plan.stations || []).map((s) => [s.name, s.downlink_gbit_s]));
  for (const sat of plan.satellites || []) {
    const row = svg('svg', { width, height: ROW, className: 'tl-track' });
    const passes = (plan.passes || []).filter((p) => p.platform === sat.name).map((p) => {
      const [aos, los] = parseInterval(p.datetime);
      return { aos, los, rate: rates.get(p.station), station: p.station, p };
    });
    for (const p of passes) {
      row.append(svg('rect', { className: 'tl-pass', x: x(p.aos), y: 0, height: ROW,
                               width: Math.max(1, x(p.los) - x(p.aos)) },
        svg('title', { text: `${p.station}: ${utcText(p.aos)} to ${utcText(p.los)}, ` +
                             `highest ${p.p.max_elevation_deg.toFixed(1)}\u00b0` })));
    }
    const shots = plan.acquisitions.filter((a) => a.platform === sat.name).map((a) => {
      const [start, end] = parseInterval(a.datetime);
      return { a, start, end, data: a.data_gbit, after: a.recorder_after_gbit };
    });
    row.append(svg('line', { className: 'tl-base', x1: 0, x2: width, y1: REC_Y + REC_H, y2: REC_Y + REC_H }));
    const levels = profile([...shots].sort((p, q) => p.end - q.end), passes, p0, p1);
    let scale = '';
    if (levels) {
      const top = sat.recorder_gbit || Math.max(1e-9, ...levels.map((p) => p[1]));
      const y = (g) => REC_Y + REC_H - (g / top) * REC_H;
      row.append(svg('polyline', { className: 'tl-recorder',
        points: levels.map(([t, g]) => `${x(t).toFixed(1)},${y(g).toFixed(1)}`).join(' ') }));
      scale = sat.recorder_gbit ? `recorder of ${sat.recorder_gbit} Gbit` : 'recorder';
    }
    for (const s of shots) {
      const bar = svg('rect', {
        className: `tl-acq ${statusClass(s.a.order_status)}${s.a.id === selected ? ' selected' : ''}`,
        x: x(s.start) - 1.5, y: BAR_Y, height: BAR_H, width: Math.max(3, x(s.end) - x(s.start)),
        dataset: { acquisition: s.a.id } },
      svg('title', { text: `${utcText(s.start)}, roll ${s.a.roll_deg.toFixed(2)}\u00b0, order ` +
                           `${s.a.order_id.slice(0, 8)} (${s.a.order_status})` }));
      bar.addEventListener('click', () => onSelect(s.a.id));
      row.append(bar);
    }
    box.append(el('div', { className: 'tl-row', dataset: { satellite: sat.name } },
      el('div', { className: 'tl-label' }, el('span', { className: 'tl-name', text: sat.name }),
        el('span', { className: 'tl-scale', text: scale })), row));
  }
}
