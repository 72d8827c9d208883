// The 13-digit factors that the reports reproduce. The element reader, SGP8, the model's
// mathematical constants and the contact search's angle conversions have always worked with
// pi written to 13 decimals and the factors derived from it, not with the exact values of
// orvus/constants.hpp; the last digits of every report and contact depend on them, so they
// stay, here and nowhere else. New code uses orvus/constants.hpp.
#pragma once

namespace orvus::detail {

// pi written with 13 decimals: 3.1415926535898.
inline constexpr double pi_13 = 3.1415926535898;
// 2 pi as pi_13 + pi_13: 6.2831853071796.
inline constexpr double two_pi_13 = 6.2831853071796;
// Degrees to radians as pi_13 / 180 (= two_pi_13 / 360): 0.017453292519943334, not the
// nearest double to pi/180 (0.017453292519943295).
inline constexpr double deg_to_rad_13 = 0.017453292519943334;
// Radians to degrees as 180 / pi_13 (= 360 / two_pi_13).
inline constexpr double rad_to_deg_13 = 57.295779513082195;

static_assert(two_pi_13 == pi_13 + pi_13);
static_assert(deg_to_rad_13 == pi_13 / 180.0 && deg_to_rad_13 == two_pi_13 / 360.0);
static_assert(rad_to_deg_13 == 180.0 / pi_13 && rad_to_deg_13 == 360.0 / two_pi_13);

}  // namespace orvus::detail
