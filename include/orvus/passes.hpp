// Ground-station passes: every interval in which a satellite stands above a station's
// elevation mask, with its acquisition (AOS) and loss (LOS) of signal and its highest
// elevation. The satellite's SGP8 state goes to the Earth-fixed frame of the contact search
// (Greenwich apparent sidereal time IAU 2006/2000A, UT1 - UTC and polar motion of the day);
// the elevation is taken above the station's geodetic horizon on the WGS 84 ellipsoid.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orvus/earth_orientation.hpp"
#include "orvus/export.hpp"
#include "orvus/orbit.hpp"
#include "orvus/time.hpp"

namespace orvus {

struct Station {
  std::string name;
  double lon_deg = 0.0;                   // geodetic longitude, WGS 84
  double lat_deg = 0.0;                   // geodetic latitude, WGS 84
  double alt_m = 0.0;                     // height above the WGS 84 ellipsoid
  double min_elevation_deg = 0.0;         // the mask: a pass is a time above it
  std::optional<double> downlink_gbit_s;  // downlink rate, when given (a schedule needs it)
  long line = 0;                          // line of its table in the plan file (0: none)
};

struct Pass {
  UtcInstant aos_utc, los_utc;  // the elevation crosses the mask (to 1 ms)
  UtcInstant max_utc;           // the highest elevation (to 1 ms)
  double max_elevation_deg = 0.0;
  double duration_s = 0.0;   // LOS - AOS
  bool aos_clipped = false;  // above the mask at the interval's start: AOS is the start
  bool los_clipped = false;  // above the mask at the interval's end: LOS is the end
};

// Elevation (degrees) of the satellite above the station's geodetic horizon at `utc`,
// through the full frame transformation (tod_to_earth_fixed). Raises Error when the table
// does not cover the day or the model cannot serve the time.
ORVUS_API double station_elevation_deg(const Propagator& orbit, const EarthOrientation& eop,
                                       const Station& station, const UtcInstant& utc);

// Every pass above the station's mask from `start` to `end` (UTC, both included), in time
// order. A pass in progress at either end is cut there and flagged. Found are all passes
// that last more than 1 ms, except a return above the mask within 1 s of a loss of signal
// (and a dip under it of under 1 s inside a pass, which is not split off). Raises Error as
// station_elevation_deg does.
ORVUS_API std::vector<Pass> find_passes(const Propagator& orbit, const EarthOrientation& eop,
                                        const Station& station, const UtcInstant& start,
                                        const UtcInstant& end);

}  // namespace orvus
