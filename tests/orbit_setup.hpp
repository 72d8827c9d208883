// An element file's orbit as the library sets it up, for the tests of the orbit model and
// what uses it.
#pragma once

#include <string>

#include "core/orbit/model.hpp"
#include "core/orbit/sgp8.hpp"
#include "orvus/elements.hpp"
#include "orvus/orbit.hpp"

namespace orvus::test {

// The element set, the mean semi-major axis (m), nodal period (s) and epoch phase, the
// model's Earth constants and the SGP8 model.
struct OrbitSetup {
  ElementSet elements;
  double mean_a = 0.0, period = 0.0, phase = 0.0;
  EarthConstants earth{};
  Sgp8Elements a;
  Sgp8Coefficients b;
};

inline OrbitSetup set_up_orbit(const std::string& file) {
  const Propagator orbit(read_elements(file));
  OrbitSetup s;
  s.elements = orbit.elements();
  s.mean_a = orbit.mean_semi_major_axis_m();
  s.period = orbit.nodal_period_s();
  s.phase = orbit.epoch_phase();
  MathConstants math{};
  ZonalHarmonics j{};
  model_constants(math, s.earth, j);
  s.a = detail::sgp8_model(orbit).elements;
  s.b = detail::sgp8_model(orbit).coefficients;
  return s;
}

}  // namespace orvus::test
