#include <cmath>
#include <memory>
#include <utility>

#include "core/orbit/model.hpp"
#include "core/orbit/sgp8.hpp"
#include "core/report_factors.hpp"
#include "orvus/error.hpp"
#include "orvus/orbit.hpp"

namespace orvus {

const EarthConstants& model_earth() {
  static const EarthConstants earth = [] {
    MathConstants math{};
    EarthConstants e{};
    ZonalHarmonics j{};
    model_constants(math, e, j);
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
                ErrorWhere({}, e.name));
  }
  MathConstants math{};
  EarthConstants earth{};
  ZonalHarmonics j{};
  model_constants(math, earth, j);
  auto model = std::make_shared<detail::Sgp8Model>();
  model->elements = {e.mean_anomaly, e.raan,        e.arg_perigee, e.eccentricity,
                     e.inclination,  e.mean_motion, e.bstar};
  sgp8_init(model->elements, earth, j, model->coefficients);
  mean_a_ = mean_semi_major_axis(model->elements, earth, j);
  nodal_period_ = nodal_period(mean_a_, e.inclination, earth, j);
  epoch_phase_ = std::fmod(e.arg_perigee + e.mean_anomaly, detail::two_pi_13) / detail::two_pi_13;
  model_ = std::move(model);
}

StateVector Propagator::state_at(double tsince_s) const {
  StateVector s{};
  sgp8_propagate(tsince_s, s, model_earth(), model_->elements, model_->coefficients);
  return s;
}

}  // namespace orvus
