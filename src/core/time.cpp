#include "orvus/time.hpp"

#include <string>

#include "core/time_text.hpp"

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

}  // namespace orvus
