// Conversions between Earth-fixed Cartesian, geocentric spherical and geodetic
// coordinates. The geodetic routines use the 2009 ellipsoid (a = 6378136.6 m), which
// differs on purpose from the propagation constants.
#pragma once

#include <array>

namespace orvus {

using Vec3 = std::array<double, 3>;
using Vec6 = std::array<double, 6>;

// Four-quadrant arc tangent in (-pi, pi]; 0 for (0, 0).
double angle_pm_pi(double y, double x);
// The same in [0, 2pi).
double angle_0_2pi(double y, double x);

// Position -> (longitude, geocentric latitude, radius).
void cartesian_to_spherical(const Vec3& position, Vec3& spherical);
// (longitude, geocentric latitude, radius) -> position.
void spherical_to_cartesian(const Vec3& spherical, Vec3& position);
// State -> (longitude [0, 2pi), latitude, radius, longitude rate, latitude rate, radius rate).
void state_to_spherical(const Vec6& state, Vec6& spherical);
// Position -> (longitude, geodetic latitude, height).
void cartesian_to_geodetic(const Vec3& position, Vec3& geodetic);
// (longitude, geodetic latitude, height) -> position.
void geodetic_to_cartesian(const Vec3& geodetic, Vec3& position);

}  // namespace orvus
