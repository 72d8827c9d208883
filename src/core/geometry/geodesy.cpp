#include <cmath>

#include "core/geometry/best_angle.hpp"
#include "core/geometry/coords.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/time/eop_table.hpp"
#include "orvus/constants.hpp"
#include "orvus/geometry.hpp"

namespace orvus {

Vec3 to_spherical(const Vec3& position) {
  Vec3 s{};
  cartesian_to_spherical(position, s);
  return s;
}
Vec3 from_spherical(const Vec3& spherical) {
  Vec3 p{};
  spherical_to_cartesian(spherical, p);
  return p;
}
Vec3 to_geodetic(const Vec3& position) {
  Vec3 g{};
  cartesian_to_geodetic(position, g);
  return g;
}
Vec3 from_geodetic(const Vec3& geodetic) {
  Vec3 p{};
  geodetic_to_cartesian(geodetic, p);
  return p;
}

double local_radius(double lat) {
  const double a = constants::model_earth_radius_m;
  const double b = a * constants::local_sphere_polar_ratio;
  return b + (a - b) * std::cos(lat);
}

GroundPoint ground_point(const StateVector& earth_fixed, double radius_m, double alpha_deg) {
  Vec6 sph{};
  state_to_spherical(earth_fixed, sph);
  Vec3 nadir{}, normal{};
  double height = 0.0;
  nadir_frame(earth_fixed, sph, radius_m, nadir, normal, height);
  GroundPoint g;
  off_nadir_point(earth_fixed, sph, radius_m, nadir, normal, height, alpha_deg, g.lon_deg,
                  g.lat_deg);
  return g;
}

BestAngle best_angle(const Propagator& orbit, const EarthOrientation& eop, const UtcInstant& near,
                     const GroundPoint& target) {
  BestAngle b;
  b.utc = near;
  const detail::Sgp8Model& model = detail::sgp8_model(orbit);
  best_off_nadir(detail::eop_rows(eop), model_earth(), model.elements, model.coefficients,
                 orbit.elements().epoch, b.utc.day, b.utc.seconds, target.lon_deg, target.lat_deg,
                 b.alpha_deg, b.seen.lon_deg, b.seen.lat_deg);
  return b;
}

}  // namespace orvus
