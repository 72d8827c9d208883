// One Orbit Mean-Elements Message, as keyword-value pairs from any of its encodings, to an
// element set in the units of the two-line reader.
// g++ 12 warns falsely about overlapping copies in std::string concatenation (GCC PR 105651).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <erfa.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/elements/elements_internal.hpp"
#include "core/io/text_input.hpp"
#include "core/report_factors.hpp"
#include "core/time/time_text.hpp"
#include "orvus/error.hpp"

namespace orvus {

std::string printable(std::string_view text, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}

}  // namespace orvus

namespace orvus::elements {

long line_of(std::string_view text, std::size_t offset) {
  return line_at(text, offset);
}

void set_error(const std::string& source, std::size_t set, std::string_view name,
               const std::string& what) {
  std::string head = " ELEMENT FILE \"" + printable(source, 200) + "\", SET " + std::to_string(set);
  if (!name.empty()) head += " (\"" + printable(name) + "\")";
  throw Error(ErrorKind::elements, {head + ": " + what + ".", " EXECUTION INTERRUPTED."},
              ErrorWhere{source, std::string(name), 0, 0, 0});
}

void line_error(const std::string& source, long line, const std::string& what) {
  throw Error(ErrorKind::elements,
              {" ELEMENT FILE \"" + printable(source, 200) + "\", LINE " + std::to_string(line) +
                   ": " + what + ".",
               " EXECUTION INTERRUPTED."},
              ErrorWhere{source, {}, line, 0, 0});
}

namespace {

bool digit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal number: sign, digits with at most one point, an optional exponent E with signed
// digits. Gives its significant digits (leading zeros dropped) and the power of ten p with
// value = 0.DIGITS x 10^p. False for anything else (including NaN, infinity, hex).
struct Decimal {
  bool negative = false;
  std::string digits;
  long power = 0;
};

bool parse_decimal(std::string_view text, Decimal& d) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) d.negative = text[i++] == '-';
  long before_point = 0;  // significant digits before the point
  long leading_zeros_after_point = 0;
  bool point = false;
  bool any = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (digit(c)) {
      any = true;
      if (d.digits.empty() && c == '0') {
        if (point) ++leading_zeros_after_point;
        continue;
      }
      if (d.digits.size() < 800) d.digits.push_back(c);
      if (!point) ++before_point;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  long exponent = 0;
  if (i < text.size()) {
    if (text[i] != 'E' && text[i] != 'e') return false;
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    for (; i < text.size(); ++i) {
      if (!digit(text[i])) return false;
      if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  d.power = exponent + (before_point > 0 ? before_point : -leading_zeros_after_point);
  return true;
}

// Correctly rounded value of digits x 10^scale; false when it overflows.
bool to_double(const std::string& digits, long scale, double& value) {
  if (digits.empty()) {
    value = 0.0;
    return true;
  }
  const std::string text = digits + "e" + std::to_string(scale);
  const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    value = 0.0;
    return scale < 0;  // underflow reads as zero
  }
  return res.ec == std::errc() && std::isfinite(value);
}

class Mapper {
 public:
  Mapper(const KeywordRecord& r, const std::string& source, std::size_t set)
      : record_(r), source_(source), set_(set) {
    if (const auto* n = find("OBJECT_NAME")) name_ = *n;
  }

  const std::string* find(std::string_view key) const {
    for (const auto& [k, v] : record_.fields)
      if (k == key) return &v;
    return nullptr;
  }
  [[noreturn]] void fail(const std::string& what) const { set_error(source_, set_, name_, what); }

  const std::string& text(const char* key) const {
    const auto* v = find(key);
    if (v == nullptr) fail(std::string("MANDATORY KEYWORD ") + key + " MISSING");
    return *v;
  }
  [[noreturn]] void not_a_number(const char* key, const std::string& v) const {
    fail(std::string(key) + " \"" + printable(v) + "\" IS NOT A NUMBER");
  }
  double real(const char* key, bool mandatory) const {
    const auto* v = mandatory ? &text(key) : find(key);
    if (v == nullptr) return 0.0;  // as a blank two-line field reads
    Decimal d;
    double value = 0.0;
    if (!parse_decimal(*v, d) ||
        !to_double(d.digits, d.power - static_cast<long>(d.digits.size()), value))
      not_a_number(key, *v);
    return d.negative ? -value : value;
  }
  // The drag term as a two-line set carries it: a five-digit mantissa 0.ddddd times a power
  // of ten, multiplied in that form, so that the value of the same digits is the same.
  double bstar() const {
    const auto* v = find("BSTAR");
    if (v == nullptr) return 0.0;
    Decimal d;
    double mantissa = 0.0;
    if (!parse_decimal(*v, d) ||
        !to_double(d.digits, -static_cast<long>(d.digits.size()), mantissa))
      not_a_number("BSTAR", *v);
    if (d.power < -400 || d.power > 400) not_a_number("BSTAR", *v);
    const double value = mantissa * std::pow(10.0, static_cast<int>(d.power));
    if (!std::isfinite(value)) not_a_number("BSTAR", *v);
    return d.negative ? -value : value;
  }
  std::int64_t integer(const char* key, std::int64_t max) const {
    const auto* v = find(key);
    if (v == nullptr) return 0;
    std::string_view t = *v;
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    std::int64_t value = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size())
      fail(std::string(key) + " \"" + printable(*v) + "\" IS NOT AN INTEGER");
    if (value < 0 || value > max) {
      fail(std::string(key) + " " + std::to_string(value) + " IS OUTSIDE 0 TO " +
           std::to_string(max));
    }
    return value;
  }
  void expect(const char* key, std::initializer_list<const char*> allowed,
              const char* consequence) const {
    const std::string* given = find(key);
    if (given == nullptr) return;  // a flat form's implied value (metadata checked before)
    const std::string& v = *given;
    std::string upper;
    for (const char c : v) upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
    for (const char* a : allowed)
      if (upper == a) return;
    fail(std::string(key) + " IS " + printable(v) + ", NOT " + *allowed.begin() + ": " +
         consequence);
  }
  UtcInstant epoch() const;
  [[nodiscard]] const std::string& name() const { return name_; }

 private:
  const KeywordRecord& record_;
  const std::string& source_;
  std::size_t set_;
  std::string name_;
};

// EPOCH as YYYY-MM-DDThh:mm:ss[.f...][Z] or YYYY-DDDThh:mm:ss[.f...][Z], UTC. The seconds of
// the day are the decimal hh*3600 + mm*60 + ss.f... rounded once to a double, so that an
// epoch written with enough digits gives back the exact seconds it was written from.
UtcInstant Mapper::epoch() const {
  const std::string& v = text("EPOCH");
  std::string_view t = v;
  if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.remove_suffix(1);
  const auto bad = [&]() { fail("EPOCH \"" + printable(v) + "\" IS NOT A UTC DATE-TIME"); };
  const auto number = [&](std::size_t at, std::size_t width) {
    int n = 0;
    if (at + width > t.size()) bad();
    for (std::size_t i = at; i < at + width; ++i) {
      if (!digit(t[i])) bad();
      n = n * 10 + (t[i] - '0');
    }
    return n;
  };
  const int year = number(0, 4);
  if (t.size() < 5 || t[4] != '-') bad();
  std::size_t at = 5;
  int month = 1;
  int day = 1;
  int day_of_year = 0;
  if (t.size() > 7 && t[7] == '-') {  // calendar date
    month = number(5, 2);
    day = number(8, 2);
    at = 10;
  } else {  // day of the year
    day_of_year = number(5, 3);
    at = 8;
    if (day_of_year == 0) bad();
  }
  if (t.size() < at + 9 || t[at] != 'T' || t[at + 3] != ':' || t[at + 6] != ':') bad();
  const int hour = number(at + 1, 2);
  const int minute = number(at + 4, 2);
  const int second = number(at + 7, 2);
  std::string_view fraction = t.substr(at + 9);
  if (!fraction.empty()) {
    if (fraction[0] != '.' || fraction.size() < 2 || fraction.size() > 40) bad();
    fraction.remove_prefix(1);
    for (const char c : fraction)
      if (!digit(c)) bad();
  }
  if (year < 1900 || year > 2199 || hour > 23 || minute > 59 || second > 59) bad();
  double djm0 = 0.0;
  double djm = 0.0;
  if (eraCal2jd(year, month, day, &djm0, &djm) != 0) bad();
  if (day_of_year != 0) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day_of_year > (leap ? 366 : 365)) bad();
    djm += day_of_year - 1;
  }
  UtcInstant e;
  e.day = day_number_of_mjd(djm0, djm);
  const std::string whole = std::to_string(hour * 3600 + minute * 60 + second);
  double seconds = 0.0;
  (void)to_double(whole + std::string(fraction), -static_cast<long>(fraction.size()), seconds);
  e.seconds = seconds;
  return e;
}

}  // namespace

