// SGP8 analytical orbit model (F. R. Hoots and R. L. Roehrich, Spacetrack Report No. 3,
// 1980) in seconds and metres: initialisation of the coefficients once per element set, and
// propagation to any time since epoch. Lengths are in Earth radii inside the model; the
// names in parentheses are the report's.
#pragma once

#include <array>

#include "orvus/orbit.hpp"

namespace orvus {

using EarthConstants = std::array<double, 4>;  // radius (m), flattening, GM (m^3/s^2), rate (rad/s)
using ZonalHarmonics = std::array<double, 3>;  // J2, J3, J4
using StateVector = std::array<double, 6>;     // position (m), velocity (m/s)

// The mean elements the model starts from, as the element set gives them.
struct Sgp8Elements {
  double mean_anomaly = 0.0;  // rad (XMO)
  double raan = 0.0;          // right ascension of the ascending node, rad (XNODEO)
  double arg_perigee = 0.0;   // argument of perigee, rad (OMEGAO)
  double eccentricity = 0.0;  // (EO)
  double inclination = 0.0;   // rad (XINCL)
  double mean_motion = 0.0;   // rad/s (XNO)
  double bstar = 0.0;         // drag term B*, 1/Earth radii
};

// What the model computes once per element set: constants, functions of the inclination,
// the secular rates and the drag terms. Rates are per second.
struct Sgp8Coefficients {
  double ck2 = 0.0;                 // J2 / 2 (CK2)
  double ke = 0.0;                  // sqrt(GM / a^3) of the model's Earth, 1/s (XKE)
  double sin_incl = 0.0;            // sin i (SINI)
  double cos_incl = 0.0;            // cos i (COSI)
  double cos2_incl = 0.0;           // cos^2 i (THETA2)
  double three_cos2_minus_1 = 0.0;  // 3 cos^2 i - 1 (TTHMUN)
  double mean_motion = 0.0;         // Brouwer mean motion, rad/s (XNODP)
  double sin_half_incl = 0.0;       // sin(i/2) (SINIO2)
  double cos_half_incl = 0.0;       // cos(i/2) (COSIO2)
  double one_minus_5cos2 = 0.0;     // 1 - 5 cos^2 i (UNM5TH)
  double one_minus_cos2 = 0.0;      // 1 - cos^2 i (UNMTH2)
  double j3_over_ck2 = 0.0;         // -J3 / CK2 (A3COF)
  // First-order J2 rates of the mean anomaly, the argument of perigee and the node
  // (XMDT1, XGDT1, XHDT1).
  double mean_anomaly_rate_j2 = 0.0, perigee_rate_j2 = 0.0, node_rate_j2 = 0.0;
  // Secular rates with the J2^2 and J4 terms: mean anomaly (mean motion included), argument
  // of perigee, node (XLLDOT, OMGDT, XNODOT).
  double mean_anomaly_rate = 0.0, perigee_rate = 0.0, node_rate = 0.0;
  double mean_motion_rate = 0.0;  // drag: dn/dt, rad/s^2 (XNDT)
  // Little drag (ISIMP): the mean motion and the eccentricity change linearly, and the
  // power-law fit below is not used.
  bool simple_drag = true;
  double eccentricity_rate = 0.0;  // de/dt, 1/s (EDOT)
  // The power-law fit of the full-drag branch, in u = 1 - gamma t: the mean motion
  // n = n0 + n_scale (1 - u^n_power), the eccentricity e = e0 + e_scale (1 - u^e_power) and
  // the mean anomaly's drag term n_scale (t + z_scale (u^(n_power + 1) - 1)).
  double gamma = 0.0;    // 1/s (GAMMA)
  double n_power = 0.0;  // (PP)
  double n_scale = 0.0;  // rad/s (XND)
  double e_power = 0.0;  // (QQ)
  double e_scale = 0.0;  // (ED)
  double z_scale = 0.0;  // 1 / (gamma (n_power + 1)), s (OVGPP)
};

// The coefficients of `elements` for the Earth constants and the zonal harmonics.
void sgp8_init(const Sgp8Elements& elements, const EarthConstants& earth, const ZonalHarmonics& j,
               Sgp8Coefficients& coefficients);

// State at `tsince` seconds from epoch in the element set's inertial (true-of-date) frame.
void sgp8_propagate(double tsince, StateVector& state, const EarthConstants& earth,
                    const Sgp8Elements& elements, const Sgp8Coefficients& coefficients);

// Angle reduced into [0, 2pi) with 2pi = 6.2831853071796.
double fmod2p(double x);

// Full-circle arctangent in [0, 2pi); 0 when both arguments are zero.
double actan(double s, double c);

namespace detail {

// The model a Propagator holds.
struct Sgp8Model {
  Sgp8Elements elements;
  Sgp8Coefficients coefficients;
};

struct PropagatorAccess {
  static const Sgp8Model& model(const Propagator& orbit) { return *orbit.model_; }
};

// The model of a propagator.
inline const Sgp8Model& sgp8_model(const Propagator& orbit) {
  return PropagatorAccess::model(orbit);
}

}  // namespace detail

// The Earth constants of the orbit model (propagator.cpp).
const EarthConstants& model_earth();

}  // namespace orvus
