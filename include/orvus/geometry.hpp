// Earth-fixed Cartesian, geocentric and geodetic coordinates (the geodetic ones on the IAU
// 2009 ellipsoid, a = 6378136.6 m), and the viewing geometry on a local sphere: the ground
// point seen at an off-nadir angle and the best off-nadir angle of a contact.
#pragma once

#include <array>

#include "orvus/earth_orientation.hpp"
#include "orvus/export.hpp"
#include "orvus/orbit.hpp"
#include "orvus/time.hpp"

namespace orvus {

using Vec3 = std::array<double, 3>;

// A box of geodetic degrees, both longitudes first: corner 1 holds the smaller values. A
// corner beyond +-180 makes a box across the antimeridian; a corner may lie at a pole.
struct Box {
  double lon1 = 0.0, lon2 = 0.0, lat1 = 0.0, lat2 = 0.0;
};

struct GroundPoint {
  double lon_deg = 0.0;  // (-180, 180]
  double lat_deg = 0.0;
};

// Position (m) -> (longitude rad in (-pi, pi], geocentric latitude rad, radius m), and back.
ORVUS_API Vec3 to_spherical(const Vec3& position);
ORVUS_API Vec3 from_spherical(const Vec3& spherical);
// Position (m) -> (longitude rad, geodetic latitude rad, height m), and back.
ORVUS_API Vec3 to_geodetic(const Vec3& position);
ORVUS_API Vec3 from_geodetic(const Vec3& geodetic);

// Radius (m) of the local sphere under a sub-satellite point of geocentric latitude `lat`
// (rad): b + (a - b) cos(lat), a = 6378135.0 m, b = a (1 - 1/298.257).
ORVUS_API double local_radius(double lat);

// Geocentric ground point (degrees) seen from the Earth-fixed state at the off-nadir angle
// `alpha_deg`, looking perpendicular to the orbit plane, on the sphere of radius `radius_m`.
// NaN coordinates when the line of sight misses the sphere.
ORVUS_API GroundPoint ground_point(const StateVector& earth_fixed, double radius_m,
                                   double alpha_deg);

struct BestAngle {
  UtcInstant utc;          // the instant the target is abeam
  double alpha_deg = 0.0;  // off-nadir angle that looks at the target then
  GroundPoint seen;        // geocentric ground point seen at that angle
};

// Best off-nadir angle for a geocentric target near the track at `near` (UTC): the abeam
// instant from the ground track 30 s either side, then the angle from the height and the
// cross-track distance.
ORVUS_API BestAngle best_angle(const Propagator& orbit, const EarthOrientation& eop,
                               const UtcInstant& near, const GroundPoint& target_geocentric);

}  // namespace orvus
