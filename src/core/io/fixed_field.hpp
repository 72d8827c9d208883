// Fixed-field numeric input shared by the element reader, the Earth-orientation reader
// and the date-time text reader.
//
// A field is given by its first column (1-based) and its width. Blanks anywhere in the
// field are ignored and an all-blank field reads as zero. A real field without a decimal
// point takes its last `decimals` digits as decimals; an exponent may follow the digits
// ("E-3", "D+2" or just a signed integer "-3"). A field that is not a number raises Error
// naming the file, the line number and the columns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvus {

// Where a field comes from, for error messages.
struct FieldSource {
  std::string_view file;  // file name (or a description such as "date-time text")
  long line = 0;          // 1-based line number; 0 when not applicable
};

// Reads an integer field of `width` columns starting at column `first`. Columns past the
// end of `record` count as blank.
std::int64_t read_int_field(std::string_view record, int first, int width,
                            const FieldSource& source);

// Reads a real field (Fw.d input).
double read_real_field(std::string_view record, int first, int width, int decimals,
                       const FieldSource& source);

// The text of a record padded with blanks or cut to exactly `width` characters.
// A trailing carriage return (CRLF line end) is dropped first.
std::string fixed_record(std::string_view line, std::size_t width);

// Drops one trailing carriage return, if any.
std::string_view strip_cr(std::string_view line);

}  // namespace orvus
