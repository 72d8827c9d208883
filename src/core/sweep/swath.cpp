// The swath rule in continuous time. The sensor line (the arc from tracking point (1) to point
// (2)) sweeps the ground; a target is touched at every instant the line meets it, not only at
// the steps. The steps are a search granularity: between two steps the line's motion is
// smooth, and the instants at which the touching of a target can begin or end are the roots
// of a few event functions of the line:
//   - a vertex (or point) of the target crosses the line's plane within the arc;
//   - an end of the line crosses an edge of the target (a great-circle edge, or a box's
//     meridian or parallel);
//   - the line's great circle becomes tangent to a box's parallel within the arc.
// Every root is found on the exact line (SensorLine) by the Illinois method to a microsecond;
// between consecutive roots the touching does not change and is decided by one exact test. A
// function whose two values on a step both lie on one side, farther from zero than
// kEventCurvature h^2 / 8, has no root there (its second derivative is bounded); closer than
// that, the step is halved until decided.
#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "core/frames/earth_rotation.hpp"
#include "core/frames/tod2ef.hpp"
#include "core/geometry/vec3.hpp"
#include "core/orbit/sgp8.hpp"
#include "core/search/step_workers.hpp"
#include "core/sweep/sweep.hpp"
#include "core/time/eop_table.hpp"
#include "core/time/time_text.hpp"
#include "orvus/constants.hpp"
#include "orvus/geometry.hpp"

