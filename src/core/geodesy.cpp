#include "orvus/geodesy.hpp"

#include <cmath>

#include "core/eop_table.hpp"
#include "geometry/best_angle.hpp"
#include "geometry/coords.hpp"
#include "geometry/off_nadir.hpp"
#include "orvus/constants.hpp"
#include "run/search.hpp"

namespace orvus {

Vec3 to_spherical(const Vec3& position) {
  Vec3 s{};
  GCGSP(position, s);
  return s;
}
Vec3 from_spherical(const Vec3& spherical) {
  Vec3 p{};
  GSGCP(spherical, p);
  return p;
}
Vec3 to_geodetic(const Vec3& position) {
  Vec3 g{};
  GCGDP_IAU2009(position, g);
  return g;
}
Vec3 from_geodetic(const Vec3& geodetic) {
  Vec3 p{};
  GDGCP_IAU2009(geodetic, p);
  return p;
}

double local_radius(double lat) {
  const double a = constants::model_earth_radius_m;
  const double b = a * constants::local_sphere_polar_ratio;
  return b + (a - b) * std::cos(lat);
}

GroundPoint ground_point(const StateVector& earth_fixed, double radius_m, double alpha_deg) {
  Vec6 sph{};
  GCGSV_IAU2009(earth_fixed, sph);
  Vec3 nadir{}, normal{};
  double height = 0.0;
  LOLA_NADIR_AUX2(earth_fixed, sph, radius_m, nadir, normal, height);
  GroundPoint g;
  LOLA2(earth_fixed, sph, radius_m, nadir, normal, height, alpha_deg, g.lon_deg, g.lat_deg);
  return g;
}

BestAngle best_angle(const Propagator& orbit, const EarthOrientation& eop, const UtcInstant& near,
                     const GroundPoint& target) {
  const Orbit o = orbit_of(orbit);
  BestAngle b;
  b.utc = near;
  ALPHAOTIM4(eop.table().rows, o.earth, o.sgp8_a, o.sgp8_b, o.elset, b.utc.day, b.utc.seconds, 0.0,
             0.0, target.lon_deg, target.lat_deg, 0.0, b.alpha_deg, b.seen.lon_deg, b.seen.lat_deg);
  return b;
}

}  // namespace orvus
