// Fuzz targets feed their bytes to the readers through a file, as the program reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvus::fuzz {

// Writes the bytes to this process's scratch file and returns its name.
const std::string& scratch_file(const std::uint8_t* data, std::size_t size);

}  // namespace orvus::fuzz
