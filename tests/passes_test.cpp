// Ground-station passes against the full frame transformation: the elevation at AOS and LOS
// is the mask, the maximum is the highest of the pass, a plain 10 s sampling finds no time
// above the mask outside the passes, and a pass in progress is cut at the interval's ends.
#include "orvus/passes.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "orvus/elements.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::eop;

UtcInstant later(const UtcInstant& t, double s) {
  return normalise(UtcInstant{t.day, t.seconds + s});
}

// A high-latitude station above the ellipsoid with a 5 deg mask, and one at the equator
// with a negative mask.
const Station kNorth{"NORTH", 15.4, 78.2, 450.0, 5.0, std::nullopt, 0};
const Station kEquator{"EQUATOR", -44.0, -2.3, 0.0, -1.0, std::nullopt, 0};

TEST(Passes, CrossTheMaskAtAosAndLosPeakInsideAndMissNothing) {
  for (const char* tle : {"tle/amazonia1_2025.tle", "tle/landsat8_2024.tle"}) {
    const Propagator orbit(read_element_file(data_path(tle)).at(0));
    const UtcInstant start = orbit.elements().epoch;
    const UtcInstant end = later(start, 86400.0);
    for (const Station& st : {kNorth, kEquator}) {
      SCOPED_TRACE(std::string(tle) + " " + st.name);
      const std::vector<Pass> passes = find_passes(orbit, eop(), st, start, end);
      ASSERT_FALSE(passes.empty());
      for (const Pass& p : passes) {
        EXPECT_FALSE(p.aos_clipped || p.los_clipped);
        EXPECT_NEAR(station_elevation_deg(orbit, eop(), st, p.aos_utc), st.min_elevation_deg, 1e-6);
        EXPECT_NEAR(station_elevation_deg(orbit, eop(), st, p.los_utc), st.min_elevation_deg, 1e-6);
        EXPECT_NEAR(since_epoch(p.aos_utc, p.los_utc), p.duration_s, 1e-6);
        EXPECT_NEAR(station_elevation_deg(orbit, eop(), st, p.max_utc), p.max_elevation_deg, 1e-7);
        EXPECT_GT(p.max_elevation_deg, st.min_elevation_deg);
        for (int k = 0; k <= 100; ++k) {
          const UtcInstant t = later(p.aos_utc, p.duration_s * k / 100.0);
          EXPECT_GE(p.max_elevation_deg + 1e-7, station_elevation_deg(orbit, eop(), st, t));
        }
      }
      // Every 10 s sample above the mask lies in a pass, and every pass longer than 20 s holds
      // one: a plain scan through the full frame finds the same passes.
      std::vector<int> hits(passes.size());
      for (double s = 0.0; s <= 86400.0; s += 10.0) {
        const UtcInstant t = later(start, s);
        if (station_elevation_deg(orbit, eop(), st, t) < st.min_elevation_deg) continue;
        const auto in = std::find_if(passes.begin(), passes.end(), [&](const Pass& p) {
          return since_epoch(p.aos_utc, t) >= 0.0 && since_epoch(t, p.los_utc) >= 0.0;
        });
        ASSERT_NE(in, passes.end()) << s;
        ++hits[static_cast<std::size_t>(in - passes.begin())];
      }
      for (std::size_t i = 0; i < passes.size(); ++i) {
        if (passes[i].duration_s > 20.0) {
          EXPECT_GT(hits[i], 0) << i;
        }
      }
    }
  }
}

TEST(Passes, APassInProgressIsCutAtTheIntervalsEnds) {
  const Propagator orbit(read_element_file(data_path("tle/amazonia1_2025.tle")).at(0));
  const UtcInstant start = orbit.elements().epoch;
  const std::vector<Pass> day = find_passes(orbit, eop(), kNorth, start, later(start, 86400.0));
  ASSERT_GE(day.size(), 2U);
  const Pass& whole = day[1];
  const UtcInstant mid = later(whole.aos_utc, whole.duration_s / 2.0);
  const std::vector<Pass> to_mid = find_passes(orbit, eop(), kNorth, start, mid);
  ASSERT_EQ(to_mid.size(), 2U);
  EXPECT_TRUE(to_mid[1].los_clipped && !to_mid[1].aos_clipped);
  EXPECT_NEAR(since_epoch(whole.aos_utc, to_mid[1].aos_utc), 0.0, 1e-5);
  EXPECT_EQ(since_epoch(mid, to_mid[1].los_utc), 0.0);
  const std::vector<Pass> from_mid = find_passes(orbit, eop(), kNorth, mid, later(mid, 600.0));
  ASSERT_EQ(from_mid.size(), 1U);
  EXPECT_TRUE(from_mid[0].aos_clipped && !from_mid[0].los_clipped);
  EXPECT_EQ(since_epoch(mid, from_mid[0].aos_utc), 0.0);
  EXPECT_NEAR(since_epoch(whole.los_utc, from_mid[0].los_utc), 0.0, 1e-5);
  // The two halves peak where the whole pass does, or at the cut.
  EXPECT_NEAR(std::max(to_mid[1].max_elevation_deg, from_mid[0].max_elevation_deg),
              whole.max_elevation_deg, 1e-6);
  // A moment inside the pass: one pass, cut at both ends.
  const std::vector<Pass> moment = find_passes(orbit, eop(), kNorth, mid, mid);
  ASSERT_EQ(moment.size(), 1U);
  EXPECT_TRUE(moment[0].aos_clipped && moment[0].los_clipped);
  EXPECT_EQ(moment[0].duration_s, 0.0);
}

}  // namespace
}  // namespace orvus
