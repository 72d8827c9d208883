// The shared sweep: one screened pass over the interval per satellite serves every target.
// A step is computed exactly once where some target may be in view (an R-tree over the
// targets' bounding boxes and the screening bounds of search/screen.cpp say where); each target
// then runs orvus's own contact state machine (apply_step) with its own parameters.
#include <algorithm>
#include <atomic>
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/frames/earth_rotation.hpp"
#include "core/frames/tod2ef.hpp"
#include "core/orbit/sgp8.hpp"
#include "core/search/analysis_internal.hpp"
#include "core/search/step_workers.hpp"
#include "core/sweep/sweep.hpp"
#include "core/time/eop_table.hpp"
#include "core/time/time_text.hpp"
#include "orvus/analysis.hpp"
#include "orvus/constants.hpp"
#include "orvus/geometry.hpp"
#include "orvus/threads.hpp"

namespace orvus {

namespace plan {

namespace {

constexpr double kPi = constants::pi;
constexpr double kRad = constants::deg_to_rad;
// The cheap plane of the tracking points against the exact one (sidereal time without the
// equation of the equinoxes, UT1 - UTC and polar motion: under 0.01 deg), with room.
constexpr double kAlongMargin = 0.05 * kRad;
// The test across the track is used for boxes within this angle of the points' plane.
constexpr double kCrossLimit = 0.5;  // rad
// Skips of increasing length: the screen looks this far ahead at once.
constexpr double kTiers[3] = {20.0, 120.0, 600.0};  // s

}  // namespace

int cap_boxes(double lon, double lat, double radius, B2 out[2]) {
  const double r = radius + 1e-9;
  const double lat1 = lat - r, lat2 = lat + r;
  if (lat2 >= kPi / 2 || lat1 <= -kPi / 2 || r >= kPi / 2) {
    out[0] =
        B2(P2(-180.0, std::max(lat1, -kPi / 2) / kRad), P2(180.0, std::min(lat2, kPi / 2) / kRad));
    return 1;
  }
  const double dl = std::asin(std::min(1.0, std::sin(r) / std::cos(std::fabs(lat) + r)));
  double a = (lon - dl) / kRad, b = (lon + dl) / kRad;
  while (a < -180.0) {
    a += 360.0;
    b += 360.0;
  }
  while (a > 180.0) {
    a -= 360.0;
    b -= 360.0;
  }
  if (b <= 180.0) {
    out[0] = B2(P2(a, lat1 / kRad), P2(b, lat2 / kRad));
    return 1;
  }
  out[0] = B2(P2(a, lat1 / kRad), P2(180.0, lat2 / kRad));
  out[1] = B2(P2(-180.0, lat1 / kRad), P2(b - 360.0, lat2 / kRad));
  return 2;
}

bool cheap_point(const Propagator& orbit, const Screen& s, double day, double seconds,
                 CheapState& cs) {
  StateVector tod{};
  if (!screened_state(orbit, s, day, seconds, tod)) return false;
  const double date1 = day + constants::mjd1950_to_jd;
  const double date2 = seconds / 86400.0;
  rotate_to_pef(detail::mean_sidereal_time(date1, date2), tod, cs.ef);
  const double x = cs.ef[0], y = cs.ef[1], z = cs.ef[2];
  const double r = std::sqrt(x * x + y * y + z * z);
  const double lon = std::atan2(y, x);
  const double lat = std::asin(z / r);
  // The velocity's part across the radius: the pole of the great circle that the tracking
  // points lie on.
  const double vx = cs.ef[3], vy = cs.ef[4], vz = cs.ef[5];
  const double vr = (vx * x + vy * y + vz * z) / (r * r);
  V3 u = {vx - vr * x, vy - vr * y, vz - vr * z};
  const double un = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  if (!(un > 0.0)) return false;
  cs.lon = lon;
  cs.lat = lat;
  cs.along = {u[0] / un, u[1] / un, u[2] / un};
  cs.up = {x / r, y / r, z / r};
  cs.left = {cs.up[1] * cs.along[2] - cs.up[2] * cs.along[1],
             cs.up[2] * cs.along[0] - cs.up[0] * cs.along[2],
             cs.up[0] * cs.along[1] - cs.up[1] * cs.along[0]};
  cs.r = r;
  cs.vr = vr * r;
  return std::isfinite(lon) && std::isfinite(lat) && std::isfinite(un);
}

FrameGap frame_gap(const EopRows& table, double mjd1, double mjd2) {
  constexpr double kEquinoxes = 20.0 / 3600.0;  // deg
  constexpr double kRoom = 1e-3;                // deg, about 100 m
  double dut1 = 0, pole = 0;
  bool any = false;
  for (std::size_t i = 0; i < table.mjd.size(); ++i) {
    if (!(table.mjd[i] > mjd1 - 2.0 && table.mjd[i] < mjd2 + 2.0)) continue;
    any = true;
    dut1 = std::max(dut1, std::fabs(table.dut1[i]));
    pole = std::max(pole, std::hypot(table.xp[i], table.yp[i]) / 3600.0);
  }
  FrameGap g;
  if (!any || !std::isfinite(dut1 + pole)) {  // no bound: every candidate step is computed
    g.turn = g.tilt = std::numeric_limits<double>::infinity();
    return g;
  }
  g.turn = kEquinoxes + dut1 * constants::earth_rotation_rad_s / kRad + 1e-7;
  g.tilt = pole + kRoom;
  return g;
}

BBox near_box(const BBox& b, const FrameGap& g) {
  const double lat1 = b.lat1 - g.tilt, lat2 = b.lat2 + g.tilt;
  const double top = std::max(std::fabs(lat1), std::fabs(lat2));
  const double c = top < 90.0 ? std::cos(top * kRad) : 0.0;
  const double dlon = c > 1e-3 ? g.turn + g.tilt / c : 360.0;
  if (!(b.lon2 - b.lon1 + 2.0 * dlon < 360.0)) return {-180.0, 180.0, lat1, lat2};
  return {b.lon1 - dlon, b.lon2 + dlon, lat1, lat2};
}

namespace {

// An entry of the index: the box, what the screening bounds need of it, and its target.
void add_entry(TargetIndex& ix, std::vector<Entry>& entries, const BBox& b, std::size_t target,
               const Screen& scr, const FrameGap& frame) {
  Screen s = scr;
  s.all_out = false;
  s.wraps = false;
  s.lon1 = b.lon1 * kRad;
  s.lon2 = b.lon2 * kRad;
  s.lat1 = b.lat1 * kRad;
  s.lat2 = b.lat2 * kRad;
  s.cos_min = std::max(std::min(std::cos(s.lat1), std::cos(s.lat2)), 0.0);
  entries.emplace_back(B2(P2(b.lon1, b.lat1), P2(b.lon2, b.lat2)), ix.entry_screen.size());
  ix.entry_screen.push_back(s);
  ix.entry_target.push_back(target);
  ix.entry_near.push_back(near_box(b, frame));
  ix.entry_centre.push_back(unit((b.lon1 + b.lon2) / 2.0, (b.lat1 + b.lat2) / 2.0));
  // Along the meridian, then along the parallel: a path at least as long as the arc.
  const double cos_max = (b.lat1 <= 0.0 && b.lat2 >= 0.0)
                             ? 1.0
                             : std::cos(std::min(std::fabs(b.lat1), std::fabs(b.lat2)) * kRad);
  ix.entry_radius.push_back(((b.lat2 - b.lat1) / 2.0 + (b.lon2 - b.lon1) / 2.0 * cos_max) * kRad);
}

// The tree over the entries and, per target, the caps that hold it.
void finish_index(TargetIndex& ix, std::vector<Entry>& entries, std::size_t targets) {
  ix.tree = bgi::rtree<Entry, bgi::quadratic<16>>(entries.begin(), entries.end());
  ix.caps.resize(targets);
  for (std::size_t e = 0; e < ix.entry_target.size(); ++e) {
    ix.caps[ix.entry_target[e]].emplace_back(
        ix.entry_centre[e],
        ix.entry_radius[e] + 1e-9 >= kPi / 2 ? 2.0 : std::sin(ix.entry_radius[e] + 1e-9));
  }
}

}  // namespace

void TargetLane::gather(const TargetIndex& index, std::size_t lane, std::size_t threads) {
  ++stamp_now;
  todo.clear();
  for (const std::size_t t : active) {
    stamp[t] = stamp_now;
    todo.push_back(t);
  }
  for (const Entry& e : hits) {
    const std::size_t t = index.entry_target[e.second];
    if (t % threads != lane || stamp[t] == stamp_now) continue;
    stamp[t] = stamp_now;
    todo.push_back(t);
  }
  std::sort(todo.begin(), todo.end());
  active.clear();
}

TargetIndex index_targets(const Plan& plan, std::size_t satellite, std::size_t first,
                          std::size_t last, const Screen& scr, const FrameGap& frame) {
  const PlanSatellite& ps = plan.satellites.at(satellite);
  const std::size_t n = last > first ? last - first : 0;
  std::vector<Prepared> targets;
  targets.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    targets.push_back(prepare(plan.targets[first + i], ps.sensor, plan.interval));
    targets.back().p.element_file = ps.elements_path;
  }
  return index_prepared(std::move(targets), scr, frame);
}

TargetIndex index_prepared(std::vector<Prepared> targets, const Screen& scr,
                           const FrameGap& frame) {
  const std::size_t n = targets.size();
  TargetIndex ix;
  ix.targets = std::move(targets);
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < n; ++i) {
    for (const BBox& b : ix.targets[i].boxes) add_entry(ix, entries, b, i, scr, frame);
  }
  finish_index(ix, entries, n);
  return ix;
}

