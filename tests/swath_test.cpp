// The swath rule's continuous-time engine where the steps could show through: a point crossed
// on a step, a polar-cap sector the line only grazes, and the best time of a centre that lies
// beyond an end of the line (against a brute-force scan with the exact frame).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "orvus/frames.hpp"
#include "orvus/geometry.hpp"
#include "orvus/orbit.hpp"
#include "orvus/plan.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::eop;
using test::ScratchDir;

// Amazonia 1 looking at ALPHA +- BETA/2 over the deck, from `start` to `end` (local, UTC-3).
Plan amazonia_plan(const ScratchDir& dir, const std::string& deck, const std::string& start,
                   const std::string& end, const std::string& alpha, const std::string& beta) {
  dir.write("d.csv", deck);
  dir.write("plan.toml", "start = " + start + "\nend = " + end +
                             "\nutc_offset_hours = -3\nstep_s = 1.0\nearth_orientation = \"" +
                             data_path("finals2000A.data") +
                             "\"\ntargets = \"d.csv\"\nrule = \"swath\"\noutput = \"out\"\n\n"
                             "[[satellite]]\nname = \"AMAZONIA 1\"\nelements = \"" +
                             data_path("tle/amazonia1_2025.tle") + "\"\nalpha_deg = " + alpha +
                             "\nbeta_deg = " + beta + "\n");
  return load_plan(dir.file("plan.toml"));
}

std::vector<Opportunity> at_step(Plan plan, double step) {
  plan.interval.step_s = step;
  return run_plan(plan, eop());
}

// The same contacts: start, end and best times within 1 ms, the same pass.
void expect_same_contacts(const std::vector<Opportunity>& a, const std::vector<Opportunity>& b,
                          const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const Contact& x = a[i].contact;
    const Contact& y = b[i].contact;
    EXPECT_NEAR(since_epoch(x.start_utc, y.start_utc), 0.0, 1e-3) << what << ", contact " << i;
    EXPECT_NEAR(since_epoch(x.end_utc, y.end_utc), 0.0, 1e-3) << what << ", contact " << i;
    EXPECT_NEAR(since_epoch(x.best_utc, y.best_utc), 0.0, 1e-3) << what << ", contact " << i;
    EXPECT_EQ(x.pass, y.pass) << what << ", contact " << i;
  }
}

// The line's plane passes over the point 30.000 s after the start, within a microsecond of a
// step of every step that divides 30 s: the root is that step's line itself, found by one of
// the two steps around it, and must count there whichever it is. Step 7 s lands nowhere near.
TEST(SwathSteps, APointCrossedOnAStepIsSeenAtEveryStep) {
  ScratchDir dir;
  const Plan plan =
      amazonia_plan(dir, "id,name,lon,lat\nQ,,-53.3739,-24.7839\n", "2025-07-31T10:52:31.909",
                    "2025-07-31T10:54:31.909", "12.8514", "8");
  const std::vector<Opportunity> off_step = at_step(plan, 7.0);
  ASSERT_EQ(off_step.size(), 1U);
  EXPECT_NEAR(since_epoch(plan.interval.start, off_step[0].contact.best_utc), 30.0, 1e-3);
  EXPECT_EQ(off_step[0].contact.duration_s, 0.0);
  for (const double step : {1.0, 2.0, 3.0, 5.0, 6.0, 10.0, 15.0, 30.0})
    expect_same_contacts(off_step, at_step(plan, step), "step " + std::to_string(step));
}

// The polar-cap sector 0-90 E beyond 85.73 N lies at the reach of the line's far end
// (Amazonia 1's track turns at 81.6 deg, the line reaches 4 deg further): the line grazes it
// for fractions of a second to a few seconds. Steps of 60 s, where every such contact starts
// and ends within one step, find the contacts of steps of 1 s.
constexpr const char* kCap = "id,name,lon1,lon2,lat1,lat2\nCAP,,0,90,85.73,90\n";