namespace orvus::plan {

namespace {

constexpr double kRad = constants::deg_to_rad;
constexpr double kRootTolerance = 1e-6;  // s
constexpr double kSmallestSplit = 1e-3;  // s: a step halved no further than this

using detail::cross;
using detail::dot;
using detail::unit_vector;
double lon_deg(const V3& v) {
  return std::atan2(v[1], v[0]) / kRad;
}
double lat_deg(const V3& v) {
  return std::asin(std::clamp(v[2], -1.0, 1.0)) / kRad;
}

// Central angle of a direction in the line's plane, from the nadir toward u.
double in_plane_angle(const SensorLine& l, const V3& x) {
  return std::atan2(dot(x, l.u), dot(x, l.up));
}
bool within_arc(const SensorLine& l, const V3& x) {
  const double th = in_plane_angle(l, x);
  return l.th[1] <= th && th <= l.th[2];
}

}  // namespace

// ---- the line at any instant ----

LineModel::LineModel(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                     const SweepCache* cache)
    : p_(p),
      orbit_(orbit),
      table_(table),
      sidereal_(cache != nullptr ? cache->sidereal(p.start_day, p.end_day)
                                 : std::make_shared<const detail::SiderealTime>(
                                       UtcInstant{p.start_day, 0.0}, UtcInstant{p.end_day, 0.0})) {}

UtcInstant LineModel::utc_at(double t) const {
  return after(UtcInstant{p_.start_day, p_.start_sec}, t);
}

SensorLine LineModel::at(double t) const {
  SensorLine l;
  l.t = t;
  l.utc = utc_at(t);
  const double day = l.utc.day, sec = l.utc.seconds;
  l.tsince = since_epoch(orbit_.elements().epoch, day, sec);
  const StateVector tod = orbit_.state_at(l.tsince);
  const EarthAt e = earth_at(day + constants::mjd1950_to_jd, sec / 86400.0, table_);
  StateVector ef{};
  EarthTurn(sidereal_->at(e.date1, e.ut1), e).state(tod, ef);
  const V3 r = {ef[0], ef[1], ef[2]};
  const V3 v = {ef[3], ef[4], ef[5]};
  l.r = std::sqrt(dot(r, r));
  l.up = {r[0] / l.r, r[1] / l.r, r[2] / l.r};
  l.R = local_radius(std::asin(std::clamp(l.up[2], -1.0, 1.0)));
  if (!state_in_domain(tod, l.R)) {
    double ld = day, ls = sec + p_.utc_diff * 3600.0;
    normalise(ld, ls);
    DateText text{};
    write_date_text(ld, ls, text);
    state_out_of_domain(p_, orbit_, text, tod, l.R);
  }
  l.u = unit_vector(cross(r, v));
  l.n = cross(l.u, l.up);
  const double alphas[3] = {p_.alpha0, p_.alpha1, p_.alpha2};
  for (int i = 0; i < 3; ++i) {
    const double a = alphas[i] * kRad;
    l.th[i] = std::asin(std::clamp(l.r * std::sin(a) / l.R, -1.0, 1.0)) - a;
    const double c = std::cos(l.th[i]), s = std::sin(l.th[i]);
    l.pt[i] = {c * l.up[0] + s * l.u[0], c * l.up[1] + s * l.u[1], c * l.up[2] + s * l.u[2]};
  }
  return l;
}

namespace {

// ---- what a target offers the line ----

// The event functions of a target: what can start or end its touching.
struct GreatEdge {
  V3 a, b, m;  // ends and unit normal of the great circle through them
};
struct Geometry {
  std::vector<V3> vertices;      // box corners, ring vertices, points, line vertices
  std::vector<GreatEdge> edges;  // great-circle edges of rings and lines
  // A box's meridians and parallels (geocentric degrees), and its own bounds.
  std::vector<double> meridians, parallels;
  BBox box{};
  bool is_box = false;
};

Geometry geometry_of(const Prepared& t) {
  Geometry g;
  auto chain = [&g](const Prepared::Ring& r, bool closed) {
    const std::size_t n = r.v.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (closed && i + 1 == n) break;  // the closing vertex is the first
      g.vertices.push_back(r.v[i]);
    }
    for (std::size_t i = 0; i + 1 < n; ++i) {
      const V3 m = cross(r.v[i], r.v[i + 1]);
      if (!(dot(m, m) > 0.0)) continue;
      g.edges.push_back({r.v[i], r.v[i + 1], unit_vector(m)});
    }
  };
  switch (t.kind) {
    case Prepared::Kind::box: {
      const SearchParams& p = t.p;
      g.is_box = true;
      g.box = {p.gc_lon1, p.gc_lon2, std::max(p.gc_lat1, -90.0), std::min(p.gc_lat2, 90.0)};
      if (!(g.box.lon1 <= g.box.lon2 && g.box.lat1 <= g.box.lat2)) break;  // holds nothing
      for (const double lon : {g.box.lon1, g.box.lon2})
        for (const double lat : {g.box.lat1, g.box.lat2}) g.vertices.push_back(unit(lon, lat));
      if (g.box.lon2 - g.box.lon1 < 360.0) g.meridians = {g.box.lon1, g.box.lon2};
      for (const double lat : {g.box.lat1, g.box.lat2})
        if (std::fabs(lat) < 90.0) g.parallels.push_back(lat);
      break;
    }
    case Prepared::Kind::polygons:
      for (const auto& poly : t.polys)
        for (const auto& ring : poly) chain(ring, true);
      break;
    case Prepared::Kind::lines:
      for (const auto& line : t.lines) chain(line, false);
      break;
    case Prepared::Kind::points:
      g.vertices = t.points;
      break;
  }
  return g;
}

enum class Ev : unsigned char { vertex, edge, meridian, parallel, tangent };

// One event function: its kind, the vertex/edge/meridian/parallel and the end of the line.
struct EventFn {
  Ev kind;
  std::size_t index;
  int end;  // 1 or 2: the end of the line (point (1) or (2)), for edge, meridian, parallel
};

double value(const Geometry& g, const EventFn& e, const SensorLine& l) {
  const V3& end = l.pt[e.end];
  switch (e.kind) {
    case Ev::vertex:
      return dot(l.n, g.vertices[e.index]);
    case Ev::edge:
      return dot(end, g.edges[e.index].m);
    case Ev::meridian: {
      const double lon = g.meridians[e.index] * kRad;
      return -std::sin(lon) * end[0] + std::cos(lon) * end[1];
    }
    case Ev::parallel:
      return end[2] - std::sin(g.parallels[e.index] * kRad);
    case Ev::tangent: {
      const double s = std::sin(g.parallels[e.index] * kRad);
      return l.n[0] * l.n[0] + l.n[1] * l.n[1] - s * s;
    }
  }
  return 1.0;
}

bool lon_in(const BBox& b, double lon) {
  return in_bbox(BBox{b.lon1, b.lon2, -90.0, 90.0}, lon, 0.0);
}

// Whether a root of the event function at line `l` is a touching instant.
bool valid(const Geometry& g, const EventFn& e, const SensorLine& l) {
  const V3& end = l.pt[e.end];
  switch (e.kind) {
    case Ev::vertex:
      return within_arc(l, g.vertices[e.index]);
    case Ev::edge: {
      const GreatEdge& ed = g.edges[e.index];
      return dot(cross(ed.a, end), ed.m) >= 0.0 && dot(cross(end, ed.b), ed.m) >= 0.0;
    }
    case Ev::meridian: {
      const double lon = g.meridians[e.index] * kRad;
      const double lat = lat_deg(end);
      return std::cos(lon) * end[0] + std::sin(lon) * end[1] >= 0.0 && g.box.lat1 <= lat &&
             lat <= g.box.lat2;
    }
    case Ev::parallel:
      return lon_in(g.box, lon_deg(end));
    case Ev::tangent: {
      const double lat = g.parallels[e.index];
      const double h = std::sqrt(l.n[0] * l.n[0] + l.n[1] * l.n[1]);
      if (!(h > 0.0)) return false;
      // The great circle's northernmost point (or southernmost, for a southern parallel).
      const double sgn = lat >= 0.0 ? 1.0 : -1.0;
      const V3 top = {sgn * -l.n[2] * l.n[0] / h, sgn * -l.n[2] * l.n[1] / h, sgn * h};
      return within_arc(l, top) && lon_in(g.box, lon_deg(top));
    }
  }
  return false;
}

// Scratch of one thread: event functions and the roots found.
struct Scratch {
  std::vector<EventFn> fns;
  std::vector<double> fa, fb;
  std::vector<SensorLine> roots;
};

// The event functions of the target that may have a root between lines a and b (all of
// them: the values sort them out).
void functions_of(const Geometry& g, Scratch& s) {
  s.fns.clear();
  for (std::size_t i = 0; i < g.vertices.size(); ++i) s.fns.push_back({Ev::vertex, i, 1});
  for (std::size_t i = 0; i < g.edges.size(); ++i)
    for (int e = 1; e <= 2; ++e) s.fns.push_back({Ev::edge, i, e});
  for (std::size_t i = 0; i < g.meridians.size(); ++i)
    for (int e = 1; e <= 2; ++e) s.fns.push_back({Ev::meridian, i, e});
  for (std::size_t i = 0; i < g.parallels.size(); ++i) {
    for (int e = 1; e <= 2; ++e) s.fns.push_back({Ev::parallel, i, e});
    if (g.parallels[i] != 0.0) s.fns.push_back({Ev::tangent, i, 1});
  }
}

// The line at the root of f between lines a and b, whose values fa and fb have opposite signs:
// the Illinois method (regula falsi with the stale end's value halved) until the root is
// known to a microsecond, from the bracket or from the value against the secant's slope.
template <class F>
SensorLine find_root(const LineModel& model, const F& f, const SensorLine& a, double fa,
                     const SensorLine& b, double fb) {
  double ta = a.t, tb = b.t;
  const double slope = std::fabs(fb - fa) / (tb - ta);
  SensorLine best = std::fabs(fa) < std::fabs(fb) ? a : b;
  double fbest = std::min(std::fabs(fa), std::fabs(fb));
  int side = 0;
  for (int it = 0; it < 80 && tb - ta > kRootTolerance && fbest > slope * kRootTolerance; ++it) {
    double t = (ta * fb - tb * fa) / (fb - fa);
    if (!(t > ta && t < tb)) t = 0.5 * (ta + tb);
    const SensorLine l = model.at(t);
    const double v = f(l);
    if (std::fabs(v) <= fbest) {
      best = l;
      fbest = std::fabs(v);
    }
    if (v == 0.0) break;
    if ((v > 0.0) == (fb > 0.0)) {
      tb = t;
      fb = v;
      if (side == -1) fa *= 0.5;
      side = -1;
    } else {
      ta = t;
      fa = v;
      if (side == +1) fb *= 0.5;
      side = +1;
    }
  }
  return best;
}

// The roots of one event function between lines a and b (values fa, fb) that are touching
// instants, added to `out`.
void roots(const LineModel& model, const Geometry& g, const EventFn& e, const SensorLine& a,
           double fa, const SensorLine& b, double fb, std::vector<SensorLine>& out) {
  const double h = b.t - a.t;
  if ((fa > 0.0) != (fb > 0.0)) {
    const SensorLine r = find_root(
        model, [&](const SensorLine& l) { return value(g, e, l); }, a, fa, b, fb);
    if (valid(g, e, r)) out.push_back(r);
    return;
  }
  // No change of sign: two roots can hide only where the curvature allows.
  if (e.kind == Ev::vertex) return;  // a vertex is crossed once: the plane only moves forward
  if (std::min(std::fabs(fa), std::fabs(fb)) > kEventCurvature * h * h / 8.0) return;
  if (h < kSmallestSplit) return;
  const SensorLine m = model.at(0.5 * (a.t + b.t));
  const double fm = value(g, e, m);
  roots(model, g, e, a, fa, m, fm, out);
  roots(model, g, e, m, fm, b, fb, out);
}

// ---- contacts of one target ----

// A target with what the line can meet of it.
struct SwathTarget {
  const Prepared* prepared = nullptr;
  Geometry geometry;
  std::vector<EventFn> fns;
  std::vector<double> fa;  // the functions' values at the interval's first line
};

// The contact state of one target between steps.
struct Run {
  bool open = false;  // touched at the last instant processed
  int number = 0;
  SensorLine first{};  // the line at the open contact's start
  double last_step = -1.0;
  // A contact that ended, kept until the line is known not to touch again within kMergeGap.
  bool ending = false;
  SensorLine last{};
};

// Touching that stops and starts again within this time is one contact: two events of one
// target closer than the roots' tolerance (edges 1e-7 deg apart) cannot be told apart.
constexpr double kMergeGap = 1e-4;  // s

UtcInstant instant(const SensorLine& l, double offset_hours) {
  UtcInstant t{l.utc.day, l.utc.seconds + offset_hours * 3600.0};
  normalise(t.day, t.seconds);
  return t;
}

ContactStep step_of(const SensorLine& l, double offset_hours) {
  ContactStep c;
  c.utc = l.utc;
  c.local = instant(l, offset_hours);
  c.tsince_s = l.tsince;
  c.radius_m = l.R;
  for (std::size_t k = 0; k < 3; ++k) {
    const double lon = lon_deg(l.pt[k]), lat = lat_deg(l.pt[k]);
    c.geocentric[k] = {lon, lat};
    to_geodetic(lon, lat, l.R, c.geodetic[k].lon_deg, c.geodetic[k].lat_deg);
  }
  return c;
}

// The line whose plane passes over the direction C (the root of n(t).C), near [t1, t2].
SensorLine abeam(const LineModel& model, const V3& c, double t1, double t2) {
  SensorLine a = model.at(t1), b = model.at(t2);
  double fa = dot(a.n, c), fb = dot(b.n, c);
  // The plane moves forward: C ahead (n.C > 0) is passed later, behind earlier.
  double reach = std::max(1.0, t2 - t1);
  for (int k = 0; k < 12 && (fa > 0.0) == (fb > 0.0); ++k, reach *= 2.0) {
    if (fb > 0.0) {
      a = b;
      fa = fb;
      b = model.at(b.t + reach);
      fb = dot(b.n, c);
    } else {
      b = a;
      fb = fa;
      a = model.at(a.t - reach);
      fa = dot(a.n, c);
    }
  }
  if ((fa > 0.0) == (fb > 0.0)) return std::fabs(fa) < std::fabs(fb) ? a : b;
  return find_root(
      model, [&c](const SensorLine& l) { return dot(l.n, c); }, a, fa, b, fb);
}

// The summary of a contact touched from `ts` to `te` (seconds from the start): the best time
// is the instant the line passes over the target's centre, or where it never does (the centre
// lies beyond an end of the line), the instant the line comes closest to it; BEST ALPHA is the
// signed off-nadir angle of the centre then, on the line's local sphere.
Contact summary(const LineModel& model, const Prepared& tg, int number, const SensorLine& first,
                const SensorLine& last) {
  const double ts = first.t, te = last.t;
  const SearchParams& p = model.params();
  // The contact's times to the nearest millisecond, the resolution of every time written:
  // start + duration = end holds in the text too.
  auto nearest_ms = [&](double t) {
    const double ms = std::round(t * 1000.0) / 1000.0;
    const UtcInstant utc = model.utc_at(ms);
    UtcInstant local{utc.day, utc.seconds + p.utc_diff * 3600.0};
    normalise(local.day, local.seconds);
    return std::pair{utc, local};
  };
  Contact c;
  c.number = number;
  c.closed = true;
  std::tie(c.start_utc, c.start_local) = nearest_ms(ts);
  std::tie(c.end_utc, c.end_local) = nearest_ms(te);
  c.duration_s = std::round(te * 1000.0) / 1000.0 - std::round(ts * 1000.0) / 1000.0;
  const V3& centre = tg.centre;
  // A point's contact is the instant its plane passes over it.
  const bool point = tg.kind == Prepared::Kind::points && tg.points.size() == 1 && ts == te;
  SensorLine best = point ? first : abeam(model, centre, ts, te);
  const double th = in_plane_angle(best, centre);
  if (!(best.th[1] <= th && th <= best.th[2])) {
    // Closest approach of the nearer end: golden-section search of its angle to the centre.
    const int end = th < best.th[1] ? 1 : 2;
    auto dist = [&](const SensorLine& l) { return -dot(l.pt[end], centre); };
    constexpr double kGolden = 0.6180339887498949;
    double lo = best.t - 30.0, hi = best.t + 30.0;
    SensorLine x1 = model.at(hi - kGolden * (hi - lo)), x2 = model.at(lo + kGolden * (hi - lo));
    double f1 = dist(x1), f2 = dist(x2);
    while (hi - lo > 1e-4) {
      if (f1 <= f2) {
        hi = x2.t;
        x2 = x1;
        f2 = f1;
        x1 = model.at(hi - kGolden * (hi - lo));
        f1 = dist(x1);
      } else {
        lo = x1.t;
        x1 = x2;
        f1 = f2;
        x2 = model.at(lo + kGolden * (hi - lo));
        f2 = dist(x2);
      }
    }
    best = f1 <= f2 ? x1 : x2;
  }
  const V3 d = {best.R * centre[0] - best.r * best.up[0], best.R * centre[1] - best.r * best.up[1],
                best.R * centre[2] - best.r * best.up[2]};
  const double along = dot(d, best.n), across = dot(d, best.u), down = -dot(d, best.up);
  const double alpha = std::atan2(std::hypot(along, across), down) * (across < 0.0 ? -1.0 : 1.0);
  c.best_alpha_deg = alpha / kRad;
  std::tie(c.best_utc, c.best_local) = nearest_ms(best.t);
  // The ground point seen at that angle, in the line's plane.
  const double seen = std::asin(std::clamp(best.r * std::sin(alpha) / best.R, -1.0, 1.0)) - alpha;
  const V3 x = {std::cos(seen) * best.up[0] + std::sin(seen) * best.u[0],
                std::cos(seen) * best.up[1] + std::sin(seen) * best.u[1],
                std::cos(seen) * best.up[2] + std::sin(seen) * best.u[2]};
  c.best_geocentric = {lon_deg(x), lat_deg(x)};
  to_geodetic(c.best_geocentric.lon_deg, c.best_geocentric.lat_deg, best.R, c.best_geodetic.lon_deg,
              c.best_geodetic.lat_deg);
  const double dlon = lon_difference(c.best_geodetic.lon_deg, tg.p.cen_lon);
  const double dlat = c.best_geodetic.lat_deg - tg.p.cen_lat;
  c.distance_deg = std::sqrt(dlat * dlat + dlon * dlon);
  c.pass = best.n[2] > 0.0 ? 'A' : 'D';
  return c;
}

// What one thread keeps while it applies intervals to its targets.
struct Lane : TargetLane {
  using TargetLane::TargetLane;
  Scratch scratch;
};

// Sends the contact that ended, if any, with its summary.
void end_contact(const LineModel& model, const SwathTarget& tg, Run& run, ContactSink& sink) {
  if (!run.ending) return;
  run.ending = false;
  sink.contact_end(summary(model, *tg.prepared, run.number, run.first, run.last));
}

// The touching of target `tg` between the lines a and b (a.t < b.t) given its state at a: the
// contacts that start, go on and end there go to the sink.
void apply_interval(const LineModel& model, SwathTarget& tg, const SensorLine& a,
                    const SensorLine& b, Run& run, ContactSink& sink, Scratch& s) {
  const double off = model.params().utc_diff;
  const Geometry& g = tg.geometry;
  const double h = b.t - a.t;
  s.roots.clear();
  for (const EventFn& e : tg.fns) {
    const double fa = value(g, e, a), fb = value(g, e, b);
    if ((fa > 0.0) == (fb > 0.0) &&
        (e.kind == Ev::vertex ||
         std::min(std::fabs(fa), std::fabs(fb)) > kEventCurvature * h * h / 8.0))
      continue;
    roots(model, g, e, a, fa, b, fb, s.roots);
  }
  if (run.ending && a.t > run.last.t + kMergeGap) end_contact(model, tg, run, sink);
  // Without a root the touching cannot change: a target not touched stays so.
  if (s.roots.empty() && !run.open) return;
  std::sort(s.roots.begin(), s.roots.end(),
            [](const SensorLine& x, const SensorLine& y) { return x.t < y.t; });
  const bool touch_b = line_touches(*tg.prepared, b);
  if (s.roots.empty() && touch_b) {  // touched throughout
    if (b.t != run.last_step) sink.contact_step(run.number, step_of(b, off));
    run.last_step = b.t;
    return;
  }
  auto open = [&](const SensorLine& l) {
    run.open = true;
    if (run.ending && l.t - run.last.t <= kMergeGap) {  // it goes on
      run.ending = false;
      return;
    }
    end_contact(model, tg, run, sink);
    run.first = l;
    run.last_step = l.t;
    ++run.number;
    const ContactStep st = step_of(l, off);
    sink.contact_start(run.number, st);
    sink.contact_step(run.number, st);
  };
  auto close = [&](const SensorLine& l) {
    if (l.t != run.last_step) sink.contact_step(run.number, step_of(l, off));
    run.last_step = l.t;
    run.ending = true;
    run.last = l;
    run.open = false;
  };
  // Between consecutive roots the touching is one thing: the middle says which.
  const SensorLine* prev = &a;
  bool in = run.open;
  auto interior = [&](const SensorLine& y) {
    if (!(y.t > prev->t)) return;
    const bool v = line_touches(*tg.prepared, model.at(0.5 * (prev->t + y.t)));
    if (in && !v) close(*prev);
    if (!in && v) open(*prev);
    in = v;
  };
  // A root within the tolerance of a step may be that step's line itself (a or b). It is found
  // by the one interval over which its function changes sign, so it counts here, at either end
  // alike: a vertex's contact lasts an instant and no other interval sees it. (A function
  // touching zero at a step may give the same root to both intervals: the contact then stops
  // and starts again at one instant, which is merged.)
  for (const SensorLine& r : s.roots) {
    interior(r);       // nothing between roots of one instant
    if (!in) open(r);  // a root is a touching instant
    in = true;
    prev = &r;
  }
  interior(b);
  if (touch_b && !in) open(b);
  if (!touch_b && in) close(b);
  if (touch_b && run.last_step != b.t) {
    sink.contact_step(run.number, step_of(b, off));
    run.last_step = b.t;
  }
  run.open = touch_b;
}

}  // namespace

