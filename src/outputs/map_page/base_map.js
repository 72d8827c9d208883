// The map and its base layers: land and borders, the graticule, boxes for notes and legends.
var baseMap = (function () {
'use strict';

function near(lon, ref) {
  while (lon - ref > 180) lon -= 360;
  while (lon - ref < -180) lon += 360;
  return lon;
}

// The map with its panes, at its first view (the targets, and the swaths if they are few),
// under the land and borders.
function create(data) {
  var targets = data.targets, contacts = data.contacts;
  var map = L.map('orvus-map', { zoomSnap: 0.25, worldCopyJump: false, zoomControl: false })
                .setView([0, targets.count ? targets.lon[0] : 0], 2);
  L.control.zoom({ position: 'topright' }).addTo(map);
  map.attributionControl.setPrefix('Leaflet');
  map.attributionControl.addAttribution('Land and borders: Natural Earth 1:50m');
  map.createPane('orvus-land').style.zIndex = 250;
  map.createPane('orvus-grid').style.zIndex = 300;
  map.createPane('orvus-targets').style.zIndex = 390;  // under the swaths (overlayPane, 400)

  // The first view, before any layer is drawn.
  var view = L.latLngBounds([]);
  for (var t = 0; t < targets.count; t++) columns.featureBounds(targets.geometry, t, view);
  if (contacts.count <= 500) {
    for (var i = 0; i < contacts.count; i++) columns.featureBounds(contacts.swath, i, view);
  }
  if (view.isValid()) map.fitBounds(view, { padding: [20, 20], animate: false });
  land(map, data.world);
  return map;
}

// Land and borders, projected when the page was written. Rings across +-180 (Chukotka,
// Wrangel, Fiji, Antarctica) go on beyond it, so that no edge spans the map from one side to
// the other.
function land(map, world) {
  var landBoxes = plane.partBoxes(world.land), borderBoxes = plane.partBoxes(world.borders);
  new plane.Plane(function (ctx, s, dx, dy, w, h) {
    ctx.beginPath();
    plane.trace(ctx, world.land, landBoxes, s, dx, dy, w, h);
    ctx.fillStyle = '#efeee4';
    ctx.fill('nonzero');
    ctx.beginPath();
    plane.trace(ctx, world.borders, borderBoxes, s, dx, dy, w, h);
    ctx.strokeStyle = '#8a8a80';
    ctx.lineWidth = 0.8;
    ctx.stroke();
  }, 'orvus-land').addTo(map);
}

// The graticule's layer on the map, and the function that draws it, its step following the
// zoom.
function graticule(map) {
  var grid = L.layerGroup().addTo(map);
  var label = function (v, lon) {
    var a = Math.abs(v), d = Math.round(a * 100) / 100;
    if (lon && Math.abs(a - 180) < 1e-9) return '180\u00b0';
    return d + '\u00b0' + (v > 1e-9 ? (lon ? 'E' : 'N') : v < -1e-9 ? (lon ? 'W' : 'S') : '');
  };
  var addLabel = function (latlng, anchor, text) {
    grid.addLayer(L.marker(latlng, { pane: 'orvus-grid', interactive: false,
      icon: L.divIcon({ className: 'orvus-graticule-label', html: '', iconSize: null, iconAnchor: anchor })
    }).on('add', function (ev) { ev.target.getElement().textContent = text; }));
  };
  return function () {
    grid.clearLayers();
    var b = map.getBounds(), span = Math.max(b.getEast() - b.getWest(), 1e-6);
    var steps = [0.05, 0.1, 0.2, 0.25, 0.5, 1, 2, 5, 10, 15, 30, 45];
    var step = steps.find(function (s) { return span / s <= 10; }) || 90;
    var w = Math.floor(b.getWest() / step) * step, e = b.getEast();
    var s = Math.max(-85, Math.floor(b.getSouth() / step) * step), n = Math.min(85, b.getNorth());
    var style = { pane: 'orvus-grid', color: '#7d93a8', weight: 0.6, opacity: 0.6, interactive: false };
    for (var lon = w; lon <= e + 1e-9; lon += step) {
      grid.addLayer(L.polyline([[-85, lon], [85, lon]], style));
      addLabel([b.getSouth(), lon], [-2, 14], label(near(lon, 0), true));
    }
    for (var lat = s; lat <= n + 1e-9; lat += step) {
      if (lat < -85) continue;
      grid.addLayer(L.polyline([[lat, w - step], [lat, e + step]], style));
      addLabel([lat, b.getWest()], [-3, 14], label(lat, false));
    }
  };
}

// A box on the map for notes and the legend.
function note(map, position, id) {
  var box = L.DomUtil.create('div', 'orvus-box');
  if (id) box.id = id;
  var control = L.control({ position: position });
  control.onAdd = function () { return box; };
  control.addTo(map);
  L.DomEvent.disableClickPropagation(box);
  return box;
}

return { create: create, graticule: graticule, note: note };
}());
