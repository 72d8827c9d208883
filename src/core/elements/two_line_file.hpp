// Two-line element reader: reads one element set, checks both line checksums and converts
// the fields to radians, radians per second and seconds.
#pragma once

#include <cstdint>
#include <string_view>

#include "orvus/elements.hpp"

namespace orvus {

// Reads the element file `file_name` (a 70-character field used up to its last non-blank):
// title line, line 1 and line 2. Every failure raises Error.
ElementSet read_two_line_file(std::string_view file_name);

// Checksum digit over columns 1-68 of a 69-character line: digits count their value,
// '-' counts 1, everything else 0; the sum modulo 10.
std::int16_t two_line_checksum(std::string_view line);

}  // namespace orvus
