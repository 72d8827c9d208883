// The swath rule's continuous-time engine where the steps could show through: a point crossed
// on a step.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace orvus
