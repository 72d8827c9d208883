#include "core/io/fixed_field.hpp"

#include <charconv>
#include <cstdio>
#include <limits>
#include <string>

#include "orvus/error.hpp"

namespace orvus {

namespace {

// The field's characters with blanks removed; columns past the record are blank.
std::string compact_field(std::string_view record, int first, int width) {
  std::string out;
  for (int c = first; c < first + width; ++c) {
    const auto i = static_cast<std::size_t>(c - 1);
    if (i >= record.size()) break;
    const char ch = record[i];
    if (ch != ' ') out.push_back(ch);
  }
  return out;
}

std::string printable(std::string_view record, int first, int width) {
  std::string out;
  for (int c = first; c < first + width; ++c) {
    const auto i = static_cast<std::size_t>(c - 1);
    if (i >= record.size()) break;
    const auto ch = static_cast<unsigned char>(record[i]);
    if (ch >= 0x20 && ch < 0x7f) {
      out.push_back(static_cast<char>(ch));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    }
  }
  return out;
}

[[noreturn]] void not_a_number(std::string_view record, int first, int width,
                               const FieldSource& source, const char* what) {
  std::string where = " INPUT CONVERSION ERROR IN \"" + std::string(source.file) + "\"";
  if (source.line > 0) where += ", LINE " + std::to_string(source.line);
  where += ", COLUMNS " + std::to_string(first) + "-" + std::to_string(first + width - 1);
  throw Error(ErrorKind::input,
              {where + ":", " \"" + printable(record, first, width) + "\" IS NOT " + what + ".",
               " EXECUTION INTERRUPTED."},
              ErrorWhere(std::string(source.file), {}, source.line, first, first + width - 1));
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::int64_t read_int_field(std::string_view record, int first, int width,
                            const FieldSource& source) {
  const std::string f = compact_field(record, first, width);
  if (f.empty()) return 0;
  std::size_t i = 0;
  bool negative = false;
  if (f[0] == '+' || f[0] == '-') {
    negative = f[0] == '-';
    ++i;
  }
  if (i == f.size()) not_a_number(record, first, width, source, "AN INTEGER");
  std::int64_t value = 0;
  for (; i < f.size(); ++i) {
    if (!is_digit(f[i])) not_a_number(record, first, width, source, "AN INTEGER");
    if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10)
      not_a_number(record, first, width, source, "AN INTEGER IN RANGE");
    value = value * 10 + (f[i] - '0');
  }
  return negative ? -value : value;
}

double read_real_field(std::string_view record, int first, int width, int decimals,
                       const FieldSource& source) {
  const std::string f = compact_field(record, first, width);
  if (f.empty()) return 0.0;
  std::size_t i = 0;
  bool negative = false;
  if (f[i] == '+' || f[i] == '-') {
    negative = f[i] == '-';
    ++i;
  }
  std::string digits;   // mantissa digits, decimal point removed
  int point_shift = 0;  // digits after the point
  bool point = false;
  bool any_digit = false;
  for (; i < f.size(); ++i) {
    const char c = f[i];
    if (is_digit(c)) {
      digits.push_back(c);
      any_digit = true;
      if (point) ++point_shift;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any_digit) not_a_number(record, first, width, source, "A NUMBER");
  long exponent = 0;
  if (i < f.size()) {
    const char c = f[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd')
      ++i;
    else if (c != '+' && c != '-')
      not_a_number(record, first, width, source, "A NUMBER");
    bool exp_negative = false;
    if (i < f.size() && (f[i] == '+' || f[i] == '-')) {
      exp_negative = f[i] == '-';
      ++i;
    }
    if (i == f.size()) not_a_number(record, first, width, source, "A NUMBER");
    for (; i < f.size(); ++i) {
      if (!is_digit(f[i])) not_a_number(record, first, width, source, "A NUMBER");
      if (exponent < 100000) exponent = exponent * 10 + (f[i] - '0');
    }
    if (exp_negative) exponent = -exponent;
  }
  const long scale = exponent - (point ? point_shift : decimals);
  const std::string text = digits + "e" + std::to_string(scale);
  double value = 0.0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
  if (res.ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is not a usable number.
    if (scale < 0)
      value = 0.0;
    else
      not_a_number(record, first, width, source, "A NUMBER IN RANGE");
  } else if (res.ec != std::errc()) {
    not_a_number(record, first, width, source, "A NUMBER");
  }
  return negative ? -value : value;
}

std::string_view strip_cr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string fixed_record(std::string_view line, std::size_t width) {
  line = strip_cr(line);
  std::string out(line.substr(0, width));
  out.resize(width, ' ');
  return out;
}

}  // namespace orvus