TEST(SwathSteps, AGrazedPolarCapSectorGivesTheSameContactsAtStepsOf1And60s) {
  ScratchDir dir;
  const Plan plan =
      amazonia_plan(dir, kCap, "2025-07-01T00:00:00", "2025-07-31T00:00:00", "0", "60");
  const std::vector<Opportunity> fine = at_step(plan, 1.0);
  ASSERT_GT(fine.size(), 50U);
  double shortest = 1e9;
  for (const Opportunity& o : fine) shortest = std::min(shortest, o.contact.duration_s);
  EXPECT_LT(shortest, 0.5);  // grazing indeed
  expect_same_contacts(fine, at_step(plan, 60.0), "step 60");
}

// Where the line never passes over the centre, the best time is the instant the nearer end of
// the line comes closest to it. Reference: the ends of the line from the propagator and the
// full Earth-fixed frame at each instant (the tracking point's central angle on the local
// sphere), and the smaller of their angles to the centre scanned over +-30 s of the best time
// at 1 s, then 10 ms, then 0.1 ms about the least.
TEST(SwathBest, ACentreBeyondTheLineIsBestWhereTheNearEndComesClosest) {
  ScratchDir dir;
  const Plan plan =
      amazonia_plan(dir, kCap, "2025-07-01T00:00:00", "2025-07-11T00:00:00", "0", "60");
  const std::vector<Opportunity> found = run_plan(plan, eop());
  const Propagator orbit(plan.satellites[0].elements);
  // The box's centre: the middle of its geocentric corners (tan gc = (1 - e^2) tan gd).
  const double e2 = 6.69437999014e-3, deg = M_PI / 180.0;
  const double lat = (std::atan((1.0 - e2) * std::tan(85.73 * deg)) + 90.0 * deg) / 2.0;
  const double centre[3] = {std::cos(lat) * std::cos(45.0 * deg),
                            std::cos(lat) * std::sin(45.0 * deg), std::sin(lat)};
  auto angle = [&](double t) {  // s from the start -> rad, the nearer end's
    UtcInstant at{plan.interval.start.day, plan.interval.start.seconds + t};
    normalise(at.day, at.seconds);
    const StateVector ef = tod_to_earth_fixed(at, orbit.state_at(at), eop());
    const double r = std::sqrt(ef[0] * ef[0] + ef[1] * ef[1] + ef[2] * ef[2]);
    const double up[3] = {ef[0] / r, ef[1] / r, ef[2] / r};
    const double u[3] = {ef[1] * ef[5] - ef[2] * ef[4], ef[2] * ef[3] - ef[0] * ef[5],
                         ef[0] * ef[4] - ef[1] * ef[3]};
    const double un = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    const double R = local_radius(std::asin(up[2]));
    double least = 10.0;
    for (const double a : {-30.0 * deg, 30.0 * deg}) {
      const double th = std::asin(r * std::sin(a) / R) - a;
      double c = 0.0;
      for (int i = 0; i < 3; ++i)
        c += (std::cos(th) * up[i] + std::sin(th) * u[i] / un) * centre[i];
      least = std::min(least, std::acos(std::clamp(c, -1.0, 1.0)));
    }
    return least;
  };
  std::size_t beyond = 0;
  for (const Opportunity& o : found) {
    if (std::fabs(o.contact.best_alpha_deg) < 30.5) continue;  // the centre is on the line
    ++beyond;
    double t = since_epoch(plan.interval.start, o.contact.best_utc);
    for (const double h : {1.0, 0.01, 0.0001}) {
      const double from = t - (h == 1.0 ? 30.0 : 100.0 * h);
      double best = 10.0;
      for (int k = 0; k <= (h == 1.0 ? 60 : 200); ++k) {
        const double v = angle(from + k * h);
        if (v < best) {
          best = v;
          t = from + k * h;
        }
      }
    }
    EXPECT_NEAR(since_epoch(plan.interval.start, o.contact.best_utc), t, 1e-3)
        << "best alpha " << o.contact.best_alpha_deg;
  }
  EXPECT_GT(beyond, 10U);
}

}  // namespace
}  // namespace orvus
