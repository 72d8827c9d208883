#include "legacy/fatal.hpp"

#include <cstdio>

namespace orvus {

void print_fatal(const Error& error) {
  for (const auto& line : error.lines()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace orvus