TargetIndex index_boxes(const std::vector<BBox>& boxes, const Screen& scr) {
  TargetIndex ix;
  std::vector<Entry> entries;
  const FrameGap no_gap;
  for (std::size_t i = 0; i < boxes.size(); ++i) add_entry(ix, entries, boxes[i], i, scr, no_gap);
  finish_index(ix, entries, boxes.size());
  return ix;
}

double screen_instant(const TargetIndex& ix, const Screen& scr, const SearchParams& sp,
                      const CheapState& cs, bool arc, const std::function<bool(std::size_t)>& near,
                      std::vector<Entry>& hits) {
  B2 q[2];
  int tier = 0;
  for (tier = 0; tier < 3; ++tier) {
    const int nq = cap_boxes(cs.lon, cs.lat, scr.theta + scr.omega * kTiers[tier], q);
    hits.clear();
    for (int j = 0; j < nq; ++j) ix.tree.query(bgi::intersects(q[j]), std::back_inserter(hits));
    if (!hits.empty()) break;
  }
  double out_for = tier > 0 ? kTiers[tier - 1] : kTiers[0];
  if (tier > 0) return out_for;
  const double earth_a = model_earth()[0];
  const double earth_b = earth_a * constants::local_sphere_polar_ratio;
  // The angles across the track (from the nadir toward r x v) that the points or the arc
  // can reach over the next `kTiers[0]` seconds.
  const bool use_cross = std::fabs(cs.vr) * kTiers[0] < 1e-3 * cs.r;
  const double r_lo = cs.r * (1.0 - 2e-3), r_hi = cs.r * (1.0 + 2e-3);
  double lo[3], hi[3];
  const double alphas[3] = {sp.alpha0 * kRad, sp.alpha1 * kRad, sp.alpha2 * kRad};
  for (int i = 0; i < 3; ++i) {
    auto phi = [&](double ratio) {
      return std::asin(std::clamp(ratio * std::sin(alphas[i]), -1.0, 1.0)) - alphas[i];
    };
    const double f1 = phi(r_lo / earth_a), f2 = phi(r_hi / earth_b);
    lo[i] = std::min(f1, f2) - kAlongMargin;
    hi[i] = std::max(f1, f2) + kAlongMargin;
  }
  if (arc) {
    lo[0] = std::min({lo[0], lo[1], lo[2]});
    hi[0] = std::max({hi[0], hi[1], hi[2]});
  }
  const int nint = arc ? 1 : 3;
  for (const Entry& e : hits) {
    const V3& c = ix.entry_centre[e.second];
    const double rb = ix.entry_radius[e.second];
    const double off = std::asin(
        std::min(1.0, std::fabs(c[0] * cs.along[0] + c[1] * cs.along[1] + c[2] * cs.along[2])));
    double m_cross = -1.0;
    if (use_cross && off + rb + scr.omega * kTiers[0] < kCrossLimit) {
      const double phic = std::atan2(c[0] * cs.left[0] + c[1] * cs.left[1] + c[2] * cs.left[2],
                                     c[0] * cs.up[0] + c[1] * cs.up[1] + c[2] * cs.up[2]);
      double gap = kPi;
      for (int i = 0; i < nint; ++i)
        gap = std::min(gap, std::max({0.0, lo[i] - phic, phic - hi[i]}));
      // Near the plane an angle across it moves no faster than 1/cos(limit) times the frame,
      // and a box within rb of its centre spans rb/cos(limit) of it.
      m_cross = gap * std::cos(kCrossLimit) - rb;
    }
    const double m_iso = box_distance_bound(ix.entry_screen[e.second], cs.lon, cs.lat) - scr.theta;
    const double m_along = off - rb - kAlongMargin;
    const double margin = std::max({m_iso, m_along, m_cross});
    if (margin > 0.0) {
      out_for = std::min(out_for, margin / scr.omega);
    } else if (!near || near(e.second)) {
      return -1.0;
    } else {
      out_for = 0.0;  // not in view now, but nothing proven for the next steps
    }
  }
  return out_for;
}

