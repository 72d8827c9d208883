// Orbit set-up: physical constants, the element set, SGP8 initialisation and the derived
// mean semi-major axis, nodal period and epoch phase.
#pragma once

#include <array>
#include <string_view>

#include "orbit/sgp8.hpp"
#include "orbit/tle.hpp"

namespace orvus {

using MathConstants = std::array<double, 5>;  // pi, 2pi, pi/2, pi/180, 180/pi

// Fills the mathematical group, the Earth constants and the zonal harmonics.
void NORAD_CONST_V2_1(MathConstants& math, EarthConstants& earth, ZonalHarmonics& j);

// Brouwer mean semi-major axis in metres (the first steps of SGP8 initialisation).
double MEAN_A_V2_1(const double (&elem)[9], const EarthConstants& earth, const ZonalHarmonics& j);

// Nodal period in seconds for semi-major axis `a` (m) and inclination `incl` (rad).
double PERNOD_V2_1(double a, double incl, const EarthConstants& earth, const ZonalHarmonics& j);

// Sets up the orbit from the element file `file_name` (70-character field). Raises Fatal on
// every failure of the element reader.
void VEK_P1(std::string_view file_name, TLE_ELSET& elset, double& mean_a, double& nodal_period,
            double& epoch_phase, EarthConstants& earth, Sgp8Elements& sgp8_a,
            Sgp8Coefficients& sgp8_b);

// The same for a file that may hold several sets: takes the set whose name is `satellite`
// (trimmed, without case), else the first, and says on standard error which of several it took.
void VEK_P1(std::string_view file_name, std::string_view satellite, TLE_ELSET& elset,
            double& mean_a, double& nodal_period, double& epoch_phase, EarthConstants& earth,
            Sgp8Elements& sgp8_a, Sgp8Coefficients& sgp8_b);

// Warns on standard error when the interval (UTC day numbers and seconds) reaches more than
// 14 days from the epoch of the elements: their positions degrade by 1-3 km a day.
void warn_element_age(const TLE_ELSET& elset, double start_day, double start_sec, double end_day,
                      double end_sec);

}  // namespace orvus
