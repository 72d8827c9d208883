// The shared sweep: one screened pass over the interval per satellite serves every target.
// A step is computed exactly once where some target may be in view (an R-tree over the
// targets' bounding boxes and the screening bounds of screen.cpp say where); each target
// then runs orvus's own contact state machine (apply_step) with its own parameters.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <erfa.h>

#include "core/eop_table.hpp"
#include "core/plan/plan_internal.hpp"
#include "core/sgp8.hpp"
#include "core/time_text.hpp"
#include "orvus/analysis.hpp"
#include "orvus/constants.hpp"

namespace orvus {

namespace plan {

namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using P2 = bg::model::point<double, 2, bg::cs::cartesian>;
using B2 = bg::model::box<P2>;
using Entry = std::pair<B2, std::size_t>;  // a bounding box (degrees) and its entry number

constexpr double kPi = constants::pi;
constexpr double kRad = kPi / 180.0;

// The longitude/latitude boxes (degrees, split at +-180) holding every point within the
// angle `radius` (rad) of (lon, lat) (rad).
int cap_boxes(double lon, double lat, double radius, B2 out[2]) {
  const double r = radius + 1e-9;
  const double lat1 = lat - r, lat2 = lat + r;
  if (lat2 >= kPi / 2 || lat1 <= -kPi / 2 || r >= kPi / 2) {
    out[0] = B2(P2(-180.0, std::max(lat1, -kPi / 2) / kRad), P2(180.0, std::min(lat2, kPi / 2) / kRad));
    return 1;
  }
  const double dl = std::asin(std::min(1.0, std::sin(r) / std::cos(std::fabs(lat) + r)));
  double a = (lon - dl) / kRad, b = (lon + dl) / kRad;
  while (a < -180.0) { a += 360.0; b += 360.0; }
  while (a > 180.0) { a -= 360.0; b -= 360.0; }
  if (b <= 180.0) {
    out[0] = B2(P2(a, lat1 / kRad), P2(b, lat2 / kRad));
    return 1;
  }
  out[0] = B2(P2(a, lat1 / kRad), P2(180.0, lat2 / kRad));
  out[1] = B2(P2(-180.0, lat1 / kRad), P2(b - 360.0, lat2 / kRad));
  return 2;
}

// The sub-satellite point by SGP8 and the mean sidereal time (screen_step's cheap chain);
// false when the screening bounds do not hold at this time.
bool cheap_point(const Propagator& orbit, const Screen& s, double day, double seconds, double& lon,
                 double& lat) {
  const double tsince =
      (day - orbit.elements().epoch.day) * 86400.0 + (seconds - orbit.elements().epoch.seconds);
  StateVector tod{};
  sgp8_propagate(tsince, tod, model_earth(), orbit.sgp8_elements(), orbit.sgp8_coefficients());
  const double r = std::sqrt(tod[0] * tod[0] + tod[1] * tod[1] + tod[2] * tod[2]);
  const double v2 = tod[3] * tod[3] + tod[4] * tod[4] + tod[5] * tod[5];
  const double mu = model_earth()[2];
  const double energy = v2 / 2.0 - mu / r;
  const double hx = tod[1] * tod[5] - tod[2] * tod[4];
  const double hy = tod[2] * tod[3] - tod[0] * tod[5];
  const double hz = tod[0] * tod[4] - tod[1] * tod[3];
  const double sma = -mu / (2.0 * energy);
  const double ecc = std::sqrt(std::max(0.0, 1.0 - (hx * hx + hy * hy + hz * hz) / (mu * sma)));
  if (!(energy < 0.0 && sma * (1.0 + ecc) + 50.0e3 <= s.r_hi && sma * (1.0 - ecc) - 50.0e3 >= s.r_lo)) {
    return false;
  }
  const double date1 = day + kMjd1950ToJd;
  const double date2 = seconds / 86400.0;
  const double gmst = eraGmst06(date1, date2, date1, date2);
  const double c = std::cos(gmst), sn = std::sin(gmst);
  lon = std::atan2(-sn * tod[0] + c * tod[1], c * tod[0] + sn * tod[1]);
  lat = std::asin(tod[2] / r);
  return std::isfinite(lon) && std::isfinite(lat);
}

}  // namespace

void sweep(const Plan& plan, const EarthOrientation& eop, std::size_t satellite, std::size_t first,
           std::size_t last, const std::vector<ContactSink*>& sinks,
           const std::function<void(double)>& progress) {
  const PlanSatellite& ps = plan.satellites.at(satellite);
  const Propagator orbit(ps.elements);
  const EopRows& table = eop.table().rows;
  SearchParams sp;
  search_setup(ps.sensor, Box{-180.0, 180.0, -90.0, 90.0}, plan.interval, sp);
  sp.element_file = ps.elements_path;
  check_orbit_domain(sp, orbit);
  Screen scr;
  init_screen(sp, orbit, scr);

  const std::size_t n = last > first ? last - first : 0;
  std::vector<Prepared> targets;
  targets.reserve(n);
  std::vector<Entry> entries;
  std::vector<Screen> entry_screen;  // the entry's box for the distance bound
  std::vector<std::size_t> entry_target;
  for (std::size_t i = 0; i < n; ++i) {
    targets.push_back(prepare(plan.targets[first + i], ps.sensor, plan.interval));
    targets.back().p.element_file = ps.elements_path;
    for (const BBox& b : targets.back().boxes) {
      Screen s = scr;
      s.all_out = false;
      s.wraps = false;
      s.lon1 = b.lon1 * kRad;
      s.lon2 = b.lon2 * kRad;
      s.lat1 = b.lat1 * kRad;
      s.lat2 = b.lat2 * kRad;
      s.cos_min = std::max(std::min(std::cos(s.lat1), std::cos(s.lat2)), 0.0);
      entries.emplace_back(B2(P2(b.lon1, b.lat1), P2(b.lon2, b.lat2)), entry_screen.size());
      entry_screen.push_back(s);
      entry_target.push_back(i);
    }
  }
  const bgi::rtree<Entry, bgi::quadratic<16>> tree(entries.begin(), entries.end());

  std::vector<SearchState> states(n);
  std::vector<std::size_t> active;  // targets in contact at the previous step
  std::vector<std::size_t> stamp(n, 0);
  std::size_t stamp_now = 0;
  std::vector<std::size_t> todo;
  std::vector<Entry> hits;
  const bool swath = plan.rule == TargetRule::swath;
  // Skips of increasing length: the screen looks this far ahead at once.
  const double tiers[3] = {20.0, 120.0, 600.0};  // s

  const double total = std::max(since_epoch(plan.interval.start, plan.interval.end), 1.0);
  double next_report = 0.0;
  double cur_day = sp.start_day, cur_sec = sp.start_sec;
  long skip = 0;
  StepData s, st_data;
  while (step_in_interval(sp, cur_day, cur_sec)) {
    if (progress) {
      const double done = since_epoch(plan.interval.start, UtcInstant{cur_day, cur_sec}) / total;
      if (done >= next_report) {
        progress(std::clamp(done, 0.0, 1.0));
        next_report = done + 0.01;
      }
    }
    bool exact = !active.empty();
    if (skip > 0) {
      --skip;
    } else if (n > 0) {
      double lon = 0, lat = 0;
      if (!scr.enabled || !cheap_point(orbit, scr, cur_day, cur_sec, lon, lat)) {
        exact = true;
      } else {
        // Empty wide caps: skip at once.
        long k = -1;
        B2 q[2];
        double min_margin = std::numeric_limits<double>::infinity();
        bool maybe = false;
        int tier = 0;
        for (tier = 0; tier < 3; ++tier) {
          const int nq = cap_boxes(lon, lat, scr.theta + scr.omega * tiers[tier], q);
          hits.clear();
          for (int j = 0; j < nq; ++j) tree.query(bgi::intersects(q[j]), std::back_inserter(hits));
          if (!hits.empty()) break;
        }
        if (tier == 0) {
          for (const Entry& e : hits) {
            const double m = box_distance_bound(entry_screen[e.second], lon, lat) - scr.theta;
            if (!(m > 0.0)) {
              maybe = true;
              break;
            }
            min_margin = std::min(min_margin, m);
          }
          if (!maybe) {
            const double out_for = std::min(min_margin / scr.omega, tiers[0]);
            k = static_cast<long>(std::floor(out_for / sp.step));
          }
        } else {
          // Nothing within the previous tier's reach.
          const double out_for = tiers[tier - 1];
          k = static_cast<long>(std::floor(out_for / sp.step));
        }
        if (maybe) {
          exact = true;
        } else {
          skip = k;
        }
      }
    }
    if (!exact && !eop_covers(cur_day + kMjd1950ToJd - 2400000.5 + cur_sec / 86400.0, table)) {
      exact = true;  // the run stops at this step, as orvus's does
    }
    if (exact) {
      compute_step(sp, orbit, table, cur_day, cur_sec, s);
      // The targets the tracking points (or the arc) may touch, and those in contact.
      ++stamp_now;
      todo.clear();
      for (const std::size_t t : active) {
        stamp[t] = stamp_now;
        todo.push_back(t);
      }
      hits.clear();
      if (swath) {
        // The arc lies within half its length of its midpoint.
        const V3 a = unit(s.pt[2], s.pt[3]), b = unit(s.pt[4], s.pt[5]);
        V3 m = {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
        const double mn = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
        const double half = 2.0 * std::asin(std::min(1.0, std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2])) / 2.0)) / 2.0;
        B2 q[2];
        int nq = 0;
        if (mn > 1e-9) {
          nq = cap_boxes(std::atan2(m[1], m[0]), std::asin(std::clamp(m[2] / mn, -1.0, 1.0)), half + 1e-7, q);
        } else {
          nq = cap_boxes(0, 0, kPi, q);
        }
        for (int j = 0; j < nq; ++j) tree.query(bgi::intersects(q[j]), std::back_inserter(hits));
      } else {
        for (int k = 0; k < 3; ++k) {
          B2 q[2];
          const int nq = cap_boxes(s.pt[2 * k] * kRad, s.pt[2 * k + 1] * kRad, 1e-7, q);
          for (int j = 0; j < nq; ++j) tree.query(bgi::intersects(q[j]), std::back_inserter(hits));
        }
      }
      for (const Entry& e : hits) {
        const std::size_t t = entry_target[e.second];
        if (stamp[t] != stamp_now) {
          stamp[t] = stamp_now;
          todo.push_back(t);
        }
      }
      std::sort(todo.begin(), todo.end());
      active.clear();
      for (const std::size_t t : todo) {
        const Prepared& tg = targets[t];
        st_data = s;
        if (swath) {
          bool in = false;
          for (int k = 0; k < 3 && !in; ++k) in = point_in(tg, s.pt[2 * k], s.pt[2 * k + 1]);
          st_data.any_in = in || arc_touches(tg, s.pt[2], s.pt[3], s.pt[4], s.pt[5]);
        } else {
          bool in = false;
          for (int k = 0; k < 3 && !in; ++k) in = point_in(tg, s.pt[2 * k], s.pt[2 * k + 1]);
          st_data.any_in = in;
        }
        apply_step(tg.p, orbit, table, *sinks[t], cur_day, cur_sec, st_data, states[t]);
        if (states[t].in == 1) active.push_back(t);
      }
    }
    advance_step(sp, cur_day, cur_sec);
  }
  for (std::size_t t = 0; t < n; ++t) finish_search(states[t], *sinks[t]);
  if (progress) progress(1.0);
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