namespace {

// The instants of one satellite's sweep at steps of `step` from the start (the start, every
// step after it, and the end), screened block by block against the index: `at_start(line)`
// is given the line of the start, then `apply(examine, nb, stop)` each block, whose lines
// [0, nb] are in `lines` (line 0 carried over from the block before) and whose intervals j
// (between lines j and j + 1) are to be looked at where examine[j], for j < nb and
// j + 1 < stop. A line that failed (a day missing from the Earth-orientation table, a state
// the model cannot serve) is raised after the block's apply.
template <class AtStart, class Apply>
void sweep_instants(const LineModel& model, const Propagator& orbit, const Screen& scr,
                    const TargetIndex& ix, bool any, double span, double step, StepWorkers& workers,
                    std::vector<SensorLine>& lines, const AtStart& at_start, const Apply& apply,
                    const std::function<void(double)>& progress, std::size_t& stat_lines,
                    std::size_t& stat_examined) {
  const SearchParams& sp = model.params();
  const double last_k = span >= 0.0 ? std::floor(span / step) : -1.0;
  const std::size_t count =
      last_k < 0.0 ? 0 : static_cast<std::size_t>(last_k) + (last_k * step < span ? 2 : 1);
  auto time_of = [&](std::size_t k) { return std::min(static_cast<double>(k) * step, span); };

  constexpr std::size_t kBlock = kStepsPerBlock;
  // Instants [k0, k0 + nb] of a block: intervals k0 .. k0 + nb - 1; lines[0] is carried over.
  lines.resize(kBlock + 1);
  std::vector<char> need(kBlock + 1), examine(kBlock);
  std::vector<std::exception_ptr> failure(kBlock + 1);
  std::vector<std::size_t> at;
  std::vector<Entry> hits;
  if (count > 0) {
    lines[0] = model.at(0.0);
    ++stat_lines;
    at_start(lines[0]);
  }
  double clear_until = -1.0;
  bool carried = count > 0;  // lines[0] holds the line of the block's first instant
  BlockPacer pacer;          // blocks of about the same time, whatever the step and the deck
  for (std::size_t k0 = 0; k0 + 1 < count;) {
    const std::size_t nb = std::min(pacer.start(), count - 1 - k0);
    // 1. Screen the intervals (cheap, in time order): those the bounds cannot prove out of
    // view are examined, with the lines at both ends.
    std::fill(need.begin(), need.begin() + static_cast<std::ptrdiff_t>(nb) + 1, 0);
    std::fill(examine.begin(), examine.begin() + static_cast<std::ptrdiff_t>(nb), 0);
    for (std::size_t j = 0; j < nb && any; ++j) {
      const double ta = time_of(k0 + j), tb = time_of(k0 + j + 1);
      if (tb <= clear_until) {
        // Straight to the last interval that ends by then (time_of never decreases).
        std::size_t to = j;
        const double ends = std::floor(clear_until / step);
        if (ends >= static_cast<double>(k0 + j + 2)) {
          to = std::min(static_cast<std::size_t>(ends) - k0 - 1, nb - 1);
          while (to > j && time_of(k0 + to + 1) > clear_until) --to;
        }
        j = to;
        continue;
      }
      const UtcInstant at = after(UtcInstant{sp.start_day, sp.start_sec}, ta);
      const double day = at.day, sec = at.seconds;
      CheapState cs;
      const double out_for = scr.enabled && cheap_point(orbit, scr, day, sec, cs)
                                 ? screen_instant(ix, scr, sp, cs, true, {}, hits)
                                 : -1.0;
      if (out_for >= 0.0) clear_until = std::max(clear_until, ta + out_for);
      // A day missing from the Earth-orientation table is computed: the run stops there, as
      // orvus's does.
      if (!eop_covers(utc_mjd(day, sec), model.table())) need[j] = 1;
      if (tb <= clear_until) continue;
      examine[j] = 1;
      need[j] = need[j + 1] = 1;
    }

    // 2. The lines at the instants that need them, each from its time alone.
    at.clear();
    for (std::size_t j = carried ? 1 : 0; j <= nb; ++j)
      if (need[j]) at.push_back(j);
    stat_lines += at.size();
    workers.for_each(
        at.size(),
        [&](std::size_t i) {
          const std::size_t j = at[i];
          failure[j] = nullptr;
          try {
            lines[j] = model.at(time_of(k0 + j));
          } catch (...) {
            failure[j] = std::current_exception();
          }
        },
        at.size() >= 64);
    std::size_t stop = nb + 1;  // the first instant whose line failed
    for (const std::size_t j : at) {
      if (failure[j]) {
        stop = j;
        break;
      }
    }

    // 3. The examined intervals.
    apply(examine, nb, stop);
    if (stop <= nb) std::rethrow_exception(failure[stop]);
    for (std::size_t j = 0; j < nb; ++j) stat_examined += examine[j] ? 1U : 0U;
    // The block's last line opens the next block.
    carried = need[nb] != 0;
    if (carried) lines[0] = lines[nb];
    k0 += nb;
    pacer.finish();
    if (progress && span > 0.0) progress(std::clamp(time_of(k0) / span, 0.0, 1.0));
  }
}

// The cap that holds every point the line sweeps between lines a and b from fraction s0 to s1
// of its arc (0 at point (1), 1 at point (2)): the cap around those ends of both lines (a cap
// under a quarter turn is convex), grown by how far the line can stray from the band between
// them. Its centre (unit vector) and radius (rad).
std::pair<V3, double> swept_cap(const SensorLine& a, const SensorLine& b, double s0, double s1) {
  V3 ends[4];
  int k = 0;
  for (const SensorLine* l : {&a, &b}) {
    for (const double s : {s0, s1}) {
      if (s == 0.0 || s == 1.0) {
        ends[k++] = l->pt[s == 0.0 ? 1 : 2];
        continue;
      }
      const double th = l->th[1] + s * (l->th[2] - l->th[1]);
      const double c = std::cos(th), sn = std::sin(th);
      ends[k++] = {c * l->up[0] + sn * l->u[0], c * l->up[1] + sn * l->u[1],
                   c * l->up[2] + sn * l->u[2]};
    }
  }
  V3 c{};
  for (const V3& p : ends)
    for (std::size_t i = 0; i < 3; ++i) c[i] += p[i];
  c = unit_vector(c);
  double radius = 0.0;
  for (const V3& p : ends) radius = std::max(radius, std::acos(std::clamp(dot(c, p), -1.0, 1.0)));
  const double h = b.t - a.t;
  radius += kEventCurvature * h * h / 8.0 * 1.01 + 1e-9;
  return {c, radius};
}

}  // namespace

