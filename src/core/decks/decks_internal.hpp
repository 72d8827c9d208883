// The limits of a plan's inputs, shared by the reader of the decks and of the plan file.
#pragma once

namespace orvus::plan {

// The largest values of the schedule's inputs (and the least roll rate): generous for any
// satellite, and small enough that every figure derived from them (an image's data over the
// longest interval, a recorder's level, the sum of the priorities of any deck, a roll's time)
// stays finite.
inline constexpr double kMostRateGbitS = 1e6;     // imaging and downlink rates, Gbit/s
inline constexpr double kMostRecorderGbit = 1e9;  // Gbit
inline constexpr double kMostSeconds = 86400.0;   // settle, shortest image, imaging per revolution
inline constexpr double kLeastRollRate = 1e-6;    // deg/s
inline constexpr double kMostRollRate = 1e6;      // deg/s
inline constexpr double kMostPriority = 1e9;

}  // namespace orvus::plan