SatelliteSweep::SatelliteSweep(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                               const Interval& interval)
    : orbit(plan.satellites.at(satellite).elements), table(detail::eop_rows(eop)) {
  const PlanSatellite& ps = plan.satellites.at(satellite);
  search_setup(ps.sensor, Box{-180.0, 180.0, -90.0, 90.0}, interval, sp);
  sp.element_file = ps.elements_path;
  check_orbit_domain(sp, orbit);
  init_screen(sp, orbit, scr);
}

void sweep(const Plan& plan, const EarthOrientation& eop, std::size_t satellite, std::size_t first,
           std::size_t last, const std::vector<ContactSink*>& sinks,
           const std::function<void(double)>& progress, int threads, const SweepCache* cache) {
  if (plan.rule == TargetRule::swath) {
    sweep_swath(plan, eop, satellite, first, last, sinks, progress, threads, cache);
    return;
  }
  check_rule(plan, first, last);
  const SatelliteSweep s(plan, eop, satellite);
  const TargetIndex ix =
      index_targets(plan, satellite, first, last, s.scr, sweep_frame_gap(s.sp, s.table));
  const std::size_t computed =
      sweep_points(s.sp, s.orbit, s.table, s.scr, ix, sinks, progress, threads);
  if (std::getenv("ORVUS_PLAN_STATS") != nullptr) {
    std::fprintf(stderr, " ORVUS-PLAN: SATELLITE %zu: %zu STEPS COMPUTED EXACTLY.\n", satellite + 1,
                 computed);
  }
}

