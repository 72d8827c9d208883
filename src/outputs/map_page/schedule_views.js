// A schedule's views: the acquired swaths on the map, and a timeline per satellite of the
// acquisitions (bars at their roll, joined by the roll) over the station passes (bands). Both
// follow the satellite and date filters. Null without a schedule.
function scheduleViews(page) {
  'use strict';
  var schedule = page.data.schedule;
  if (!schedule) return null;
  var map = page.map, state = page.sel.state, data = page.data;
  var byId = dom.byId, count = texts.count, fixed = texts.fixed, time = page.text.time;

  // The acquisitions kept by the satellite and date filters, in time order.
  function scheduled() {
    var out = [];
    for (var i = 0; i < schedule.count; i++) {
      if (state.satellite >= 0 && schedule.satellite[i] !== state.satellite) continue;
      if (schedule.start[i] < state.from || schedule.start[i] >= state.to) continue;
      out.push(i);
    }
    return out;
  }

  var acquired = (function () {
    var limit = 1000;
    var group = L.featureGroup().addTo(map), drawn = new Map();
    var status = page.note('bottomleft', 'orvus-acquired-note');
    group.bindTooltip(function (layer) { return dom.lines(page.text.acquisition(layer.orvusAcquisition)); },
                      { sticky: true });
    group.on('click', function (e) { page.selectAcquisition(e.layer.orvusAcquisition, false); });
    function markSelected() {
      drawn.forEach(function (layer, i) {
        var e = layer.getElement();
        if (e) e.classList.toggle('orvus-selected', i === state.acquisition);
        if (i === state.acquisition) layer.bringToFront();
      });
    }
    return {
      update: function () {
        group.clearLayers();
        drawn.clear();
        var kept = scheduled();
        if (kept.length <= limit) {
          kept.forEach(function (i) {
            var parts = columns.featureParts(schedule.swath, i);
            var opts = { color: '#145a14', weight: 2, fillColor: '#2ca02c', fillOpacity: 0.55,
                         className: 'orvus-acquired', bubblingMouseEvents: false };
            var layer = parts.rings.length ? L.polygon(parts.rings, opts)
                      : parts.lines.length ? L.polyline(parts.lines, opts) : null;
            if (!layer) return;
            layer.orvusAcquisition = i;
            group.addLayer(layer);
            layer.getElement().setAttribute('data-acquisition', String(i));
            drawn.set(i, layer);
          });
        }
        status.textContent = kept.length > limit ?
          count(kept.length) + ' acquired swaths not drawn (more than ' + limit + '): narrow the ' +
          'satellite or dates to draw them.' :
          count(drawn.size) + ' acquired swath' + (drawn.size === 1 ? '' : 's') + ' highlighted.';
        markSelected();
      },
      markSelected: markSelected,
      bounds: function (i) { return columns.featureBounds(schedule.swath, i, L.latLngBounds([])); }
    };
  }());

  var timeline = (function () {
    var W = 1000, H = 44, mid = H / 2, el = dom.svg;
    var box = byId('orvus-timeline'), rows = byId('orvus-timeline-rows');
    box.classList.remove('orvus-hidden');
    function titled(e, lines) {
      el('title', {}, e).textContent = lines.join('\n');
      return e;
    }
    var bars = [];
    function markSelected() {
      bars.forEach(function (b) {
        b.classList.toggle('orvus-selected', Number(b.getAttribute('data-acquisition')) === state.acquisition);
      });
    }
    function update() {
      var r0 = isNaN(state.from) ? 0 : Math.max(0, state.from);
      var r1 = isNaN(state.to) ? data.t1 - data.t0 : state.to;
      if (!(r1 > r0)) r1 = r0 + 1;
      var x = function (ms) { return (ms - r0) / (r1 - r0) * W; };
      var scale = schedule.maxRoll > 0 ? (mid - 5) / schedule.maxRoll : 0;
      var y = function (roll) { return mid - roll * scale; };
      var kept = scheduled(), P = schedule.passes, shown = 0;
      rows.textContent = '';
      bars = [];
      data.satellites.forEach(function (name, sat) {
        if (state.satellite >= 0 && sat !== state.satellite) return;
        var row = document.createElement('div');
        row.className = 'orvus-tl-row';
        row.setAttribute('data-satellite', String(sat));
        var label = document.createElement('span');
        label.className = 'orvus-tl-label';
        label.textContent = name;
        row.appendChild(label);
        var svg = el('svg', { viewBox: '0 0 ' + W + ' ' + H, preserveAspectRatio: 'none' }, row);
        for (var p = 0; p < P.count; p++) {
          if (P.satellite[p] !== sat || P.aos[p] + P.duration[p] * 1000 < r0 || P.aos[p] > r1) continue;
          titled(el('rect', { x: x(P.aos[p]), y: 0, width: Math.max(1, x(P.aos[p] + P.duration[p] * 1000) - x(P.aos[p])),
                              height: H, 'class': 'orvus-pass-band' }, svg),
                 [P.stations[P.station[p]] || '', 'AOS ' + time(P.aos[p]),
                  'Duration (s): ' + fixed(P.duration[p], 1)]);
        }
        el('line', { x1: 0, x2: W, y1: mid, y2: mid, 'class': 'orvus-tl-axis' }, svg);
        var mine = kept.filter(function (i) { return schedule.satellite[i] === sat; });
        // The roll from one image to the next within a pass (images under 20 minutes apart).
        var pts = [], last = -Infinity;
        mine.concat([-1]).forEach(function (i) {
          var a = i >= 0 ? schedule.start[i] : Infinity;
          if (a - last > 1200000) {
            if (pts.length > 2) el('polyline', { points: pts.join(' '), 'class': 'orvus-roll' }, svg);
            pts = [];
          }
          if (i < 0) return;
          var b = a + schedule.duration[i] * 1000, v = y(schedule.roll[i]);
          pts.push(x(a) + ',' + v, x(b) + ',' + v);
          last = b;
        });
        mine.forEach(function (i) {
          var a = schedule.start[i], w = x(a + schedule.duration[i] * 1000) - x(a);
          var bar = titled(el('rect', { x: x(a) - Math.max(0, 1.5 - w) / 2, y: y(schedule.roll[i]) - 4,
                                        width: Math.max(1.5, w), height: 8, 'class': 'orvus-acq',
                                        'data-acquisition': String(i) }, svg), page.text.acquisition(i));
          bar.addEventListener('click', function () { page.selectAcquisition(i, true); });
          bars.push(bar);
        });
        shown += mine.length;
        rows.appendChild(row);
      });
      byId('orvus-timeline-head').textContent = 'Schedule: ' + count(shown) + ' of ' +
        count(schedule.count) + ' acquisitions, ' + time(r0) + ' to ' + time(r1) +
        '; bars at their roll (\u00b1' + fixed(schedule.maxRoll, 1) + '\u00b0 top to bottom), ' +
        'station passes shaded.';
      markSelected();
    }
    return { update: update, markSelected: markSelected };
  }());

  return { acquired: acquired, timeline: timeline };
}
