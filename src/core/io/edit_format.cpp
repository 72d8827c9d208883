#include "core/io/edit_format.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace orvus {

namespace {

void append(Record& r, const char* s, std::size_t n) {
  const std::size_t room = Record::kCapacity - r.size;
  if (n > room) n = room;
  std::memcpy(r.text.data() + r.size, s, n);
  r.size += n;
}

void fill(Record& r, char c, int n) {
  for (int i = 0; i < n && r.size < Record::kCapacity; ++i) r.text[r.size++] = c;
}

// Right-justifies `s` (length n) in a field of w; asterisks when it does not fit.
void right(Record& r, const char* s, std::size_t n, int w) {
  if (w <= 0) return;
  const auto width = static_cast<std::size_t>(w);
  if (n > width) {
    fill(r, '*', w);
    return;
  }
  fill(r, ' ', w - static_cast<int>(n));
  append(r, s, n);
}

// Infinity and NaN as formatted output writes them: the longest form that fits.
bool put_special(Record& r, double value, int w) {
  if (std::isnan(value)) {
    right(r, "NaN", 3, w);
    return true;
  }
  if (std::isinf(value)) {
    const bool neg = value < 0;
    const int sign = neg ? 1 : 0;
    if (w >= 8 + sign)
      right(r, neg ? "-Infinity" : "Infinity", 8 + sign, w);
    else
      right(r, neg ? "-Inf" : "Inf", 3 + sign, w);
    return true;
  }
  return false;
}

}  // namespace

void put_x(Record& r, int n) {
  fill(r, ' ', n);
}

void put_a(Record& r, std::string_view text) {
  append(r, text.data(), text.size());
}

void put_a(Record& r, std::string_view text, int w) {
  if (w <= 0) return;
  const auto width = static_cast<std::size_t>(w);
  if (text.size() >= width) {
    append(r, text.data(), width);
  } else {
    fill(r, ' ', w - static_cast<int>(text.size()));
    append(r, text.data(), text.size());
  }
}

void put_f(Record& r, double value, int w, int d) {
  if (put_special(r, value, w)) return;
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.*f", d, value);
  if (n < 0 || n >= static_cast<int>(sizeof buf)) {
    fill(r, '*', w);
    return;
  }
  const char* s = buf;
  // The zero before the decimal point is optional: drop it when the field is too narrow.
  if (n > w) {
    if (buf[0] == '0' && buf[1] == '.') {
      ++s;
      --n;
    } else if (buf[0] == '-' && buf[1] == '0' && buf[2] == '.') {
      buf[1] = '-';
      ++s;
      --n;
    }
  }
  right(r, s, static_cast<std::size_t>(n), w);
}

void put_i(Record& r, std::int64_t value, int w) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
  right(r, buf, static_cast<std::size_t>(n), w);
}

void put_e(Record& r, double value, int w, int d) {
  if (put_special(r, value, w)) return;
  if (d < 1) {
    fill(r, '*', w);
    return;
  }
  // d significant digits, rounded once: "-1.2346e+04" -> mantissa 0.12346, exponent 5.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", d - 1, value);
  const bool neg = buf[0] == '-';
  const char* p = buf + (neg ? 1 : 0);
  char digits[40];
  int nd = 0;
  for (; *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9' && nd < 39) digits[nd++] = *p;
  }
  int exponent = std::atoi(p + 1);
  if (value != 0.0) ++exponent;  // zero prints as 0.000E+00
  char out[96];
  int n = 0;
  if (neg) out[n++] = '-';
  out[n++] = '0';
  out[n++] = '.';
  for (int i = 0; i < nd; ++i) out[n++] = digits[i];
  const int mag = std::abs(exponent);
  if (mag <= 99) {
    n += std::snprintf(out + n, sizeof out - static_cast<std::size_t>(n), "E%c%02d",
                       exponent < 0 ? '-' : '+', mag);
  } else if (mag <= 999) {
    n += std::snprintf(out + n, sizeof out - static_cast<std::size_t>(n), "%c%03d",
                       exponent < 0 ? '-' : '+', mag);
  } else {
    fill(r, '*', w);
    return;
  }
  const char* s = out;
  if (n > w) {  // the leading zero is optional
    const int zero = neg ? 1 : 0;
    std::memmove(out + zero, out + zero + 1, static_cast<std::size_t>(n - zero - 1));
    --n;
  }
  right(r, s, static_cast<std::size_t>(n), w);
}

void end_line(std::FILE* out, Record& r) {
  r.text[r.size] = '\n';
  std::fwrite(r.text.data(), 1, r.size + 1, out);
  r.clear();
}

}  // namespace orvus
