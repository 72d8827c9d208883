// The coverage of one box by many swaths, its outline on the equal-area projection made once
// (what box_coverage does for one swath).
#pragma once

#include <memory>
#include <vector>

#include "orvus/analysis.hpp"

namespace orvus::detail {

class BoxCoverage {
 public:
  explicit BoxCoverage(const Box& box);
  // As box_coverage(box, side1, side2), bit for bit.
  double operator()(const std::vector<GroundPoint>& side1,
                    const std::vector<GroundPoint>& side2) const;

 private:
  struct Pieces;
  std::shared_ptr<const Pieces> pieces_;
};

}  // namespace orvus::detail
