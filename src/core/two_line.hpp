// Two-line element reader: reads one element set, checks both line checksums and converts
// the fields to radians, radians per second and seconds.
#pragma once

#include <cstdint>
#include <string_view>

#include "orvus/vek_p1.h"  // TLE_ELSET

namespace orvus {

inline constexpr double kTwoPiTle = 6.2831853071796;
inline constexpr double kDegToRadTle = 0.017453292519943334;  // kTwoPiTle / 360
inline constexpr double kSecondsPerDay = 86400.0;

// Reads the element file on `unit` (kept for the record; the file is opened by name).
// `file_name` is a 70-character field used up to its last non-blank. Returns 0; every
// failure raises Fatal.
std::int16_t READ_2LINES(std::int16_t unit, std::string_view file_name, TLE_ELSET& elset);

// Checksum digit over columns 1-68 of a 69-character line: digits count their value,
// '-' counts 1, everything else 0; the sum modulo 10.
std::int16_t COMP_CHECKSUM_2LINES(std::string_view line);

}  // namespace orvus
