// The targets: a canvas layer coloured by their numbers of contacts kept, with a tooltip and a
// click (the target's pick) under the pointer, and its legend.
function targetLayer(page) {
  'use strict';
  var map = page.map, state = page.sel.state, perTarget = page.sel.perTarget;
  var targets = page.data.targets, contacts = page.data.contacts;
  var many = targets.count > 1, g = targets.geometry, n = targets.count;
  // Classes by quantiles of the counts over all the contacts (up to 5), colours of
  // ColorBrewer's "Greens", apart from the passes' blue and orange.
  var palette = ['#c7e9c0', '#a1d99b', '#74c476', '#31a354', '#006d2c'];
  var all = new Uint32Array(n);
  for (var i = 0; i < contacts.count; i++) all[contacts.target[i]]++;
  var sorted = Array.from(all).filter(function (v) { return v > 0; }).sort(function (a, b) { return a - b; });
  var upper = [];
  for (var k = 1; k <= palette.length && sorted.length; k++) {
    var v = sorted[Math.ceil(k * sorted.length / palette.length) - 1];
    if (!upper.length || v > upper[upper.length - 1]) upper.push(v);
  }
  var colours = upper.length <= 2 ? palette.slice(2, 2 + upper.length)
                                   : palette.slice(palette.length - upper.length);
  function classOf(c) {
    if (c === 0) return -1;
    for (var k = 0; k < upper.length; k++) if (c <= upper[k]) return k;
    return upper.length - 1;
  }
  var styles = [{ stroke: '#7f7f7f', width: 1.2, fill: '#7f7f7f', alpha: 0.05 }].concat(colours.map(
      function (c, k) { return { stroke: k >= 3 ? '#00441b' : '#238b45', width: 1.5, fill: c, alpha: 0.4 }; }));
  if (!many) styles = [{ stroke: '#d62728', width: 2.5, fill: '#d62728', alpha: 0.12 }];

  // The targets projected once (as the base map is), with their boxes.
  var mx = new Float64Array(g.lon.length), my = new Float64Array(g.lon.length);
  for (k = 0; k < g.lon.length; k++) {
    mx[k] = plane.mercatorX(g.lon[k]);
    my[k] = plane.mercatorY(g.lat[k]);
  }
  var box = new Float64Array(4 * n);
  for (var t = 0; t < n; t++) {
    var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
    for (k = g.partPt[g.featPart[t]]; k < g.partPt[g.featPart[t + 1]]; k++) {
      x0 = Math.min(x0, mx[k]); y0 = Math.min(y0, my[k]);
      x1 = Math.max(x1, mx[k]); y1 = Math.max(y1, my[k]);
    }
    box[4 * t] = x0; box[4 * t + 1] = y0; box[4 * t + 2] = x1; box[4 * t + 3] = y1;
  }
  var cls = new Int8Array(n);  // style of each target: 0 none kept, 1 + class
  var picked = -1;

  function traceTarget(ctx, t, s, dx, dy, what) {
    for (var q = g.featPart[t]; q < g.featPart[t + 1]; q++) {
      var kind = g.kind[q], a = g.partPt[q], z = g.partPt[q + 1];
      if (what !== (kind === 1 ? 'lines' : 'areas')) continue;
      for (var k = a; k < z; k++) {
        var x = mx[k] * s + dx, y = my[k] * s + dy;
        if (kind === 2) {
          ctx.moveTo(x + 5, y);
          ctx.arc(x, y, 5, 0, 2 * Math.PI);
        } else if (k === a) {
          ctx.moveTo(x, y);
        } else {
          ctx.lineTo(x, y);
        }
      }
      if (kind === 0) ctx.closePath();
    }
  }
  // Each style's targets as one path: areas filled even-odd (holes stay open) and outlined,
  // lines stroked; a target smaller than 3 pixels as a 3-pixel square, to stay in sight.
  function draw(ctx, s, dx, dy, w, h) {
    styles.forEach(function (st, c) {
      ['areas', 'lines'].forEach(function (what) {
        ctx.beginPath();
        for (var t = 0; t < n; t++) {
          if (cls[t] !== c) continue;
          var x0 = box[4 * t] * s + dx, y0 = box[4 * t + 1] * s + dy;
          var x1 = box[4 * t + 2] * s + dx, y1 = box[4 * t + 3] * s + dy;
          if (x1 < -6 || x0 > w + 6 || y1 < -6 || y0 > h + 6) continue;
          if (x1 - x0 < 3 && y1 - y0 < 3) {
            if (what === 'areas') ctx.rect((x0 + x1) / 2 - 1.5, (y0 + y1) / 2 - 1.5, 3, 3);
          } else {
            traceTarget(ctx, t, s, dx, dy, what);
          }
        }
        if (what === 'areas') {
          ctx.globalAlpha = st.alpha;
          ctx.fillStyle = st.fill;
          ctx.fill('evenodd');
          ctx.globalAlpha = 1;
        }
        ctx.strokeStyle = st.stroke;
        ctx.lineWidth = st.width;
        ctx.stroke();
      });
    });
    if (picked >= 0) {
      ctx.beginPath();
      traceTarget(ctx, picked, s, dx, dy, 'areas');
      traceTarget(ctx, picked, s, dx, dy, 'lines');
      ctx.strokeStyle = '#111';
      ctx.lineWidth = 3;
      ctx.stroke();
    }
  }
  var layer = new plane.Plane(draw, 'orvus-targets').addTo(map);

  // The target under a point of the map: its area, within 4 pixels of a line or point, or
  // anywhere in the box of one drawn as a square; the smallest when several are.
  function inRings(t, x, y) {
    var inside = false;
    for (var q = g.featPart[t]; q < g.featPart[t + 1]; q++) {
      if (g.kind[q] !== 0) continue;
      for (var a = g.partPt[q], z = g.partPt[q + 1], k = a, j = z - 1; k < z; j = k++) {
        if ((my[k] > y) !== (my[j] > y) &&
            x < (mx[j] - mx[k]) * (y - my[k]) / (my[j] - my[k]) + mx[k]) inside = !inside;
      }
    }
    return inside;
  }
  function nearParts(t, x, y, tol) {
    for (var q = g.featPart[t]; q < g.featPart[t + 1]; q++) {
      var a = g.partPt[q], z = g.partPt[q + 1];
      for (var k = a; k < z; k++) {
        if (g.kind[q] === 2 || k === a) {
          if (Math.hypot(mx[k] - x, my[k] - y) <= tol) return true;
          continue;
        }
        var ux = mx[k] - mx[k - 1], uy = my[k] - my[k - 1], l2 = ux * ux + uy * uy;
        var f = l2 ? Math.max(0, Math.min(1, ((x - mx[k - 1]) * ux + (y - my[k - 1]) * uy) / l2)) : 0;
        if (Math.hypot(mx[k - 1] + f * ux - x, my[k - 1] + f * uy - y) <= tol) return true;
      }
    }
    return false;
  }
  function hit(point) {
    var s = map.getZoomScale(map.getZoom(), 0), o = map.getPixelBounds().min, tol = 4 / s;
    var x0 = (point.x + o.x) / s, y = (point.y + o.y) / s, best = -1, area = Infinity;
    for (var t = 0; t < n; t++) {
      var b0 = box[4 * t], b1 = box[4 * t + 1], b2 = box[4 * t + 2], b3 = box[4 * t + 3];
      if (y < b1 - tol || y > b3 + tol) continue;
      for (var shift = -256; shift <= 256; shift += 256) {
        var x = x0 + shift;
        if (x < b0 - tol || x > b2 + tol) continue;
        var small = (b2 - b0) * s < 3 && (b3 - b1) * s < 3;
        if (small || inRings(t, x, y) || nearParts(t, x, y, tol)) {
          var a = (b2 - b0) * (b3 - b1);
          if (a < area) { area = a; best = t; }
        }
      }
    }
    return best;
  }

  var tip = L.tooltip({ direction: 'top', offset: [0, -8], className: 'orvus-target-tip' });
  var hovered = -1;
  function hide() {
    if (map.hasLayer(tip)) map.closeTooltip(tip);
    hovered = -1;
    map.getContainer().style.cursor = '';
  }
  map.on('mousemove', function (e) {
    var t = hit(e.containerPoint);
    if (t < 0) return hide();
    if (t !== hovered) {
      hovered = t;
      tip.setContent(dom.lines([targets.label[t],
                                texts.count(perTarget[t]) + ' of ' + texts.count(all[t]) + ' shown']));
    }
    tip.setLatLng(e.latlng);
    if (!map.hasLayer(tip)) map.openTooltip(tip);
    map.getContainer().style.cursor = 'pointer';
  });
  map.on('mouseout', hide);
  map.on('click', function (e) {
    var t = hit(e.containerPoint);
    if (t >= 0) page.pick(t);
  });

  if (many && upper.length) {
    var legend = page.note('bottomright', 'orvus-legend');
    legend.classList.add('orvus-legend');
    var title = document.createElement('div');
    title.textContent = 'Opportunities per target';
    legend.appendChild(title);
    upper.forEach(function (u, c) {
      var lo = c ? upper[c - 1] + 1 : 1;
      legend.appendChild(dom.legendLine(colours[c], lo === u ? String(u) : lo + '\u2013' + u));
    });
    legend.appendChild(dom.legendLine('rgba(127, 127, 127, 0.1)', 'none kept by the filters'));
  }

  return {
    update: function () {
      for (var t = 0; t < n; t++) cls[t] = many ? classOf(perTarget[t]) + 1 : 0;
      picked = state.picked;
      hide();
      layer.redraw();
    },
    hide: hide,
    bounds: function (t) { return columns.featureBounds(targets.geometry, t, L.latLngBounds([])); }
  };
}
