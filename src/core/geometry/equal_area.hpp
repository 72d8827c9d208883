// Lambert's azimuthal equal-area projection of the unit sphere about a centre (Snyder, Map
// Projections: A Working Manual, USGS Professional Paper 1395, 1987, chapter 24: eqs. 24-2 to
// 24-4, and the inverse by eqs. 24-16, 20-14 and 20-15): an area on the plane is the area on
// the sphere (sr). Longitudes and latitudes in degrees; the coverage of boxes, polygons and lines
// is measured on it.
#pragma once

#include "core/geometry/boost_geometry.hpp"
#include "orvus/search.hpp"  // GroundPoint

namespace orvus::detail {

using PlanePoint = boost::geometry::model::d2::point_xy<double>;

// d (degrees) brought into (-180, 180].
double wrap180(double d);

class EqualArea {
 public:
  // About (lon, lat), degrees.
  EqualArea(double lon_deg, double lat_deg);
  // About a centre whose longitude is given in radians; its degrees are lon_rad / (pi/180).
  static EqualArea about_radians(double lon_rad, double lat_deg);

  // The point of (lon, lat); the far side of the sphere is torn apart about the antipode.
  [[nodiscard]] PlanePoint operator()(double lon, double lat) const;
  // The cosine of the angle on the sphere from the centre to (lon, lat).
  [[nodiscard]] double cos_from_centre(double lon, double lat) const;
  // The position (longitude in (-180, 180]) of a point of the plane.
  [[nodiscard]] GroundPoint inverse(const PlanePoint& p) const;

 private:
  EqualArea(double lon_deg, double lon_rad, double lat_deg);
  double lon0_deg_, lon0_rad_, sin0_, cos0_;
};

}  // namespace orvus::detail
