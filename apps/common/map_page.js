// The map page's script. The data come as columns (see map_page.cpp): decoded once into typed
// arrays, filtered and sorted as arrays of indices; the map draws the targets on a canvas
// coloured by their number of contacts, and the swaths of a selection only. Every text from the
// inputs reaches the document as text (textContent), never as markup.
//
// Parts: data (decoding), time and number texts, the base map (land, borders, graticule), the
// target layer, the swath layer, the table, the schedule (acquired swaths and a timeline), the
// filters; each view has an update() that the filters call, so that further views (a coverage
// grid) can join them.
(function () {
'use strict';

// ---- Data -------------------------------------------------------------------------------

function bytesOf(b64) {
  var s = atob(b64 || ''), n = s.length, out = new Uint8Array(n);
  for (var i = 0; i < n; i++) out[i] = s.charCodeAt(i);
  return out;
}
// Integers of 7 bits a byte, least significant first; signed ones zigzag-coded; optional ones
// 0 when missing, else their signed code plus 1. Exact up to 2^53.
function Reader(b64) { this.b = bytesOf(b64); this.i = 0; }
Reader.prototype.uint = function () {
  var b = this.b, v = 0, m = 1, c;
  do { c = b[this.i++]; v += (c & 127) * m; m *= 128; } while (c & 128);
  return v;
};
function unzig(u) { return u % 2 ? -(u + 1) / 2 : u / 2; }
Reader.prototype.sint = function () { return unzig(this.uint()); };
Reader.prototype.opt = function () { var u = this.uint(); return u ? unzig(u - 1) : NaN; };

function column(b64, n, read, scale, Type) {
  var r = new Reader(b64), out = new (Type || Float64Array)(n);
  for (var i = 0; i < n; i++) out[i] = r[read]() / (scale || 1);
  return out;
}

// A geometry column: per feature its parts (0 ring, 1 line, 2 points), each a run of points.
// featPart[f] .. featPart[f + 1] are feature f's parts; partPt[p] .. partPt[p + 1] its points
// in lon / lat (degrees, longitudes continuous along a part and near the feature's reference;
// or, for the base map, x / y in pixels). Each point takes 2 bytes at least, each part 1.
function geometry(b64, n, scale, refX, refY) {
  var b = bytesOf(b64), i = 0, len = b.length;
  function uint() {
    var v = 0, m = 1, c;
    do { c = b[i++]; v += (c & 127) * m; m *= 128; } while (c & 128);
    return v;
  }
  function sint() { var u = uint(); return u % 2 ? -(u + 1) / 2 : u / 2; }
  var featPart = new Uint32Array(n + 1), kind = new Uint8Array(len), partPt = new Uint32Array(len + 1);
  var lon = new Float64Array(len >> 1), lat = new Float64Array(len >> 1), np = 0, pt = 0;
  for (var f = 0; f < n; f++) {
    featPart[f] = np;
    var rx = refX ? refX(f) : 0, ry = refY ? refY(f) : 0;
    for (var parts = uint(), p = 0; p < parts; p++) {
      var h = uint(), count = (h - h % 4) / 4, x = rx, y = ry;
      kind[np] = h % 4;
      for (var k = 0; k < count; k++) {
        x += sint();
        y += sint();
        lon[pt] = x / scale;
        lat[pt++] = y / scale;
      }
      partPt[++np] = pt;
    }
  }
  featPart[n] = np;
  return { featPart: featPart, kind: kind.slice(0, np), partPt: partPt.slice(0, np + 1),
           lon: lon.slice(0, pt), lat: lat.slice(0, pt) };
}
// Feature f's parts as Leaflet lat/lng arrays, by kind.
function featureParts(g, f) {
  var out = { rings: [], lines: [], points: [] };
  for (var p = g.featPart[f]; p < g.featPart[f + 1]; p++) {
    var pts = [];
    for (var k = g.partPt[p]; k < g.partPt[p + 1]; k++) pts.push([g.lat[k], g.lon[k]]);
    if (g.kind[p] === 0) out.rings.push(pts);
    else if (g.kind[p] === 1) out.lines.push(pts);
    else out.points = out.points.concat(pts);
  }
  return out;
}
function featureBounds(g, f, b) {
  for (var k = g.partPt[g.featPart[f]]; k < g.partPt[g.featPart[f + 1]]; k++) {
    b.extend([g.lat[k], g.lon[k]]);
  }
  return b;
}

// A schedule's acquisitions (their swaths referred to their targets' centres, cx / cy in
// 1e-4 deg) and the station passes, as the contacts are.
function decodeSchedule(S, cx, cy) {
  var n = S.count, target = column(S.target, n, 'uint', 1, Int32Array);
  var start = column(S.start_ms, n, 'sint'), i;
  for (i = 1; i < n; i++) start[i] += start[i - 1];
  var contact = column(S.contact, n, 'uint', 1, Int32Array).map(function (v) { return v - 1; });
  var P = S.passes, np = P.count, aos = column(P.aos_ms, np, 'sint');
  for (i = 1; i < np; i++) aos[i] += aos[i - 1];
  return {
    count: n, satellite: column(S.satellite, n, 'uint', 1, Int32Array), target: target,
    contact: contact, start: start, duration: column(S.duration_ms, n, 'sint', 1000),
    roll: column(S.roll_cdeg, n, 'sint', 100), maxRoll: S.max_roll_cdeg / 100,
    swath: geometry(S.swath, n, 1e4, function (f) { return cx[target[f]]; },
                    function (f) { return cy[target[f]]; }),
    passes: { count: np, satellite: column(P.satellite, np, 'uint', 1, Int32Array),
              station: column(P.station, np, 'uint', 1, Int32Array), stations: P.stations,
              aos: aos, duration: column(P.duration_ms, np, 'sint', 1000) }
  };
}

var raw = JSON.parse(document.getElementById('orvus-data').textContent);
var data = (function () {
  var T = raw.targets, C = raw.contacts, nT = T.count, nC = C.count;
  var centre = new Reader(T.centre), cx = new Float64Array(nT), cy = new Float64Array(nT);
  for (var i = 0; i < nT; i++) { cx[i] = centre.sint(); cy[i] = centre.sint(); }
  var targets = {
    count: nT, id: T.id, name: T.name,
    label: T.id.map(function (id, i) { return (id + ' ' + T.name[i]).trim(); }),
    lon: cx.map(function (v) { return v / 1e4; }), lat: cy.map(function (v) { return v / 1e4; }),
    geometry: geometry(T.geometry, nT, 1e5, function (f) { return cx[f] * 10; },
                       function (f) { return cy[f] * 10; })
  };
  var target = column(C.target, nC, 'uint', 1, Int32Array);
  var start = column(C.start_ms, nC, 'sint');
  for (i = 1; i < nC; i++) start[i] += start[i - 1];
  var bestLon = new Float64Array(nC), bestLat = new Float64Array(nC), best = new Reader(C.best_point);
  for (i = 0; i < nC; i++) {
    var dx = best.opt();
    bestLon[i] = isNaN(dx) ? NaN : (cx[target[i]] + dx) / 1e4;
    bestLat[i] = isNaN(dx) ? NaN : (cy[target[i]] + best.sint()) / 1e4;
  }
  var refX = function (f) { return cx[target[f]]; }, refY = function (f) { return cy[target[f]]; };
  var contacts = {
    count: nC, satellite: column(C.satellite, nC, 'uint', 1, Int32Array), target: target,
    number: column(C.number, nC, 'sint', 1, Int32Array), start: start,
    duration: column(C.duration_ms, nC, 'sint', 1000), pass: C.pass,
    alpha: column(C.best_alpha_cdeg, nC, 'opt', 100), sun: column(C.sun_elevation_cdeg, nC, 'opt', 100),
    coverage: column(C.coverage_e4, nC, 'sint', 1e4), bestLon: bestLon, bestLat: bestLat,
    swath: geometry(C.swath, nC, 1e4, refX, refY),
    track: C.track ? geometry(C.track, nC, 1e4, refX, refY) : null
  };
  return { header: raw.header, t0: raw.t0, t1: raw.t1, satellites: raw.satellites.name,
           targets: targets, contacts: contacts,
           schedule: raw.schedule ? decodeSchedule(raw.schedule, cx, cy) : null };
}());
var targets = data.targets, contacts = data.contacts;

// ---- Texts ------------------------------------------------------------------------------

function pad(n, w) { var s = String(n); while (s.length < w) s = '0' + s; return s; }
// A time in milliseconds from the interval's start as the reports write it (to the ms).
function timeText(ms) {
  var d = new Date(data.t0 + ms);
  return pad(d.getUTCDate(), 2) + '/' + pad(d.getUTCMonth() + 1, 2) + '/' + pad(d.getUTCFullYear(), 4) +
         ' ' + pad(d.getUTCHours(), 2) + ':' + pad(d.getUTCMinutes(), 2) + ':' +
         pad(d.getUTCSeconds(), 2) + '.' + pad(d.getUTCMilliseconds(), 3);
}
function dayText(ms) {  // YYYY-MM-DD, as date inputs take it
  var d = new Date(data.t0 + ms);
  return pad(d.getUTCFullYear(), 4) + '-' + pad(d.getUTCMonth() + 1, 2) + '-' + pad(d.getUTCDate(), 2);
}
function fixed(v, d) { return isNaN(v) ? '' : v.toFixed(d); }
function count(n) { return n.toLocaleString('en-US'); }
function passOf(i) { return contacts.pass.charAt(i).trim(); }
function fields(i) {
  var c = contacts;
  return [['No.', String(c.number[i])], ['Satellite', data.satellites[c.satellite[i]] || ''],
          ['Target', targets.label[c.target[i]] || ''], ['Local start', timeText(c.start[i])],
          ['Duration (s)', fixed(c.duration[i], 1)], ['Pass', passOf(i)],
          ['BEST ALPHA (\u00b0)', fixed(c.alpha[i], 2)], ['Sun elevation (\u00b0)', fixed(c.sun[i], 1)],
          ['Coverage (%)', fixed(c.coverage[i] * 100, 1)]];
}
function lines(texts) {
  var box = document.createElement('div');
  texts.forEach(function (t) {
    var line = document.createElement('div');
    line.textContent = t;
    box.appendChild(line);
  });
  return box;
}
function byId(id) { return document.getElementById(id); }

var h = data.header;
document.title = h.title;
['title', 'satellites', 'location', 'interval', 'alpha', 'beta'].forEach(function (k) {
  byId('orvus-' + k).textContent = h[k];
});

// ---- Map and base layers ----------------------------------------------------------------

function near(lon, ref) {
  while (lon - ref > 180) lon -= 360;
  while (lon - ref < -180) lon += 360;
  return lon;
}

var map = L.map('orvus-map', { zoomSnap: 0.25, worldCopyJump: false, zoomControl: false })
              .setView([0, targets.count ? targets.lon[0] : 0], 2);
L.control.zoom({ position: 'topright' }).addTo(map);
map.attributionControl.setPrefix('Leaflet');
map.attributionControl.addAttribution('Land and borders: Natural Earth 1:50m');
map.createPane('orvus-land').style.zIndex = 250;
map.createPane('orvus-grid').style.zIndex = 300;
map.createPane('orvus-targets').style.zIndex = 390;  // under the swaths (overlayPane, 400)


// A canvas layer of shapes projected once to Web Mercator pixels at zoom 0 (Leaflet's own
// projection: x = 256 (lon / 360 + 1/2), y = 256 (1/2 - ln tan(pi/4 + lat/2) / 2 pi)); each view
// change draws them again by a scale and a shift only, with copies a turn east and west where
// the view reaches beyond +-180. `draw(ctx, s, dx, dy, w, h)` draws at pixel = s * p + (dx, dy)
// on a canvas of w x h pixels.
var Plane = L.Layer.extend({
  initialize: function (draw, pane) { this._draw = draw; this._pane = pane; },
  onAdd: function (map) {
    this._canvas = L.DomUtil.create('canvas', 'leaflet-zoom-animated');
    map.getPane(this._pane).appendChild(this._canvas);
    this._update();
  },
  onRemove: function () { L.DomUtil.remove(this._canvas); },
  redraw: function () { if (this._map) this._update(); },
  getEvents: function () {
    return { moveend: this._update, viewreset: this._update, resize: this._update,
             zoomanim: this._animate };
  },
  _animate: function (e) {
    var map = this._map;
    L.DomUtil.setTransform(this._canvas,
                           map._latLngBoundsToNewLayerBounds(this._bounds, e.zoom, e.center).min,
                           map.getZoomScale(e.zoom));
  },
  _update: function () {
    var map = this._map, c = this._canvas, size = map.getSize(), pad = size.multiplyBy(0.1).round();
    var full = size.add(pad.multiplyBy(2)), ratio = window.devicePixelRatio || 1;
    var topLeft = map.containerPointToLayerPoint([0, 0]).subtract(pad);
    this._bounds = L.latLngBounds(map.layerPointToLatLng(topLeft),
                                  map.layerPointToLatLng(topLeft.add(full)));
    L.DomUtil.setPosition(c, topLeft);
    c.width = Math.round(full.x * ratio);
    c.height = Math.round(full.y * ratio);
    c.style.width = full.x + 'px';
    c.style.height = full.y + 'px';
    var ctx = c.getContext('2d');
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    var s = map.getZoomScale(map.getZoom(), 0), world = 256 * s;
    var origin = map.getPixelBounds().min.subtract(pad);
    for (var k = Math.floor(origin.x / world) - 1; k * world <= origin.x + full.x + world; k++) {
      this._draw(ctx, s, k * world - origin.x, -origin.y, full.x, full.y);
    }
  }
});
// The boxes of a geometry's parts, as x0, y0, x1, y1 for each.
function partBoxes(g) {
  var out = new Float64Array(4 * g.kind.length);
  for (var p = 0; p < g.kind.length; p++) {
    var x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
    for (var k = g.partPt[p]; k < g.partPt[p + 1]; k++) {
      x0 = Math.min(x0, g.lon[k]); y0 = Math.min(y0, g.lat[k]);
      x1 = Math.max(x1, g.lon[k]); y1 = Math.max(y1, g.lat[k]);
    }
    out[4 * p] = x0; out[4 * p + 1] = y0; out[4 * p + 2] = x1; out[4 * p + 3] = y1;
  }
  return out;
}
// Adds to the canvas's current path the parts (in pixels at zoom 0) whose boxes meet it.
function trace(ctx, g, boxes, s, dx, dy, w, h) {
  for (var p = 0; p < g.kind.length; p++) {
    if (boxes[4 * p + 2] * s + dx < 0 || boxes[4 * p] * s + dx > w ||
        boxes[4 * p + 3] * s + dy < 0 || boxes[4 * p + 1] * s + dy > h) continue;
    var a = g.partPt[p], z = g.partPt[p + 1];
    ctx.moveTo(g.lon[a] * s + dx, g.lat[a] * s + dy);
    for (var k = a + 1; k < z; k++) ctx.lineTo(g.lon[k] * s + dx, g.lat[k] * s + dy);
    if (g.kind[p] === 0) ctx.closePath();
  }
}

// Land and borders, projected when the page was written (pixels at zoom 0, in 1/4096). Rings
// across +-180 (Chukotka, Wrangel, Fiji, Antarctica) go on beyond it, so that no edge spans the
// map from one side to the other.
function baseMap() {
  var land = geometry(raw.world.land, 1, 4096), borders = geometry(raw.world.borders, 1, 4096);
  var landBoxes = partBoxes(land), borderBoxes = partBoxes(borders);
  new Plane(function (ctx, s, dx, dy, w, h) {
    ctx.beginPath();
    trace(ctx, land, landBoxes, s, dx, dy, w, h);
    ctx.fillStyle = '#efeee4';
    ctx.fill('nonzero');
    ctx.beginPath();
    trace(ctx, borders, borderBoxes, s, dx, dy, w, h);
    ctx.strokeStyle = '#8a8a80';
    ctx.lineWidth = 0.8;
    ctx.stroke();
  }, 'orvus-land').addTo(map);
}

// The first view, before any layer is drawn: the targets, and the swaths if they are few.
(function () {
  var view = L.latLngBounds([]);
  for (var t = 0; t < targets.count; t++) featureBounds(targets.geometry, t, view);
  if (contacts.count <= 500) {
    for (var i = 0; i < contacts.count; i++) featureBounds(contacts.swath, i, view);
  }
  if (view.isValid()) map.fitBounds(view, { padding: [20, 20], animate: false });
}());
baseMap();

// Graticule, its step following the zoom.
var grid = L.layerGroup().addTo(map);
function graticule() {
  grid.clearLayers();
  var b = map.getBounds(), span = Math.max(b.getEast() - b.getWest(), 1e-6);
  var steps = [0.05, 0.1, 0.2, 0.25, 0.5, 1, 2, 5, 10, 15, 30, 45];
  var step = steps.find(function (s) { return span / s <= 10; }) || 90;
  var w = Math.floor(b.getWest() / step) * step, e = b.getEast();
  var s = Math.max(-85, Math.floor(b.getSouth() / step) * step), n = Math.min(85, b.getNorth());
  var style = { pane: 'orvus-grid', color: '#7d93a8', weight: 0.6, opacity: 0.6, interactive: false };
  var label = function (v, lon) {
    var a = Math.abs(v), d = Math.round(a * 100) / 100;
    if (lon && Math.abs(a - 180) < 1e-9) return '180\u00b0';
    return d + '\u00b0' + (v > 1e-9 ? (lon ? 'E' : 'N') : v < -1e-9 ? (lon ? 'W' : 'S') : '');
  };
  var mark = function (latlng, anchor, text) {
    grid.addLayer(L.marker(latlng, { pane: 'orvus-grid', interactive: false,
      icon: L.divIcon({ className: 'orvus-graticule-label', html: '', iconSize: null, iconAnchor: anchor })
    }).on('add', function (ev) { ev.target.getElement().textContent = text; }));
  };
  for (var lon = w; lon <= e + 1e-9; lon += step) {
    grid.addLayer(L.polyline([[-85, lon], [85, lon]], style));
    mark([b.getSouth(), lon], [-2, 14], label(near(lon, 0), true));
  }
  for (var lat = s; lat <= n + 1e-9; lat += step) {
    if (lat < -85) continue;
    grid.addLayer(L.polyline([[lat, w - step], [lat, e + step]], style));
    mark([lat, b.getWest()], [-3, 14], label(lat, false));
  }
}

// A box on the map for notes and the legend.
function note(position, id) {
  var box = L.DomUtil.create('div', 'orvus-box');
  if (id) box.id = id;
  var control = L.control({ position: position });
  control.onAdd = function () { return box; };
  control.addTo(map);
  L.DomEvent.disableClickPropagation(box);
  return box;
}

// ---- State: filters, sort and selection; the views follow it ----------------------------

var state = {
  satellite: -1, search: '', picked: -1, from: NaN, to: NaN, pass: '', minSun: NaN,
  maxAlpha: NaN, sortKey: null, sortDir: 1, page: 0, selected: -1
};
var filtered = new Uint32Array(0);  // indices of the contacts the filters keep, in data order
var order = filtered;               // the same, sorted as the table is
var perTarget = new Uint32Array(targets.count);  // contacts kept per target
var views = [];

function applyFilters() {
  var c = contacts, n = c.count, keep = new Uint32Array(n), k = 0;
  var targetOk = null;
  if (state.picked >= 0) {
    targetOk = new Uint8Array(targets.count);
    targetOk[state.picked] = 1;
  } else if (state.search) {
    targetOk = new Uint8Array(targets.count);
    for (var t = 0; t < targets.count; t++) {
      targetOk[t] = targets.label[t].toLowerCase().indexOf(state.search) >= 0 ? 1 : 0;
    }
  }
  perTarget.fill(0);
  for (var i = 0; i < n; i++) {
    if (state.satellite >= 0 && c.satellite[i] !== state.satellite) continue;
    if (targetOk && !targetOk[c.target[i]]) continue;
    if (c.start[i] < state.from || c.start[i] >= state.to) continue;
    if (state.pass && c.pass.charAt(i) !== state.pass) continue;
    if (!isNaN(state.minSun) && !(c.sun[i] >= state.minSun)) continue;
    if (!isNaN(state.maxAlpha) && !(Math.abs(c.alpha[i]) <= state.maxAlpha)) continue;
    keep[k++] = i;
    perTarget[c.target[i]]++;
  }
  filtered = keep.subarray(0, k);
  if (state.selected >= 0 && filtered.indexOf(state.selected) < 0) state.selected = -1;
  sortRows();
}

// Sort keys per column: numbers, names by rank; a missing value sorts last either way.
var sortKeys = {};
function rank(names) {
  var idx = names.map(function (_, i) { return i; });
  idx.sort(function (a, b) { return names[a] < names[b] ? -1 : names[a] > names[b] ? 1 : a - b; });
  var r = new Float64Array(names.length);
  idx.forEach(function (v, k) { r[v] = k; });
  return r;
}
function sortKey(name) {
  if (sortKeys[name]) return sortKeys[name];
  var c = contacts, n = c.count, key = new Float64Array(n), i;
  if (name === 'satellite') {
    var rs = rank(data.satellites);
    for (i = 0; i < n; i++) key[i] = rs[c.satellite[i]];
  } else if (name === 'target') {
    var rt = rank(targets.label);
    for (i = 0; i < n; i++) key[i] = rt[c.target[i]];
  } else if (name === 'pass') {
    for (i = 0; i < n; i++) key[i] = c.pass.charAt(i) === ' ' ? NaN : c.pass.charCodeAt(i);
  } else if (name === 'coverage') {
    key = c.coverage;
  } else {
    key = c[name];
  }
  sortKeys[name] = key;
  return key;
}
function sortRows() {
  order = filtered.slice();
  if (!state.sortKey) return;
  var key = sortKey(state.sortKey), dir = state.sortDir;
  order.sort(function (a, b) {
    var x = key[a], y = key[b];
    if (x !== x) return y !== y ? a - b : 1;
    if (y !== y) return -1;
    return x < y ? -dir : x > y ? dir : a - b;
  });
}

function refresh() {
  applyFilters();
  views.forEach(function (v) { v.update(); });
}

// ---- Targets: a canvas layer coloured by the number of contacts kept ----------------------

var targetLayer = (function () {
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
    var lat = Math.max(-85.0511287798, Math.min(85.0511287798, g.lat[k])) * Math.PI / 180;
    mx[k] = 256 * (g.lon[k] / 360 + 0.5);
    my[k] = 256 * (0.5 - Math.log(Math.tan(Math.PI / 4 + lat / 2)) / (2 * Math.PI));
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
  var plane = new Plane(draw, 'orvus-targets').addTo(map);

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
      tip.setContent(lines([targets.label[t],
                            count(perTarget[t]) + ' of ' + count(all[t]) + ' shown']));
    }
    tip.setLatLng(e.latlng);
    if (!map.hasLayer(tip)) map.openTooltip(tip);
    map.getContainer().style.cursor = 'pointer';
  });
  map.on('mouseout', hide);
  map.on('click', function (e) {
    var t = hit(e.containerPoint);
    if (t >= 0) pick(t);
  });

  if (many && upper.length) {
    var legend = note('bottomright', 'orvus-legend');
    legend.classList.add('orvus-legend');
    var title = document.createElement('div');
    title.textContent = 'Opportunities per target';
    legend.appendChild(title);
    var entry = function (colour, text) {
      var line = document.createElement('div'), swatch = document.createElement('i');
      swatch.style.background = colour;
      line.appendChild(swatch);
      line.appendChild(document.createTextNode(text));
      legend.appendChild(line);
    };
    upper.forEach(function (u, c) {
      var lo = c ? upper[c - 1] + 1 : 1;
      entry(colours[c], lo === u ? String(u) : lo + '\u2013' + u);
    });
    entry('rgba(127, 127, 127, 0.1)', 'none kept by the filters');
  }

  return {
    update: function () {
      for (var t = 0; t < n; t++) cls[t] = many ? classOf(perTarget[t]) + 1 : 0;
      picked = state.picked;
      hide();
      plane.redraw();
    },
    hide: hide,
    bounds: function (t) { return featureBounds(targets.geometry, t, L.latLngBounds([])); }
  };
}());
views.push(targetLayer);

