// Two-line element lines written by the tests.
#pragma once

#include <string>

#include "core/elements/two_line_file.hpp"

namespace orvus::test {

// A line cut or padded to 68 columns, with its checksum digit in column 69.
inline std::string with_checksum(std::string line) {
  line.resize(68, ' ');
  line.push_back(static_cast<char>('0' + two_line_checksum(line)));
  return line;
}

}  // namespace orvus::test
