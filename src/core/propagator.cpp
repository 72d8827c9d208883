#include "orvus/propagator.hpp"

#include <cmath>

#include "orbit/setup.hpp"
#include "orbit/sgp8.hpp"
#include "orvus/constants.hpp"
#include "orvus/error.hpp"

namespace orvus {

const EarthConstants& model_earth() {
  static const EarthConstants earth = [] {
    MathConstants math{};
    EarthConstants e{};
    ZonalHarmonics j{};
    NORAD_CONST_V2_1(math, e, j);
    return e;
  }();
  return earth;
}

Propagator::Propagator(const ElementSet& elements) : elements_(elements) {
  const ElementSet& e = elements_;
  if (!(e.mean_motion > 0.0) || !(e.eccentricity >= 0.0 && e.eccentricity < 1.0) ||
      !std::isfinite(e.inclination + e.raan + e.arg_perigee + e.mean_anomaly + e.bstar) ||
      !std::isfinite(e.epoch.day + e.epoch.seconds)) {
    throw Error(ErrorKind::model,
                {" ELEMENT SET \"" + e.name +
                     "\": THE MEAN MOTION MUST BE POSITIVE, THE ECCENTRICITY FROM 0 TO BELOW 1 "
                     "AND EVERY ELEMENT A FINITE NUMBER.",
                 " EXECUTION INTERRUPTED."},
                {.file = {}, .record = e.name});
  }
  MathConstants math{};
  EarthConstants earth{};
  ZonalHarmonics j{};
  NORAD_CONST_V2_1(math, earth, j);
  const double elem[9] = {e.mean_motion, e.eccentricity, e.inclination, e.raan,
                          e.arg_perigee, e.mean_anomaly, 0.0,           0.0,
                          e.bstar};
  SGP8_V2_2(elem, earth, j, a_, b_);
  mean_a_ = MEAN_A_V2_1(elem, earth, j);
  nodal_period_ = PERNOD_V2_1(mean_a_, elem[2], earth, j);
  epoch_phase_ = std::fmod(elem[4] + elem[5], constants::two_pi_13) / constants::two_pi_13;
}

StateVector Propagator::state_at(double tsince_s) const {
  StateVector s{};
  SGP8PR_V2_2(tsince_s, s, model_earth(), a_, b_);
  return s;
}

}  // namespace orvus