// ---- Swaths: drawn for a selection of at most `limit` contacts, and the selected one --------

var swathLayer = (function () {
  var limit = 500;
  var colours = { A: '#1f77b4', D: '#ff7f0e', '': '#7f7f7f' };
  var group = L.featureGroup().addTo(map), extras = L.layerGroup().addTo(map);
  var drawn = new Map();
  var status = note('bottomleft', 'orvus-swath-note');
  function draw(i) {
    var parts = featureParts(contacts.swath, i), colour = colours[passOf(i)];
    var opts = { color: colour, weight: 1.5, fillColor: colour, fillOpacity: 0.45, className: 'orvus-swath',
                 bubblingMouseEvents: false };
    var layer = parts.rings.length ? L.polygon(parts.rings, opts)
              : parts.lines.length ? L.polyline(parts.lines, opts) : null;
    drawn.set(i, layer);
    if (layer) {
      layer.orvusContact = i;
      group.addLayer(layer);
      layer.getElement().setAttribute('data-contact', String(i));
    }
    if (contacts.track) {
      featureParts(contacts.track, i).lines.forEach(function (line) {
        extras.addLayer(L.polyline(line, { color: '#333', weight: 1, dashArray: '4 3',
                                           interactive: false, className: 'orvus-track' }));
      });
    }
    if (!isNaN(contacts.bestLon[i])) {
      extras.addLayer(L.circleMarker([contacts.bestLat[i], contacts.bestLon[i]], {
        radius: 3.5, color: '#000', weight: 1, fillColor: '#000', fillOpacity: 1,
        interactive: false, className: 'orvus-best' }));
    }
  }
  group.bindTooltip(function (layer) {
    return lines(fields(layer.orvusContact).map(function (f) { return f[0] + ': ' + f[1]; }));
  }, { sticky: true });
  group.on('click', function (e) { select(e.layer.orvusContact, false); });
  group.on('mouseover', function () { targetLayer.hide(); });

  function update() {
    group.clearLayers();
    extras.clearLayers();
    drawn.clear();
    var all = filtered.length <= limit;
    if (all) filtered.forEach(draw);
    if (state.selected >= 0 && !drawn.has(state.selected)) draw(state.selected);
    mark();
    var hidden = all ? 0 : filtered.length - (drawn.size && filtered.indexOf(state.selected) >= 0 ? 1 : 0);
    status.textContent = hidden ?
      count(hidden) + ' swaths not drawn (more than ' + limit + ' selected): click a target, or ' +
      'narrow the filters (satellite, dates, pass, Sun, |BEST ALPHA|) to draw them.' :
      count(drawn.size) + ' swath' + (drawn.size === 1 ? '' : 's') + ' drawn.';
  }
  function mark() {
    drawn.forEach(function (layer, i) {
      if (!layer) return;
      var e = layer.getElement();
      if (e) e.classList.toggle('orvus-selected', i === state.selected);
      if (i === state.selected) layer.bringToFront();
    });
  }
  return {
    update: update,
    select: function () {
      if (state.selected >= 0 && !drawn.has(state.selected)) update();
      else mark();
    },
    bounds: function (i) { return featureBounds(contacts.swath, i, L.latLngBounds([])); }
  };
}());
views.push(swathLayer);

