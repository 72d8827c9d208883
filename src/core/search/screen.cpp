// The screening of the contact search: the bounds that prove steps out of the box (the
// screened search itself is the sweep of the points rule over one box, core/contacts), and
// the exact computation of a block of steps on several threads.
#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/search/search.hpp"
#include "core/search/step_workers.hpp"
#include "core/time/time_text.hpp"
#include "orvus/constants.hpp"

namespace orvus {

namespace {

// Margin for the cheap sub-satellite point: the equation of the equinoxes (under 1.2 s of
// rotation), UT1 - UTC (under 0.9 s) and polar motion (under 1") stay below 0.01 deg.
constexpr double kPositionMargin = 0.05 * constants::deg_to_rad;
constexpr double kMaxSkip = 1800.0;  // s

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

}  // namespace orvus
