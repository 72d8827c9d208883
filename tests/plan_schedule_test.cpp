// A plan's schedule: every schedule the tests produce is re-checked by a feasibility checker
// written here from the stated rules (once per target, transitions, imaging time per
// revolution with the revolutions found here, the recorder over time), small plans against
// every subset of their candidates, the camera's candidates against the geometry, and bad
// [schedule], satellite, station and priority values stopping with their key and line.
#include "orvus/plan_schedule.hpp"

#include <erfa.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "orvus/error.hpp"
#include "orvus/plan.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::eop;
using test::ScratchDir;

// A plan of Amazonia 1 with the schedule's keys `agility` and `more` tables after it.
std::string plan_text(const std::string& deck, const std::string& agility, const std::string& more,
                      const std::string& end = "2025-07-28T00:00:00") {
  return "start = 2025-07-24T00:00:00\nend = " + end +
         "\nutc_offset_hours = -3\nstep_s = 1.0\nearth_orientation = \"" +
         data_path("finals2000A.data") + "\"\ntargets = \"" + deck +
         "\"\noutput = \"out\"\n\n[[satellite]]\nname = \"AMAZONIA 1\"\nelements = \"" +
         data_path("tle/amazonia1_2025.tle") + "\"\nalpha_deg = 0.0\nbeta_deg = 60.0\n" + agility +
         more;
}

std::string error_text(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    std::string s;
    for (const auto& l : e.lines()) s += l + "\n";
    return s;
  }
  ADD_FAILURE() << "no error";
  return {};
}

// ---- the checker ---------------------------------------------------------------------------

// One acquisition as the checker sees it: times in seconds from the plan's start.
struct Image {
  std::size_t satellite = 0, target = 0;
  double start = 0, end = 0, roll = 0, data = 0, slew = 0;
  std::optional<double> level;  // recorder after it, as the schedule states it
};

// The ascending nodes of a satellite (s from the plan's start): z of the true-of-date
// position crossing zero upward, stepped every 10 s and bisected.
std::vector<double> nodes_of(const Plan& plan, std::size_t sat) {
  const Propagator orbit(plan.satellites[sat].elements);
  const double span = since_epoch(plan.interval.start, plan.interval.end);
  auto z = [&](double t) {
    UtcInstant u{plan.interval.start.day, plan.interval.start.seconds + t};
    while (u.seconds >= 86400.0) {
      u.seconds -= 86400.0;
      u.day += 1.0;
    }
    return orbit.state_at(u)[2];
  };
  std::vector<double> out;
  for (double t = 0; t < span; t += 10.0) {
    double a = t, b = std::min(span, t + 10.0);
    if (!(z(a) < 0.0 && z(b) >= 0.0)) continue;
    for (int i = 0; i < 40; ++i) (z(0.5 * (a + b)) < 0.0 ? a : b) = 0.5 * (a + b);
    out.push_back(b);
  }
  return out;
}

// The rules of a plan's schedule, from the plan and its passes: "" when the images make a
// feasible schedule, else the first rule broken. `tolerance` covers the rounding of the
// values as given (1e-6 from the library, 1e-3 from the CSV's three decimals).
class Checker {
 public:
  Checker(const Plan& plan, const std::vector<PlanPass>& passes) : plan_(plan) {
    for (std::size_t s = 0; s < plan.satellites.size(); ++s) {
      nodes_.push_back(nodes_of(plan, s));
      // Each pass over a station with a rate, from its AOS or the end of the pass before,
      // whichever is later, to its LOS.
      std::vector<const PlanPass*> mine;
      for (const PlanPass& p : passes)
        if (p.satellite == s && plan.stations[p.station].downlink_gbit_s) mine.push_back(&p);
      std::sort(mine.begin(), mine.end(), [&](const PlanPass* a, const PlanPass* b) {
        return since_epoch(b->pass.aos_utc, a->pass.aos_utc) < 0;
      });
      std::vector<Downlink> d;
      double busy_until = -1e300;
      for (const PlanPass* p : mine) {
        const double aos = since_epoch(plan.interval.start, p->pass.aos_utc);
        const double los = since_epoch(plan.interval.start, p->pass.los_utc);
        if (std::max(aos, busy_until) < los)
          d.push_back({std::max(aos, busy_until), los, *plan.stations[p->station].downlink_gbit_s});
        busy_until = std::max(busy_until, los);
      }
      downlinks_.push_back(std::move(d));
    }
  }

