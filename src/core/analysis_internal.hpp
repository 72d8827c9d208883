// The work of the box coverage, counted for the tests.
#pragma once

#include <cstdint>

namespace orvus::detail {

// Points of the polygons that this thread's box_coverage calls have passed to union
// operations, since the thread began. A union costs about its points times their
// logarithm, so this bounds the measure's time without timing it.
std::uint64_t coverage_union_points();

}  // namespace orvus::detail