void sweep_swath(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                 std::size_t first, std::size_t last, const std::vector<ContactSink*>& sinks,
                 const std::function<void(double)>& progress, int threads,
                 const SweepCache* cache) {
  const SatelliteSweep setup(plan, eop, satellite);
  const Propagator& orbit = setup.orbit;
  const EopRows& table = setup.table;
  const SearchParams& sp = setup.sp;
  const Screen& scr = setup.scr;
  const LineModel model(sp, orbit, table, cache);

  const std::size_t n = last > first ? last - first : 0;
  FrameGap no_gap;
  const TargetIndex ix = index_targets(plan, satellite, first, last, scr, no_gap);
  std::vector<SwathTarget> targets(n);
  for (std::size_t i = 0; i < n; ++i) {
    SwathTarget& t = targets[i];
    t.prepared = &ix.targets[i];
    t.geometry = geometry_of(ix.targets[i]);
    Scratch s;
    functions_of(t.geometry, s);
    t.fns = std::move(s.fns);
  }
  std::vector<Run> runs(n);

  const double span = since_epoch(plan.interval.start, plan.interval.end);
  const std::size_t nthreads = static_cast<std::size_t>(std::max(threads, 1));
  std::vector<Lane> lanes(nthreads, Lane(n));
  StepWorkers workers(static_cast<int>(nthreads) - 1);
  std::vector<SensorLine> lines;
  std::vector<std::exception_ptr> lane_failure(nthreads);
  std::size_t stat_lines = 0, stat_examined = 0;

  // The start: the targets the first line touches are in contact from the start.
  auto at_start = [&](const SensorLine& l0) {
    std::vector<Entry> hits;
    std::vector<std::size_t> at;
    V3 c = {l0.pt[1][0] + l0.pt[2][0], l0.pt[1][1] + l0.pt[2][1], l0.pt[1][2] + l0.pt[2][2]};
    c = unit_vector(c);
    B2 q[2];
    const int nq = cap_boxes(std::atan2(c[1], c[0]), std::asin(std::clamp(c[2], -1.0, 1.0)),
                             std::acos(std::clamp(dot(c, l0.pt[1]), -1.0, 1.0)) + 1e-9, q);
    for (int j = 0; j < nq; ++j) ix.tree.query(bgi::intersects(q[j]), std::back_inserter(hits));
    at.reserve(hits.size());
    for (const Entry& e : hits) at.push_back(ix.entry_target[e.second]);
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    for (const std::size_t t : at) {
      if (!line_touches(*targets[t].prepared, l0)) continue;
      Run& run = runs[t];
      run.open = true;
      run.first = l0;
      run.last_step = 0.0;
      ++run.number;
      const ContactStep st = step_of(l0, sp.utc_diff);
      sinks[t]->contact_start(run.number, st);
      sinks[t]->contact_step(run.number, st);
      lanes[t % nthreads].active.push_back(t);
    }
  };
  // The examined intervals in time order, each lane (thread) on its own targets.
  std::vector<std::size_t> examined;
  auto apply = [&](const std::vector<char>& examine, std::size_t nb, std::size_t stop) {
    examined.clear();
    for (std::size_t j = 0; j < nb && j + 1 < stop; ++j)
      if (examine[j]) examined.push_back(j);
    if (examined.empty()) return;  // a block out of view: the threads are not woken
    workers.for_each(
        nthreads,
        [&](std::size_t k) {
          Lane& lane = lanes[k];
          lane_failure[k] = nullptr;
          try {
            for (const std::size_t j : examined) {
              const SensorLine& a = lines[j];
              const SensorLine& b = lines[j + 1];
              const auto [c, radius] = swept_cap(a, b, 0.0, 1.0);
              B2 q[2];
              const int nq = cap_boxes(std::atan2(c[1], c[0]),
                                       std::asin(std::clamp(c[2], -1.0, 1.0)), radius, q);
              lane.hits.clear();
              for (int i = 0; i < nq; ++i)
                ix.tree.query(bgi::intersects(q[i]), std::back_inserter(lane.hits));
              lane.gather(ix, k, nthreads);
              for (const std::size_t t : lane.todo) {
                apply_interval(model, targets[t], a, b, runs[t], *sinks[t], lane.scratch);
                if (runs[t].open || runs[t].ending) lane.active.push_back(t);
              }
            }
          } catch (...) {
            lane_failure[k] = std::current_exception();
          }
        },
        nthreads > 1);
    for (const auto& f : lane_failure)
      if (f) std::rethrow_exception(f);
  };
  sweep_instants(model, orbit, scr, ix, n > 0, span, plan.interval.step_s, workers, lines, at_start,
                 apply, progress, stat_lines, stat_examined);
  for (std::size_t t = 0; t < n; ++t) {
    end_contact(model, targets[t], runs[t], *sinks[t]);
    if (runs[t].open) sinks[t]->open_at_end(runs[t].number);
  }
  if (std::getenv("ORVUS_PLAN_STATS") != nullptr) {
    std::fprintf(stderr, " ORVUS-PLAN: SATELLITE %zu: %zu INSTANTS, %zu INTERVALS EXAMINED.\n",
                 satellite + 1, stat_lines, stat_examined);
  }
  if (progress) progress(1.0);
}

