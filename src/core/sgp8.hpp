// SGP8 analytical orbit model in seconds and metres: initialisation of the element and
// coefficient blocks once per element set, and propagation to any time since epoch.
#pragma once

#include <array>

namespace orvus {

using EarthConstants = std::array<double, 4>;  // radius (m), flattening, GM (m^3/s^2), rate (rad/s)
using ZonalHarmonics = std::array<double, 3>;  // J2, J3, J4
using Sgp8Elements = std::array<double, 9>;
using Sgp8Coefficients = std::array<double, 27>;
using StateVector = std::array<double, 6>;  // position (m), velocity (m/s)

// Element block SGP8_A: XMO, XNODEO, OMEGAO, EO, XINCL, XNO, ELEM(7), ELEM(8), B*.
// Coefficient block SGP8_B, entries 1..27 at indices 0..26:
// CK2 XKE SINI COSI THETA2 TTHMUN XNODP SINIO2 COSIO2 UNM5TH UNMTH2 A3COF XMDT1 XGDT1
// XHDT1 XLLDOT OMGDT XNODOT XNDT ISIMP EDOT PP GAMMA XND QQ ED OVGPP.
void sgp8_init(const double (&elem)[9], const EarthConstants& earth, const ZonalHarmonics& j,
               Sgp8Elements& sgp8_a, Sgp8Coefficients& sgp8_b);

// State at `tsince` seconds from epoch in the element set's inertial (true-of-date) frame.
void sgp8_propagate(double tsince, StateVector& state, const EarthConstants& earth,
                    const Sgp8Elements& sgp8_a, const Sgp8Coefficients& sgp8_b);

// Angle reduced into [0, 2pi) with 2pi = 6.2831853071796.
double fmod2p(double x);

// Full-circle arctangent in [0, 2pi); 0 when both arguments are zero.
double actan(double s, double c);

}  // namespace orvus