FrameGap sweep_frame_gap(const SearchParams& sp, const EopRows& table) {
  const double mjd_start = utc_mjd(sp.start_day, 0.0);
  return frame_gap(table, mjd_start,
                   mjd_start + since_epoch(UtcInstant{sp.start_day, sp.start_sec},
                                           UtcInstant{sp.end_day, sp.end_sec}) /
                                   86400.0);
}

std::size_t sweep_points(const SearchParams& sp, const Propagator& orbit, const EopRows& table,
                         const Screen& scr, const TargetIndex& ix,
                         const std::vector<ContactSink*>& sinks,
                         const std::function<void(double)>& progress, int threads) {
  const std::size_t n = ix.targets.size();
  const FrameGap frame = sweep_frame_gap(sp, table);
  const std::vector<Prepared>& targets = ix.targets;
  std::vector<SearchState> states(n);
  const std::size_t nthreads = static_cast<std::size_t>(std::max(threads, 1));

  // What one thread keeps for the targets it applies (those with t % nthreads == k).
  struct Lane : TargetLane {
    using TargetLane::TargetLane;
    StepData data;
  };
  std::vector<Lane> lanes(nthreads, Lane(n));

  // The targets that the step's points may touch, and those in contact, in order.
  auto apply_exact = [&](Lane& lane, std::size_t k, double day, double sec, const StepData& s) {
    lane.hits.clear();
    for (std::size_t i = 0; i < 3; ++i) {
      B2 q[2];
      const int nq = cap_boxes(s.pt[2 * i] * kRad, s.pt[2 * i + 1] * kRad, 1e-7, q);
      for (int j = 0; j < nq; ++j)
        ix.tree.query(bgi::intersects(q[j]), std::back_inserter(lane.hits));
    }
    lane.gather(ix, k, nthreads);
    for (const std::size_t t : lane.todo) {
      const Prepared& tg = targets[t];
      lane.data = s;
      bool in = false;
      for (std::size_t i = 0; i < 3 && !in; ++i) in = point_in(tg, s.pt[2 * i], s.pt[2 * i + 1]);
      lane.data.any_in = in;
      apply_step(tg.p, orbit, table, *sinks[t], day, sec, lane.data, states[t]);
      if (states[t].in == 1) lane.active.push_back(t);
    }
  };

  StepWorkers workers(static_cast<int>(nthreads) - 1);
  StepBlock block(kStepsPerBlock);
  auto& days = block.days;
  auto& secs = block.secs;
  auto& exact_index = block.exact_index;
  std::vector<Entry> hits;

  const UtcInstant start{sp.start_day, sp.start_sec};
  const double total = std::max(since_epoch(start, UtcInstant{sp.end_day, sp.end_sec}), 1.0);
  double cur_day = sp.start_day, cur_sec = sp.start_sec;
  long skip = 0;
  bool prev_maybe = false;
  std::size_t stat_exact = 0;
  BlockPacer pacer;
  for (;;) {
    // 1. Screen a block of steps (cheap, in time order).
    std::size_t nb = 0, ne = 0;
    const std::size_t steps = pacer.start();
    while (nb < steps && step_in_interval(sp, cur_day, cur_sec)) {
      bool maybe = false;
      if (skip > 0) {
        --skip;
      } else if (n > 0) {
        CheapState cs;
        if (!scr.enabled || !cheap_point(orbit, scr, cur_day, cur_sec, cs)) {
          maybe = true;
        } else {
          // The tracking points from the cheap state, made at the first entry that the
          // bounds leave in view: the step is computed only when one of them comes within
          // the frame gap of the entry's box.
          bool have_points = false, points_ok = false;
          double pt[6];
          auto near = [&](std::size_t entry) {
            if (!have_points) {
              have_points = true;
              Vec6 geo{};
              state_to_spherical(cs.ef, geo);
              tracking_points(sp, cs.ef, geo, local_radius(geo[1]), pt);
              points_ok = std::isfinite(frame.turn);
              for (const double v : pt) points_ok = points_ok && std::isfinite(v);
            }
            if (!points_ok) return true;
            const BBox& nbx = ix.entry_near[entry];
            return in_bbox(nbx, pt[0], pt[1]) || in_bbox(nbx, pt[2], pt[3]) ||
                   in_bbox(nbx, pt[4], pt[5]);
          };
          const double out_for = screen_instant(ix, scr, sp, cs, false, near, hits);
          if (out_for < 0.0) {
            maybe = true;
          } else {
            skip = static_cast<long>(std::floor(out_for / sp.step));
          }
        }
      }
      // A day missing from the Earth-orientation table is computed: the run stops there, as
      // orvus's does.
      if (!maybe && !eop_covers(utc_mjd(cur_day, cur_sec), table)) {
        maybe = true;
      }
      days[nb] = cur_day;
      secs[nb] = cur_sec;
      // The step after one that may be in view may end a contact.
      if (maybe || prev_maybe) exact_index[ne++] = nb;
      prev_maybe = maybe;
      ++nb;
      advance_step(sp, cur_day, cur_sec);
    }
    if (nb == 0) break;
    stat_exact += ne;

    // 2. Compute the exact steps, each from its time alone (on the threads when there are
    // many, or when the blocks are cut short by their work).
    const bool heavy = pacer.heavy();
    block.compute(workers, sp, orbit, table, ne, ne >= 64 || heavy);

    // 3. Apply them in time order, each lane (thread) to its own targets.
    const auto& failure = block.failure;
    std::size_t stop = ne;
    for (std::size_t j = 0; j < ne; ++j) {
      if (failure[exact_index[j]]) {
        stop = j;
        break;
      }
    }
    workers.for_each(
        nthreads,
        [&](std::size_t k) {
          for (std::size_t j = 0; j < stop; ++j) {
            const std::size_t i = exact_index[j];
            apply_exact(lanes[k], k, days[i], secs[i], block.data[i]);
          }
        },
        stop >= 64 || heavy);
    if (stop < ne) std::rethrow_exception(failure[exact_index[stop]]);
    pacer.finish();
    if (progress) {
      progress(std::clamp(since_epoch(start, UtcInstant{cur_day, cur_sec}) / total, 0.0, 1.0));
    }
  }
  for (std::size_t t = 0; t < n; ++t) finish_search(states[t], *sinks[t]);
  if (progress) progress(1.0);
  return stat_exact;
}