// ---- Coverage: the grid's cells coloured by their figures, and per area its covered fraction ---

var coverageLayer = (function () {
  var C = raw.coverage;
  if (!C) return null;
  map.createPane('orvus-coverage').style.zIndex = 360;  // under the targets' outlines
  var nb = C.edges.length - 1, n = C.count;
  var perBand = column(C.bands, nb, 'uint', 1, Uint32Array);
  // Web Mercator y (pixels at zoom 0) of the bands' edges.
  var edgeY = new Float64Array(nb + 1);
  for (var b = 0; b <= nb; b++) {
    var lat = Math.max(-85.0511287798, Math.min(85.0511287798, C.edges[b])) * Math.PI / 180;
    edgeY[b] = 256 * (0.5 - Math.log(Math.tan(Math.PI / 4 + lat / 2)) / (2 * Math.PI));
  }
  var band = new Uint32Array(n), col = new Uint32Array(n), where = new Map();
  var rb = new Reader(C.band), rc = new Reader(C.column), prev = 0, prevCol = 0;
  for (var i = 0; i < n; i++) {
    band[i] = prev + rb.uint();
    col[i] = band[i] !== prev || i === 0 ? rc.uint() : prevCol + rc.uint();
    prev = band[i];
    prevCol = col[i];
    where.set(band[i] * 4294967296 + col[i], i);
  }
  var accesses = column(C.accesses, n, 'uint', 1, Uint32Array);
  var revisit = column(C.max_revisit_dh, n, 'opt', 10);  // hours, NaN below two accesses

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
  var plane = new Plane(draw, 'orvus-coverage').addTo(map);

  // The legend, the choice of figure, and the cell under the pointer.
  var box = note('bottomright', 'orvus-coverage-legend');
  box.classList.add('orvus-legend');
  var head = document.createElement('label');
  head.textContent = 'Cells (' + C.cell_km + ' km) by ';
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
    var palette = colours(), texts = ['no access', 'one access'];
    if (mode === 'revisit') texts = texts.concat(revisitTexts);
    else accessUpper.forEach(function (u, c) {
      var lo = c ? accessUpper[c - 1] + 1 : 1;
      texts.push(lo === u ? String(u) : lo + '\u2013' + u);
    });
    if (mode === 'accesses') texts[1] = null;
    palette.forEach(function (colour, c) {
      if (!texts[c]) return;
      var line = document.createElement('div'), swatch = document.createElement('i');
      swatch.style.background = colour;
      line.appendChild(swatch);
      line.appendChild(document.createTextNode(texts[c]));
      entries.appendChild(line);
    });
  }
  legend();
  pickFigure.addEventListener('change', function () {
    mode = pickFigure.value;
    classify();
    legend();
    plane.redraw();
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
      (isNaN(revisit[i]) ? '' : ', longest revisit ' + fixed(revisit[i], 1) + ' h');
  });

  // The chart of the covered fraction of one area against time, all satellites together and each.
  var areas = C.areas.map(function (a) {
    return { id: a.id, name: a.name, target: a.target, cells: a.cells, series: a.series.map(function (s) {
      var t = column(s.t_ms, s.count, 'sint');
      for (var k = 1; k < s.count; k++) t[k] += t[k - 1];
      return { satellite: s.satellite, t: t, f: column(s.fraction_e4, s.count, 'uint', 1e4) };
    }) };
  });
  var panel = byId('orvus-coverage');
  panel.classList.remove('orvus-hidden');
  var select = byId('orvus-coverage-area');
  areas.forEach(function (a, k) {
    var o = document.createElement('option');
    o.value = String(k);
    o.textContent = (a.id + ' ' + a.name).trim() + ' (' + count(a.cells) + ' cells)';
    select.appendChild(o);
  });
  var svgNS = 'http://www.w3.org/2000/svg', chart = byId('orvus-coverage-chart');
  var seriesColours = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd', '#8c564b'];
  function el(name, attrs, parent) {
    var e = document.createElementNS(svgNS, name);
    Object.keys(attrs).forEach(function (k) { e.setAttribute(k, attrs[k]); });
    if (parent) parent.appendChild(e);
    return e;
  }
  function text(parent, x, y, t, anchor) {
    var e = el('text', { x: x, y: y, 'text-anchor': anchor || 'middle' }, parent);
    e.textContent = t;
    return e;
  }
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
      text(svg, X(d * 86400000), H - B0 + 16, dayText(d * 86400000));
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
                       (j === 0 ? 'all satellites' : s.satellite) + ': ' + fixed(last * 100, 1) + ' %', 'start');
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
}());
if (coverageLayer) views.push(coverageLayer);