  std::string operator()(const std::vector<Image>& images, double tolerance) const {
    std::set<std::size_t> targets;
    for (const Image& m : images)
      if (!targets.insert(m.target).second) return "target " + std::to_string(m.target) + " twice";
    for (std::size_t s = 0; s < plan_.satellites.size(); ++s) {
      std::vector<Image> mine;
      for (const Image& m : images)
        if (m.satellite == s) mine.push_back(m);
      std::sort(mine.begin(), mine.end(),
                [](const Image& a, const Image& b) { return a.start < b.start; });
      const std::string why = satellite(s, mine, tolerance);
      if (!why.empty()) return "satellite " + std::to_string(s) + ": " + why;
    }
    return "";
  }

 private:
  struct Downlink {
    double from, to, rate;
  };

  std::string satellite(std::size_t s, const std::vector<Image>& mine, double tolerance) const {
    const SatelliteAgility& ag = plan_.satellites[s].agility;
    const double span = since_epoch(plan_.interval.start, plan_.interval.end);
    // Each image within the interval, long enough, its data at the camera's rate.
    for (const Image& m : mine) {
      if (m.start < -tolerance || m.end > span + tolerance) return "image outside the interval";
      if (m.end - m.start < ag.min_imaging_s - tolerance) return "image too short";
      if (std::fabs(m.roll) > ag.max_roll_deg + 1e-9) return "roll beyond max_roll_deg";
      if (ag.imaging_gbit_s && std::fabs(m.data - *ag.imaging_gbit_s * (m.end - m.start)) >
                                   tolerance * std::max(1.0, *ag.imaging_gbit_s))
        return "data volume";
    }
    // Transitions: roll and settle between consecutive images.
    for (std::size_t i = 1; i < mine.size(); ++i) {
      const double slew = std::fabs(mine[i].roll - mine[i - 1].roll) / ag.roll_rate_deg_s;
      if (mine[i].start < mine[i - 1].end + ag.settle_s + slew - tolerance)
        return "image at " + std::to_string(mine[i].start) + " s leaves no time to roll";
      if (std::fabs(mine[i].slew - slew) > tolerance) return "slew_s";
    }
    // Imaging time per revolution (a new one at each ascending node).
    if (ag.max_imaging_s_per_orbit) {
      std::map<long, double> used;
      for (const Image& m : mine)
        used[std::upper_bound(nodes_[s].begin(), nodes_[s].end(), m.start) - nodes_[s].begin()] +=
            m.end - m.start;
      for (const auto& [rev, t] : used)
        if (t > *ag.max_imaging_s_per_orbit + tolerance) return "imaging time of a revolution";
    }
    if (!ag.imaging_gbit_s) return "";
    // The recorder: each downlink sends at its rate what was recorded before it starts.
    auto recorded_by = [&](double t) {
      double d = 0;
      for (const Image& m : mine)
        if (m.end <= t) d += m.data;
      return d;
    };
    const std::vector<Downlink>& down = downlinks_[s];
    std::vector<double> amount(down.size());
    double sent = 0;
    for (std::size_t k = 0; k < down.size(); ++k) {
      amount[k] = std::max(0.0, std::min(down[k].rate * (down[k].to - down[k].from),
                                         recorded_by(down[k].from) - sent));
      sent += amount[k];
    }
    const double R = ag.recorder_gbit ? *ag.recorder_gbit : 1e300;
    for (const Image& m : mine) {
      double gone = 0, counted = 0;  // sent by then; by the downlinks that have ended
      for (std::size_t k = 0; k < down.size(); ++k) {
        if (down[k].from <= m.end)
          gone += std::min(amount[k], down[k].rate * (std::min(m.end, down[k].to) - down[k].from));
        if (down[k].to <= m.end) counted += amount[k];
      }
      // The stated bound: downlinks still under way are not counted.
      if (recorded_by(m.end) - counted > R + tolerance) return "recorder over its capacity";
      const double level = recorded_by(m.end) - gone;
      if (m.level && std::fabs(*m.level - level) > tolerance)
        return "recorder after the image at " + std::to_string(m.start) +
               " s: " + std::to_string(*m.level) + ", not " + std::to_string(level);
    }
    return "";
  }

  const Plan& plan_;
  std::vector<std::vector<double>> nodes_;
  std::vector<std::vector<Downlink>> downlinks_;
};

std::vector<Image> images_of(const Plan& plan, const PlanSchedule& s) {
  std::vector<Image> out;
  for (const ScheduledAcquisition& a : s.acquisitions) {
    const Acquisition& c = s.candidates.at(a.candidate);
    out.push_back({c.satellite, c.target, since_epoch(plan.interval.start, c.start_utc),
                   since_epoch(plan.interval.start, c.end_utc), c.roll_deg, c.data_gbit, a.slew_s,
                   a.recorder_after_gbit});
  }
  return out;
}

