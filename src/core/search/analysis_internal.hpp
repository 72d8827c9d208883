// The box coverage's internals: the coverage of one box by many swaths, its outline on the
// equal-area projection made once (what box_coverage does for one swath), and its work
// counted for the tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "orvus/analysis.hpp"

namespace orvus::detail {

class BoxCoverage {
 public:
  explicit BoxCoverage(const Box& box);
  // As box_coverage(box, side1, side2).
  double operator()(const std::vector<GroundPoint>& side1,
                    const std::vector<GroundPoint>& side2) const;

 private:
  struct Pieces;
  std::shared_ptr<const Pieces> pieces_;
};

// Points of the polygons that this thread's box_coverage calls have passed to union
// operations, since the thread began. A union costs about its points times their
// logarithm, so this bounds the measure's time without timing it.
std::uint64_t coverage_union_points();

}  // namespace orvus::detail
