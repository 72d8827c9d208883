// The ground point that the sensor sees when it looks sideways, perpendicular to the orbit
// plane, at a signed off-nadir angle (positive to the side of r x v), on a local sphere.
#pragma once

#include "core/geometry/coords.hpp"

namespace orvus {

// Local frame of one instant: nadir point N at radius R below the satellite, the unit orbit
// normal u = (r x v)/|r x v|, and the height H = |r - N|. `spherical` is not used.
void nadir_frame(const Vec6& state, const Vec6& spherical, double radius, Vec3& nadir, Vec3& normal,
                 double& height);

// Longitude (degrees, (-180, 180]) and geocentric latitude (degrees) of the ground point
// seen at off-nadir angle `alpha` (degrees). NaN when the line of sight misses the sphere.
void off_nadir_point(const Vec6& state, const Vec6& spherical, double radius, const Vec3& nadir,
                     const Vec3& normal, double height, double alpha, double& lon, double& lat);

}  // namespace orvus
