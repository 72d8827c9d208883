#include "core/geometry/coords.hpp"

#include <cmath>

#include "orvus/constants.hpp"

namespace orvus {

namespace {
// The IAU 2009 ellipsoid: a (m), a^2 (m^2) and e^2 = 1 - (1 - e^2).
constexpr double kA = constants::iau2009_a_m;
constexpr double kA2 = constants::iau2009_a2_m2;
constexpr double kE2 = 1.0 - constants::iau2009_one_minus_e2;
// Newton converges quadratically; the cap only guards against a hang on a position
// that is not a number.
constexpr int kMaxNewtonSteps = 200;
}  // namespace

double angle_pm_pi(double y, double x) {
  if (y == 0.0 && x == 0.0) return 0.0;
  return std::atan2(y, x);
}

double angle_0_2pi(double y, double x) {
  double a = angle_pm_pi(y, x);
  if (a < 0.0) a += constants::two_pi;
  return a;
}

void cartesian_to_spherical(const Vec3& position, Vec3& spherical) {
  const double x = position[0];
  const double y = position[1];
  const double z = position[2];
  const double r = std::sqrt(x * x + y * y + z * z);
  spherical = {angle_pm_pi(y, x), std::asin(z / r), r};
}

void spherical_to_cartesian(const Vec3& spherical, Vec3& position) {
  const double lon = spherical[0];
  const double lat = spherical[1];
  const double r = spherical[2];
  position = {r * std::cos(lat) * std::cos(lon), r * std::cos(lat) * std::sin(lon),
              r * std::sin(lat)};
}

void state_to_spherical(const Vec6& state, Vec6& spherical) {
  const double x = state[0];
  const double y = state[1];
  const double z = state[2];
  const double vx = state[3];
  const double vy = state[4];
  const double vz = state[5];
  const double r = std::sqrt(x * x + y * y + z * z);
  const double lon = angle_0_2pi(y, x);
  const double lat = std::asin(z / r);
  // On x = 0 the quotient form would divide by zero; the equivalent form does not.
  const double lon_rate = x != 0.0 ? (vy * x - vx * y) / (x * x * (1.0 + (y / x) * (y / x)))
                                   : (x * vy - y * vx) / (x * x + y * y);
  const double r_rate = (x * vx + y * vy + z * vz) / r;
  const double lat_rate = (vz * r - z * r_rate) / (r * r * std::cos(lat));
  spherical = {lon, lat, r, lon_rate, lat_rate, r_rate};
}

void geodetic_to_cartesian(const Vec3& geodetic, Vec3& position) {
  const double lon = geodetic[0];
  const double lat = geodetic[1];
  const double h = geodetic[2];
  const double s = std::sin(lat);
  const double n = kA / std::sqrt(1.0 - kE2 * s * s);
  position = {(n + h) * std::cos(lat) * std::cos(lon), (n + h) * std::cos(lat) * std::sin(lon),
              (n * (1.0 - kE2) + h) * s};
}

// Newton's method on Bowring's irrational equation for the geodetic latitude (B. R. Bowring,
// "Transformation from spatial to geographical coordinates", Survey Review 23 (181), 1976,
// 323-327; Newton's method on it: T. Fukushima, "Fast transform from geocentric to geodetic
// coordinates", Journal of Geodesy 73, 1999, 603-610, appendix B), written in the scale
// factor k = (N + h) / N of the normal instead of Bowring's kappa = k / (k - e^2). The foot
// of the normal is (x/k, y/k, z (1 - e^2)/(k - e^2)); it lies on the ellipsoid when
//   F(k) = p^2 + (1 - e^2) z^2 kappa^2 - a^2 k^2 = 0,
// and -F'(k) = 2 (p^2 + q kappa) / k wherever F = 0 (q = (1 - e^2) z^2 kappa^2), the
// derivative used below. Starting from k = 1 (a point on the surface), the corrections of a
// point above the surface are positive and shrink quadratically: once one is at most
// tol = sqrt(eps / a), eps = 1/150 m, what is left of k is of order tol^2, i.e. of order
// eps = 6.7 mm in the height (at most 2 mm against the converged value, 0 to 36,000 km up).
// The comparison is signed: a point below the surface, whose first correction is negative,
// stops after it, off by about 2.4e-7 h^2 metres (2 mm at h = -100 m, 6 m at -5 km).
void cartesian_to_geodetic(const Vec3& position, Vec3& geodetic) {
  const double x = position[0];
  const double y = position[1];
  const double z = position[2];
  const double p2 = x * x + y * y;
  const double q0 = (1.0 - kE2) * z * z;
  const double tol = std::sqrt(0.006666666666666666 / kA);
  double k = 1.0;
  for (int step = 0; step < kMaxNewtonSteps; ++step) {
    const double c = k / (k - kE2);
    const double q = q0 * c * c;
    const double f = p2 + q - kA2 * k * k;
    const double dk = (f * 0.5) / ((p2 + q * c) / k);
    k = k + dk;
    if (!(dk > tol)) break;
  }
  // The prime-vertical radius N = a sqrt(1 + w), w = e^2 z^2 / (a^2 (k - e^2)^2), by one
  // Heron step for the square root from 1 + w/2 (w <= e^2/(1 - e^2) < 0.007, at the poles,
  // which leaves at most 2e-11 of N: 0.1 mm).
  const double km = k - kE2;
  const double w = kE2 * z * z / kA2 / (km * km);
  const double n = kA * ((w + 2.0) * 0.25 + (w + 1.0) / (w + 2.0));
  const double lon = angle_pm_pi(y, x);
  const double s = z / (k * n - kE2 * n);
  const double c = std::sqrt(p2) / (k * n);
  geodetic = {lon, std::asin(s / std::sqrt(s * s + c * c)), k * n - n};
}

}  // namespace orvus
