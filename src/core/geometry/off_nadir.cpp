#include "core/geometry/off_nadir.hpp"

#include <cmath>
#include <limits>

#include "core/geometry/vec3.hpp"
#include "core/report_factors.hpp"

namespace orvus {

namespace {
double sind(double deg) {
  return std::sin(deg * detail::deg_to_rad_13);
}
}  // namespace

void nadir_frame(const Vec6& state, const Vec6& /*spherical*/, double radius, Vec3& nadir,
                 Vec3& normal, double& height) {
  const Vec3 r = {state[0], state[1], state[2]};
  const Vec3 v = {state[3], state[4], state[5]};
  normal = detail::unit_vector(detail::cross(r, v));
  nadir = detail::scale(detail::unit_vector(r), radius);
  height = detail::norm({r[0] - nadir[0], r[1] - nadir[1], r[2] - nadir[2]});
}

// The ground point P seen at off-nadir angle alpha on the sphere of radius R (the local
// sphere; the satellite at distance r from its centre O). In the triangle O, satellite, P
// the sine rule gives the angle at P as 180 deg - gamma with sin gamma = r sin alpha / R (P
// is the near intersection, so that angle is obtuse), hence the central angle between the
// nadir point N and P is theta = gamma - alpha. This is the relation of nadir angle,
// elevation and Earth central angle (eta + epsilon + lambda = 90 deg, sin eta = sin rho
// cos epsilon) in J. R. Wertz and W. J. Larson (eds.), Space Mission Analysis and Design,
// 3rd ed., 1999, section 5.1, with eta = alpha, epsilon = 90 deg - gamma, lambda = theta.
// The point is built in the tangent plane at N, in the plane of r and the orbit normal u:
// A is the distance from N to Q, where the line of sight meets that plane, and w the
// distance from Q to W, where the line from O through P meets it, each from the law of
// sines in its small triangle; A + w = R tan theta, so W lies exactly on the ray O-P and
// has P's longitude and latitude.
void off_nadir_point(const Vec6& state, const Vec6& /*spherical*/, double radius, const Vec3& nadir,
                     const Vec3& normal, double height, double alpha, double& lon, double& lat) {
  const double a_rad = alpha * detail::deg_to_rad_13;
  // Q: the flat-Earth intersection, A = H tan alpha from N.
  const double a_flat = (height / std::cos(a_rad)) * std::sin(a_rad);
  const double rn = std::sqrt(state[0] * state[0] + state[1] * state[1] + state[2] * state[2]);
  const double sin_gamma = rn * std::sin(a_rad) / radius;
  if (!(std::fabs(sin_gamma) <= 1.0)) {  // the line of sight misses the sphere
    lon = std::numeric_limits<double>::quiet_NaN();
    lat = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  const double gamma = std::asin(sin_gamma) * detail::rad_to_deg_13;
  const double theta = gamma - alpha;
  // Chord N-P (triangle satellite, N, P: the angle at N is 90 deg + theta/2), then Q-P
  // along the line of sight, then Q-W in the tangent plane.
  const double c = height * std::sin(a_rad) / sind(90.0 - alpha - theta / 2.0);
  const double q = sind(theta / 2.0) * c / sind(alpha + 90.0);
  const double w = sind(theta + alpha) * q / sind(90.0 - theta);
  const double offset = a_flat + w;
  const Vec3 wp = {nadir[0] + offset * normal[0], nadir[1] + offset * normal[1],
                   nadir[2] + offset * normal[2]};
  // Longitude as in the spherical-state conversion, wrapped to (-180, 180].
  const double r = std::sqrt(wp[0] * wp[0] + wp[1] * wp[1] + wp[2] * wp[2]);
  lon = angle_0_2pi(wp[1], wp[0]) * detail::rad_to_deg_13;
  if (lon > 180.0) lon -= 360.0;
  lat = std::asin(wp[2] / r) * detail::rad_to_deg_13;
}

}  // namespace orvus
