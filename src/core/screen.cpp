// The screened contact search: steps proven out of the box are only counted; the others
// are computed exactly as the plain search computes them, in blocks, on several threads,
// and applied to the contact state in time order.
#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

#include "core/off_nadir.hpp"
#include "core/search.hpp"
#include "core/step_workers.hpp"
#include "core/time_text.hpp"
#include "core/tod2ef.hpp"
#include "orvus/constants.hpp"

namespace orvus {

namespace {

// Margin for the cheap sub-satellite point: the equation of the equinoxes (under 1.2 s of
// rotation), UT1 - UTC (under 0.9 s) and polar motion (under 1") stay below 0.01 deg.
constexpr double kPositionMargin = 0.05 * constants::deg_to_rad;
constexpr double kMaxSkip = 1800.0;  // s
constexpr std::size_t kBlock = 4096;

// Angle of (a - b) for longitudes in radians, in [0, pi].
double lon_gap(double a, double b) {
  double d = std::fmod(std::fabs(a - b), constants::two_pi);
  if (d > constants::pi) d = constants::two_pi - d;
  return d;
}

}  // namespace

void init_screen(const SearchParams& p, const Propagator& orbit, Screen& s) {
  s = Screen{};
  // The box as the points can reach it: latitudes in [-90, 90]; a box across the
  // antimeridian keeps its longitudes as written (it holds points one turn away).
  s.wraps = p.gc_lon1 < -180.0 || p.gc_lon2 > 180.0;
  const double lon1 = s.wraps ? p.gc_lon1 : std::max(p.gc_lon1, -180.0);
  const double lon2 = s.wraps ? p.gc_lon2 : std::min(p.gc_lon2, 180.0);
  const double lat1 = std::max(p.gc_lat1, -90.0);
  const double lat2 = std::min(p.gc_lat2, 90.0);
  if (!(lon1 <= lon2 && lat1 <= lat2)) {
    s.all_out = true;
    return;
  }
  s.lon1 = lon1 * constants::deg_to_rad;
  s.lon2 = lon2 * constants::deg_to_rad;
  s.lat1 = lat1 * constants::deg_to_rad;
  s.lat2 = lat2 * constants::deg_to_rad;
  // The cosine is concave over [-90, 90]: its smallest value in the box is at an edge.
  s.cos_min = std::max(std::min(std::cos(s.lat1), std::cos(s.lat2)), 0.0);

  const double a = orbit.mean_semi_major_axis_m();
  const double e = orbit.elements().eccentricity;
  const double mu = model_earth()[2];
  if (!(std::isfinite(a) && a > 0.0 && e >= 0.0 && e < 0.5)) return;  // compute every step
  s.r_hi = a * (1.0 + e) * 1.03 + 30.0e3;
  s.r_lo = a * (1.0 - e) * 0.97 - 30.0e3;
  const double r_min_ground =
      model_earth()[0] * constants::local_sphere_polar_ratio;  // smallest local radius
  if (!(s.r_lo > r_min_ground)) return;

  // Central angle from the nadir to the point seen at the largest off-nadir angle, largest
  // at the greatest radius on the smallest sphere; past the limb, the horizon.
  const double alpha = std::max({std::fabs(p.alpha0), std::fabs(p.alpha1), std::fabs(p.alpha2)}) *
                       constants::deg_to_rad;
  const double limb = std::asin(r_min_ground / s.r_hi);
  const double theta = alpha >= limb ? std::acos(r_min_ground / s.r_hi)
                                     : std::asin(s.r_hi * std::sin(alpha) / r_min_ground) - alpha;
  s.theta = theta + kPositionMargin;
  // Ground speed of the sub-satellite point: the orbit's angular rate (at most the escape
  // speed over the radius) plus the Earth's rotation, with a safety factor.
  s.omega = (std::sqrt(2.0 * mu / s.r_lo) / s.r_lo + model_earth()[3] * 1.01) * 1.05;
  s.max_skip = kMaxSkip;
  s.enabled = std::isfinite(s.theta) && std::isfinite(s.omega) && s.omega > 0.0;
}

double box_distance_bound(const Screen& s, double lon, double lat) {
  const double lat_gap = std::max({0.0, s.lat1 - lat, lat - s.lat2});
  double lon_d = 0.0;
  bool inside = lon >= s.lon1 && lon <= s.lon2;
  if (!inside && s.wraps) {  // east of the box's west edge by less than its width?
    double east = std::fmod(lon - s.lon1, constants::two_pi);
    if (east < 0.0) east += constants::two_pi;
    inside = east <= s.lon2 - s.lon1;
  }
  if (!inside) lon_d = std::min(lon_gap(lon, s.lon1), lon_gap(lon, s.lon2));
  // haversine: sin^2(d/2) = sin^2(dlat/2) + cos(lat) cos(lat') sin^2(dlon/2), each term
  // bounded below over the box.
  const double a = std::sin(lat_gap / 2.0);
  const double b = std::sin(lon_d / 2.0);
  const double h = a * a + std::max(std::cos(lat), 0.0) * s.cos_min * b * b;
  return 2.0 * std::asin(std::sqrt(std::min(h, 1.0)));
}

bool screened_state(const Propagator& orbit, const Screen& s, double day, double seconds,
                    StateVector& tod) {
  const double tsince = since_epoch(orbit.elements().epoch, day, seconds);
  tod = orbit.state_at(tsince);
  const double r = std::sqrt(tod[0] * tod[0] + tod[1] * tod[1] + tod[2] * tod[2]);
  // The bounds hold while the osculating orbit stays between r_lo and r_hi.
  const double v2 = tod[3] * tod[3] + tod[4] * tod[4] + tod[5] * tod[5];
  const double mu = model_earth()[2];
  const double energy = v2 / 2.0 - mu / r;
  const double hx = tod[1] * tod[5] - tod[2] * tod[4];
  const double hy = tod[2] * tod[3] - tod[0] * tod[5];
  const double hz = tod[0] * tod[4] - tod[1] * tod[3];
  const double sma = -mu / (2.0 * energy);
  const double ecc = std::sqrt(std::max(0.0, 1.0 - (hx * hx + hy * hy + hz * hz) / (mu * sma)));
  return energy < 0.0 && sma * (1.0 + ecc) + 50.0e3 <= s.r_hi &&
         sma * (1.0 - ecc) - 50.0e3 >= s.r_lo;
}

long screen_step(const SearchParams& p, const Propagator& orbit, const Screen& s, double day,
                 double seconds) {
  if (s.all_out) return static_cast<long>(1e9);
  if (!s.enabled) return -1;
  StateVector tod{};
  if (!screened_state(orbit, s, day, seconds, tod)) return -1;
  const double r = std::sqrt(tod[0] * tod[0] + tod[1] * tod[1] + tod[2] * tod[2]);
  // Cheap Earth-fixed direction: the mean sidereal time of the UTC instant.
  const double date1 = day + constants::mjd1950_to_jd;
  const double date2 = seconds / 86400.0;
  const double gmst = eraGmst06(date1, date2, date1, date2);
  const double c = std::cos(gmst);
  const double sn = std::sin(gmst);
  const double x = c * tod[0] + sn * tod[1];
  const double y = -sn * tod[0] + c * tod[1];
  const double lon = std::atan2(y, x);
  const double lat = std::asin(tod[2] / r);
  const double margin = box_distance_bound(s, lon, lat) - s.theta;
  if (!(margin > 0.0)) return -1;
  const double out_for = std::min(margin / s.omega, s.max_skip);  // s
  return static_cast<long>(std::floor(out_for / p.step));
}

void StepBlock::compute(StepWorkers& workers, const SearchParams& p, const Propagator& orbit,
                        const EopRows& table, std::size_t n_exact, bool in_parallel) {
  workers.for_each(
      n_exact,
      [&](std::size_t j) {
        const std::size_t i = exact_index[j];
        failure[i] = nullptr;
        try {
          compute_step(p, orbit, table, days[i], secs[i], data[i]);
        } catch (...) {
          failure[i] = std::current_exception();
        }
      },
      in_parallel);
}

void screened_search(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                     ContactSink& sink, int threads, const std::function<void()>& between_blocks) {
  Screen screen;
  init_screen(p, orbit, screen);
  StepWorkers workers(std::max(threads, 1) - 1);

  // One block of steps at a time, and whether each is computed.
  StepBlock block(kBlock);
  std::vector<unsigned char> exact(kBlock);

  SearchState st;
  double cur_day = p.start_day;
  double cur_sec = p.start_sec;
  long out_left = 0;        // steps still proven out by the last screening
  bool prev_maybe = false;  // the previous step may have been in the box
  for (;;) {
    // Screen the next block (cheap, in time order).
    std::size_t n = 0;
    std::size_t n_exact = 0;
    while (n < kBlock && step_in_interval(p, cur_day, cur_sec)) {
      bool proven_out = false;
      if (out_left > 0) {
        --out_left;
        proven_out = true;
      } else {
        const long k = screen_step(p, orbit, screen, cur_day, cur_sec);
        if (k >= 0) {
          out_left = k;
          proven_out = true;
        }
      }
      // A day missing from the Earth-orientation table is computed, so that the run stops
      // at this step as the plain search does.
      const bool maybe = !proven_out || !eop_covers(utc_mjd(cur_day, cur_sec), table);
      block.days[n] = cur_day;
      block.secs[n] = cur_sec;
      // The step after one that may be in the box may be the end of a contact.
      exact[n] = (maybe || prev_maybe) ? 1 : 0;
      if (exact[n]) block.exact_index[n_exact++] = n;
      prev_maybe = maybe;
      ++n;
      advance_step(p, cur_day, cur_sec);
    }
    if (n == 0) break;

    // Compute the exact steps (in parallel; each depends on its time alone).
    block.compute(workers, p, orbit, table, n_exact, n_exact >= 32);

    // Apply them in time order.
    for (std::size_t i = 0; i < n; ++i) {
      if (!exact[i]) {
        apply_out_step(st);
        continue;
      }
      if (block.failure[i]) std::rethrow_exception(block.failure[i]);
      apply_step(p, orbit, table, sink, block.days[i], block.secs[i], block.data[i], st);
    }
    if (between_blocks) between_blocks();
  }
  finish_search(st, sink);
}

}  // namespace orvus
