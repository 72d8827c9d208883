// OMM in keyword = value lines, through the element-set reader.
#include "fuzz_elements.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return orvus::fuzz::read_elements_as(data, size, orvus::elements::Format::kvn);
}
