// The page's data decoded once from the columns of its JSON: the header, the satellites, the
// targets (centres and geometries), the contacts, the land and borders, and when present the
// schedule and the coverage grid. Times in milliseconds from the interval's start, angles in
// degrees, fractions from 0 to 1, NaN for a value missing. Pure, as the columns are.
var pageData = (function () {
'use strict';
var Reader = columns.Reader, column = columns.column, geometry = columns.geometry;

// Differences from the value before, summed in place.
function summed(a) {
  for (var i = 1; i < a.length; i++) a[i] += a[i - 1];
  return a;
}

// A schedule's acquisitions (their swaths referred to their targets' centres, cx / cy in
// 1e-4 deg) and the station passes, as the contacts are.
function decodeSchedule(S, cx, cy) {
  var n = S.count, target = column(S.target, n, 'uint', 1, Int32Array);
  var start = summed(column(S.start_ms, n, 'sint'));
  var contact = column(S.contact, n, 'uint', 1, Int32Array).map(function (v) { return v - 1; });
  var P = S.passes, np = P.count, aos = summed(column(P.aos_ms, np, 'sint'));
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

// A coverage grid: its cells (band and column, each band's column counted afresh), their
// accesses and longest revisit (hours), and per area its covered fraction against time.
function decodeCoverage(C) {
  var nb = C.edges.length - 1, n = C.count;
  var band = new Uint32Array(n), col = new Uint32Array(n);
  var rb = new Reader(C.band), rc = new Reader(C.column), prev = 0, prevCol = 0;
  for (var i = 0; i < n; i++) {
    band[i] = prev + rb.uint();
    col[i] = band[i] !== prev || i === 0 ? rc.uint() : prevCol + rc.uint();
    prev = band[i];
    prevCol = col[i];
  }
  return {
    cellKm: C.cell_km, edges: C.edges, perBand: column(C.bands, nb, 'uint', 1, Uint32Array),
    count: n, band: band, col: col, accesses: column(C.accesses, n, 'uint', 1, Uint32Array),
    revisit: column(C.max_revisit_dh, n, 'opt', 10),  // NaN below two accesses
    areas: C.areas.map(function (a) {
      return { id: a.id, name: a.name, target: a.target, cells: a.cells, series: a.series.map(function (s) {
        return { satellite: s.satellite, t: summed(column(s.t_ms, s.count, 'sint')),
                 f: column(s.fraction_e4, s.count, 'uint', 1e4) };
      }) };
    })
  };
}

// The page's data from the parsed JSON.
function decode(raw) {
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
  var bestLon = new Float64Array(nC), bestLat = new Float64Array(nC), best = new Reader(C.best_point);
  for (i = 0; i < nC; i++) {
    var dx = best.opt();
    bestLon[i] = isNaN(dx) ? NaN : (cx[target[i]] + dx) / 1e4;
    bestLat[i] = isNaN(dx) ? NaN : (cy[target[i]] + best.sint()) / 1e4;
  }
  var refX = function (f) { return cx[target[f]]; }, refY = function (f) { return cy[target[f]]; };
  var contacts = {
    count: nC, satellite: column(C.satellite, nC, 'uint', 1, Int32Array), target: target,
    number: column(C.number, nC, 'sint', 1, Int32Array), start: summed(column(C.start_ms, nC, 'sint')),
    duration: column(C.duration_ms, nC, 'sint', 1000), pass: C.pass,
    alpha: column(C.best_alpha_cdeg, nC, 'opt', 100), sun: column(C.sun_elevation_cdeg, nC, 'opt', 100),
    coverage: column(C.coverage_e4, nC, 'sint', 1e4), bestLon: bestLon, bestLat: bestLat,
    swath: geometry(C.swath, nC, 1e4, refX, refY),
    track: C.track ? geometry(C.track, nC, 1e4, refX, refY) : null
  };
  // Land and borders, projected when the page was written (pixels at zoom 0, in 1/4096).
  var world = { land: geometry(raw.world.land, 1, 4096), borders: geometry(raw.world.borders, 1, 4096) };
  return { header: raw.header, t0: raw.t0, t1: raw.t1, satellites: raw.satellites.name,
           targets: targets, contacts: contacts, world: world,
           schedule: raw.schedule ? decodeSchedule(raw.schedule, cx, cy) : null,
           coverage: raw.coverage ? decodeCoverage(raw.coverage) : null };
}

return { decode: decode };
}());
