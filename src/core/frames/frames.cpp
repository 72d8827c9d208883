#include "orvus/frames.hpp"

#include "core/frames/tod2ef.hpp"
#include "core/time/eop_table.hpp"
#include "orvus/constants.hpp"

namespace orvus {

StateVector tod_to_earth_fixed(const UtcInstant& utc, const StateVector& tod,
                               const EarthOrientation& eop) {
  StateVector ef{};
  tod_to_ef(utc.day + constants::mjd1950_to_jd, utc.seconds / constants::seconds_per_day, tod, ef,
            detail::eop_rows(eop));
  return ef;
}

}  // namespace orvus
