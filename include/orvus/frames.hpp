// True-of-date to Earth-fixed: Greenwich apparent sidereal time (IAU 2006/2000A, ERFA
// eraGst06a) with the Earth-rotation term of the velocity, then polar motion and the TIO
// locator s' (eraSp00), with the day's x_p, y_p and UT1 - UTC (IERS Conventions 2010, 5.4).
#pragma once

#include "orvus/earth_orientation.hpp"
#include "orvus/export.hpp"
#include "orvus/orbit.hpp"
#include "orvus/time.hpp"

namespace orvus {

// Raises Error (kind earth_orientation) when the table does not cover the day.
ORVUS_API StateVector tod_to_earth_fixed(const UtcInstant& utc, const StateVector& tod,
                                         const EarthOrientation& eop);

}  // namespace orvus