// The checker on a schedule, and what every schedule must also say of itself.
void expect_sound(const Plan& plan, const Checker& check, const PlanSchedule& s) {
  EXPECT_EQ(check(images_of(plan, s), 1e-6), "");
  double objective = 0;
  std::set<std::size_t> acquired;
  for (const ScheduledAcquisition& a : s.acquisitions) {
    const Acquisition& c = s.candidates.at(a.candidate);
    objective += plan.targets[c.target].priority;
    acquired.insert(c.target);
  }
  EXPECT_DOUBLE_EQ(s.objective, objective);
  EXPECT_GE(s.bound, s.objective - 1e-9);
  EXPECT_EQ(acquired.size() + s.unscheduled.size(), plan.targets.size());
  for (const UnscheduledTarget& u : s.unscheduled) EXPECT_EQ(acquired.count(u.target), 0U);
}

// ---- bad values --------------------------------------------------------------------------

TEST(ScheduleErrors, BadScheduleStationAndPriorityStopNamingKeyAndLine) {
  ScratchDir dir;
  dir.write("t.csv", "id,name,lon,lat,priority\nA,a,-47.9,-15.8,2.5\nB,b,-48.6,-16.7,\n");
  const std::string agility = "roll_rate_deg_s = 1.5\nrecorder_gbit = 50\nimaging_gbit_s = 1\n";
  const std::string station =
      "\n[[station]]\nname = \"CUIABA\"\nlon = -56.07\nlat = -15.55\ndownlink_gbit_s = 0.3\n";
  const std::string good =
      plan_text("t.csv", agility, "\n[schedule]\ntime_limit_s = 5\n" + station);
  // Lines: 1-7 the plan's keys, 8 blank, 9 [[satellite]], 10-13 its keys, 14-16 the agility,
  // 17 blank, 18 [schedule], 19 its limit, 20 blank, 21 [[station]], 22-25 its keys.
  auto check = [&](const std::string& from, const std::string& to, const std::string& expect) {
    std::string text = good;
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    dir.write("bad.toml", text);
    const std::string msg = error_text([&] { load_plan(dir.file("bad.toml")); });
    EXPECT_NE(msg.find(expect), std::string::npos) << msg;
  };
  const Plan ok = [&] {
    dir.write("ok.toml", good);
    return load_plan(dir.file("ok.toml"));
  }();
  ASSERT_TRUE(ok.schedule);
  EXPECT_EQ(ok.schedule->time_limit_s, 5.0);
  EXPECT_EQ(ok.targets[0].priority, 2.5);
  EXPECT_EQ(ok.targets[1].priority, 1.0);
  const SatelliteAgility& a = ok.satellites[0].agility;
  EXPECT_EQ(a.camera_fov_deg, 60.0);  // beta_deg
  EXPECT_EQ(a.max_roll_deg, 0.0);     // a camera as wide as the field need not roll
  EXPECT_EQ(a.settle_s, 0.0);
  EXPECT_FALSE(a.max_imaging_s_per_orbit);

  check("time_limit_s = 5", "time_limit = 5", "LINE 19: UNKNOWN KEY \"schedule.time_limit\"");
  check("time_limit_s = 5", "time_limit_s = 0", "LINE 19: \"schedule.time_limit_s\" MUST LIE");
  check("time_limit_s = 5", "time_limit_s = \"1 min\"",
        "LINE 19: \"schedule.time_limit_s\" MUST BE A NUMBER");
  {
    std::string text = good;
    text.replace(text.find("[schedule]\ntime_limit_s = 5\n"), 28, "");
    dir.write("bad.toml", "schedule = 5\n" + text);
    const std::string msg = error_text([&] { load_plan(dir.file("bad.toml")); });
    EXPECT_NE(msg.find("LINE 1: \"schedule\" MUST BE A TABLE [schedule]"), std::string::npos)
        << msg;
  }
  check("roll_rate_deg_s = 1.5\n", "",
        "LINE 9: MISSING KEY \"satellite.roll_rate_deg_s\": [schedule] NEEDS");
  check("roll_rate_deg_s = 1.5", "roll_rate_deg_s = -1",
        "LINE 14: \"satellite.roll_rate_deg_s\" MUST BE A POSITIVE FINITE NUMBER");
  check("roll_rate_deg_s = 1.5", "roll_rate_deg_s = 1.5\nsettle_s = nan",
        "LINE 15: \"satellite.settle_s\" MUST BE A FINITE NUMBER OF SECONDS, AT LEAST 0");
  check("roll_rate_deg_s = 1.5", "roll_rate_deg_s = 1.5\ncamera_fov_deg = 0",
        "LINE 15: \"satellite.camera_fov_deg\" MUST BE A POSITIVE");
  check("roll_rate_deg_s = 1.5", "roll_rate_deg_s = 1.5\nmax_roll_deg = 45\ncamera_fov_deg = 40",
        "LINE 16: \"satellite.camera_fov_deg\" THE CAMERA'S VIEW PASSES THE EARTH'S HORIZON");
  check("imaging_gbit_s = 1\n", "",
        "LINE 15: \"satellite.recorder_gbit\" NEEDS \"satellite.imaging_gbit_s\"");
  check("roll_rate_deg_s = 1.5", "roll_rate_deg_s = 1.5\nagility = 1",
        "LINE 15: UNKNOWN KEY \"satellite.agility\"");
  check("downlink_gbit_s = 0.3\n", "",
        "LINE 21: MISSING KEY \"station.downlink_gbit_s\": A SCHEDULE WITH A RECORDER");
  // Priorities: the deck's file and line (CSV) or feature (GeoJSON).
  for (const auto& [value, line] : {std::pair{"0", 2}, {"-1", 2}, {"x", 2}, {"inf", 2}}) {
    dir.write("p.csv", std::string("id,name,lon,lat,priority\nA,a,-47.9,-15.8,") + value + "\n");
    const std::string msg = error_text([&] { read_targets(dir.file("p.csv")); });
    EXPECT_NE(msg.find("p.csv\", LINE " + std::to_string(line) +
                       ": priority OF TARGET \"A\" MUST BE A POSITIVE FINITE NUMBER"),
              std::string::npos)
        << msg;
  }
  dir.write("p.csv", "id,name,lon1,lon2,lat1,lat2,priority\nA,a,0,1,0,1\n");
  EXPECT_NE(error_text([&] {
              read_targets(dir.file("p.csv"));
            }).find("LINE 2: A TARGET NEEDS 7 FIELDS (id,name,lon1,lon2,lat1,lat2,priority)"),
            std::string::npos);
  dir.write(
      "p.geojson",
      "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"properties\":"
      "{\"id\":\"A\",\"priority\":4},\"geometry\":{\"type\":\"Point\",\"coordinates\":[0,0]}},"
      "{\"type\":\"Feature\",\"properties\":{\"id\":\"B\",\"priority\":\"high\"},"
      "\"geometry\":{\"type\":\"Point\",\"coordinates\":[1,0]}}]}");
  EXPECT_NE(error_text([&] {
              read_targets(dir.file("p.geojson"));
            }).find("FEATURE 2: THE FEATURE'S \"priority\" MUST BE A POSITIVE FINITE NUMBER"),
            std::string::npos);
}