// ---- the field over an interval ----

std::vector<Ring> field_swath(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                              const Interval& interval, int pieces, const SweepCache* cache) {
  const SatelliteSweep setup(plan, eop, satellite, interval);
  const LineModel model(setup.sp, setup.orbit, setup.table, cache);
  const double span = since_epoch(interval.start, interval.end);
  const int n = std::max(pieces, 1);
  // The sides' geodetic points, as a contact's steps give them, and its ring as the sweep
  // makes a contact's swath: side (1) forward, side (2) back.
  Ring side1, side2;
  for (int k = 0; k <= n; ++k) {
    const ContactStep st = step_of(model.at(span * k / n), interval.utc_offset_hours);
    side1.push_back(st.geodetic[1]);
    side2.push_back(st.geodetic[2]);
  }
  Ring ring = side1;
  for (auto it = side2.rbegin(); it != side2.rend(); ++it) ring.push_back(*it);
  ring.push_back(ring.front());
  return split_ring(ring);
}

// ---- many points at once ----

namespace {

// The line at fraction x of the interval from a to b, quadratic through a, the middle m and b.
struct MidLine {
  V3 up, u, n;
  double r;
};
MidLine between(const SensorLine& a, const SensorLine& m, const SensorLine& b, double x) {
  const double w0 = 2.0 * (x - 0.5) * (x - 1.0), wm = -4.0 * x * (x - 1.0),
               w1 = 2.0 * x * (x - 0.5);
  auto mix = [&](const V3& p, const V3& q, const V3& z) {
    return unit_vector(V3{w0 * p[0] + wm * q[0] + w1 * z[0], w0 * p[1] + wm * q[1] + w1 * z[1],
                          w0 * p[2] + wm * q[2] + w1 * z[2]});
  };
  MidLine l;
  l.up = mix(a.up, m.up, b.up);
  l.u = mix(a.u, m.u, b.u);
  l.n = cross(l.u, l.up);
  l.r = w0 * a.r + wm * m.r + w1 * b.r;
  return l;
}

// The root in [lo, hi] of the quadratic through (0, fa), (1/2, fm), (1, fb), whose values at lo
// and hi have opposite signs.
double quadratic_root(double fa, double fm, double fb, double lo, double hi) {
  const double A = 2.0 * fa - 4.0 * fm + 2.0 * fb, B = -3.0 * fa + 4.0 * fm - fb, C = fa;
  auto f = [&](double x) { return (A * x + B) * x + C; };
  double flo = f(lo);
  // Bisection then regula falsi would do; the closed form first, checked against the bracket.
  const double disc = B * B - 4.0 * A * C;
  if (disc >= 0.0 && A != 0.0) {
    const double q = -0.5 * (B + std::copysign(std::sqrt(disc), B));
    for (const double x : {q / A, q != 0.0 ? C / q : lo - 1.0})
      if (x >= lo && x <= hi) return x;
  } else if (A == 0.0 && B != 0.0) {
    const double x = -C / B;
    if (x >= lo && x <= hi) return x;
  }
  for (int i = 0; i < 60; ++i) {
    const double x = 0.5 * (lo + hi), v = f(x);
    if ((v > 0.0) == (flo > 0.0)) {
      lo = x;
      flo = v;
    } else {
      hi = x;
    }
  }
  return 0.5 * (lo + hi);
}

// The crossings of the points by the line between a and b (middle m), appended to `out`.
void cross_points(const SearchParams& sp, const BandPoints& pts, const SensorLine& a,
                  const SensorLine& m, const SensorLine& b, std::vector<PointCrossing>& out) {
  const double h = b.t - a.t;
  const double a1 = sp.alpha1 * kRad, a2 = sp.alpha2 * kRad;
  // Pieces of the arc about as long as the line moves in the interval, each a small cap; a
  // crossing counts in the piece its place on the arc falls in.
  const double moved = std::acos(std::clamp(dot(a.pt[0], b.pt[0]), -1.0, 1.0));
  const double length = std::max(a.th[2] - a.th[1], b.th[2] - b.th[1]);
  const int pieces =
      std::clamp(static_cast<int>(std::ceil(length / std::max(2.0 * moved, 1e-3))), 1, 64);
  for (int k = 0; k < pieces; ++k) {
    const double s0 = static_cast<double>(k) / pieces, s1 = static_cast<double>(k + 1) / pieces;
    const auto [c, radius] = swept_cap(a, b, s0, s1);
    B2 q[2];
    const int nq =
        cap_boxes(std::atan2(c[1], c[0]), std::asin(std::clamp(c[2], -1.0, 1.0)), radius, q);
    for (int iq = 0; iq < nq; ++iq) {
      const double lat1 = q[iq].min_corner().get<1>(), lat2 = q[iq].max_corner().get<1>();
      const double lon1 = q[iq].min_corner().get<0>(), lon2 = q[iq].max_corner().get<0>();
      const auto band0 = static_cast<std::size_t>(
          std::lower_bound(pts.lat.begin(), pts.lat.end(), lat1) - pts.lat.begin());
      for (std::size_t band = band0; band < pts.lat.size() && pts.lat[band] <= lat2; ++band) {
        const double w = pts.width[band];
        const double c_lo = std::max(std::ceil((lon1 + 180.0) / w - 0.5), 0.0);
        const double c_hi = std::min(std::floor((lon2 + 180.0) / w - 0.5), pts.columns[band] - 1.0);
        if (c_lo > c_hi) continue;
        const auto col_lo = static_cast<std::uint32_t>(c_lo);
        const auto col_hi = static_cast<std::uint32_t>(c_hi);
        const auto first = pts.column.begin() + static_cast<std::ptrdiff_t>(pts.begin[band]);
        const auto last = pts.column.begin() + static_cast<std::ptrdiff_t>(pts.begin[band + 1]);
        for (auto it = std::lower_bound(first, last, col_lo); it != last && *it <= col_hi; ++it) {
          const auto i = static_cast<std::size_t>(it - pts.column.begin());
          const V3& p = pts.unit[i];
          const double fa = dot(a.n, p), fb = dot(b.n, p);
          if ((fa > 0.0) == (fb > 0.0)) continue;
          const double fm = dot(m.n, p);
          const double x = (fa > 0.0) != (fm > 0.0) ? quadratic_root(fa, fm, fb, 0.0, 0.5)
                                                    : quadratic_root(fa, fm, fb, 0.5, 1.0);
          const MidLine l = between(a, m, b, x);
          const double R = local_radius(std::asin(std::clamp(l.up[2], -1.0, 1.0)));
          const double th1 = std::asin(std::clamp(l.r * std::sin(a1) / R, -1.0, 1.0)) - a1;
          const double th2 = std::asin(std::clamp(l.r * std::sin(a2) / R, -1.0, 1.0)) - a2;
          const double th = std::atan2(dot(p, l.u), dot(p, l.up));
          const double s = (th - th1) / (th2 - th1);
          if (!(s >= s0 && (s < s1 || (k + 1 == pieces && s <= 1.0)))) continue;
          // The off-nadir angle of the point, as a point target's contact gives it.
          const V3 d = {R * p[0] - l.r * l.up[0], R * p[1] - l.r * l.up[1],
                        R * p[2] - l.r * l.up[2]};
          const double along = dot(d, l.n), across = dot(d, l.u), down = -dot(d, l.up);
          const double alpha =
              std::atan2(std::hypot(along, across), down) * (across < 0.0 ? -1.0 : 1.0);
          out.push_back(
              {static_cast<std::uint32_t>(i), a.t + x * h, alpha / kRad, l.n[2] > 0.0 ? 'A' : 'D'});
        }
      }
    }
  }
}

}  // namespace

