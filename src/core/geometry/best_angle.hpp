// Best off-nadir angle of a contact: the angle that looks straight at the target centre at
// the instant the target is abeam of the satellite, found in closed form from three
// propagations.
#pragma once

#include "core/geometry/coords.hpp"
#include "core/orbit/sgp8.hpp"
#include "core/time/eop.hpp"
#include "orvus/time.hpp"

namespace orvus {

// Dot product of n elements of x and y with strides incx and incy.
double ddot(int n, const double* x, int incx, const double* y, int incy);

// `day`, `seconds` (UTC) in: the contact step nearest the target; out: the best time.
// Target longitude and latitude are geocentric degrees; `epoch` is the element set's. Outputs the
// best angle (degrees, positive to the left of the track) and the geocentric ground point seen at
// it (degrees, longitude in (-180, 180]).
void best_off_nadir(const EopRows& table, const EarthConstants& earth, const Sgp8Elements& elements,
                    const Sgp8Coefficients& coefficients, const UtcInstant& epoch, double& day,
                    double& seconds, double target_lon, double target_lat, double& best_alpha,
                    double& lon, double& lat);

}  // namespace orvus