// ---- Table: sorted over the whole selection, a page of rows at a time ---------------------

var table = (function () {
  var size = 50;
  var tbody = document.querySelector('#orvus-contacts tbody');
  var heads = document.querySelectorAll('#orvus-contacts th');
  function row(i) {
    var tr = document.createElement('tr');
    tr.className = 'orvus-contact-row' + (i === state.selected ? ' orvus-row-selected' : '');
    tr.setAttribute('data-contact', String(i));
    fields(i).forEach(function (f, k) {
      var td = document.createElement('td');
      td.textContent = f[1];
      if (k === 1 || k === 2 || k === 3) td.className = 'orvus-text';
      if (k === 5) td.className = 'orvus-pass-' + f[1];
      tr.appendChild(td);
    });
    return tr;
  }
  function update() {
    var pages = Math.max(1, Math.ceil(order.length / size));
    state.page = Math.min(Math.max(state.page, 0), pages - 1);
    var first = state.page * size, last = Math.min(order.length, first + size);
    var rows = document.createDocumentFragment();
    for (var k = first; k < last; k++) rows.appendChild(row(order[k]));
    tbody.textContent = '';
    tbody.appendChild(rows);
    byId('orvus-rows').textContent = order.length ?
      'rows ' + count(first + 1) + '\u2013' + count(last) + ' of ' + count(order.length) : 'no rows';
    byId('orvus-first').disabled = byId('orvus-prev').disabled = state.page === 0;
    byId('orvus-next').disabled = byId('orvus-last').disabled = state.page >= pages - 1;
    byId('orvus-pager').classList.toggle('orvus-hidden', pages < 2);
    heads.forEach(function (th) {
      var key = th.getAttribute('data-key');
      th.classList.toggle('orvus-asc', key === state.sortKey && state.sortDir > 0);
      th.classList.toggle('orvus-desc', key === state.sortKey && state.sortDir < 0);
    });
    byId('orvus-count').textContent = count(filtered.length) + ' of ' + count(contacts.count) +
                                      (contacts.count === 1 ? ' contact' : ' contacts');
  }
  function rowOf(i) { return tbody.querySelector('tr[data-contact="' + i + '"]'); }
  tbody.addEventListener('click', function (e) {
    var tr = e.target.closest('tr');
    if (tr) select(Number(tr.getAttribute('data-contact')), true);
  });
  heads.forEach(function (th) {
    th.addEventListener('click', function () {
      var key = th.getAttribute('data-key');
      state.sortDir = key === state.sortKey ? -state.sortDir : 1;
      state.sortKey = key;
      state.page = 0;
      sortRows();
      update();
    });
  });
  var go = function (id, to) {
    byId(id).addEventListener('click', function () { state.page = to(); update(); });
  };
  go('orvus-first', function () { return 0; });
  go('orvus-prev', function () { return state.page - 1; });
  go('orvus-next', function () { return state.page + 1; });
  go('orvus-last', function () { return Infinity; });
  return {
    update: update,
    // Shows the selected row (turning to its page) and marks it.
    select: function (scroll) {
      var prev = tbody.querySelector('.orvus-row-selected');
      if (prev) prev.classList.remove('orvus-row-selected');
      if (state.selected < 0) return;
      var tr = rowOf(state.selected);
      if (!tr) {
        var k = order.indexOf(state.selected);
        if (k < 0) return;
        state.page = Math.floor(k / size);
        update();
        tr = rowOf(state.selected);
      }
      tr.classList.add('orvus-row-selected');
      if (scroll) tr.scrollIntoView({ block: 'nearest' });
    }
  };
}());
views.push(table);

