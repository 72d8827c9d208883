#include "fuzz_support.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace orvus::fuzz {

const std::string& scratch_file(const std::uint8_t* data, std::size_t size) {
  static const std::string name = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/orvus-fuzz-" + std::to_string(getpid()) +
           ".txt";
  }();
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return name;
}

}  // namespace orvus::fuzz
