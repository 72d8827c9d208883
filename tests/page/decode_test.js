// The page's decoder (src/outputs/map_page/columns.js and data.js) on what the page's C++
// writer makes (page_vectors.cpp): columns of known integers, a few bytes derived by hand, and
// a small page whose values are stated here.
//   node decode_test.js <page_vectors program>
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

// The modules as the page's script holds them: joined in order inside one function.
function load(files, name) {
  const dir = path.join(__dirname, '..', '..', 'src', 'outputs', 'map_page');
  const source = files.map((f) => fs.readFileSync(path.join(dir, f), 'utf8')).join('\n');
  return new Function(source + '\nreturn ' + name + ';')();
}
const columns = load(['columns.js'], 'columns');
const pageData = load(['columns.js', 'data.js'], 'pageData');
const vectors = JSON.parse(execFileSync(process.argv[2], { maxBuffer: 1 << 26 }).toString());

// Typed arrays compared as lists (NaN equal to NaN).
const same = (actual, expected, what) => assert.deepEqual(Array.from(actual), expected, what);

test('columns of integers read back exactly, 2^53 in magnitude included', () => {
  assert.equal(vectors.columns.length, 3);
  for (const c of vectors.columns) {
    const r = new columns.Reader(c.bytes);
    const read = c.values.map(() => r[c.read]());
    assert.deepEqual(read, c.values.map((v) => (v === null ? NaN : v)), c.read);
    assert.equal(r.i, r.b.length, c.read + ': every byte read');
  }
});

test('the codes are the bytes derived by hand', () => {
  assert.deepEqual(vectors.pinned, { 'uint 300': 'rAI=', 'sint -1': 'AQ==', 'opt missing, 0': 'AAE=' });
});

test('a page decodes to the values written', () => {
  const html = vectors.page;
  const json = /<script type="application\/json" id="orvus-data">([^]*?)<\/script>/.exec(html)[1];
  const data = pageData.decode(JSON.parse(json));
  assert.equal(data.t0, Date.UTC(2025, 6, 1));
  assert.equal(data.t1 - data.t0, 2 * 86400000);
  assert.deepEqual(data.satellites, ['SAT A', 'SAT B']);

  // Targets: centres to 1e-4 deg (FJI's the mean of its points made continuous across
  // +-180), geometries to 1e-5 deg, the ring without its closing point, the line across.
  const T = data.targets;
  assert.deepEqual(T.label, ['BOX Box', 'FJI']);
  same(T.lon, [10.5, 179.6667]);
  same(T.lat, [20.5, -17.3333]);
  same(T.geometry.featPart, [0, 1, 3]);
  same(T.geometry.kind, [0, 1, 2]);
  same(T.geometry.partPt, [0, 4, 6, 7]);
  same(T.geometry.lon, [10, 11, 11, 10, 179.5, 180.5, 179]);
  same(T.geometry.lat, [20, 20, 21, 21, -17, -17, -18]);

  // Contacts: the second starts earlier, is open and has no angles nor best point.
  const C = data.contacts;
  assert.equal(C.count, 2);
  same(C.satellite, [0, 1]);
  same(C.target, [0, 1]);
  same(C.number, [1, -7]);
  same(C.start, [1500, 250]);
  same(C.duration, [12.346, 0]);
  assert.equal(C.pass, 'A ');
  same(C.alpha, [-3.14, NaN]);
  same(C.sun, [45.68, NaN]);
  same(C.coverage, [0.25, 1]);
  same(C.bestLon, [10.25, NaN]);
  same(C.bestLat, [20.75, NaN]);
  same(C.swath.featPart, [0, 1, 2]);
  same(C.swath.lon, [10, 10, 11, 11, 179.8, 179.8, 180.2, 180.2]);
  same(C.swath.lat, [20, 21, 21, 20, -17.5, -16.5, -16.5, -17.5]);
  same(C.track.featPart, [0, 1, 1]);
  same(C.track.lon, [10.5, 10.5]);
  same(C.track.lat, [19.5, 21.5]);

  const S = data.schedule;
  assert.equal(S.count, 2);
  same(S.satellite, [1, 0]);
  same(S.contact, [-1, 0]);
  same(S.start, [6 * 3600000, 5 * 3600000]);
  same(S.duration, [4.5, 3]);
  same(S.roll, [-12.34, 7.5]);
  assert.equal(S.maxRoll, 30);
  same(S.swath.lon, [10, 11, 11, 10, 10, 11, 11, 10]);
  const P = S.passes;
  assert.deepEqual(P.stations, ['ALCANTARA', 'CUIABA']);
  same(P.satellite, [0, 1, 0]);
  same(P.station, [0, 1, 0]);
  same(P.aos, [3600000, 7200000, 10800000]);
  same(P.duration, [600, 480.5, 300]);

  // Coverage: a band's first cell counts its column afresh.
  const G = data.coverage;
  assert.equal(G.cellKm, 50);
  same(G.perBand, [4, 4, 3]);
  same(G.band, [0, 0, 2, 2]);
  same(G.col, [1, 3, 0, 2]);
  same(G.accesses, [0, 2, 1, 5]);
  same(G.revisit, [NaN, 12.3, NaN, 100]);
  assert.equal(G.areas.length, 1);
  const series = G.areas[0].series;
  assert.deepEqual(series.map((s) => s.satellite), ['all', 'SAT A']);
  same(series[0].t, [0, 3600500, 7200000]);
  same(series[0].f, [0, 0.5, 1]);
  same(series[1].t, [3600500]);
  same(series[1].f, [0.25]);
});