namespace {

// Keeps a target's contacts with the geodetic points (1) and (2) of their steps.
class Collector : public ContactSink {
 public:
  struct Item {
    Contact contact;
    std::vector<GroundPoint> side1, side2;
  };
  void contact_start(int number, const ContactStep& first) override {
    (void)first;
    open_.contact = Contact{};
    open_.contact.number = number;
    open_.side1.clear();
    open_.side2.clear();
  }
  void contact_step(int /*number*/, const ContactStep& step) override {
    open_.side1.push_back(step.geodetic[1]);
    open_.side2.push_back(step.geodetic[2]);
  }
  void contact_end(const Contact& contact) override {
    open_.contact = contact;
    items.push_back(std::move(open_));
    open_ = Item{};
  }
  void open_at_end(int /*number*/) override {}
  std::vector<Item> items;

 private:
  Item open_;
};

}  // namespace

}  // namespace plan

double plan::target_coverage(const Target& t, const detail::BoxCoverage* box,
                             const std::vector<GroundPoint>& side1,
                             const std::vector<GroundPoint>& side2) {
  if (side1.size() == 1 && side2.size() == 1) {
    // One step: the line from point (1) to point (2), as two equal steps.
    return target_coverage(t, box, {side1[0], side1[0]}, {side2[0], side2[0]});
  }
  if (t.box && t.box->lon1 < t.box->lon2 && t.box->lat1 < t.box->lat2) {
    return box != nullptr ? (*box)(side1, side2) : detail::BoxCoverage(*t.box)(side1, side2);
  }
  if (t.box && (t.box->lon1 < t.box->lon2 || t.box->lat1 < t.box->lat2)) {
    // A box of no width is a segment of a meridian or a parallel: the share of its length.
    const Box& b = *t.box;
    const Ring segment = {{b.lon1, b.lat1}, {b.lon2, b.lat2}};
    return lines_coverage({segment}, t.centre, side1, side2);
  }
  if (!t.lines.empty()) return lines_coverage(t.lines, t.centre, side1, side2);
  // A box of one position seen is seen whole; a point's contact is the instant the line
  // passes over it.
  if (t.box || t.points.size() == 1) return 1.0;
  if (!t.points.empty()) return points_coverage(t.points, t.centre, side1, side2);
  return polygons_coverage(t.polygons, t.centre, side1, side2);
}