// ---- candidates and revolutions -----------------------------------------------------------

// Consecutive ascending nodes lie a nodal period apart (SGP8's node drifts by seconds over
// days, not more), and at each the orbit crosses the equator going north.
TEST(ScheduleCandidates, AscendingNodesAreANodalPeriodApart) {
  const Propagator orbit(read_elements(data_path("tle/amazonia1_2025.tle")));
  const UtcInstant start{orbit.elements().epoch.day, 0.0}, end{start.day + 2.0, 0.0};
  const std::vector<UtcInstant> nodes = ascending_nodes(orbit, start, end);
  ASSERT_EQ(nodes.size(), 29U);  // 14.41 revolutions a day
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const StateVector s = orbit.state_at(nodes[i]);
    EXPECT_LT(std::fabs(s[2]), 10.0);  // within a millisecond of the node, at 7 km/s
    EXPECT_GT(s[5], 0.0);
    if (i > 0) {
      EXPECT_NEAR(since_epoch(nodes[i - 1], nodes[i]), orbit.nodal_period_s(), 5.0);
    }
  }
}

// A point seen at BEST ALPHA: the camera rolled there sees it for its shortest image about
// the best time; a camera that cannot roll that far sees it only while the point lies within
// half its field of the largest roll. Q is crossed within a microsecond of a whole
// millisecond (2025-07-31T13:53:01.909Z), where the camera's search, 30 s before the
// opportunity to the millisecond, puts a step.
TEST(ScheduleCandidates, TheCameraAtItsRollSeesThePointOrMakesNoCandidate) {
  ScratchDir dir;
  dir.write("t.csv", "id,name,lon,lat\nP,p,-47.9,-15.8\nQ,q,-53.3739,-24.7839\n");
  dir.write("plan.toml", plan_text("t.csv", "roll_rate_deg_s = 1\nmin_imaging_s = 4\n",
                                   "\n[schedule]\n", "2025-08-03T00:00:00"));
  Plan plan = load_plan(dir.file("plan.toml"));
  const auto kept = run_plan(plan, eop());
  ASSERT_GE(kept.size(), 3U);
  for (const double fov : {2.0, 10.0}) {
    for (const double max_roll : {30.0, 12.0}) {
      plan.satellites[0].agility.camera_fov_deg = fov;
      plan.satellites[0].agility.max_roll_deg = max_roll;
      const auto cands = schedule_candidates(plan, eop(), kept);
      std::size_t seen = 0;
      for (std::size_t i = 0; i < kept.size(); ++i) {
        const double alpha = kept[i].contact.best_alpha_deg;
        const bool expect = std::fabs(alpha) <= max_roll + fov / 2.0 - 0.01;
        const bool never = std::fabs(alpha) >= max_roll + fov / 2.0 + 0.01;
        const auto it = std::find_if(cands.begin(), cands.end(),
                                     [&](const Acquisition& a) { return a.opportunity == i; });
        if (never) {
          EXPECT_EQ(it, cands.end()) << alpha;
        }
        if (!expect) continue;
        ++seen;
        ASSERT_NE(it, cands.end()) << alpha;
        EXPECT_DOUBLE_EQ(it->roll_deg, std::clamp(alpha, -max_roll, max_roll));
        EXPECT_NEAR(it->imaging_s, 4.0, 1e-9);
        const double best = since_epoch(it->start_utc, kept[i].contact.best_utc);
        EXPECT_NEAR(best, 2.0, 0.01);  // the point is crossed at the image's middle
      }
      if (max_roll == 30.0) {
        EXPECT_EQ(seen, kept.size());  // the field's edge: all of them
      }
    }
  }
}