ElementSet from_keywords(const KeywordRecord& record, const std::string& source, std::size_t set) {
  const Mapper m(record, source, set);
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    const auto& key = record.fields[i].first;
    if (key == "COMMENT") continue;
    for (std::size_t j = 0; j < i; ++j)
      if (record.fields[j].first == key) m.fail("KEYWORD " + printable(key) + " GIVEN TWICE");
  }
  for (const char* key : {"OBJECT_NAME", "EPOCH", "MEAN_MOTION", "ECCENTRICITY", "INCLINATION",
                          "RA_OF_ASC_NODE", "ARG_OF_PERICENTER", "MEAN_ANOMALY"})
    (void)m.text(key);
  const bool metadata = !record.flat;  // mandatory unless the form carries none
  for (const char* key :
       {"OBJECT_ID", "CENTER_NAME", "REF_FRAME", "TIME_SYSTEM", "MEAN_ELEMENT_THEORY"})
    if (metadata) (void)m.text(key);
  constexpr const char* kNotMean = "NOT THE MEAN ELEMENTS THIS MODEL READS";
  m.expect("MEAN_ELEMENT_THEORY", {"SGP4", "SGP/SGP4"}, kNotMean);
  if (m.integer("EPHEMERIS_TYPE", 9) == 4) m.fail(std::string("EPHEMERIS_TYPE IS 4: ") + kNotMean);
  m.expect("CENTER_NAME", {"EARTH"}, "THE MODEL IS OF EARTH ORBITS");
  m.expect("REF_FRAME", {"TEME"}, "THE MODEL'S ELEMENTS ARE OF THE TEME FRAME");
  m.expect("TIME_SYSTEM", {"UTC"}, "THE MODEL'S EPOCHS ARE UTC");

  ElementSet e;
  e.name = m.name();
  if (const auto* id = m.find("OBJECT_ID")) e.international_designator = *id;
  e.catalogue_number = m.integer("NORAD_CAT_ID", 999999999);
  e.revolution_number = static_cast<std::int32_t>(m.integer("REV_AT_EPOCH", 2147483647));
  e.epoch = m.epoch();
  const double mean_motion = m.real("MEAN_MOTION", true);  // rev/day
  const double eccentricity = m.real("ECCENTRICITY", true);
  const double inclination = m.real("INCLINATION", true);  // degrees, as all angles here
  const double raan = m.real("RA_OF_ASC_NODE", true);
  const double arg_perigee = m.real("ARG_OF_PERICENTER", true);
  const double mean_anomaly = m.real("MEAN_ANOMALY", true);
  e.bstar = m.bstar();
  e.mean_motion_dot = m.real("MEAN_MOTION_DOT", false);
  e.mean_motion_ddot = m.real("MEAN_MOTION_DDOT", false);
  if (!(mean_motion > 0.0))
    m.fail("MEAN_MOTION NOT POSITIVE: NO ORBIT CAN BE COMPUTED FROM THIS ELEMENT SET");
  if (!(eccentricity >= 0.0 && eccentricity < 1.0))
    m.fail("ECCENTRICITY NOT FROM 0 TO BELOW 1: NO ORBIT CAN BE COMPUTED FROM THIS ELEMENT SET");
  e.mean_motion = mean_motion * detail::two_pi_13 / constants::seconds_per_day;
  e.eccentricity = eccentricity;
  e.inclination = inclination * detail::deg_to_rad_13;
  e.raan = raan * detail::deg_to_rad_13;
  e.arg_perigee = arg_perigee * detail::deg_to_rad_13;
  e.mean_anomaly = mean_anomaly * detail::deg_to_rad_13;
  return e;
}

}  // namespace orvus::elements