// ---- Schedule: the acquired swaths on the map, and a timeline per satellite of the
// acquisitions (bars at their roll, joined by the roll), over the station passes (bands).
// Both follow the satellite and date filters. ----------------------------------------------

var schedule = data.schedule;
// The acquisitions kept by the satellite and date filters, in time order.
function scheduled() {
  var out = [];
  for (var i = 0; schedule && i < schedule.count; i++) {
    if (state.satellite >= 0 && schedule.satellite[i] !== state.satellite) continue;
    if (schedule.start[i] < state.from || schedule.start[i] >= state.to) continue;
    out.push(i);
  }
  return out;
}
function acquisitionText(i) {
  var s = schedule;
  return [targets.label[s.target[i]] || '', data.satellites[s.satellite[i]] || '',
          'Local start: ' + timeText(s.start[i]), 'Imaging (s): ' + fixed(s.duration[i], 3),
          'Roll (\u00b0): ' + fixed(s.roll[i], 2)];
}
state.acquisition = -1;

var acquiredLayer = schedule && (function () {
  var limit = 1000;
  var group = L.featureGroup().addTo(map), drawn = new Map();
  var status = note('bottomleft', 'orvus-acquired-note');
  group.bindTooltip(function (layer) { return lines(acquisitionText(layer.orvusAcquisition)); },
                    { sticky: true });
  group.on('click', function (e) { selectAcquisition(e.layer.orvusAcquisition, false); });
  function mark() {
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
          var parts = featureParts(schedule.swath, i);
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
      mark();
    },
    mark: mark,
    bounds: function (i) { return featureBounds(schedule.swath, i, L.latLngBounds([])); }
  };
}());
if (acquiredLayer) views.push(acquiredLayer);

