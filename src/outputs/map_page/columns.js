// The page's columns (map_page.cpp writes them) read back into typed arrays: integers as
// base64 of their variable-length codes, and geometries as runs of such integers. Nothing here
// touches the document or the map, so that node tests it on columns the C++ writer makes.
var columns = (function () {
'use strict';

function bytesOf(b64) {
  var s = atob(b64 || ''), n = s.length, out = new Uint8Array(n);
  for (var i = 0; i < n; i++) out[i] = s.charCodeAt(i);
  return out;
}

// Codes of 7 bits a byte, least significant first, the high bit set on every byte but the
// last. Signed values are zigzag-coded (0, -1, 1, -2 ... as 0, 1, 2, 3 ...); optional ones
// are 0 when missing, else their signed code plus 1. Exact to 2^53 in magnitude: a code of
// more than 7 bytes (2^49 and up) is read again as a BigInt, whose low bit (the sign of a
// signed value) a Number above 2^53 would lose. Reading past the end gives 0.
function Reader(b64) { this.b = bytesOf(b64); this.i = 0; }
Reader.prototype.code = function () {
  var b = this.b, at = this.i, v = 0, m = 1, c;
  do { c = b[this.i++]; v += (c & 127) * m; m *= 128; } while (c & 128);
  return m > 562949953421312 ? this.long(at) : v;  // m = 128^bytes, 2^49 after 7
};
// The code at byte `at`, as a BigInt.
Reader.prototype.long = function (at) {
  var b = this.b, v = BigInt(0), shift = BigInt(0), seven = BigInt(7), c;
  do {
    c = b[at++];
    v += BigInt(c & 127) << shift;
    shift += seven;
  } while (c & 128);
  return v;
};
// The value of a zigzag code, a Number or a BigInt.
function unzig(u) {
  if (typeof u === 'number') return u % 2 ? -(u + 1) / 2 : u / 2;
  var one = BigInt(1);
  return Number(u & one ? -((u + one) >> one) : u >> one);
}
Reader.prototype.uint = function () { return Number(this.code()); };
Reader.prototype.sint = function () { return unzig(this.code()); };
Reader.prototype.opt = function () {  // NaN when missing
  var u = this.code();
  if (typeof u === 'number') return u ? unzig(u - 1) : NaN;
  return unzig(u - BigInt(1));
};

// n values read as `read` ('uint', 'sint' or 'opt') and divided by `scale`.
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
  var r = new Reader(b64), len = r.b.length;
  var featPart = new Uint32Array(n + 1), kind = new Uint8Array(len), partPt = new Uint32Array(len + 1);
  var lon = new Float64Array(len >> 1), lat = new Float64Array(len >> 1), np = 0, pt = 0;
  for (var f = 0; f < n; f++) {
    featPart[f] = np;
    var rx = refX ? refX(f) : 0, ry = refY ? refY(f) : 0;
    for (var parts = r.uint(), p = 0; p < parts; p++) {
      var h = r.uint(), count = (h - h % 4) / 4, x = rx, y = ry;
      kind[np] = h % 4;
      for (var k = 0; k < count; k++) {
        x += r.sint();
        y += r.sint();
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
// Bounds `b` (anything with extend([lat, lon])) extended by feature f's points.
function featureBounds(g, f, b) {
  for (var k = g.partPt[g.featPart[f]]; k < g.partPt[g.featPart[f + 1]]; k++) {
    b.extend([g.lat[k], g.lon[k]]);
  }
  return b;
}

return { Reader: Reader, column: column, geometry: geometry, featureParts: featureParts,
         featureBounds: featureBounds };
}());