// ---- the solver's schedules ------------------------------------------------------------------

// Small random decks of points around Brasília (up to 18 candidates) with tight imaging time,
// recorder and transitions: the schedule is the best of all subsets of the candidates that the
// checker accepts, and among those of its priority the least |roll|.
TEST(SchedulePlans, SmallPlansAgreeWithEverySubsetOfTheirCandidates) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> lon(-50.0, -45.5), lat(-18.0, -13.5);
  int binding = 0;
  for (int deck = 0; deck < 4; ++deck) {
    ScratchDir dir;
    std::string csv = "id,name,lon,lat,priority\n";
    for (int i = 0; i < 7; ++i) {
      char row[96];
      std::snprintf(row, sizeof row, "T%d,t%d,%.4f,%.4f,%d\n", i, i, lon(rng), lat(rng),
                    1 + static_cast<int>(rng() % 4));
      csv += row;
    }
    dir.write("t.csv", csv);
    dir.write("plan.toml",
              plan_text("t.csv",
                        "camera_fov_deg = 4\nroll_rate_deg_s = 0.5\nsettle_s = 5\n"
                        "max_imaging_s_per_orbit = 7\nmin_imaging_s = 3\nrecorder_gbit = 7\n"
                        "imaging_gbit_s = 1\n",
                        "\n[constraints]\nmin_sun_elevation_deg = 10\n\n[schedule]\n"
                        "\n[[station]]\nname = \"CUIABA\"\nlon = -56.07\nlat = -15.55\n"
                        "min_elevation_deg = 5\ndownlink_gbit_s = 0.01\n"));
    const Plan plan = load_plan(dir.file("plan.toml"));
    const auto kept = run_plan(plan, eop());
    const auto passes = plan_passes(plan, eop());
    const PlanSchedule s = schedule_plan(plan, eop(), kept, passes);
    const Checker check(plan, passes);
    expect_sound(plan, check, s);
    const std::size_t n = s.candidates.size();
    ASSERT_LE(n, 18U);
    ASSERT_GE(n, 6U);
    double best = 0, least_roll = 0;
    for (std::uint32_t mask = 0; mask < (1U << n); ++mask) {
      std::vector<Image> images;
      double weight = 0, roll = 0;
      for (std::size_t c = 0; c < n; ++c) {
        if (!(mask >> c & 1U)) continue;
        const Acquisition& a = s.candidates[c];
        images.push_back({a.satellite, a.target, since_epoch(plan.interval.start, a.start_utc),
                          since_epoch(plan.interval.start, a.end_utc), a.roll_deg, a.data_gbit, 0.0,
                          std::nullopt});
        weight += plan.targets[a.target].priority;
        roll += std::fabs(a.roll_deg);
      }
      if (weight < best) continue;
      // Slews as the checker works them out, so that only the rules decide.
      std::sort(images.begin(), images.end(),
                [](const Image& x, const Image& y) { return x.start < y.start; });
      for (std::size_t i = 1; i < images.size(); ++i)
        images[i].slew = std::fabs(images[i].roll - images[i - 1].roll) /
                         plan.satellites[0].agility.roll_rate_deg_s;
      if (!check(images, 1e-6).empty()) continue;
      if (weight > best || roll < least_roll) least_roll = roll;
      best = weight;
    }
    EXPECT_EQ(s.objective, best) << "deck " << deck;
    EXPECT_TRUE(s.optimal);
    double roll = 0;
    for (const auto& a : s.acquisitions) roll += std::fabs(s.candidates[a.candidate].roll_deg);
    // The cost adds under 0.001 an image for its time.
    EXPECT_LE(roll, least_roll + 1e-3 * static_cast<double>(s.acquisitions.size()) + 1e-9);
    for (const UnscheduledTarget& u : s.unscheduled)
      binding += u.reason != UnscheduledReason::no_opportunity ? 1 : 0;
  }
  EXPECT_GT(binding, 0);  // the constraints did cut
}

