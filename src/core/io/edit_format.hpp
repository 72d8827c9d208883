// Edit-descriptor output for the reports: a record is built field by field in a fixed
// buffer (no allocation) and written as one line.
//
//   nX    put_x      n blanks
//   Aw    put_a      text in w characters: cut to its first w, or right-justified
//   Fw.d  put_f      fixed point, d decimals, right-justified
//   Iw    put_i      integer, right-justified
//   Ew.d  put_e      0.ddddE+xx with a mantissa of d digits in [0.1, 1)
//   /     end_line   ends the record
//
// A number that does not fit its field fills it with asterisks. A negative value that
// rounds to zero keeps its sign ("-0.0000").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace orvus {

struct Record {
  static constexpr std::size_t kCapacity = 512;
  std::array<char, kCapacity + 1> text{};  // one more for the line end
  std::size_t size = 0;

  [[nodiscard]] std::string_view view() const { return {text.data(), size}; }
  void clear() { size = 0; }
};

void put_x(Record& r, int n);
void put_a(Record& r, std::string_view text);  // A without a width: the whole text
void put_a(Record& r, std::string_view text, int w);
void put_f(Record& r, double value, int w, int d);
void put_i(Record& r, std::int64_t value, int w);
void put_e(Record& r, double value, int w, int d);

// Writes the record and a newline to `out`, then clears it ("/").
void end_line(std::FILE* out, Record& r);

}  // namespace orvus
