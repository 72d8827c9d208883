// The console's pure modules under node: the recorder's line between the levels the plan
// gives, and the TopoJSON decoding of the land and borders, against hand-derived values.
//   node modules_test.mjs CONSOLE_DIR
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';

const dir = process.argv[2];
const load = (name) => import('data:text/javascript,' +
  encodeURIComponent(readFileSync(join(dir, name), 'utf8')));
const { profile } = await load('recorder.js');
const topo = await load('topojson.js');
const S = 1000; // ms

// An image of 4 Gbit at 50 s; a pass from 100 s to 200 s at 0.1 Gbit/s sends the 4 Gbit in
// 40 s; an image of 2 Gbit at 300 s starts from an empty recorder.
const pass = [{ aos: 100 * S, los: 200 * S, rate: 0.1 }];
assert.deepEqual(profile([{ end: 50 * S, data: 4, after: 4 }, { end: 300 * S, data: 2, after: 2 }],
                         pass, 0, 1000 * S),
  [[0, 0], [50 * S, 0], [50 * S, 4], [100 * S, 4], [140 * S, 0], [300 * S, 0], [300 * S, 2],
   [1000 * S, 2]]);
// The plan says 3 Gbit were left before the second image: the pass stops at 3 (after 10 s).
assert.deepEqual(profile([{ end: 50 * S, data: 4, after: 4 }, { end: 300 * S, data: 2, after: 5 }],
                         pass, 0, 1000 * S).slice(3, 7),
  [[100 * S, 4], [110 * S, 3], [300 * S, 3], [300 * S, 5]]);
// No pass between: what the plan says was sent drops at the image; after the last image the
// pass empties the recorder (20 s at 0.1 Gbit/s).
assert.deepEqual(profile([{ end: 50 * S, data: 4, after: 4 }, { end: 60 * S, data: 2, after: 2 }],
                         pass, 0, 1000 * S),
  [[0, 0], [50 * S, 0], [50 * S, 4], [60 * S, 4], [60 * S, 0], [60 * S, 2], [100 * S, 2],
   [120 * S, 0], [1000 * S, 0]]);
// Two passes at once: one at a time, the second from the first one's LOS (200 s), at its own
// rate (1 Gbit/s: the 40 Gbit left go in 40 s).
const two = [{ aos: 100 * S, los: 200 * S, rate: 0.1 }, { aos: 150 * S, los: 250 * S, rate: 1 }];
assert.deepEqual(profile([{ end: 50 * S, data: 50, after: 50 }], two, 0, 1000 * S),
  [[0, 0], [50 * S, 0], [50 * S, 50], [100 * S, 50], [200 * S, 40], [200 * S, 40], [240 * S, 0],
   [1000 * S, 0]]);
// A pass with no rate sends nothing; an image without a level gives no line.
assert.deepEqual(profile([{ end: 50 * S, data: 1, after: 1 }], [{ aos: 60 * S, los: 90 * S }], 0, 100 * S),
  [[0, 0], [50 * S, 0], [50 * S, 1], [100 * S, 1]]);
assert.equal(profile([{ end: 50 * S, data: null, after: null }], pass, 0, 100 * S), null);

// Two unit squares side by side, quantized by 0.5 and offset by (10, 20): arc 0 the shared
// edge (x = 1 from y = 0 to 1), arc 1 the rest of the left square, arc 2 the rest of the right.
const topology = {
  type: 'Topology',
  transform: { scale: [0.5, 0.5], translate: [10, 20] },
  arcs: [[[2, 0], [0, 2]], [[2, 2], [-2, 0], [0, -2], [2, 0]], [[2, 0], [2, 0], [0, 2], [-2, 0]]],
  objects: {
    countries: { type: 'GeometryCollection', geometries: [
      { type: 'Polygon', arcs: [[0, 1]] }, { type: 'Polygon', arcs: [[2, -1]] }] },
    land: { type: 'GeometryCollection', geometries: [{ type: 'MultiPolygon', arcs: [[[0, 1]], [[2, -1]]] }] },
  },
};
const decoded = topo.arcs(topology);
assert.deepEqual(decoded[0], [[11, 20], [11, 21]]);
assert.deepEqual(topo.polygons(decoded, topology.objects.countries), [
  [[[11, 20], [11, 21], [10, 21], [10, 20], [11, 20]]],
  [[[11, 20], [12, 20], [12, 21], [11, 21], [11, 20]]]]);
assert.equal(topo.polygons(decoded, topology.objects.land).length, 2);
assert.deepEqual(topo.borders(decoded, topology.objects.countries), [[[11, 20], [11, 21]]]);
// A ring across +-180 goes on beyond it and comes back; one around a pole is left whole.
assert.deepEqual(topo.unwrap([[179, 1], [-179, 1], [-179, 2], [179, 2], [179, 1]]),
  [[179, 1], [181, 1], [181, 2], [179, 2], [179, 1]]);
const cap = [[-180, -80], [-90, -80], [0, -80], [90, -80], [180, -80], [180, -90], [-180, -90],
             [-180, -80]];
assert.deepEqual(topo.unwrap(cap), cap);
console.log('console modules: ok');