// Two points on one pass at rolls of +25 and -25 degrees: rolling 50 degrees at 1.5 deg/s after
// 10 s of settling needs 43.3 s between the images. Those 40 s apart allow one image only (a
// model that looked for conflicts within a shorter window, e.g. settle + max_roll / rate = 30 s,
// would take both); 45 s apart, both.
TEST(SchedulePlans, TheTransitionBetweenTwoImagesOfAPassDecidesWhetherBothFit) {
  ScratchDir dir;
  dir.write("t.csv", "id,name,lon,lat\nA,a,-47.0,-15.0\nB,b,-50.0,-17.0\n");
  dir.write("plan.toml", plan_text("t.csv",
                                   "max_roll_deg = 30\ncamera_fov_deg = 2\nroll_rate_deg_s = 1.5\n"
                                   "settle_s = 10\nmin_imaging_s = 2\n",
                                   "\n[schedule]\ntime_limit_s = 5\n"));
  const Plan plan = load_plan(dir.file("plan.toml"));
  const Checker check(plan, {});
  auto at = [&](double s) {
    return normalise(UtcInstant{plan.interval.start.day, plan.interval.start.seconds + s});
  };
  for (const double apart : {40.0, 45.0}) {
    std::vector<Acquisition> cands(2);
    for (std::size_t i = 0; i < 2; ++i) {
      Acquisition& a = cands[i];
      a.opportunity = i;
      a.target = i;
      a.roll_deg = i == 0 ? 25.0 : -25.0;
      const double start = 5000.0 + static_cast<double>(i) * (2.0 + apart);
      a.start_utc = at(start);
      a.end_utc = at(start + 2.0);
      a.imaging_s = 2.0;
    }
    const PlanSchedule s = schedule_plan(plan, cands, {}, {});
    expect_sound(plan, check, s);
    EXPECT_EQ(s.acquisitions.size(), apart == 40.0 ? 1U : 2U) << apart << " s apart";
    EXPECT_TRUE(s.optimal);
  }
}

// Hand-made candidates on one satellite (10 s images of 6 Gbit, 10 s settling, 15 s of imaging
// a revolution, a 10 Gbit recorder and no station): one image fits in all, A's (priority 5).
// B starts 2 s after A ends ("conflicts"); C shares A's revolution, 20 s > 15 ("imaging
// time", checked before its recorder); D, a revolution later, would leave 12 Gbit aboard
// ("recorder"); E has opportunities but no candidate ("no opportunity"); F's candidates fail
// the transitions and the recorder: its reason is the further check, the recorder.
TEST(SchedulePlans, EachTargetLeftOutTakesTheFurthestCheckItsCandidatesFail) {
  ScratchDir dir;
  dir.write("t.csv",
            "id,name,lon,lat,priority\nA,a,-47,-15,5\nB,b,-47,-16,1\nC,c,-47,-17,4\n"
            "D,d,-47,-18,3\nE,e,-47,-19,2\nF,f,-47,-20,2\n");
  dir.write("plan.toml", plan_text("t.csv",
                                   "max_roll_deg = 30\ncamera_fov_deg = 2\nroll_rate_deg_s = 1.5\n"
                                   "settle_s = 10\nmax_imaging_s_per_orbit = 15\n"
                                   "recorder_gbit = 10\nimaging_gbit_s = 0.6\n",
                                   "\n[schedule]\ntime_limit_s = 5\n"));
  const Plan plan = load_plan(dir.file("plan.toml"));
  auto at = [&](double s) {
    return normalise(UtcInstant{plan.interval.start.day, plan.interval.start.seconds + s});
  };
  // (target, start s, revolution), by start.
  const std::vector<std::tuple<std::size_t, double, int>> made{
      {0, 1000, 1}, {1, 1012, 1}, {5, 1015, 1}, {2, 3000, 1}, {3, 8000, 2}, {5, 14000, 3}};
  std::vector<Acquisition> cands;
  for (const auto& [target, start, revolution] : made) {
    Acquisition a;
    a.opportunity = cands.size();
    a.target = target;
    a.start_utc = at(start);
    a.end_utc = at(start + 10.0);
    a.imaging_s = 10.0;
    a.data_gbit = 6.0;
    a.revolution = revolution;
    cands.push_back(a);
  }
  std::vector<Opportunity> kept(cands.size() + 2);
  for (std::size_t i = 0; i < cands.size(); ++i) kept[i].target = cands[i].target;
  kept[cands.size()].target = kept[cands.size() + 1].target = 4;  // E, seen twice
  const PlanSchedule s = schedule_plan(plan, cands, kept, {});
  expect_sound(plan, Checker(plan, {}), s);
  ASSERT_EQ(s.acquisitions.size(), 1U);
  EXPECT_EQ(s.acquisitions[0].candidate, 0U);
  EXPECT_EQ(s.objective, 5.0);
  EXPECT_TRUE(s.optimal);
  std::map<std::string, std::pair<std::string, std::size_t>> why;
  for (const UnscheduledTarget& u : s.unscheduled)
    why[plan.targets[u.target].id] = {reason_text(u.reason), u.opportunities};
  const std::map<std::string, std::pair<std::string, std::size_t>> expect{
      {"B", {"conflicts", 1}},
      {"C", {"imaging time", 1}},
      {"D", {"recorder", 1}},
      {"E", {"no opportunity", 2}},
      {"F", {"recorder", 2}}};
  EXPECT_EQ(why, expect);
}

