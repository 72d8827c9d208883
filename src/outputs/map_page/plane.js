// Shapes drawn on a canvas in Web Mercator pixels at zoom 0, Leaflet's own projection:
// x = 256 (lon / 360 + 1/2), y = 256 (1/2 - ln tan(pi/4 + lat/2) / 2 pi), latitudes beyond
// 85.0511 deg taken at that limit.
var plane = (function () {
'use strict';
var maxLat = 85.0511287798;

function mercatorX(lon) { return 256 * (lon / 360 + 0.5); }
function mercatorY(lat) {
  var r = Math.max(-maxLat, Math.min(maxLat, lat)) * Math.PI / 180;
  return 256 * (0.5 - Math.log(Math.tan(Math.PI / 4 + r / 2)) / (2 * Math.PI));
}

// A canvas layer of shapes projected once; each view change draws them again by a scale and a
// shift only, with copies a turn east and west where the view reaches beyond +-180.
// `draw(ctx, s, dx, dy, w, h)` draws at pixel = s * p + (dx, dy) on a canvas of w x h pixels.
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

return { mercatorX: mercatorX, mercatorY: mercatorY, Plane: Plane, partBoxes: partBoxes,
         trace: trace };
}());
