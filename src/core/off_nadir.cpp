#include "core/off_nadir.hpp"

#include <cmath>
#include <limits>

namespace orvus {

namespace {
double sind(double deg) {
  return std::sin(deg * kDegToRadRun);
}
}  // namespace

void cross(const Vec3& a, const Vec3& b, Vec3& c) {
  const double c1 = a[1] * b[2] - a[2] * b[1];
  const double c2 = a[2] * b[0] - a[0] * b[2];
  const double c3 = a[0] * b[1] - a[1] * b[0];
  c = {c1, c2, c3};
}

void nadir_frame(const Vec6& state, const Vec6& /*spherical*/, double radius, Vec3& nadir,
                 Vec3& normal, double& height) {
  const Vec3 r = {state[0], state[1], state[2]};
  const Vec3 v = {state[3], state[4], state[5]};
  Vec3 c{};
  cross(r, v, c);
  const double cn = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
  normal = {c[0] / cn, c[1] / cn, c[2] / cn};
  const double rn = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  nadir = {radius * (r[0] / rn), radius * (r[1] / rn), radius * (r[2] / rn)};
  const double dx = r[0] - nadir[0];
  const double dy = r[1] - nadir[1];
  const double dz = r[2] - nadir[2];
  height = std::sqrt(dx * dx + dy * dy + dz * dz);
}

void off_nadir_point(const Vec6& state, const Vec6& /*spherical*/, double radius, const Vec3& nadir,
                     const Vec3& normal, double height, double alpha, double& lon, double& lat) {
  const double a_rad = alpha * kDegToRadRun;
  // 1. Offset in the tangent plane at N to the flat-Earth intersection Q.
  const double a_flat = (height / std::cos(a_rad)) * std::sin(a_rad);
  // 2.
  const double rn = std::sqrt(state[0] * state[0] + state[1] * state[1] + state[2] * state[2]);
  // 3. Sine rule in the triangle Earth centre, satellite, ground point.
  const double sin_gamma = rn * std::sin(a_rad) / radius;
  if (!(std::fabs(sin_gamma) <= 1.0)) {  // the line of sight misses the sphere
    lon = std::numeric_limits<double>::quiet_NaN();
    lat = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  const double gamma = std::asin(sin_gamma) * kRadToDegRun;
  // 4. Central angle between the nadir point and the ground point.
  const double theta = gamma - alpha;
  // 5. Chord N-P, then Q-P along the line of sight, then Q-W in the tangent plane.
  const double c = height * std::sin(a_rad) / sind(90.0 - alpha - theta / 2.0);
  const double q = sind(theta / 2.0) * c / sind(alpha + 90.0);
  const double w = sind(theta + alpha) * q / sind(90.0 - theta);
  // 6.
  const double offset = a_flat + w;
  const Vec3 wp = {nadir[0] + offset * normal[0], nadir[1] + offset * normal[1],
                   nadir[2] + offset * normal[2]};
  // 7. Longitude as in the spherical-state conversion, wrapped to (-180, 180].
  const double r = std::sqrt(wp[0] * wp[0] + wp[1] * wp[1] + wp[2] * wp[2]);
  lon = angle_0_2pi(wp[1], wp[0]) * kRadToDegRun;
  if (lon > 180.0) lon -= 360.0;
  lat = std::asin(wp[2] / r) * kRadToDegRun;
}

}  // namespace orvus