var timeline = schedule && (function () {
  var svgNS = 'http://www.w3.org/2000/svg', W = 1000, H = 44, mid = H / 2;
  var box = byId('orvus-timeline'), rows = byId('orvus-timeline-rows');
  box.classList.remove('orvus-hidden');
  function el(name, attrs, parent) {
    var e = document.createElementNS(svgNS, name);
    Object.keys(attrs).forEach(function (k) { e.setAttribute(k, attrs[k]); });
    if (parent) parent.appendChild(e);
    return e;
  }
  function titled(e, texts) {
    el('title', {}, e).textContent = texts.join('\n');
    return e;
  }
  var bars = [];
  function mark() {
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
               [P.stations[P.station[p]] || '', 'AOS ' + timeText(P.aos[p]),
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
                                      'data-acquisition': String(i) }, svg), acquisitionText(i));
        bar.addEventListener('click', function () { selectAcquisition(i, true); });
        bars.push(bar);
      });
      shown += mine.length;
      rows.appendChild(row);
    });
    byId('orvus-timeline-head').textContent = 'Schedule: ' + count(shown) + ' of ' +
      count(schedule.count) + ' acquisitions, ' + timeText(r0) + ' to ' + timeText(r1) +
      '; bars at their roll (\u00b1' + fixed(schedule.maxRoll, 1) + '\u00b0 top to bottom), ' +
      'station passes shaded.';
    mark();
  }
  return { update: update, mark: mark };
}());
if (timeline) views.push(timeline);

