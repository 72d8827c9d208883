// Box coverage of long, self-crossing swaths over boxes as large as the Earth, and of
// swaths over bands and narrow boxes against their areas on the sphere, derived by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "core/search/analysis_internal.hpp"
#include "map.hpp"

namespace orvus::map {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kRad = kPi / 180.0;

TEST(MapCoverage, LongSwathOverTheWholeEarthIsMeasuredOnTheSphereInNLogNWork) {
  // A band 2 deg wide along the meridian from 80 S to 80 N, run up and back down (so the
  // swath ring crosses itself) in 8000 steps. Its area on the sphere over the whole sphere:
  // (2 / 360) (sin 80 - sin -80) / 2.
  const int n = 8000;
  std::vector<LonLat> side1, side2;
  for (int k = 0; k < n; ++k) {
    const int i = k < n / 2 ? k : n - 1 - k;
    const double lat = -80.0 + 160.0 * i / (0.5 * n - 1.0);
    side1.push_back({-1.0, lat});
    side2.push_back({1.0, lat});
  }
  const double expected = 2.0 / 360.0 * std::sin(80.0 * kRad);
  const std::uint64_t before = detail::coverage_union_points();
  EXPECT_NEAR(box_coverage(-180.0, 180.0, -90.0, 90.0, side1, side2), expected, 2e-5);
  // The northern hemisphere east of Greenwich holds 1 deg of the band's width up to 80 N:
  // (pi / 180) sin 80 of an area of pi, the same fraction.
  EXPECT_NEAR(box_coverage(0.0, 180.0, 0.0, 90.0, side1, side2), expected, 2e-5);
  // Merged in pairs, each of the n quadrilaterals (5 points) takes part in about log2(n)
  // unions, in the pieces of the box that hold a part of the swath: 0.56 million points
  // here. Merged one after the other into a growing union, they grow as n^2: 22 million,
  // though in no more than a few seconds of time on one core.
  const double work = static_cast<double>(detail::coverage_union_points() - before);
  EXPECT_LT(work, 4.0 * 5.0 * n * std::log2(n)) << work;
  EXPECT_GT(work, 0.0);
}

// A swath of half-width h (rad) along the great circle of inclination `incl` (rad) through
// (0, 0), from argument of latitude -u_max to u_max, as its two sides (degrees).
void great_circle_swath(double incl, double h, double u_max, std::vector<LonLat>& side1,
                        std::vector<LonLat>& side2) {
  // Track point cos u (1, 0, 0) + sin u (0, cos i, sin i); the orbit's pole (0, -sin i, cos i).
  const double pole[3] = {0.0, -std::sin(incl), std::cos(incl)};
  const int n = 2000;
  for (int k = 0; k <= n; ++k) {
    const double u = -u_max + 2.0 * u_max * k / n;
    const double t[3] = {std::cos(u), std::sin(u) * std::cos(incl), std::sin(u) * std::sin(incl)};
    for (const double s : {std::sin(h), -std::sin(h)}) {
      double q[3];
      for (int c = 0; c < 3; ++c) q[c] = std::cos(h) * t[c] + s * pole[c];
      (s > 0 ? side1 : side2).push_back({std::atan2(q[1], q[0]) / kRad, std::asin(q[2]) / kRad});
    }
  }
}

// The points within angle h of a great circle over an arc of length L have the area
// 2 sin(h) L on the unit sphere (the band |latitude| <= h in the circle's own frame). A box
// [lon1, lon2] x [lat1, lat2] has the area (lon2 - lon1) (sin lat2 - sin lat1).
TEST(MapCoverage, BandsAndNarrowBoxesUnderA2DegreeSwathAsOnTheSphere) {
  const double h = 1.0 * kRad;  // a 2 deg swath
  // The band 30 S - 30 N under one pass of inclination 98 deg: the track's arc in the band,
  // sin 30 = sin 98 sin u, times 2 sin h, over the band's area 2 pi (2 sin 30).
  for (const double incl_deg : {98.0, 90.0, 51.6}) {
    const double incl = incl_deg * kRad;
    std::vector<LonLat> s1, s2;
    great_circle_swath(incl, h, 50.0 * kRad, s1, s2);
    const double arc = 2.0 * std::asin(0.5 / std::sin(incl));
    const double expected = 2.0 * std::sin(h) * arc / (2.0 * kPi);
    EXPECT_NEAR(box_coverage(-180.0, 180.0, -30.0, 30.0, s1, s2) / expected, 1.0, 1e-3) << incl_deg;
  }
  // An equatorial swath is the band |latitude| <= h itself: over a box 0.5 deg wide from
  // 60 S to 60 N it covers sin(h) / sin(60).
  std::vector<LonLat> eq1, eq2;
  great_circle_swath(0.0, h, 20.0 * kRad, eq1, eq2);
  EXPECT_NEAR(box_coverage(0.0, 0.5, -60.0, 60.0, eq1, eq2) / (std::sin(h) / std::sin(60 * kRad)),
              1.0, 1e-3);
  // A meridional swath over a thin band of latitudes all around the Earth: at latitude phi
  // it spans the longitudes of sin(h) = cos(phi) sin(dlon), so it covers
  // integral of 2 asin(sin h / cos phi) cos phi dphi over 2 pi (sin lat2 - sin lat1).
  std::vector<LonLat> m1, m2;
  great_circle_swath(kPi / 2, h, 40.0 * kRad, m1, m2);
  for (const auto& [lat1, lat2] : {std::pair{10.0, 10.5}, std::pair{-35.0, -34.9}}) {
    double area = 0.0;
    const int steps = 200;
    for (int k = 0; k < steps; ++k) {
      const double phi = (lat1 + (lat2 - lat1) * (k + 0.5) / steps) * kRad;
      area += 2.0 * std::asin(std::sin(h) / std::cos(phi)) * std::cos(phi) * (lat2 - lat1) * kRad /
              steps;
    }
    const double expected = area / (2.0 * kPi * (std::sin(lat2 * kRad) - std::sin(lat1 * kRad)));
    EXPECT_NEAR(box_coverage(-180.0, 180.0, lat1, lat2, m1, m2) / expected, 1.0, 1e-3) << lat1;
  }
}

}  // namespace
}  // namespace orvus::map