OpportunityFigures plan::opportunity_figures(const Target& t, const detail::BoxCoverage* box,
                                             const ElementSet& elements, const UtcInstant& best_utc,
                                             const std::vector<GroundPoint>& side1,
                                             const std::vector<GroundPoint>& side2,
                                             const std::array<double, 3>& sun_fixed) {
  OpportunityFigures f;
  f.sun_elevation_deg = sun_elevation_from(sun_fixed, t.centre.lon_deg, t.centre.lat_deg);
  f.coverage = target_coverage(t, box, side1, side2);
  f.element_age_days = element_age_days(elements, best_utc);
  return f;
}

double target_coverage(const Target& target, const std::vector<GroundPoint>& side1,
                       const std::vector<GroundPoint>& side2) {
  return plan::target_coverage(target, nullptr, side1, side2);
}

OpportunityFigures opportunity_figures(const Target& target, const ElementSet& elements,
                                       const UtcInstant& best_utc,
                                       const std::vector<GroundPoint>& side1,
                                       const std::vector<GroundPoint>& side2,
                                       const std::array<double, 3>& sun_fixed) {
  return plan::opportunity_figures(target, nullptr, elements, best_utc, side1, side2, sun_fixed);
}

std::vector<Opportunity> plan_opportunities(const Plan& plan, const EarthOrientation& eop,
                                            std::size_t satellite, std::size_t first,
                                            std::size_t last,
                                            const std::function<void(double)>& progress) {
  return plan::opportunities(plan, eop, satellite, first, last, progress, machine_threads());
}

