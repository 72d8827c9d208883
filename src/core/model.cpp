#include "core/model.hpp"

#include <cmath>

namespace orvus {

namespace {
constexpr double kTwoPi = 6.2831853071796;
}

void model_constants(MathConstants& math, EarthConstants& earth, ZonalHarmonics& j) {
  const double pi = 3.1415926535898;
  math = {pi, pi + pi, pi * 0.5, pi / 180.0, 180.0 / pi};
  earth = {6378135.0, 1.0 / 298.257, 398600800000000.0, 7.2921151467e-05};
  j = {0.001082616, -2.53881e-06, -1.65597e-06};
}

double mean_semi_major_axis(const double (&elem)[9], const EarthConstants& earth,
                            const ZonalHarmonics& j) {
  const double ck2 = 0.5 * j[0];
  const double xke = std::sqrt(earth[2] / (earth[0] * earth[0] * earth[0]));
  const double a1 = std::pow(xke / elem[0], 0.6666666666666666);
  const double cosi = std::cos(elem[2]);
  const double theta2 = cosi * cosi;
  const double tthmun = 3.0 * theta2 - 1.0;
  const double betao2 = 1.0 - elem[1] * elem[1];
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
  const double t0 = std::sqrt(a * a * a / earth[2]) * kTwoPi;
  const double cosi = std::cos(incl);
  return t0 * (1.0 - c * (4.0 * cosi * cosi - 1.0));
}

}  // namespace orvus
