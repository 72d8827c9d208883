// Instants as the system counts them: a day number (days since 1950-01-01 0 h, so that
// day + 2433282.5 is the Julian Date) and the seconds of that day.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "orvus/constants.hpp"
#include "orvus/export.hpp"

namespace orvus {

struct UtcInstant {
  double day = 0.0;      // days since 1950-01-01 0 h UTC
  double seconds = 0.0;  // seconds of the day, 0 to 86400
};

// Brings the seconds back into the day once after a change: more than 86400 moves to the
// next day, below 0 to the previous day; exactly 86400 stays.
inline void normalise(double& day, double& seconds) {
  if (seconds > 86400.0) {
    day += 1.0;
    seconds -= 86400.0;
  } else if (seconds < 0.0) {
    day -= 1.0;
    seconds += 86400.0;
  }
}
inline UtcInstant normalise(UtcInstant t) {
  normalise(t.day, t.seconds);
  return t;
}

// Seconds from `epoch` to `t`: (day - epoch day) * 86400 + (seconds - epoch seconds).
inline double since_epoch(const UtcInstant& epoch, double day, double seconds) {
  return (day - epoch.day) * 86400.0 + (seconds - epoch.seconds);
}
inline double since_epoch(const UtcInstant& epoch, const UtcInstant& t) {
  return since_epoch(epoch, t.day, t.seconds);
}

// The instant `offset_s` seconds after `base` (before it when negative), its seconds brought
// into [0, 86400) by whole days (86400 itself is the next day's 0): the seconds of the day
// plus the offset, less 86400 times the whole days that sum holds.
inline UtcInstant after(const UtcInstant& base, double offset_s) {
  const double total = base.seconds + offset_s;
  const double days = std::floor(total / constants::seconds_per_day);
  return {base.day + days, total - days * constants::seconds_per_day};
}

// The UTC Modified Julian Date of the instant (day, seconds), the date the Earth-orientation
// table is looked up with: day + 2433282.5 - 2400000.5 + seconds / 86400, summed in that order.
inline double utc_mjd(double day, double seconds) {
  return day + constants::mjd1950_to_jd - constants::mjd_zero_jd +
         seconds / constants::seconds_per_day;
}
inline double utc_mjd(const UtcInstant& t) {
  return utc_mjd(t.day, t.seconds);
}

// The date-time text "DD/MM/YYYY HH:MM:SS.sssssssss" (29 characters) of the reports.
using DateText = std::array<char, 29>;

// Text -> instant; a shorter text is read as if padded with blanks. Raises Error (kind
// time) for an impossible date or time of day, naming `source` and the columns of a field
// that is not a number.
ORVUS_API UtcInstant parse_date_time(std::string_view text,
                                     std::string_view source = "DATE-TIME TEXT", long line = 0);
// Instant -> text, rounded to the nanosecond (the carry runs into minutes and hours, never
// into the date: exactly 86400 s is 24:00:00.000000000). Raises Error when seconds > 86400.
ORVUS_API DateText format_date_time(const UtcInstant& t);

// ISO 8601 text to the millisecond: "2025-07-02T13:11:45.000Z" without an offset, or
// "2025-07-02T10:11:45.000-03:00" for the local instant `t` of `offset_hours`. The time is
// that of the date-time text (rounded to the nanosecond, then cut to the millisecond), so that
// it never differs from the reports; 24:00 is written as 00:00 of the next day.
ORVUS_API std::string iso_time(const UtcInstant& t,
                               std::optional<double> offset_hours = std::nullopt);
// The date and time iso_time writes for `t` (for a local instant, its wall clock) as
// milliseconds since 1970-01-01 0 h.
ORVUS_API std::int64_t iso_time_ms(const UtcInstant& t);

}  // namespace orvus
