// The Natural Earth land and borders of world-atlas, a TopoJSON topology: its arcs are
// quantized and delta-encoded (positions = cumulative sums x scale + translate), a ring is
// the join of its arcs (~i is arc i reversed; each arc after the first starts where the
// previous one ended, so its first position is dropped). Borders are the arcs two different
// countries share.

export function arcs(topology) {
  const t = topology.transform;
  return topology.arcs.map((arc) => {
    let x = 0, y = 0;
    return arc.map((p) => {
      if (!t) return [p[0], p[1]];
      x += p[0];
      y += p[1];
      return [x * t.scale[0] + t.translate[0], y * t.scale[1] + t.translate[1]];
    });
  });
}

function ring(decoded, indices) {
  const out = [];
  for (const i of indices) {
    const arc = i < 0 ? decoded[~i].slice().reverse() : decoded[i];
    for (let k = out.length ? 1 : 0; k < arc.length; k++) out.push(arc[k]);
  }
  return out;
}

// A ring that crosses +-180 (Chukotka, Fiji) goes on beyond it, so that no edge spans the map
// from one side to the other; a ring around a pole (Antarctica), which cannot, stays as it is.
export function unwrap(r) {
  const out = [r[0]];
  let shift = 0;
  for (let i = 1; i < r.length; i++) {
    const step = r[i][0] - r[i - 1][0];
    if (step > 180) shift -= 360;
    else if (step < -180) shift += 360;
    out.push(shift ? [r[i][0] + shift, r[i][1]] : r[i]);
  }
  return shift ? r : out;
}

// The object's polygons as one GeoJSON MultiPolygon's coordinates.
export function polygons(decoded, object) {
  const out = [];
  const ringOf = (indices) => unwrap(ring(decoded, indices));
  const add = (g) => {
    if (g.type === 'Polygon') out.push(g.arcs.map(ringOf));
    else if (g.type === 'MultiPolygon') for (const p of g.arcs) out.push(p.map(ringOf));
    else if (g.type === 'GeometryCollection') g.geometries.forEach(add);
  };
  add(object);
  return out;
}

// The arcs that two different geometries of a GeometryCollection share, as MultiLineString
// coordinates.
export function borders(decoded, collection) {
  const owners = new Map();
  collection.geometries.forEach((g, n) => {
    const walk = (a) => {
      if (Array.isArray(a)) return a.forEach(walk);
      const i = a < 0 ? ~a : a;
      if (!owners.has(i)) owners.set(i, new Set());
      owners.get(i).add(n);
    };
    walk(g.arcs || []);
  });
  return [...owners].filter(([, who]) => who.size > 1).sort((a, b) => a[0] - b[0])
    .map(([i]) => decoded[i]);
}
