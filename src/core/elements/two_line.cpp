// Two-line element sets: the decoding of element lines 1 and 2 (also used by the fixed-record
// reader) and catalogues of many two- or three-line sets in one file.
#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/elements/elements_internal.hpp"
#include "core/report_factors.hpp"
#include "core/time/time_text.hpp"
#include "orvus/error.hpp"

namespace orvus::elements {

int checksum(std::string_view line) {
  int sum = 0;
  const std::size_t n = std::min<std::size_t>(68, line.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char c = line[i];
    if (c >= '0' && c <= '9')
      sum += c - '0';
    else if (c == '-')
      sum += 1;
  }
  return sum - 10 * (sum / 10);
}

namespace {

void check_line(const std::string& line, const FieldSource& src, const char* message) {
  const auto digit = read_int_field(line, 69, 1, src);
  if (digit != checksum(line))
    throw Error(ErrorKind::elements, {std::string(kTwoLineLabel) + message});
}

// Element lines carry their number in column 1; swapped or misplaced lines stop here.
void check_line_number(const std::string& line, const FieldSource& src, char number) {
  if (line[0] != number) {
    throw Error(
        ErrorKind::elements,
        {std::string(kTwoLineLabel) + "LINE " + std::to_string(src.line) + " OF \"" +
             std::string(src.file) + "\" IS NOT ELEMENT LINE " + number + ":",
         std::string(" IT MUST BEGIN WITH \"") + number + "\".", " EXECUTION INTERRUPTED."});
  }
}

[[noreturn]] void out_of_domain(const FieldSource& src, const char* what) {
  throw Error(ErrorKind::elements,
              {std::string(kTwoLineLabel) + std::string(what) + " IN \"" + std::string(src.file) +
                   "\", LINE " + std::to_string(src.line) + ":",
               " NO ORBIT CAN BE COMPUTED FROM THIS ELEMENT SET.", " EXECUTION INTERRUPTED."});
}

}  // namespace

void decode_line1(const std::string& line, const FieldSource& src, TwoLineFields& f) {
  check_line(line, src, "Check sum of first line unmatched!");
  check_line_number(line, src, '1');
  f.year2 = read_int_field(line, 19, 2, src);
  f.day_of_year = read_real_field(line, 21, 12, 8, src);
  f.mean_motion_dot = read_real_field(line, 34, 10, 8, src);
  const double ddot_mantissa = read_real_field(line, 45, 6, 5, src);
  const auto ddot_power = read_int_field(line, 51, 2, src);
  f.mean_motion_ddot = ddot_mantissa * std::pow(10.0, static_cast<int>(ddot_power));
  const double bstar_mantissa = read_real_field(line, 54, 6, 5, src);
  const auto bstar_power = read_int_field(line, 60, 2, src);
  f.bstar = bstar_mantissa * std::pow(10.0, static_cast<int>(bstar_power));
}

void decode_line2(const std::string& line, const FieldSource& src, TwoLineFields& f) {
  check_line(line, src, "Check sum of second line unmatched!");
  check_line_number(line, src, '2');
  f.inclination = read_real_field(line, 9, 8, 4, src);
  f.raan = read_real_field(line, 18, 8, 4, src);
  f.eccentricity = read_real_field(line, 26, 8, 7, src);
  f.arg_perigee = read_real_field(line, 35, 8, 4, src);
  f.mean_anomaly = read_real_field(line, 44, 8, 4, src);
  f.mean_motion = read_real_field(line, 53, 11, 8, src);
  f.revolution_number = read_int_field(line, 64, 5, src);
  if (!(f.mean_motion > 0.0)) out_of_domain(src, "MEAN MOTION (COLUMNS 53-63) NOT POSITIVE");
  if (!(f.eccentricity >= 0.0 && f.eccentricity < 1.0))
    out_of_domain(src, "ECCENTRICITY (COLUMNS 26-33) NOT BELOW 1");
}

void finish_two_line(const TwoLineFields& f, std::string_view file, long line1, ElementSet& set) {
  set.mean_motion = f.mean_motion * detail::two_pi_13 / constants::seconds_per_day;
  set.eccentricity = f.eccentricity;
  set.inclination = f.inclination * detail::deg_to_rad_13;
  set.raan = f.raan * detail::deg_to_rad_13;
  set.arg_perigee = f.arg_perigee * detail::deg_to_rad_13;
  set.mean_anomaly = f.mean_anomaly * detail::deg_to_rad_13;
  set.bstar = f.bstar;
  set.mean_motion_dot = f.mean_motion_dot;
  set.mean_motion_ddot = f.mean_motion_ddot;
  set.revolution_number = static_cast<std::int32_t>(f.revolution_number);

  int year = static_cast<int>(f.year2) + 1900;
  if (year < 1957) year += 100;
  // Whole day of the year, truncated toward zero as a 16-bit integer. A day of the year
  // before 1 (January 1, 0 h) or past the year's end is no epoch: the seconds of the day
  // would come out negative or the 16-bit day would not hold it.
  if (!(f.day_of_year >= 1.0 && f.day_of_year < 367.0)) {
    throw Error(ErrorKind::elements,
                {std::string(kTwoLineLabel) + "EPOCH DAY OF YEAR OUT OF RANGE IN \"" +
                     std::string(file) + "\", LINE " + std::to_string(line1) + ", COLUMNS 21-32.",
                 " EXECUTION INTERRUPTED."});
  }
  const auto d = static_cast<std::int16_t>(f.day_of_year);
  set.epoch.seconds = (f.day_of_year - d) * constants::seconds_per_day;
  double djm0 = 0.0;
  double djm = 0.0;
  (void)eraCal2jd(year, 1, 1, &djm0, &djm);
  double epoch_day = day_number_of_mjd(djm0, djm);
  epoch_day = d + epoch_day - 1.0;
  set.epoch.day = epoch_day;
}

bool catalogue_number(std::string_view field, std::int64_t& number) {
  std::string f;
  for (const char c : field)
    if (c != ' ') f.push_back(c);
  number = 0;
  if (f.empty()) return true;  // blank: no number given
  std::size_t i = 0;
  const char first = f[0];
  if (first >= 'A' && first <= 'Z') {
    if (first == 'I' || first == 'O' || f.size() != 5) return false;
    // A..H = 10..17, J..N = 18..22, P..Z = 23..33.
    number = first - 'A' + 10 - (first > 'I' ? 1 : 0) - (first > 'O' ? 1 : 0);
    i = 1;
  }
  for (; i < f.size(); ++i) {
    if (f[i] < '0' || f[i] > '9') return false;
    number = number * 10 + (f[i] - '0');
  }
  return true;
}

namespace {

// The lines of the text without their line ends (LF or CRLF).
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(strip_cr(text.substr(0, end)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool is_element_line(std::string_view line, char number) {
  return line.size() >= 2 && line[0] == number && line[1] == ' ';
}

bool blank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

struct Cursor {
  const std::vector<std::string_view>& lines;
  const std::string& source;
  std::size_t next = 0;  // index of the next line to read

  std::string record(std::size_t width, const char* which) {
    if (next >= lines.size()) {
      throw Error(ErrorKind::elements,
                  {std::string(kTwoLineLabel) + "ERROR READING \"" + source + "\":",
                   " END OF FILE BEFORE " + std::string(which) + " (LINE " +
                       std::to_string(next + 1) + ").",
                   " EXECUTION INTERRUPTED."});
    }
    return fixed_record(lines[next++], width);
  }
  [[nodiscard]] long line() const { return static_cast<long>(next); }
};

// One set from the cursor: a title line unless the set begins with element line 1.
ElementSet read_one(Cursor& in, std::size_t number) {
  ElementSet set;
  const bool titled = !(in.next + 1 < in.lines.size() && is_element_line(in.lines[in.next], '1') &&
                        is_element_line(in.lines[in.next + 1], '2'));
  if (titled) {
    if (in.next >= in.lines.size()) (void)in.record(50, "THE TITLE LINE");
    set.name = std::string(strip_cr(in.lines[in.next++]));  // as a 50-column record reads it
  }
  TwoLineFields f;
  const std::string line1 = in.record(69, "ELEMENT LINE 1");
  const FieldSource src1{in.source, in.line()};
  decode_line1(line1, src1, f);
  const std::string line2 = in.record(69, "ELEMENT LINE 2");
  const FieldSource src2{in.source, in.line()};
  decode_line2(line2, src2, f);
  finish_two_line(f, in.source, src1.line, set);

  const std::string name = titled ? set.name : std::string();
  if (line1[62] == '4') {
    set_error(in.source, number, name,
              "EPHEMERIS TYPE 4 IN COLUMN 63 OF LINE 1: NOT THE MEAN ELEMENTS THIS MODEL READS");
  }
  std::int64_t second = 0;
  if (!catalogue_number(std::string_view(line1).substr(2, 5), set.catalogue_number) ||
      !catalogue_number(std::string_view(line2).substr(2, 5), second)) {
    set_error(in.source, number, name,
              "CATALOGUE NUMBER (COLUMNS 3-7) IS NEITHER FIVE DIGITS NOR A LETTER AND FOUR "
              "DIGITS");
  }
  if (second != set.catalogue_number) {
    set_error(in.source, number, name,
              "LINE 2 IS OF CATALOGUE NUMBER " + std::to_string(second) + ", LINE 1 OF " +
                  std::to_string(set.catalogue_number) + ": THE LINES ARE OF DIFFERENT SETS");
  }
  std::string designator = line1.substr(9, 8);
  designator.erase(designator.find_last_not_of(' ') + 1);
  designator.erase(0, designator.find_first_not_of(' '));
  set.international_designator = designator;
  return set;
}

}  // namespace

std::vector<ElementSet> read_two_line_sets(std::string_view text, const std::string& source) {
  const auto lines = split_lines(text);
  Cursor in{lines, source};
  std::vector<ElementSet> sets;
  sets.push_back(read_one(in, 1));
  for (;;) {
    while (in.next < lines.size() && blank(lines[in.next])) ++in.next;
    // What follows the last set without any element line (a note, a stray title) is left
    // unread, as a single set's file always had it.
    bool more = false;
    for (std::size_t i = in.next; i < lines.size() && !more; ++i)
      more = is_element_line(lines[i], '1') || is_element_line(lines[i], '2');
    if (!more) break;
    sets.push_back(read_one(in, sets.size() + 1));
  }
  return sets;
}

}  // namespace orvus::elements
