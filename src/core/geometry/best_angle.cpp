#include "core/geometry/best_angle.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/report_factors.hpp"
#include "core/time/time_text.hpp"
#include "orvus/constants.hpp"

namespace orvus {

double ddot(int n, const double* x, int incx, const double* y, int incy) {
  double sum = 0.0;
  std::ptrdiff_t ix = 0;
  std::ptrdiff_t iy = 0;
  for (int i = 0; i < n; ++i, ix += incx, iy += incy) sum += x[ix] * y[iy];
  return sum;
}

namespace {

constexpr double kPolarRatio = constants::local_sphere_polar_ratio;

// Earth-fixed state at a time given both as day/seconds and as seconds since epoch.
void earth_fixed(const EopRows& table, const EarthConstants& earth, const Sgp8Elements& elements,
                 const Sgp8Coefficients& coefficients, double day, double seconds, double tsince,
                 StateVector& ef) {
  StateVector tod{};
  sgp8_propagate(tsince, tod, earth, elements, coefficients);
  tod_to_ef(day + constants::mjd1950_to_jd, seconds / 86400.0, tod, ef, table);
}

// Sub-satellite longitude (wrapped to (-180, 180]) and geocentric latitude, degrees.
void sub_satellite(const StateVector& ef, double& lon, double& lat) {
  Vec6 sph{};
  state_to_spherical(ef, sph);
  lon = sph[0] * detail::rad_to_deg_13;
  if (lon > 180.0) lon -= 360.0;
  lat = sph[1] * detail::rad_to_deg_13;
}

// Longitude `lon` (degrees) moved by one whole turn when it lies more than 180 deg from `ref`.
double same_turn(double lon, double ref) {
  if (lon - ref > 180.0) return lon - 360.0;
  if (lon - ref < -180.0) return lon + 360.0;
  return lon;
}

}  // namespace

// The best angle in closed form, from three propagations. The ground track near the given
// time is taken as the straight line through the sub-satellite points 30 s before and
// after, in the plane of longitude and latitude degrees (plate carree); the instant the
// target is abeam is where the target's projection on that line falls, interpolated
// linearly in time (the projection by the law of cosines at the first point: p = d1t cos
// beta1). At that instant the angle is the flat-Earth nadir angle atan(D / H), D the chord
// from the nadir point to the target and H the height, the relation of a plane Earth: on
// the sphere (J. R. Wertz and W. J. Larson (eds.), Space Mission Analysis and Design, 3rd
// ed., 1999, section 5.1: tan eta = sin lambda / (1 / sin rho - cos lambda)) the angle is
// smaller, by 0.01 deg at 100 km from the track and 0.2 deg at 300 km for H = 700 km.
void best_off_nadir(const EopRows& table, const EarthConstants& earth, const Sgp8Elements& elements,
                    const Sgp8Coefficients& coefficients, const UtcInstant& epoch, double& day,
                    double& seconds, double target_lon, double target_lat, double& best_alpha,
                    double& lon, double& lat) {
  const double a = earth[0];
  const double b = a * kPolarRatio;
  StateVector ef{};

  // Sub-satellite points 30 s before and after.
  double day1 = day;
  double sec1 = seconds - 30.0;
  normalise(day1, sec1);
  const double tsince1 = since_epoch(epoch, day1, sec1);
  earth_fixed(table, earth, elements, coefficients, day1, sec1, tsince1, ef);
  double lon1 = 0.0;
  double lat1 = 0.0;
  sub_satellite(ef, lon1, lat1);

  double day2 = day;
  double sec2 = seconds + 30.0;
  normalise(day2, sec2);
  const double tsince2 = since_epoch(epoch, day2, sec2);
  earth_fixed(table, earth, elements, coefficients, day2, sec2, tsince2, ef);
  double lon2 = 0.0;
  double lat2 = 0.0;
  sub_satellite(ef, lon2, lat2);

  // Plane distances in degrees, with point 2 and the target taken on the same turn as
  // point 1: across the antimeridian the plain differences would be off by 360 deg.
  lon2 = same_turn(lon2, lon1);
  const double tlon = same_turn(target_lon, lon1);
  const double d12 = std::sqrt((lat2 - lat1) * (lat2 - lat1) + (lon2 - lon1) * (lon2 - lon1));
  const double d1t =
      std::sqrt((target_lat - lat1) * (target_lat - lat1) + (tlon - lon1) * (tlon - lon1));
  const double d2t =
      std::sqrt((target_lat - lat2) * (target_lat - lat2) + (tlon - lon2) * (tlon - lon2));

  double best_day = day;
  double best_sec = seconds;
  double tbest = since_epoch(epoch, day, seconds);
  if (d12 != 0.0) {  // without ground-track motion the best time stays the input time
    // Projection of the target onto the track line (law of cosines at point 1).
    double p = 0.0;
    if (d1t != 0.0) {
      const double cos_b1 = (d1t * d1t + d12 * d12 - d2t * d2t) / (2.0 * d12 * d1t);
      const double beta1 = std::acos(std::clamp(cos_b1, -1.0, 1.0));
      p = std::cos(beta1) * d1t;
    }
    tbest = tsince1 + (tsince2 - tsince1) * p / d12;
    // Back to day number and seconds.
    const double n = std::trunc(tbest / 86400.0);
    best_day = n + epoch.day;
    best_sec = (tbest / 86400.0 - n) * 86400.0 + epoch.seconds;
    normalise(best_day, best_sec);
  }

  // State at the best time and local radius.
  earth_fixed(table, earth, elements, coefficients, best_day, best_sec, tbest, ef);
  Vec6 sph{};
  state_to_spherical(ef, sph);
  const double radius = b + (a - b) * std::cos(sph[1]);

  Vec3 nadir{};
  Vec3 normal{};
  double height = 0.0;
  nadir_frame(ef, sph, radius, nadir, normal, height);

  // Target on the sphere of radius a.
  Vec3 target{};
  spherical_to_cartesian(
      {target_lon * detail::deg_to_rad_13, target_lat * detail::deg_to_rad_13, a}, target);
  const Vec3 v = {target[0] - nadir[0], target[1] - nadir[1], target[2] - nadir[2]};
  const double distance = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);

  // Side of the track and the angle.
  const double dot = ddot(3, normal.data(), 1, v.data(), 1);
  const double sigma = dot == 0.0 ? 1.0 : dot / std::fabs(dot);
  const double s = distance * sigma;
  best_alpha = std::atan2(s, height) * detail::rad_to_deg_13;

  // Ground point seen: D from the nadir point along the orbit normal.
  const Vec3 w = {nadir[0] + s * normal[0], nadir[1] + s * normal[1], nadir[2] + s * normal[2]};
  Vec3 wsph{};
  cartesian_to_spherical(w, wsph);
  lon = wsph[0] * detail::rad_to_deg_13;
  lat = wsph[1] * detail::rad_to_deg_13;

  day = best_day;
  seconds = best_sec;
}

}  // namespace orvus
