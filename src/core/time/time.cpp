#include "orvus/time.hpp"

#include <erfa.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/time/time_text.hpp"

namespace orvus {

UtcInstant parse_date_time(std::string_view text, std::string_view source, long line) {
  UtcInstant t;
  const std::string name(source);
  read_date_text(text, t.day, t.seconds, FieldSource{name, line});
  return t;
}

DateText format_date_time(const UtcInstant& t) {
  DateText text{};
  write_date_text(t.day, t.seconds, text);
  return text;
}

std::string iso_time(const UtcInstant& t, std::optional<double> offset_hours) {
  const DateText text = format_date_time(t);
  std::string hms(text.data() + 11, 12);  // HH:MM:SS.sss
  double day = t.day;
  if (hms.compare(0, 2, "24") == 0) {
    hms.replace(0, 2, "00");
    day += 1.0;
  }
  // The calendar date of the day number, taken at noon.
  int y = 0, mo = 0, d = 0;
  double fd = 0;
  (void)eraJd2cal(day + constants::mjd1950_to_jd, 0.5, &y, &mo, &d, &fd);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%s", y, mo, d, hms.c_str());
  std::string out = buf;
  if (!offset_hours) return out + "Z";
  const long minutes = std::lround(std::fabs(*offset_hours) * 60.0);
  std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", *offset_hours < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return out + buf;
}

std::int64_t iso_time_ms(const UtcInstant& t) {
  constexpr std::int64_t kDays1950To1970 = 7305;
  constexpr std::int64_t kMsPerDay = 86400000;
  const DateText text = format_date_time(t);  // DD/MM/YYYY HH:MM:SS.sssssssss
  const auto field = [&](std::size_t at, std::size_t digits) {
    std::int64_t v = 0;
    for (std::size_t i = at; i < at + digits; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  // 24:00:00.000 is the next day's midnight, as iso_time writes it.
  const std::int64_t ms =
      ((field(11, 2) * 60 + field(14, 2)) * 60 + field(17, 2)) * 1000 + field(20, 3);
  return (static_cast<std::int64_t>(std::floor(t.day)) - kDays1950To1970) * kMsPerDay + ms;
}

}  // namespace orvus
