// Best off-nadir angle of a contact: the angle that looks straight at the target centre at
// the instant the target is abeam of the satellite, found in closed form from three
// propagations.
#pragma once

#include "frames/iers.hpp"
#include "geometry/coords.hpp"
#include "orbit/sgp8.hpp"
#include "orvus/vek_p1.h"

namespace orvus {

// Dot product of n elements of x and y with strides incx and incy.
double DDOT(int n, const double* x, int incx, const double* y, int incy);

// `day`, `seconds` (UTC) in: the contact step nearest the target; out: the best time.
// Target longitude and latitude are geocentric degrees. `utc_diff`, `step` and `beta` are
// not used. Outputs the best angle (degrees, positive to the left of the track) and the
// geocentric ground point seen at it (degrees, longitude in (-180, 180]).
void ALPHAOTIM4(const IersTable& table, const EarthConstants& earth, const Sgp8Elements& sgp8_a,
                const Sgp8Coefficients& sgp8_b, const TLE_ELSET& elset, double& day,
                double& seconds, double utc_diff, double step, double target_lon, double target_lat,
                double beta, double& best_alpha, double& lon, double& lat);

}  // namespace orvus
