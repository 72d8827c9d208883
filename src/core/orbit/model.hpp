// The orbit model's constants and the mean semi-major axis and nodal period of an
// element set.
#pragma once

#include <array>

#include "core/orbit/sgp8.hpp"

namespace orvus {

using MathConstants = std::array<double, 5>;  // pi, 2pi, pi/2, pi/180, 180/pi

// Fills the mathematical group, the Earth constants and the zonal harmonics.
void model_constants(MathConstants& math, EarthConstants& earth, ZonalHarmonics& j);

// Brouwer mean semi-major axis in metres (the first steps of SGP8 initialisation).
double mean_semi_major_axis(const Sgp8Elements& elements, const EarthConstants& earth,
                            const ZonalHarmonics& j);

// Nodal period in seconds for semi-major axis `a` (m) and inclination `incl` (rad).
double nodal_period(double a, double incl, const EarthConstants& earth, const ZonalHarmonics& j);

}  // namespace orvus
