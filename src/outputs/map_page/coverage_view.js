// The coverage grid: its cells on the map coloured by their longest revisit or their accesses,
// with a legend and the figures of the cell under the pointer; and per area a chart of its
// covered fraction against time, all satellites together and each. Null without a grid.
function coverageView(page) {
  'use strict';
  var C = page.data.coverage;
  if (!C) return null;
  var map = page.map, state = page.sel.state, data = page.data, count = texts.count;
  map.createPane('orvus-coverage').style.zIndex = 360;  // under the targets' outlines
  var nb = C.edges.length - 1, n = C.count, perBand = C.perBand, band = C.band, col = C.col;
  var accesses = C.accesses, revisit = C.revisit;
  // Web Mercator y (pixels at zoom 0) of the bands' edges.
  var edgeY = new Float64Array(nb + 1);
  for (var b = 0; b <= nb; b++) edgeY[b] = plane.mercatorY(C.edges[b]);
  var where = new Map();
  for (var i = 0; i < n; i++) where.set(band[i] * 4294967296 + col[i], i);

  // Classes: the longest revisit in hours (fixed steps), or the accesses by quantiles.
  var revisitUpper = [6, 12, 24, 48, 96, 192, Infinity];
  var revisitColours = ['#313695', '#4575b4', '#74add1', '#abd9e9', '#fee090', '#f46d43', '#a50026'];
  var revisitTexts = ['up to 6 h', '6\u201312 h', '12\u201324 h', '1\u20132 days', '2\u20134 days',
                      '4\u20138 days', 'over 8 days'];
  var sorted = Array.from(accesses).filter(function (v) { return v > 0; }).sort(function (x, y) { return x - y; });
  var accessUpper = [];
  for (var k = 1; k <= 5 && sorted.length; k++) {
    var v = sorted[Math.ceil(k * sorted.length / 5) - 1];
    if (!accessUpper.length || v > accessUpper[accessUpper.length - 1]) accessUpper.push(v);
  }
  var accessColours = ['#eff3ff', '#bdd7e7', '#6baed6', '#3182bd', '#08519c'].slice(5 - accessUpper.length);
  var none = '#525252', once = '#bdbdbd';
  var cls = new Uint8Array(n), mode = 'revisit';
  function classify() {
    for (var i = 0; i < n; i++) {
      var c = 0;
      if (accesses[i] === 0) {
        c = 0;
      } else if (mode !== 'revisit') {
        while (c < accessUpper.length - 1 && accesses[i] > accessUpper[c]) c++;
        c += 2;
      } else if (isNaN(revisit[i])) {
        c = 1;
      } else {
        while (revisit[i] > revisitUpper[c]) c++;
        c += 2;
      }
      cls[i] = c;
    }
  }
  function colours() {
    return [none, once].concat(mode === 'revisit' ? revisitColours : accessColours);
  }

  function draw(ctx, s, dx, dy, w, h) {
    if (mode === 'off') return;
    var palette = colours();
    ctx.globalAlpha = 0.75;
    for (var c = 0; c < palette.length; c++) {
      ctx.beginPath();
      for (var i = 0; i < n; i++) {
        if (cls[i] !== c) continue;
        var b = band[i], cells = perBand[b];
        var x0 = 256 * col[i] / cells * s + dx, x1 = 256 * (col[i] + 1) / cells * s + dx;
        var y0 = edgeY[b + 1] * s + dy, y1 = edgeY[b] * s + dy;
        if (x1 < 0 || x0 > w || y1 < 0 || y0 > h) continue;
        ctx.rect(x0, y0, Math.max(x1 - x0, 0.6), Math.max(y1 - y0, 0.6));
      }
      ctx.fillStyle = palette[c];
      ctx.fill();
    }
    ctx.globalAlpha = 1;
  }
  classify();
  var layer = new plane.Plane(draw, 'orvus-coverage').addTo(map);

  // The legend, the choice of figure, and the cell under the pointer.
  var box = page.note('bottomright', 'orvus-coverage-legend');
  box.classList.add('orvus-legend');
  var head = document.createElement('label');
  head.textContent = 'Cells (' + C.cellKm + ' km) by ';
  var pickFigure = document.createElement('select');
  pickFigure.id = 'orvus-coverage-figure';
  [['revisit', 'longest revisit'], ['accesses', 'accesses'], ['off', 'not shown']].forEach(function (o) {
    var opt = document.createElement('option');
    opt.value = o[0];
    opt.textContent = o[1];
    pickFigure.appendChild(opt);
  });
  head.appendChild(pickFigure);
  box.appendChild(head);
  var entries = document.createElement('div');
  box.appendChild(entries);
  var under = document.createElement('div');
  under.id = 'orvus-coverage-cell';
  box.appendChild(under);
  function legend() {
    entries.textContent = '';
    if (mode === 'off') return;
    var palette = colours(), lines = ['no access', 'one access'];
    if (mode === 'revisit') lines = lines.concat(revisitTexts);
    else accessUpper.forEach(function (u, c) {
      var lo = c ? accessUpper[c - 1] + 1 : 1;
      lines.push(lo === u ? String(u) : lo + '\u2013' + u);
    });
    if (mode === 'accesses') lines[1] = null;
    palette.forEach(function (colour, c) {
      if (lines[c]) entries.appendChild(dom.legendLine(colour, lines[c]));
    });
  }
  legend();
  pickFigure.addEventListener('change', function () {
    mode = pickFigure.value;
    classify();
    legend();
    layer.redraw();
  });
  map.on('mousemove', function (e) {
    var p = map.project(e.latlng, 0), x = p.x - 256 * Math.floor(p.x / 256), y = p.y, b = -1;
    for (var lo = 0, hi = nb; lo < hi;) {  // the band: edgeY falls from south to north
      var mid = (lo + hi) >> 1;
      if (edgeY[mid + 1] <= y) hi = mid; else lo = mid + 1;
    }
    b = lo < nb && edgeY[lo] >= y && edgeY[lo + 1] <= y ? lo : -1;
    var i = b < 0 ? undefined : where.get(b * 4294967296 + Math.floor(x / 256 * perBand[b]));
    under.textContent = i === undefined ? '' :
      'Cell ' + count(accesses[i]) + ' access' + (accesses[i] === 1 ? '' : 'es') +
      (isNaN(revisit[i]) ? '' : ', longest revisit ' + texts.fixed(revisit[i], 1) + ' h');
  });

  // The chart of the covered fraction of one area against time.
  var areas = C.areas;
  var panel = dom.byId('orvus-coverage');
  panel.classList.remove('orvus-hidden');
  var select = dom.byId('orvus-coverage-area');
  areas.forEach(function (a, k) {
    var o = document.createElement('option');
    o.value = String(k);
    o.textContent = (a.id + ' ' + a.name).trim() + ' (' + count(a.cells) + ' cells)';
    select.appendChild(o);
  });
  var chart = dom.byId('orvus-coverage-chart'), el = dom.svg, text = dom.svgText;
  var seriesColours = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd', '#8c564b'];
  var shown = 0;
  function plot(k) {
    shown = k;
    select.value = String(k);
    chart.textContent = '';
    var W = 760, H = 230, L0 = 48, R0 = 200, T0 = 12, B0 = 30, span = Math.max(data.t1 - data.t0, 1);
    var svg = el('svg', { width: W, height: H, viewBox: '0 0 ' + W + ' ' + H, 'class': 'orvus-chart' }, chart);
    var X = function (ms) { return L0 + (W - L0 - R0) * Math.min(Math.max(ms / span, 0), 1); };
    var Y = function (f) { return H - B0 - (H - B0 - T0) * f; };
    [0, 0.5, 0.9, 1].forEach(function (f) {
      el('line', { x1: L0, x2: W - R0, y1: Y(f), y2: Y(f), 'class': 'orvus-chart-grid' }, svg);
      text(svg, L0 - 4, Y(f) + 4, Math.round(f * 100) + ' %', 'end');
    });
    var days = span / 86400000, stepDays = days <= 10 ? 1 : days <= 40 ? 5 : days <= 120 ? 15 : 30;
    for (var d = 0; d <= days + 1e-9; d += stepDays) {
      el('line', { x1: X(d * 86400000), x2: X(d * 86400000), y1: T0, y2: H - B0, 'class': 'orvus-chart-grid' }, svg);
      text(svg, X(d * 86400000), H - B0 + 16, page.text.day(d * 86400000));
    }
    var a = areas[k];
    a.series.forEach(function (s, j) {
      var dpath = 'M' + X(0) + ',' + Y(0), last = 0;
      for (var q = 0; q < s.t.length; q++) {
        dpath += 'H' + X(s.t[q]).toFixed(1) + 'V' + Y(s.f[q]).toFixed(1);
        last = s.f[q];
      }
      dpath += 'H' + X(span);
      var colour = j === 0 ? '#111' : seriesColours[(j - 1) % seriesColours.length];
      var path = el('path', { d: dpath, fill: 'none', stroke: colour, 'stroke-width': j === 0 ? 2.5 : 1.5,
                              'class': 'orvus-coverage-series' }, svg);
      path.setAttribute('data-satellite', s.satellite);
      var label = text(svg, W - R0 + 10, T0 + 14 + 16 * j,
                       (j === 0 ? 'all satellites' : s.satellite) + ': ' + texts.fixed(last * 100, 1) + ' %', 'start');
      label.setAttribute('fill', colour);
    });
  }
  select.addEventListener('change', function () { plot(Number(select.value)); });
  if (areas.length) plot(0);
  return {
    areas: areas,
    // A click on a target that is an area shows its chart.
    update: function () {
      if (state.picked < 0) return;
      for (var k = 0; k < areas.length; k++) {
        if (areas[k].target === state.picked && k !== shown) return plot(k);
      }
    }
  };
}