// One time budget for the whole step: 4,500 hand-made candidates of 1,500 targets crowding
// four days of one satellite (no proof within 2 s), time_limit_s = 2. The step ends within
// the limit (a moment allowed for a loaded machine) with a feasible schedule, its progress
// rising from 0 towards 1 on the step's clock; a progress that throws once half the limit
// has gone stops the step then, whichever phase is running.
TEST(SchedulePlans, TheStepKeepsOneTimeBudgetThatItsProgressCanStop) {
  ScratchDir dir;
  std::mt19937 rng(41);
  const std::size_t targets = 1500;
  std::string csv = "id,name,lon,lat,priority\n";
  for (std::size_t i = 0; i < targets; ++i)
    csv += "T" + std::to_string(i) + ",t,-47,-15," + std::to_string(1 + rng() % 5) + "\n";
  dir.write("t.csv", csv);
  dir.write("plan.toml", plan_text("t.csv",
                                   "max_roll_deg = 30\ncamera_fov_deg = 2\nroll_rate_deg_s = 1.5\n"
                                   "settle_s = 10\nmax_imaging_s_per_orbit = 120\n",
                                   "\n[schedule]\ntime_limit_s = 2\n"));
  const Plan plan = load_plan(dir.file("plan.toml"));
  std::uniform_real_distribution<double> when(0.0, 4.0 * 86400.0 - 20.0), roll(-30.0, 30.0);
  std::vector<double> starts;
  for (std::size_t i = 0; i < 3 * targets; ++i) starts.push_back(when(rng));
  std::sort(starts.begin(), starts.end());
  const std::vector<double> nodes = nodes_of(plan, 0);
  std::vector<Acquisition> cands;
  for (const double start : starts) {
    Acquisition a;
    a.opportunity = cands.size();
    a.target = rng() % targets;
    a.roll_deg = roll(rng);
    a.imaging_s = 5.0 + static_cast<double>(rng() % 10);
    a.start_utc = after(plan.interval.start, start);
    a.end_utc = after(plan.interval.start, start + a.imaging_s);
    a.revolution =
        1 + static_cast<int>(std::upper_bound(nodes.begin(), nodes.end(), start) - nodes.begin());
    cands.push_back(a);
  }
  const double limit = plan.schedule->time_limit_s;
  std::vector<double> shares;
  const auto t0 = std::chrono::steady_clock::now();
  const PlanSchedule s =
      schedule_plan(plan, cands, {}, {}, [&](double share) { shares.push_back(share); });
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LE(s.seconds, limit + 0.25);
  EXPECT_LT(took, limit + 0.5);
  expect_sound(plan, Checker(plan, {}), s);
  EXPECT_FALSE(s.optimal);
  EXPECT_GT(s.acquisitions.size(), 100U);
  ASSERT_FALSE(shares.empty());
  EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
  EXPECT_GE(shares.front(), 0.0);
  EXPECT_LE(shares.back(), 1.0);
  EXPECT_GT(shares.back(), 0.8);  // polled to the solver's end, not on a clock of its own

  struct Stop {};
  const auto t1 = std::chrono::steady_clock::now();
  EXPECT_THROW(schedule_plan(plan, cands, {}, {},
                             [](double share) {
                               if (share >= 0.5) throw Stop{};
                             }),
               Stop);
  const double stopped =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
  EXPECT_GT(stopped, 0.5 * limit);
  EXPECT_LT(stopped, 0.5 * limit + 0.5);
}