void sweep_crossings(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                     const BandPoints& pts,
                     const std::function<void(const std::vector<PointCrossing>&)>& found,
                     const std::function<void(double)>& progress, int threads) {
  Interval interval = plan.interval;
  interval.step_s = kPointStep;
  const SatelliteSweep setup(plan, eop, satellite, interval);
  const Propagator& orbit = setup.orbit;
  const SearchParams& sp = setup.sp;
  const Screen& scr = setup.scr;
  const LineModel model(sp, orbit, setup.table);

  // The screening's boxes: the points by tiles of 5 x 5 degrees.
  std::vector<BBox> tiles;
  {
    std::map<std::pair<int, int>, BBox> by_tile;
    for (std::size_t band = 0; band + 1 < pts.begin.size(); ++band) {
      for (std::size_t i = pts.begin[band]; i < pts.begin[band + 1]; ++i) {
        const double lon = -180.0 + (pts.column[i] + 0.5) * pts.width[band], lat = pts.lat[band];
        const std::pair<int, int> key{static_cast<int>(std::floor(lon / 5.0)),
                                      static_cast<int>(std::floor(lat / 5.0))};
        auto [it, added] = by_tile.try_emplace(key, BBox{lon, lon, lat, lat});
        BBox& b = it->second;
        b.lon1 = std::min(b.lon1, lon);
        b.lon2 = std::max(b.lon2, lon);
        b.lat1 = std::min(b.lat1, lat);
        b.lat2 = std::max(b.lat2, lat);
      }
    }
    for (auto& [key, b] : by_tile) {
      b.lat1 = std::max(b.lat1 - 1e-9, -90.0);
      b.lat2 = std::min(b.lat2 + 1e-9, 90.0);
      tiles.push_back(b);
    }
  }
  const TargetIndex ix = index_boxes(tiles, scr);

  const double span = since_epoch(plan.interval.start, plan.interval.end);
  const std::size_t nthreads = static_cast<std::size_t>(std::max(threads, 1));
  StepWorkers workers(static_cast<int>(nthreads) - 1);
  std::vector<SensorLine> lines, middles;
  std::vector<std::vector<PointCrossing>> per_interval;
  std::vector<std::exception_ptr> failed;
  std::vector<std::size_t> examined;
  std::vector<PointCrossing> block;
  std::size_t stat_lines = 0, stat_examined = 0;
  auto apply = [&](const std::vector<char>& examine, std::size_t nb, std::size_t stop) {
    examined.clear();
    for (std::size_t j = 0; j < nb && j + 1 < stop; ++j)
      if (examine[j]) examined.push_back(j);
    if (per_interval.size() < examined.size()) {
      per_interval.resize(examined.size());
      middles.resize(examined.size());
      failed.resize(examined.size());
    }
    workers.for_each(
        examined.size(),
        [&](std::size_t e) {
          const std::size_t j = examined[e];
          per_interval[e].clear();
          failed[e] = nullptr;
          try {
            middles[e] = model.at(0.5 * (lines[j].t + lines[j + 1].t));
            cross_points(sp, pts, lines[j], middles[e], lines[j + 1], per_interval[e]);
          } catch (...) {
            failed[e] = std::current_exception();
          }
        },
        nthreads > 1 && examined.size() >= 16);
    block.clear();
    for (std::size_t e = 0; e < examined.size(); ++e) {
      if (failed[e]) std::rethrow_exception(failed[e]);
      block.insert(block.end(), per_interval[e].begin(), per_interval[e].end());
    }
    stat_lines += examined.size();
    if (!block.empty()) found(block);
  };
  sweep_instants(
      model, orbit, scr, ix, !pts.unit.empty(), span, kPointStep, workers, lines,
      [](const SensorLine&) {}, apply, progress, stat_lines, stat_examined);
  if (std::getenv("ORVUS_PLAN_STATS") != nullptr) {
    std::fprintf(stderr,
                 " ORVUS-PLAN: COVERAGE, SATELLITE %zu: %zu LINES, %zu INTERVALS EXAMINED.\n",
                 satellite + 1, stat_lines, stat_examined);
  }
  if (progress) progress(1.0);
}

}  // namespace orvus::plan