std::vector<Opportunity> plan_opportunities(const Plan& plan, const EarthOrientation& eop,
                                            std::size_t satellite, std::size_t first,
                                            std::size_t last,
                                            const std::function<void(double)>& progress) {
  if (satellite >= plan.satellites.size()) {
    throw Error(ErrorKind::usage, {" THE PLAN HAS NO SATELLITE " + std::to_string(satellite + 1) + ".",
                                   " EXECUTION INTERRUPTED."});
  }
  last = std::min(last, plan.targets.size());
  first = std::min(first, last);
  const std::size_t n = last - first;
  std::vector<plan::Collector> collectors(n);
  std::vector<ContactSink*> sinks(n);
  for (std::size_t i = 0; i < n; ++i) sinks[i] = &collectors[i];
  plan::sweep(plan, eop, satellite, first, last, sinks, progress);

  const ElementSet& el = plan.satellites[satellite].elements;
  std::vector<Opportunity> out;
  for (std::size_t i = 0; i < n; ++i) {
    const Target& t = plan.targets[first + i];
    for (auto& item : collectors[i].items) {
      Opportunity o;
      o.satellite = satellite;
      o.target = first + i;
      o.contact = item.contact;
      o.contact.steps.clear();
      o.sun_elevation_deg = sun_elevation_deg(o.contact.best_utc, t.centre.lon_deg, t.centre.lat_deg);
      o.element_age_days = element_age_days(el, o.contact.best_utc);
      if (t.box) {
        o.coverage = box_coverage(*t.box, item.side1, item.side2);
      } else {
        o.coverage = plan::polygons_coverage(t.polygons, t.centre, item.side1, item.side2);
      }
      Ring ring = item.side1;
      for (auto it = item.side2.rbegin(); it != item.side2.rend(); ++it) ring.push_back(*it);
      if (!ring.empty()) ring.push_back(ring.front());
      if (ring.size() >= 4) o.swath = split_ring(ring);
      out.push_back(std::move(o));
    }
  }
  return out;
}

}  // namespace orvus
