// Conversion between the day number (days since 1950-01-01 0h) with the seconds of the
// day, and the 29-character date-time text "DD/MM/YYYY HH:MM:SS.sssssssss".
#pragma once

#include <array>
#include <string_view>

#include "core/io/fixed_field.hpp"
#include "orvus/constants.hpp"

namespace orvus {

using DateText = std::array<char, 29>;

inline std::string_view text_view(const DateText& t) {
  return {t.data(), t.size()};
}

// The day number of a calendar date from the two-part Modified Julian Date of eraCal2jd
// (djm0 = 2400000.5, djm the MJD of 0 h): djm - (2433282.5 - djm0), in that form.
inline double day_number_of_mjd(double djm0, double djm) {
  return djm - (constants::mjd1950_to_jd - djm0);
}

// Text -> (day number, seconds of day). Raises Error for a total above 86400 s, a negative
// total or an impossible calendar date; a field that is not a number raises Error naming
// `source` and the columns.
void read_date_text(std::string_view text, double& day, double& seconds,
                    const FieldSource& source = {"DATE-TIME TEXT", 0});

// (day number, seconds of day) -> text. Raises Error when seconds > 86400. Exactly 86400 s
// reads 24:00:00.000000000 on the date of the same day number.
void write_date_text(double day, double seconds, DateText& text);

}  // namespace orvus