// The bundled example through orvus-plan: its tables re-read and re-checked, the reasons of
// its unscheduled targets, and the same files from a second run.
TEST(SchedulePlans, TheExampleThroughOrvusPlanIsFeasibleAsWritten) {
  if (std::string(ORVUS_PLAN_BINARY).empty()) GTEST_SKIP() << "no orvus-plan in this build";
  ScratchDir dir;
  namespace fs = std::filesystem;
  const fs::path examples(ORVUS_EXAMPLES);
  fs::create_directory(dir.path / "plan");
  for (const char* f : {"finals2000A.data", "amazonia1.tle"})
    fs::copy_file(examples / f, dir.path / f);
  for (const auto& e : fs::directory_iterator(examples / "plan"))
    if (e.is_regular_file()) fs::copy_file(e.path(), dir.path / "plan" / e.path().filename());
  const std::string plan_file = (dir.path / "plan" / "plan.toml").string();
  std::string first;
  for (int run = 0; run < 2; ++run) {
    const auto r = test::run_command(std::string(ORVUS_PLAN_BINARY) + " " + plan_file);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" ORVUS-PLAN: SCHEDULE: "), std::string::npos) << r.output;
    const std::string csv = test::read_file((dir.path / "plan/out/schedule.csv").string());
    if (run == 0) first = csv;
    EXPECT_EQ(csv, first);  // proven optimal: the same schedule again
  }
  const Plan plan = load_plan(plan_file);
  const auto passes = plan_passes(plan, eop());
  // Times from the text: seconds from the plan's start.
  auto seconds = [&](const std::string& iso) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double s = 0, jd0 = 0, jd1 = 0;
    EXPECT_EQ(std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%lfZ", &y, &mo, &d, &h, &mi, &s), 6) << iso;
    EXPECT_EQ(eraCal2jd(y, mo, d, &jd0, &jd1), 0);
    const UtcInstant t{jd0 + jd1 - 2433282.5, h * 3600.0 + mi * 60.0 + s};
    return since_epoch(plan.interval.start, t);
  };
  auto fields = [](const std::string& line) {  // the example's texts hold no comma
    std::vector<std::string> out(1);
    for (const char c : line) {
      if (c == ',')
        out.emplace_back();
      else
        out.back() += c;
    }
    return out;
  };
  std::vector<Image> images;
  std::set<std::string> acquired;
  double objective = 0;
  const auto rows = test::read_lines((dir.path / "plan/out/schedule.csv").string());
  ASSERT_GE(rows.size(), 2U);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto f = fields(rows[i]);
    ASSERT_EQ(f.size(), 17U) << rows[i];
    Image m;
    m.satellite = f[0] == "AMAZONIA 1" ? 0 : 1;
    const auto t = std::find_if(plan.targets.begin(), plan.targets.end(),
                                [&](const Target& x) { return x.id == f[2]; });
    ASSERT_NE(t, plan.targets.end());
    m.target = static_cast<std::size_t>(t - plan.targets.begin());
    m.start = seconds(f[5]);
    m.end = seconds(f[6]);
    m.roll = std::stod(f[9]);
    m.slew = std::stod(f[10]);
    m.data = std::stod(f[12]);
    m.level = std::stod(f[13]);
    EXPECT_NEAR(std::stod(f[11]), m.end - m.start, 1e-6);
    if (!f[15].empty()) {
      EXPECT_GT(seconds(f[15]), m.end);  // sent after it is recorded
    }
    images.push_back(m);
    acquired.insert(f[2]);
    objective += std::stod(f[4]);
  }
  EXPECT_EQ(Checker(plan, passes)(images, 2e-3), "");
  const auto unscheduled = test::read_lines((dir.path / "plan/out/unscheduled.csv").string());
  EXPECT_EQ(acquired.size() + unscheduled.size() - 1, plan.targets.size());
  for (std::size_t i = 1; i < unscheduled.size(); ++i)
    EXPECT_EQ(acquired.count(fields(unscheduled[i])[0]), 0U) << unscheduled[i];
  const std::string json = test::read_file((dir.path / "plan/out/schedule.json").string());
  char expect[64];
  std::snprintf(expect, sizeof expect, "\"objective\": %g,", objective);
  EXPECT_NE(json.find(expect), std::string::npos) << json;
  const std::string geojson = test::read_file((dir.path / "plan/out/schedule.geojson").string());
  std::size_t features = 0;
  for (auto at = geojson.find("\"kind\":\"acquisition\""); at != std::string::npos;
       at = geojson.find("\"kind\":\"acquisition\"", at + 1))
    ++features;
  EXPECT_EQ(features, rows.size() - 1);
}

}  // namespace
}  // namespace orvus
