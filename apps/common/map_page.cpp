// The map page: the assets, the data as JSON and the page's script, in one HTML file.
#include "map_page.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>

#include "sha256.hpp"

namespace orvus::page {

// Valid UTF-8 passes; any other byte becomes U+FFFD.
std::string utf8(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    bool ok = n > 0 && i + n <= s.size();
    for (std::size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
    if (ok) {
      out.append(s, i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string json_string(std::string_view s, bool in_script) {
  std::string out = "\"";
  for (const char ch : utf8(s)) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || (in_script && (ch == '<' || ch == '>' || ch == '&'))) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

namespace {

std::string num(double v, int decimals) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// Longitude and latitude to 1e-5 deg (about a metre).
std::string json_point(const Point& p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "[%.5f,%.5f]", p.lon_deg, p.lat_deg);
  return std::isfinite(p.lon_deg) && std::isfinite(p.lat_deg) ? buf : "null";
}

std::string json_line(const Line& line) {
  std::string out = "[";
  for (const Point& p : line) {
    if (!std::isfinite(p.lon_deg) || !std::isfinite(p.lat_deg)) continue;
    if (out.size() > 1) out += ',';
    out += json_point(p);
  }
  out += ']';
  return out;
}

std::string json_lines(const std::vector<Line>& lines) {
  std::string out = "[";
  for (const Line& line : lines) {
    if (out.size() > 1) out += ',';
    out += json_line(line);
  }
  out += ']';
  return out;
}

std::string json_optional(const std::optional<double>& v, int decimals) {
  return v ? num(*v, decimals) : "null";
}

// Appends `"name":value` to a JSON object being written, after a comma but for the first.
void field(std::string& out, const char* name, const std::string& value) {
  if (out.back() != '{') out += ',';
  out += '"';
  out += name;
  out += "\":";
  out += value;
}

std::string page_data(const Page& page) {
  const Header& h = page.header;
  std::string out = "{\"header\":{";
  field(out, "title", json_string(h.title));
  field(out, "satellites", json_string(h.satellites));
  field(out, "location", json_string(h.location));
  field(out, "interval", json_string(h.interval));
  field(out, "alpha", json_string(h.alpha));
  field(out, "beta", json_string(h.beta));
  out += "},\n\"targets\":[";
  for (std::size_t i = 0; i < page.targets.size(); ++i) {
    out += i ? ",\n{" : "\n{";
    field(out, "name", json_string(page.targets[i].name));
    field(out, "rings", json_lines(page.targets[i].rings));
    out += '}';
  }
  out += "],\n\"contacts\":[";
  for (std::size_t i = 0; i < page.contacts.size(); ++i) {
    const Contact& c = page.contacts[i];
    out += i ? ",\n{" : "\n{";
    field(out, "id", json_string(c.id));
    field(out, "satellite", json_string(c.satellite));
    field(out, "target", std::to_string(c.target));
    field(out, "number", std::to_string(c.number));
    field(out, "start", json_string(c.start));
    field(out, "duration", num(c.duration_s, 3));
    field(out, "pass", c.pass == 'A' ? "\"A\"" : c.pass == 'D' ? "\"D\"" : "\"\"");
    field(out, "best_alpha", json_optional(c.best_alpha_deg, 4));
    field(out, "sun", json_optional(c.sun_elevation_deg, 3));
    field(out, "coverage", num(c.coverage, 6));
    field(out, "swath", json_lines(c.swath));
    field(out, "track", json_line(c.track));
    field(out, "best", c.best_point ? json_point(*c.best_point) : "null");
    out += '}';
  }
  out += "\n]}";
  return out;
}

// The page around its data; @...@ marks where the assets and data go.
constexpr std::string_view kTemplate = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src @SCRIPT_HASHES@; style-src 'unsafe-inline'; img-src data:">
<title>ORVUS map</title>
<style>@LEAFLET_CSS@</style>
<style>
body { margin: 0; font: 14px/1.35 sans-serif; color: #222; }
header { padding: 8px 14px; background: #26394d; color: #fff; }
header h1 { margin: 0 0 4px; font-size: 18px; }
header span { margin-right: 18px; white-space: nowrap; }
header b { color: #c9d6e3; font-weight: normal; }
#orvus-filters { padding: 6px 14px; background: #eef1f4; border-bottom: 1px solid #ccd; }
#orvus-filters label { margin-right: 16px; }
#orvus-filters input[type=number] { width: 6em; }
#orvus-map { height: 62vh; background: #d4e6f1; }
.orvus-hidden { display: none; }
.orvus-swath.orvus-selected { stroke: #d62728; stroke-width: 4px; fill-opacity: 0.7; }
#orvus-table-wrap { padding: 6px 14px 20px; }
table { border-collapse: collapse; }
th, td { padding: 3px 9px; border-bottom: 1px solid #dde; text-align: right; }
th { cursor: pointer; background: #eef1f4; user-select: none; }
th.orvus-asc::after { content: " \25B2"; }
th.orvus-desc::after { content: " \25BC"; }
td.orvus-text { text-align: left; }
tr.orvus-contact-row { cursor: pointer; }
tr.orvus-contact-row:hover { background: #f3f6fa; }
tr.orvus-row-selected { background: #fde3e3 !important; }
.orvus-pass-A { color: #1f77b4; font-weight: bold; }
.orvus-pass-D { color: #ff7f0e; font-weight: bold; }
.orvus-graticule-label { color: #56708a; font-size: 11px; white-space: nowrap; }
</style>
<script>@LEAFLET_JS@</script>
<script>@TOPOJSON_JS@</script>
<script type="application/json" id="orvus-world">@WORLD@</script>
<script type="application/json" id="orvus-data">@DATA@</script>
</head>
<body>
<header><h1 id="orvus-title"></h1>
<span><b>Satellite(s)</b> <span id="orvus-satellites"></span></span>
<span><b>Location</b> <span id="orvus-location"></span></span>
<span><b>Interval</b> <span id="orvus-interval"></span></span>
<span><b>ALPHA</b> <span id="orvus-alpha"></span></span>
<span><b>BETA</b> <span id="orvus-beta"></span></span></header>
<div id="orvus-filters">
<label>Pass <select id="orvus-pass"><option value="">A and D</option><option value="A">A (ascending)</option><option value="D">D (descending)</option></select></label>
<label>Sun elevation at least <input type="number" id="orvus-min-sun" step="1" min="-90" max="90"> &deg;</label>
<label>|BEST ALPHA| at most <input type="number" id="orvus-max-alpha" step="1" min="0" max="90"> &deg;</label>
<span id="orvus-count"></span>
</div>
<div id="orvus-map"></div>
<div id="orvus-table-wrap"><table id="orvus-contacts"><thead><tr>
<th data-key="number">No.</th><th data-key="satellite">Satellite</th><th data-key="target">Target</th>
<th data-key="start">Local start</th><th data-key="duration">Duration (s)</th><th data-key="pass">Pass</th>
<th data-key="best_alpha">BEST ALPHA (&deg;)</th><th data-key="sun">Sun elevation (&deg;)</th><th data-key="coverage">Coverage (%)</th>
</tr></thead><tbody></tbody></table></div>
<script>@PAGE_JS@</script>
</body>
</html>
)html";

// The page's own script. Every text from the inputs reaches the document as text (textContent
// or a text node), never as markup.
constexpr std::string_view kScript = R"js(
(function () {
'use strict';
var data = JSON.parse(document.getElementById('orvus-data').textContent);
var world = JSON.parse(document.getElementById('orvus-world').textContent);
var h = data.header;
document.title = h.title;
['title', 'satellites', 'location', 'interval', 'alpha', 'beta'].forEach(function (k) {
  document.getElementById('orvus-' + k).textContent = h[k];
});
var colours = { A: '#1f77b4', D: '#ff7f0e', '': '#7f7f7f' };

// Longitudes kept continuous along a line, the first within 180 deg of `ref`.
function near(lon, ref) {
  while (lon - ref > 180) lon -= 360;
  while (lon - ref < -180) lon += 360;
  return lon;
}
function unwrap(line, ref) {
  var out = [], prev = ref;
  line.forEach(function (p) { prev = near(p[0], prev); out.push([p[1], prev]); });
  return out;
}
function centre(rings) {
  var s = 0, n = 0, ref = rings.length && rings[0].length ? rings[0][0][0] : 0;
  rings.forEach(function (r) { r.forEach(function (p) { s += near(p[0], ref); n++; }); });
  return n ? near(s / n, 0) : 0;
}
// A contact names its target by its index in data.targets.
var targetCentre = data.targets.map(function (t) { return centre(t.rings); });
function textBlock(text) {
  var d = document.createElement('div');
  d.textContent = text;
  return d;
}
var ref0 = data.targets.length ? centre(data.targets[0].rings) : 0;

// A view first: Leaflet draws the layers added to a map only once it has one.
var map = L.map('orvus-map', { zoomSnap: 0.25, worldCopyJump: false, zoomControl: false })
              .setView([0, ref0], 2);
L.control.zoom({ position: 'topright' }).addTo(map);
window.orvusMap = map;
map.attributionControl.setPrefix('Leaflet');
map.attributionControl.addAttribution('Land and borders: Natural Earth 1:50m');
map.createPane('orvus-land').style.zIndex = 250;
map.createPane('orvus-grid').style.zIndex = 300;

var extent = { min: 180, max: -180 };
function note(latlngs) {
  latlngs.forEach(function (p) { extent.min = Math.min(extent.min, p[1]); extent.max = Math.max(extent.max, p[1]); });
  return latlngs;
}
var drawn = [];  // what the first view fits
data.targets.forEach(function (t, i) {
  var ref = targetCentre[i];
  var layer = L.polygon(t.rings.map(function (r) { return note(unwrap(r, ref)); }), {
    color: '#d62728', weight: 2.5, fillOpacity: 0.12, className: 'orvus-target', interactive: true
  }).addTo(map).bindTooltip(textBlock(t.name));
  drawn.push(layer);
});

function fmt(v, d) { return v === null || v === undefined ? '' : v.toFixed(d); }
function fields(c) {
  var target = data.targets[c.target] ? data.targets[c.target].name : '';
  return [['No.', String(c.number)], ['Satellite', c.satellite], ['Target', target],
          ['Local start', c.start], ['Duration (s)', fmt(c.duration, 1)], ['Pass', c.pass],
          ['BEST ALPHA (\u00b0)', fmt(c.best_alpha, 2)], ['Sun elevation (\u00b0)', fmt(c.sun, 1)],
          ['Coverage (%)', fmt(c.coverage * 100, 1)]];
}
function tooltip(c) {
  var t = document.createElement('div');
  fields(c).forEach(function (f) {
    var line = document.createElement('div');
    line.textContent = f[0] + ': ' + f[1];
    t.appendChild(line);
  });
  return t;
}

var tbody = document.querySelector('#orvus-contacts tbody');
var items = data.contacts.map(function (c) {
  var ref = c.target < targetCentre.length ? targetCentre[c.target] : ref0;
  var colour = colours[c.pass] || colours[''];
  var rings = c.swath.map(function (r) { return note(unwrap(r, ref)); });
  var closed = rings.length && rings[0].length > 3;
  var opts = { color: colour, weight: 1.5, fillColor: colour, fillOpacity: 0.45, className: 'orvus-swath' };
  var swath = closed ? L.polygon(rings, opts) : L.polyline(rings, opts);
  var extra = [];
  if (c.track.length >= 2) {
    extra.push(L.polyline(note(unwrap(c.track, ref)), {
      color: '#333', weight: 1, dashArray: '4 3', interactive: false, className: 'orvus-track'
    }));
  }
  if (c.best) {
    extra.push(L.circleMarker([c.best[1], near(c.best[0], ref)], {
      radius: 3.5, color: '#000', weight: 1, fillColor: '#000', fillOpacity: 1,
      interactive: false, className: 'orvus-best'
    }));
  }
  swath.addTo(map).bindTooltip(tooltip(c), { sticky: true });
  extra.forEach(function (l) { l.addTo(map); });
  swath.getElement().setAttribute('data-contact', c.id);
  var row = document.createElement('tr');
  row.className = 'orvus-contact-row';
  row.setAttribute('data-contact', c.id);
  fields(c).forEach(function (f, k) {
    var td = document.createElement('td');
    td.textContent = f[1];
    if (k === 1 || k === 2 || k === 3) td.className = 'orvus-text';
    if (k === 5) td.className = 'orvus-pass-' + c.pass;
    row.appendChild(td);
  });
  var item = { c: c, swath: swath, extra: extra, row: row };
  row.addEventListener('click', function () { select(item, true); });
  swath.on('click', function () { select(item, false); });
  drawn.push(swath);
  return item;
});

var selected = null;
function select(item, zoom) {
  if (selected) {
    L.DomUtil.removeClass(selected.swath.getElement(), 'orvus-selected');
    L.DomUtil.removeClass(selected.row, 'orvus-row-selected');
  }
  selected = item;
  L.DomUtil.addClass(item.swath.getElement(), 'orvus-selected');
  L.DomUtil.addClass(item.row, 'orvus-row-selected');
  item.swath.bringToFront();
  // At once, not animated: the view is where the swath is as soon as the row is clicked.
  if (zoom) map.fitBounds(item.swath.getBounds(), { padding: [30, 30], maxZoom: 10, animate: false });
  else item.row.scrollIntoView({ block: 'nearest' });
}

// The table: sorted by a column on a click on its head, again for the other order.
var sortKey = 'number', sortDir = 1;
// Local times "DD/MM/YYYY hh:mm:ss.sss" sort as "YYYY/MM/DD hh:mm:ss.sss", targets by name.
function key(c) {
  var v = sortKey === 'target' ? fields(c)[2][1] : c[sortKey], m = sortKey === 'start' && /^(\d\d)\/(\d\d)\/(\d+)(.*)$/.exec(v);
  return m ? m[3] + '/' + m[2] + '/' + m[1] + m[4] : v;
}
function render() {
  items.slice().sort(function (a, b) {
    var x = key(a.c), y = key(b.c);
    if (x === null || x === '') return 1;
    if (y === null || y === '') return -1;
    if (x < y) return -sortDir;
    if (x > y) return sortDir;
    return a.c.number - b.c.number;
  }).forEach(function (item) { tbody.appendChild(item.row); });
  document.querySelectorAll('#orvus-contacts th').forEach(function (th) {
    th.classList.toggle('orvus-asc', th.getAttribute('data-key') === sortKey && sortDir > 0);
    th.classList.toggle('orvus-desc', th.getAttribute('data-key') === sortKey && sortDir < 0);
  });
}
document.querySelectorAll('#orvus-contacts th').forEach(function (th) {
  th.addEventListener('click', function () {
    var key = th.getAttribute('data-key');
    sortDir = key === sortKey ? -sortDir : 1;
    sortKey = key;
    render();
  });
});

// Filters: the rows and the map's layers of the contacts they leave out are hidden.
function number(id) {
  var v = document.getElementById(id).value;
  return v === '' || isNaN(Number(v)) ? null : Number(v);
}
function filter() {
  var pass = document.getElementById('orvus-pass').value;
  var minSun = number('orvus-min-sun'), maxAlpha = number('orvus-max-alpha');
  var shown = 0;
  items.forEach(function (item) {
    var c = item.c;
    var ok = (pass === '' || c.pass === pass) &&
             (minSun === null || (c.sun !== null && c.sun >= minSun)) &&
             (maxAlpha === null || (c.best_alpha !== null && Math.abs(c.best_alpha) <= maxAlpha));
    item.row.classList.toggle('orvus-hidden', !ok);
    [item.swath].concat(item.extra).forEach(function (l) {
      l.getElement().classList.toggle('orvus-hidden', !ok);
    });
    if (!ok) item.swath.closeTooltip();
    if (ok) shown++;
  });
  document.getElementById('orvus-count').textContent =
      shown + ' of ' + items.length + ' contact(s) shown';
}
['orvus-pass', 'orvus-min-sun', 'orvus-max-alpha'].forEach(function (id) {
  document.getElementById(id).addEventListener('input', filter);
  document.getElementById(id).addEventListener('change', filter);
});

// Land and borders, with copies a turn east or west where the drawing goes beyond +-180.
// Rings across +-180 (Chukotka, Wrangel, Fiji, Antarctica) are made continuous, so that no edge
// spans the map from one side to the other.
var land = topojson.feature(world, world.objects.land);
(land.features || [land]).forEach(function (f) {
  var g = f.geometry, polygons = g.type === 'Polygon' ? [g.coordinates] : g.coordinates;
  polygons.forEach(function (rings) {
    rings.forEach(function (ring) {
      for (var k = 1; k < ring.length; k++) ring[k] = [near(ring[k][0], ring[k - 1][0]), ring[k][1]];
    });
  });
});
var borders = topojson.mesh(world, world.objects.countries, function (a, b) { return a !== b; });
[-360, 0, 360].forEach(function (shift) {
  if ((shift < 0 && extent.min >= -180) || (shift > 0 && extent.max <= 180)) return;
  var to = function (c) { return L.latLng(c[1], c[0] + shift); };
  L.geoJSON(land, { pane: 'orvus-land', interactive: false, coordsToLatLng: to, noClip: true,
    style: { stroke: false, fillColor: '#efeee4', fillOpacity: 1, fillRule: 'nonzero',
            className: 'orvus-land' } }).addTo(map);
  L.geoJSON(borders, { pane: 'orvus-land', interactive: false, coordsToLatLng: to,
    style: { color: '#8a8a80', weight: 0.8, fill: false, className: 'orvus-border' } }).addTo(map);
});

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
  for (var lon = w; lon <= e + 1e-9; lon += step) {
    grid.addLayer(L.polyline([[-85, lon], [85, lon]], style));
    grid.addLayer(L.marker([b.getSouth(), lon], { pane: 'orvus-grid', interactive: false,
      icon: L.divIcon({ className: 'orvus-graticule-label', html: '', iconSize: null, iconAnchor: [-2, 14] })
    }).on('add', function (ev) { ev.target.getElement().textContent = label(near(ev.target.getLatLng().lng, 0), true); }));
  }
  for (var lat = s; lat <= n + 1e-9; lat += step) {
    if (lat < -85) continue;
    grid.addLayer(L.polyline([[lat, w - step], [lat, e + step]], style));
    grid.addLayer(L.marker([lat, b.getWest()], { pane: 'orvus-grid', interactive: false,
      icon: L.divIcon({ className: 'orvus-graticule-label', html: '', iconSize: null, iconAnchor: [-3, 14] })
    }).on('add', function (ev) { ev.target.getElement().textContent = label(ev.target.getLatLng().lat, false); }));
  }
}
map.on('moveend', graticule);

if (drawn.length) map.fitBounds(L.featureGroup(drawn).getBounds(), { padding: [20, 20] });
else map.setView([0, 0], 2);
render();
filter();
graticule();
}());
)js";

}  // namespace

std::string page_html(const Page& page) {
  std::string out;
  std::string_view t = kTemplate;
  // The scripts run by their hashes: no other inline script (nor handler) can.
  const std::string hashes =
      csp_hash(asset_leaflet_js()) + " " + csp_hash(asset_topojson_js()) + " " + csp_hash(kScript);
  const std::pair<std::string_view, std::string> parts[] = {
      {"@SCRIPT_HASHES@", hashes},
      {"@LEAFLET_CSS@", std::string(asset_leaflet_css())},
      {"@LEAFLET_JS@", std::string(asset_leaflet_js())},
      {"@TOPOJSON_JS@", std::string(asset_topojson_js())},
      {"@WORLD@", std::string(asset_countries_50m())},
      {"@DATA@", page_data(page)},
      {"@PAGE_JS@", std::string(kScript)}};
  for (const auto& [mark, text] : parts) {
    const auto at = t.find(mark);
    out.append(t.substr(0, at));
    out.append(text);
    t.remove_prefix(at + mark.size());
  }
  out.append(t);
  return out;
}

bool write_page(const Page& page, const std::filesystem::path& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << page_html(page);
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace orvus::page
