// Box coverage of long, self-crossing swaths over boxes as large as the Earth.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "map.hpp"

namespace orvus::map {
namespace {

TEST(MapCoverage, LongSwathOverTheWholeEarthIsMeasuredOnTheSphereInLinearTime) {
  // A band 2 deg wide along the meridian from 80 S to 80 N, run up and back down (so the
  // swath ring crosses itself) in 8000 steps. Its area on the sphere over the whole sphere:
  // (2 / 360) (sin 80 - sin -80) / 2.
  std::vector<LonLat> side1, side2;
  for (int k = 0; k < 8000; ++k) {
    const int i = k < 4000 ? k : 7999 - k;
    const double lat = -80.0 + 160.0 * i / 3999.0;
    side1.push_back({-1.0, lat});
    side2.push_back({1.0, lat});
  }
  const double expected = 2.0 / 360.0 * std::sin(80.0 * 3.141592653589793 / 180.0);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_NEAR(box_coverage(-180.0, 180.0, -90.0, 90.0, side1, side2), expected, 2e-5);
  // The northern hemisphere east of Greenwich holds 1 deg of the band's width up to 80 N:
  // (pi / 180) sin 80 of an area of pi, the same fraction.
  EXPECT_NEAR(box_coverage(0.0, 180.0, 0.0, 90.0, side1, side2), expected, 2e-5);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(seconds, 10.0);  // was minutes: every step merged into an ever larger union
}

}  // namespace
}  // namespace orvus::map