void plan_contacts(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                   std::size_t target, ContactSink& sink) {
  plan::check_satellite(plan, satellite);
  if (target >= plan.targets.size()) {
    throw Error(ErrorKind::usage, {" THE PLAN HAS NO TARGET " + std::to_string(target + 1) + ".",
                                   " EXECUTION INTERRUPTED."});
  }
  plan::sweep(plan, eop, satellite, target, target + 1, {&sink}, {});
}

std::vector<Opportunity> plan::opportunities(const Plan& plan, const EarthOrientation& eop,
                                             std::size_t satellite, std::size_t first,
                                             std::size_t last,
                                             const std::function<void(double)>& progress,
                                             int threads, const SweepCache* cache) {
  plan::check_satellite(plan, satellite);
  last = std::min(last, plan.targets.size());
  first = std::min(first, last);
  const std::size_t n = last - first;
  std::vector<plan::Collector> collectors(n);
  std::vector<ContactSink*> sinks(n);
  for (std::size_t i = 0; i < n; ++i) sinks[i] = &collectors[i];
  plan::sweep(plan, eop, satellite, first, last, sinks, progress, threads, cache);

  const ElementSet& el = plan.satellites[satellite].elements;
  struct Work {
    std::size_t target;
    plan::Collector::Item* item;
  };
  std::vector<Work> work;
  for (std::size_t i = 0; i < n; ++i)
    for (auto& item : collectors[i].items) work.push_back({first + i, &item});
  std::vector<Opportunity> out(work.size());
  // The work after the sweep, on the machine's threads in chunks with the caller's progress
  // between them: on a large deck it takes seconds, in which an interrupt must not wait.
  StepWorkers workers(std::max(threads, 1) - 1);
  const auto in_chunks = [&](std::size_t n, const auto& job) {
    constexpr std::size_t kChunk = 1024;
    for (std::size_t first = 0; first < n; first += kChunk) {
      const std::size_t count = std::min(kChunk, n - first);
      workers.for_each(
          count, [&](std::size_t i) { job(first + i); }, count >= 64);
      if (progress) progress(1.0);
    }
  };
  // The Sun at whole minutes of the UTC day (each computed once), linear between: within
  // 0.0001 deg of sun_elevation_deg at any instant, and the same whatever the targets.
  std::vector<std::pair<double, double>> minutes;  // (day, minute of the day)
  for (const Work& w : work) {
    const UtcInstant& b = w.item->contact.best_utc;
    const double m = std::floor(b.seconds / 60.0);
    minutes.emplace_back(b.day, m);
    minutes.emplace_back(b.day, m + 1.0);
  }
  std::sort(minutes.begin(), minutes.end());
  minutes.erase(std::unique(minutes.begin(), minutes.end()), minutes.end());
  std::vector<std::array<double, 3>> sun(minutes.size());
  auto sun_index = [&](double day, double m) {
    return static_cast<std::size_t>(
        std::lower_bound(minutes.begin(), minutes.end(), std::make_pair(day, m)) - minutes.begin());
  };
  in_chunks(minutes.size(), [&](std::size_t i) {
    sun[i] = cache != nullptr
                 ? cache->sun(minutes[i].first, minutes[i].second)
                 : sun_earth_fixed(UtcInstant{minutes[i].first, minutes[i].second * 60.0});
  });
  // The boxes' outlines on their projections, made once per target.
  std::vector<std::unique_ptr<detail::BoxCoverage>> box_cover(n);
  for (const Work& w : work) {
    const Target& t = plan.targets[w.target];
    auto& c = box_cover[w.target - first];
    if (t.box && !c) c = std::make_unique<detail::BoxCoverage>(*t.box);
  }
  // Sun, coverage and swath of each contact: independent, on the hardware's threads.
  auto job = [&](std::size_t w) {
    const Target& t = plan.targets[work[w].target];
    plan::Collector::Item& item = *work[w].item;
    Opportunity& o = out[w];
    o.satellite = satellite;
    o.target = work[w].target;
    o.contact = item.contact;
    o.contact.steps.clear();
    const UtcInstant& b = o.contact.best_utc;
    const double m = std::floor(b.seconds / 60.0);
    const auto& s0 = sun[sun_index(b.day, m)];
    const auto& s1 = sun[sun_index(b.day, m + 1.0)];
    const double f = b.seconds / 60.0 - m;
    const std::array<double, 3> at = {s0[0] + (s1[0] - s0[0]) * f, s0[1] + (s1[1] - s0[1]) * f,
                                      s0[2] + (s1[2] - s0[2]) * f};
    // A contact of an instant (a point, or a line crossed at once) has one step: its swath
    // is the line, a ring without area.
    if (item.side1.size() == 1) {
      item.side1.push_back(item.side1.front());
      item.side2.push_back(item.side2.front());
    }
    const OpportunityFigures figures = plan::opportunity_figures(
        t, box_cover[work[w].target - first].get(), el, b, item.side1, item.side2, at);
    o.sun_elevation_deg = figures.sun_elevation_deg;
    o.coverage = figures.coverage;
    o.element_age_days = figures.element_age_days;
    Ring ring = item.side1;
    for (auto it = item.side2.rbegin(); it != item.side2.rend(); ++it) ring.push_back(*it);
    if (!ring.empty()) ring.push_back(ring.front());
    if (ring.size() >= 4) o.swath = split_ring(ring);
  };
  in_chunks(work.size(), job);
  return out;
}

}  // namespace orvus
