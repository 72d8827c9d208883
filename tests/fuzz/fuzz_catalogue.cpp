// Catalogues of two- and three-line element sets (Alpha-5 numbers), through the element-set reader.
#include "fuzz_elements.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return orvus::fuzz::read_elements_as(data, size, orvus::elements::Format::two_line);
}
