// A satellite's recorder over a plan, as a line of [time ms, Gbit] points, from what the plan
// says at each image: its data and the recorder just after it. Between images the recorder
// empties during the satellite's station passes at the station's rate, one pass at a time
// (each from its AOS or the previous pass's LOS, whichever is later), never below the level
// the next image starts from; what the passes could not send by then (the scheduler sends
// only data recorded before a pass starts) drops at that image. After the last image the
// passes empty it.
//
// shots: [{end, data, after}] by end (ms, Gbit); passes: [{aos, los, rate}] by AOS (ms,
// Gbit/s; a pass without a rate sends nothing). Returns null when an image has no level.

export function profile(shots, passes, start, end) {
  if (shots.some((s) => typeof s.after !== 'number' || typeof s.data !== 'number')) return null;
  const points = [[start, 0]];
  let level = 0;
  let cursor = start; // passes have been used up to here
  const drain = (until, floor) => {
    for (const p of passes) {
      if (p.aos >= until) break;
      if (!(p.rate > 0) || p.los <= cursor) continue;
      const a = Math.max(p.aos, cursor), b = Math.min(p.los, until);
      if (b <= a) continue;
      if (level > floor) {
        const sent = Math.min(p.rate * (b - a) / 1000, level - floor);
        points.push([a, level]);
        level -= sent;
        points.push([a + (sent / p.rate) * 1000, level]);
      }
      cursor = b;
    }
    cursor = Math.max(cursor, until);
  };
  for (const s of shots) {
    const before = Math.max(0, s.after - s.data);
    drain(s.end, before);
    points.push([s.end, level]);
    if (level !== before) points.push([s.end, before]);
    level = s.after;
    points.push([s.end, level]);
  }
  drain(end, 0);
  points.push([end, level]);
  return points;
}
