#include "orbit/setup.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "common/fatal.hpp"
#include "core/elements/elements_internal.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"

namespace orvus {

namespace {
constexpr double kTwoPi = 6.2831853071796;
}

void NORAD_CONST_V2_1(MathConstants& math, EarthConstants& earth, ZonalHarmonics& j) {
  const double pi = 3.1415926535898;
  math = {pi, pi + pi, pi * 0.5, pi / 180.0, 180.0 / pi};
  earth = {6378135.0, 1.0 / 298.257, 398600800000000.0, 7.2921151467e-05};
  j = {0.001082616, -2.53881e-06, -1.65597e-06};
}

double MEAN_A_V2_1(const double (&elem)[9], const EarthConstants& earth, const ZonalHarmonics& j) {
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

double PERNOD_V2_1(double a, double incl, const EarthConstants& earth, const ZonalHarmonics& j) {
  const double ratio = earth[0] / a;
  const double c = 1.5 * j[0] * ratio * ratio;
  const double t0 = std::sqrt(a * a * a / earth[2]) * kTwoPi;
  const double cosi = std::cos(incl);
  return t0 * (1.0 - c * (4.0 * cosi * cosi - 1.0));
}

namespace {

std::string trimmed_name(std::string_view field) {
  std::string name(field.substr(0, 70));
  const auto last = name.find_last_not_of(' ');
  name.resize(last == std::string::npos ? 0 : last + 1);
  return name;
}

// Reads the element file into `elset`: the set named `satellite` when given and found, else
// the first; with a name, says on standard error which set of several it took.
void read_element_set(std::string_view file_name, const std::string_view* satellite,
                      TLE_ELSET& elset) {
  const std::string file = trimmed_name(file_name);
  try {
    const std::vector<ElementSet> sets = read_element_file(file);
    std::size_t chosen = 0;
    if (satellite != nullptr) {
      const auto i = find_element_set(sets, std::string(*satellite));
      if (i >= 0) chosen = static_cast<std::size_t>(i);
      if (sets.size() > 1) {
        const ElementSet& s = sets[chosen];
        const std::string wanted = elements::printable(trimmed_name(*satellite));
        std::fprintf(stderr,
                     " ORVUS: THE ELEMENT FILE \"%s\" HOLDS %zu SETS: USING SET %zu (\"%s\", "
                     "CATALOGUE NUMBER %lld), %s.\n",
                     elements::printable(file, 200).c_str(), sets.size(), chosen + 1,
                     elements::printable(s.name).c_str(),
                     static_cast<long long>(s.catalogue_number),
                     i >= 0 ? "WHOSE NAME IS THAT OF RECORD 1"
                            : ("THE FIRST: NONE IS NAMED \"" + wanted + "\" AS RECORD 1").c_str());
      }
    }
    elements::to_tle_elset(sets[chosen], elset);
  } catch (const Error& e) {
    throw Fatal(e.lines());
  }
}

void set_up(std::string_view file_name, const std::string_view* satellite, TLE_ELSET& elset,
            double& mean_a, double& nodal_period, double& epoch_phase, EarthConstants& earth,
            Sgp8Elements& sgp8_a, Sgp8Coefficients& sgp8_b) {
  MathConstants math{};
  ZonalHarmonics j{};
  NORAD_CONST_V2_1(math, earth, j);
  read_element_set(file_name, satellite, elset);
  SGP8_V2_2(elset.ELEM, earth, j, sgp8_a, sgp8_b);
  mean_a = MEAN_A_V2_1(elset.ELEM, earth, j);
  nodal_period = PERNOD_V2_1(mean_a, elset.ELEM[2], earth, j);
  epoch_phase = std::fmod(elset.ELEM[4] + elset.ELEM[5], kTwoPi) / kTwoPi;
}

}  // namespace

void VEK_P1(std::string_view file_name, TLE_ELSET& elset, double& mean_a, double& nodal_period,
            double& epoch_phase, EarthConstants& earth, Sgp8Elements& sgp8_a,
            Sgp8Coefficients& sgp8_b) {
  set_up(file_name, nullptr, elset, mean_a, nodal_period, epoch_phase, earth, sgp8_a, sgp8_b);
}

void VEK_P1(std::string_view file_name, std::string_view satellite, TLE_ELSET& elset,
            double& mean_a, double& nodal_period, double& epoch_phase, EarthConstants& earth,
            Sgp8Elements& sgp8_a, Sgp8Coefficients& sgp8_b) {
  set_up(file_name, &satellite, elset, mean_a, nodal_period, epoch_phase, earth, sgp8_a, sgp8_b);
}

void warn_element_age(const TLE_ELSET& elset, double start_day, double start_sec, double end_day,
                      double end_sec) {
  const UtcInstant epoch{elset.EPOCH_DAY, elset.EPOCH_SEC};
  if (since_epoch(UtcInstant{start_day, start_sec}, end_day, end_sec) < 0.0) return;  // no step
  const double days = std::max(std::fabs(since_epoch(epoch, start_day, start_sec)),
                               std::fabs(since_epoch(epoch, end_day, end_sec))) /
                      86400.0;
  if (!(days > 14.0)) return;
  std::fprintf(stderr,
               " ORVUS: WARNING: THE INTERVAL REACHES %.1f DAYS FROM THE EPOCH OF THE ELEMENT "
               "SET (MORE THAN 14):\n POSITIONS MAY BE OFF BY KILOMETRES; USE A NEWER SET.\n",
               days);
}

}  // namespace orvus
