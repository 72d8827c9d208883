#include "core/orbit/model.hpp"

#include <cmath>

#include "core/report_factors.hpp"
#include "orvus/constants.hpp"

namespace orvus {

void model_constants(MathConstants& math, EarthConstants& earth, ZonalHarmonics& j) {
  const double pi = detail::pi_13;
  math = {pi, pi + pi, pi * 0.5, pi / 180.0, 180.0 / pi};
  earth = {constants::model_earth_radius_m, constants::model_flattening, constants::model_gm_m3_s2,
           constants::model_rotation_rad_s};
  j = {constants::model_j2, constants::model_j3, constants::model_j4};
}

double mean_semi_major_axis(const Sgp8Elements& elements, const EarthConstants& earth,
                            const ZonalHarmonics& j) {
  const double ck2 = 0.5 * j[0];
  const double xke = std::sqrt(earth[2] / (earth[0] * earth[0] * earth[0]));
  const double a1 = std::pow(xke / elements.mean_motion, 0.6666666666666666);
  const double cosi = std::cos(elements.inclination);
  const double theta2 = cosi * cosi;
  const double tthmun = 3.0 * theta2 - 1.0;
  const double betao2 = 1.0 - elements.eccentricity * elements.eccentricity;
  const double betao = std::sqrt(betao2);
  const double del1 = 1.5 * ck2 * tthmun / (a1 * a1 * betao * betao2);
  const double ao =
      a1 * (1.0 - del1 * (0.3333333333333333 + del1 * (1.0 + 1.654320987654321 * del1)));
  const double delo = 1.5 * ck2 * tthmun / (ao * ao * betao * betao2);
  return ao / (1.0 - delo) * earth[0];
}

double nodal_period(double a, double incl, const EarthConstants& earth, const ZonalHarmonics& j) {
  const double ratio = earth[0] / a;
  const double c = 1.5 * j[0] * ratio * ratio;
  const double t0 = std::sqrt(a * a * a / earth[2]) * detail::two_pi_13;
  const double cosi = std::cos(incl);
  return t0 * (1.0 - c * (4.0 * cosi * cosi - 1.0));
}

}  // namespace orvus
