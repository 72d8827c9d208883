#include "core/two_line.hpp"

#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/fixed_field.hpp"
#include "core/text_input.hpp"
#include "orvus/constants.hpp"
#include "orvus/error.hpp"

namespace orvus {

std::int16_t two_line_checksum(std::string_view line) {
  int sum = 0;
  const std::size_t n = std::min<std::size_t>(68, line.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char c = line[i];
    if (c >= '0' && c <= '9')
      sum += c - '0';
    else if (c == '-')
      sum += 1;
  }
  return static_cast<std::int16_t>(sum - 10 * (sum / 10));
}

namespace {

std::string trimmed_name(std::string_view field) {
  std::string name(field.substr(0, 70));
  const auto last = name.find_last_not_of(' ');
  name.resize(last == std::string::npos ? 0 : last + 1);
  return name;
}

// Reads the next record of the element file, padded or cut to `width`.
std::string next_record(TextInput& in, std::size_t width, const char* which) {
  std::string line;
  if (!read_line(in, line)) {
    throw Error{" READ_2LINES: ERROR READING \"" + in.name + "\":",
                " END OF FILE BEFORE " + std::string(which) + " (LINE " +
                    std::to_string(in.line + 1) + ").",
                " EXECUTION INTERRUPTED."};
  }
  return fixed_record(line, width);
}

void check_line(const std::string& line, const FieldSource& src, const char* message) {
  const auto digit = read_int_field(line, 69, 1, src);
  if (digit != two_line_checksum(line)) throw Error{std::string(" ") + message};
}

// Element lines carry their number in column 1; swapped or misplaced lines stop here.
void check_line_number(const std::string& line, const FieldSource& src, char number) {
  if (line[0] != number) {
    throw Error{" READ_2LINES: LINE " + std::to_string(src.line) + " OF \"" +
                    std::string(src.file) + "\" IS NOT ELEMENT LINE " + number + ":",
                std::string(" IT MUST BEGIN WITH \"") + number + "\".", " EXECUTION INTERRUPTED."};
  }
}

[[noreturn]] void out_of_domain(const FieldSource& src, const char* what) {
  throw Error{" READ_2LINES: " + std::string(what) + " IN \"" + std::string(src.file) +
                  "\", LINE " + std::to_string(src.line) + ":",
              " NO ORBIT CAN BE COMPUTED FROM THIS ELEMENT SET.", " EXECUTION INTERRUPTED."};
}

}  // namespace

ElementSet read_two_line_file(std::string_view file_name) {
  ElementSet elset;
  const std::string name = trimmed_name(file_name);
  TextInput in;
  if (!open_text(in, name)) {
    throw Error{" READ_2LINES: CANNOT OPEN THE TWO-LINE ELEMENT FILE \"" + name + "\".",
                " EXECUTION INTERRUPTED."};
  }

  const std::string line0 = next_record(in, 50, "THE TITLE LINE");
  elset.name = line0.substr(0, line0.find_last_not_of(' ') + 1);

  const std::string line1 = next_record(in, 69, "ELEMENT LINE 1");
  const FieldSource src1{name, in.line};
  check_line(line1, src1, "READ_2LINE: Check sum of first line unmatched!");
  check_line_number(line1, src1, '1');
  const auto year2 = read_int_field(line1, 19, 2, src1);
  const double day_of_year = read_real_field(line1, 21, 12, 8, src1);
  (void)read_real_field(line1, 34, 10, 8, src1);  // first derivative of mean motion
  (void)read_real_field(line1, 45, 6, 5, src1);   // second derivative, mantissa
  (void)read_int_field(line1, 51, 2, src1);       // its power of ten
  const double bstar_mantissa = read_real_field(line1, 54, 6, 5, src1);
  const auto bstar_power = read_int_field(line1, 60, 2, src1);
  const double bstar = bstar_mantissa * std::pow(10.0, static_cast<int>(bstar_power));

  const std::string line2 = next_record(in, 69, "ELEMENT LINE 2");
  const FieldSource src2{name, in.line};
  check_line(line2, src2, "READ_2LINE: Check sum of second line unmatched!");
  check_line_number(line2, src2, '2');
  in.stream.close();

  const double incl = read_real_field(line2, 9, 8, 4, src2);
  const double node = read_real_field(line2, 18, 8, 4, src2);
  const double ecc = read_real_field(line2, 26, 8, 7, src2);
  const double argp = read_real_field(line2, 35, 8, 4, src2);
  const double mean_anomaly = read_real_field(line2, 44, 8, 4, src2);
  const double mean_motion = read_real_field(line2, 53, 11, 8, src2);
  const auto revnum = read_int_field(line2, 64, 5, src2);
  if (!(mean_motion > 0.0)) out_of_domain(src2, "MEAN MOTION (COLUMNS 53-63) NOT POSITIVE");
  if (!(ecc >= 0.0 && ecc < 1.0)) out_of_domain(src2, "ECCENTRICITY (COLUMNS 26-33) NOT BELOW 1");

  elset.mean_motion = mean_motion * constants::two_pi_13 / constants::seconds_per_day;
  elset.eccentricity = ecc;
  elset.inclination = incl * constants::deg_to_rad_13;
  elset.raan = node * constants::deg_to_rad_13;
  elset.arg_perigee = argp * constants::deg_to_rad_13;
  elset.mean_anomaly = mean_anomaly * constants::deg_to_rad_13;
  elset.bstar = bstar;
  elset.revolution_number = static_cast<std::int32_t>(revnum);

  int year = static_cast<int>(year2) + 1900;
  if (year < 1957) year += 100;
  // Whole day of the year, truncated toward zero as a 16-bit integer. A day of the year
  // before 1 (January 1, 0 h) or past the year's end is no epoch: the seconds of the day
  // would come out negative or the 16-bit day would not hold it.
  if (!(day_of_year >= 1.0 && day_of_year < 367.0)) {
    throw Error{" READ_2LINES: EPOCH DAY OF YEAR OUT OF RANGE IN \"" + name + "\", LINE " +
                    std::to_string(src1.line) + ", COLUMNS 21-32.",
                " EXECUTION INTERRUPTED."};
  }
  const auto d = static_cast<std::int16_t>(day_of_year);
  elset.epoch.seconds = (day_of_year - d) * constants::seconds_per_day;
  double djm0 = 0.0;
  double djm = 0.0;
  (void)eraCal2jd(year, 1, 1, &djm0, &djm);
  double epoch_day = djm - (2433282.5 - djm0);
  epoch_day = d + epoch_day - 1.0;
  elset.epoch.day = epoch_day;
  return elset;
}

}  // namespace orvus
