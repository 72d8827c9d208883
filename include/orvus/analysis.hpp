// What a contact means on the ground: the Sun's elevation over the target, the share of the
// box the swath covers, and lines and rings cut at +-180 for GIS formats.
#pragma once

#include <array>
#include <vector>

#include "orvus/export.hpp"
#include "orvus/search.hpp"

namespace orvus {

// Elevation of the Sun's centre in degrees, without refraction, seen from the geodetic
// point (degrees, height 0) at the UTC instant. ERFA's eraEpv00 and eraC2t06a; UT1 - UTC
// and polar motion left out (under 0.01 deg).
ORVUS_API double sun_elevation_deg(const UtcInstant& utc, double lon_deg, double lat_deg);
// Its two halves: the Sun's Earth-fixed position (m) at the instant, and the elevation
// (degrees) of a given Sun position from a geodetic point (degrees).
ORVUS_API std::array<double, 3> sun_earth_fixed(const UtcInstant& utc);
ORVUS_API double sun_elevation_from(const std::array<double, 3>& sun_fixed, double lon_deg,
                                    double lat_deg);

// Fraction of the area of `box` that the swath covers: points (1) of the steps in time
// order, then points (2) in reverse (geodetic degrees). Equal-area measure.
ORVUS_API double box_coverage(const Box& box, const std::vector<GroundPoint>& side1,
                              const std::vector<GroundPoint>& side2);

// A line or a closed ring cut where it crosses longitude +-180, every part with longitudes
// in [-180, 180]; rings come back closed and counter-clockwise (RFC 7946).
ORVUS_API std::vector<std::vector<GroundPoint>> split_line(const std::vector<GroundPoint>& line);
ORVUS_API std::vector<std::vector<GroundPoint>> split_ring(const std::vector<GroundPoint>& ring);

}  // namespace orvus
