#include "core/geometry/equal_area.hpp"

#include <algorithm>
#include <cmath>

#include "orvus/constants.hpp"

namespace orvus::detail {

namespace {
constexpr double kRad = constants::deg_to_rad;
}  // namespace

double wrap180(double d) {
  d = std::fmod(d, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d <= -180.0) d += 360.0;
  return d;
}

EqualArea::EqualArea(double lon_deg, double lat_deg)
    : EqualArea(lon_deg, lon_deg * kRad, lat_deg) {}

EqualArea EqualArea::about_radians(double lon_rad, double lat_deg) {
  return {lon_rad / kRad, lon_rad, lat_deg};
}

EqualArea::EqualArea(double lon_deg, double lon_rad, double lat_deg)
    : lon0_deg_(lon_deg),
      lon0_rad_(lon_rad),
      sin0_(std::sin(lat_deg * kRad)),
      cos0_(std::cos(lat_deg * kRad)) {}

PlanePoint EqualArea::operator()(double lon, double lat) const {
  const double dl = wrap180(lon - lon0_deg_) * kRad;
  const double sp = std::sin(lat * kRad), cp = std::cos(lat * kRad);
  const double k = std::sqrt(2.0 / std::max(1.0 + sin0_ * sp + cos0_ * cp * std::cos(dl), 1e-12));
  return {k * cp * std::sin(dl), k * (cos0_ * sp - sin0_ * cp * std::cos(dl))};
}

double EqualArea::cos_from_centre(double lon, double lat) const {
  return sin0_ * std::sin(lat * kRad) +
         cos0_ * std::cos(lat * kRad) * std::cos((lon - lon0_deg_) * kRad);
}

GroundPoint EqualArea::inverse(const PlanePoint& p) const {
  const double x = p.x(), y = p.y();
  const double rho = std::hypot(x, y);
  if (rho < 1e-15) return {lon0_deg_, std::asin(sin0_) / kRad};
  const double c = 2.0 * std::asin(std::min(rho / 2.0, 1.0));
  const double lat = std::asin(std::cos(c) * sin0_ + y * std::sin(c) * cos0_ / rho);
  const double lon =
      lon0_rad_ + std::atan2(x * std::sin(c), rho * cos0_ * std::cos(c) - y * sin0_ * std::sin(c));
  return {wrap180(lon / kRad), lat / kRad};
}

}  // namespace orvus::detail