// Selects an acquisition: marked on the timeline and the map, and its opportunity's row when
// the filters keep it.
function selectAcquisition(i, zoom) {
  state.acquisition = i;
  acquiredLayer.mark();
  timeline.mark();
  var c = schedule.contact[i];
  if (c >= 0 && filtered.indexOf(c) >= 0) {
    state.selected = c;
    swathLayer.select();
    table.select(false);
  }
  if (zoom) {
    var b = acquiredLayer.bounds(i).extend(targetLayer.bounds(schedule.target[i]));
    if (b.isValid()) map.fitBounds(b, { padding: [30, 30], maxZoom: 10, animate: false });
  }
}

function select(i, zoom) {
  state.selected = i;
  swathLayer.select();
  table.select(!zoom);
  if (zoom) {
    // At once, not animated: the view is where the swath is as soon as the row is clicked.
    var b = swathLayer.bounds(i).extend(targetLayer.bounds(contacts.target[i]));
    if (b.isValid()) map.fitBounds(b, { padding: [30, 30], maxZoom: 10, animate: false });
  }
}

// ---- Filters ------------------------------------------------------------------------------

function pick(t) {
  state.picked = t;
  state.search = '';
  byId('orvus-target').value = targets.id[t] || targets.label[t];
  state.page = 0;
  refresh();
}
(function () {
  var sat = byId('orvus-satellite');
  data.satellites.forEach(function (name, i) {
    var o = document.createElement('option');
    o.value = String(i);
    o.textContent = name;
    sat.appendChild(o);
  });
  // Filters that could not narrow anything are not shown.
  byId('orvus-satellite-filter').classList.toggle('orvus-hidden', data.satellites.length < 2);
  byId('orvus-target-filter').classList.toggle('orvus-hidden', targets.count < 2);
  byId('orvus-date-filter').classList.toggle('orvus-hidden', data.t1 - data.t0 <= 86400000);
  ['orvus-from', 'orvus-to'].forEach(function (id) {
    byId(id).min = dayText(0);
    byId(id).max = dayText(data.t1 - data.t0);
  });
  function number(id) {
    var v = byId(id).value;
    return v === '' || isNaN(Number(v)) ? NaN : Number(v);
  }
  function day(id, next) {  // a date input as milliseconds from the start, or NaN
    var m = /^(\d+)-(\d\d)-(\d\d)$/.exec(byId(id).value);
    return m ? Date.UTC(+m[1], +m[2] - 1, +m[3] + (next ? 1 : 0)) - data.t0 : NaN;
  }
  function read() {
    state.satellite = sat.value === '' ? -1 : Number(sat.value);
    var search = byId('orvus-target').value.trim().toLowerCase();
    var p = state.picked;
    if (p < 0 || search !== (targets.id[p] || targets.label[p]).toLowerCase()) state.picked = -1;
    state.search = state.picked >= 0 ? '' : search;
    state.from = day('orvus-from', false);
    state.to = day('orvus-to', true);
    state.pass = byId('orvus-pass').value;
    state.minSun = number('orvus-min-sun');
    state.maxAlpha = number('orvus-max-alpha');
    state.page = 0;
    refresh();
  }
  ['orvus-satellite', 'orvus-target', 'orvus-from', 'orvus-to', 'orvus-pass', 'orvus-min-sun',
   'orvus-max-alpha'].forEach(function (id) {
    byId(id).addEventListener('input', read);
    byId(id).addEventListener('change', read);
  });
  byId('orvus-clear').addEventListener('click', function () {
    document.querySelectorAll('#orvus-filters input, #orvus-filters select').forEach(function (e) {
      e.value = '';
    });
    state.picked = -1;
    read();
  });
}());

// ---- First view ---------------------------------------------------------------------------

refresh();
graticule();
map.on('moveend', graticule);
window.orvusMap = map;
window.orvusPage = { data: data, state: state, select: select, pick: pick, refresh: refresh,
                     coverage: coverageLayer, selectAcquisition: selectAcquisition };
if (window.performance && performance.mark) performance.mark('orvus-ready');
}());
