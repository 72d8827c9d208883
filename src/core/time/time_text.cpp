#include "core/time/time_text.hpp"

#include <erfa.h>

#include <cmath>
#include <cstring>

#include "core/io/edit_format.hpp"
#include "orvus/error.hpp"

namespace orvus {

namespace {

[[noreturn]] void fail(const char* error) {
  throw Error(ErrorKind::time, {error, " EXECUTION INTERRUPTED."});
}

// Integer of width w into text at column `col` (1-based); a leading blank becomes '0'
// when `zero_fill`.
void put_int(DateText& text, int col, std::int64_t value, int w, bool zero_fill) {
  Record r;
  put_i(r, value, w);
  std::memcpy(text.data() + col - 1, r.text.data(), static_cast<std::size_t>(w));
  if (zero_fill && text[static_cast<std::size_t>(col - 1)] == ' ')
    text[static_cast<std::size_t>(col - 1)] = '0';
}

}  // namespace

void read_date_text(std::string_view text, double& day, double& seconds,
                    const FieldSource& source) {
  const auto dd = read_int_field(text, 1, 2, source);
  const auto mm = read_int_field(text, 4, 2, source);
  const auto yyyy = read_int_field(text, 7, 4, source);
  const auto hh = read_int_field(text, 12, 2, source);
  const auto mi = read_int_field(text, 15, 2, source);
  const double ss = read_real_field(text, 18, 12, 9, source);

  double djm0 = 0.0;
  double djm = 0.0;
  const int status =
      eraCal2jd(static_cast<int>(yyyy), static_cast<int>(mm), static_cast<int>(dd), &djm0, &djm);
  if (status != 0) fail(" ERROR: INVALID CALENDAR DATE!");
  day = day_number_of_mjd(djm0, djm);
  const double total = static_cast<double>(hh) * 3600.0 + static_cast<double>(mi) * 60.0 + ss;
  if (total > 86400.0) fail(" ERROR: SECONDS OF THE DAY GREATER THAN 24H!");
  if (total < 0.0) fail(" ERROR: SECONDS OF THE DAY NEGATIVE!");
  seconds = total;
}

void write_date_text(double day, double seconds, DateText& text) {
  if (!(seconds <= 86400.0)) fail(" ERROR: SECONDS OF THE DAY GREATER THAN 24H!");
  // Negative seconds are written as they come; only values no time field can hold stop.
  if (seconds < -1.0e12) fail(" ERROR: SECONDS OF THE DAY NEGATIVE!");

  // The date of the day number itself: at exactly 86400 s the fraction is not carried
  // into the next day (the time reads 24:00:00).
  const double fraction = seconds == 86400.0 ? 0.0 : seconds / 86400.0;
  int year = 0;
  int month = 0;
  int mday = 0;
  double fd = 0.0;
  (void)eraJd2cal(day + constants::mjd1950_to_jd, fraction, &year, &month, &mday, &fd);

  text.fill(' ');
  put_int(text, 1, mday, 2, true);
  text[2] = '/';
  put_int(text, 4, month, 2, true);
  text[5] = '/';
  put_int(text, 7, year, 4, false);

  const double h = seconds / 3600.0;
  auto hours = static_cast<std::int64_t>(std::trunc(h));
  put_int(text, 12, hours, 2, true);
  text[13] = ':';
  const double m = (h - static_cast<double>(hours)) * 60.0;
  auto minutes = static_cast<std::int64_t>(std::trunc(m));
  put_int(text, 15, minutes, 2, true);
  text[16] = ':';
  const double s = (m - static_cast<double>(minutes)) * 60.0;
  Record r;
  put_f(r, s, 12, 9);
  std::memcpy(text.data() + 17, r.text.data(), 12);
  if (text[17] == ' ') text[17] = '0';

  // Rounding carry: seconds into minutes, minutes into hours, never into the date.
  if (text[17] == '6' && text[18] == '0') {
    text[17] = '0';
    text[18] = '0';
    ++minutes;
    put_int(text, 15, minutes, 2, true);
    if (text[14] == '6' && text[15] == '0') {
      text[14] = '0';
      text[15] = '0';
      ++hours;
      put_int(text, 12, hours, 2, true);
    }
  }
}

}  // namespace orvus
