// orvus-plan: plans and decks as read, the points rule against orvus itself, the swath rule
// against the points and against single lines of sight, decks against one-target plans, the
// constraints, the byte form, and every bad plan or target stopping with its message.
#include "orvus/plan.hpp"

#include <erfa.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <boost/geometry.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "core/frames/tod2ef.hpp"
#include "core/plan/plan_internal.hpp"
#include "core/search/search.hpp"
#include "core/time/eop_table.hpp"
#include "orvus/analysis.hpp"
#include "orvus/coverage.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"
#include "orvus/frames.hpp"
#include "orvus/geometry.hpp"
#include "orvus/orbit.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/plan_tables.hpp"
#include "orvus/planner.hpp"
#include "orvus/search.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::eop;
using test::read_lines;
using test::ScratchDir;

struct Sat {
  std::string name, tle;
  double alpha, beta;
};

const Sat kAmazonia{"AMAZONIA 1", "amazonia1_2025.tle", 0.0, 60.0};
const Sat kLandsat{"LANDSAT 8", "landsat8_2024.tle", 5.0, 20.0};

std::string plan_text(const std::string& targets, const std::vector<Sat>& sats,
                      const std::string& start, const std::string& end, const std::string& rule,
                      const std::string& extra = "") {
  std::string t = "start = " + start + "\nend = " + end +
                  "\nutc_offset_hours = -3\nstep_s = 1.0\nearth_orientation = \"" +
                  data_path("finals2000A.data") + "\"\ntargets = \"" + targets + "\"\nrule = \"" +
                  rule + "\"\noutput = \"out\"\n";
  for (const Sat& s : sats) {
    char buf[128];
    t += "\n[[satellite]]\nname = \"" + s.name + "\"\nelements = \"" + data_path("tle/" + s.tle) +
         "\"\n";
    std::snprintf(buf, sizeof buf, "alpha_deg = %.17g\nbeta_deg = %.17g\n", s.alpha, s.beta);
    t += buf;
  }
  return t + extra;
}

Plan make_plan(const ScratchDir& dir, const std::string& deck_name, const std::string& deck,
               const std::vector<Sat>& sats, const std::string& start, const std::string& end,
               const std::string& rule, const std::string& extra = "") {
  dir.write(deck_name, deck);
  dir.write("plan.toml", plan_text(deck_name, sats, start, end, rule, extra));
  return load_plan(dir.file("plan.toml"));
}

bool same_contact(const Contact& a, const Contact& b) {
  auto eq = [](const UtcInstant& x, const UtcInstant& y) {
    return x.day == y.day && x.seconds == y.seconds;
  };
  return a.number == b.number && eq(a.start_utc, b.start_utc) && eq(a.end_utc, b.end_utc) &&
         eq(a.start_local, b.start_local) && eq(a.end_local, b.end_local) &&
         a.duration_s == b.duration_s && eq(a.best_utc, b.best_utc) &&
         eq(a.best_local, b.best_local) && a.best_alpha_deg == b.best_alpha_deg &&
         a.distance_deg == b.distance_deg && a.pass == b.pass;
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

std::string plan_binary() {
  return ORVUS_PLAN_BINARY;
}

// ---- the sweep's cheap frame ---------------------------------------------------------------

// A step is computed exactly only where a tracking point made in the sweep's cheap frame (mean
// sidereal time of UTC) comes within the frame gap of a target: every exact point (ERFA's
// apparent sidereal time, UT1 and polar motion) must lie within that gap of its cheap twin.
TEST(PlanSweep, CheapTrackingPointsLieWithinTheFrameGapOfTheExactOnes) {
  const EopRows& table = detail::eop_rows(eop());
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  double widest = 0.0;  // largest longitude gap seen, deg
  for (const char* tle : {"tle/landsat8_2024.tle", "tle/amazonia1_2025.tle"}) {
    const Propagator orbit(read_elements(data_path(tle)));
    const double day0 = std::floor(orbit.elements().epoch.day);
    const plan::FrameGap gap = plan::frame_gap(table, day0 + 33282.0 - 30.0, day0 + 33282.0 + 30.0);
    ASSERT_LT(gap.turn, 0.01);
    for (int i = 0; i < 3000; ++i) {
      const double alpha = -40.0 + 80.0 * u(rng), beta = 40.0 * u(rng);
      SearchParams sp;
      search_setup(Sensor{alpha, beta}, Box{-180, 180, -90, 90},
                   Interval{{day0, 0.0}, {day0 + 1.0, 0.0}, 1.0, 0.0}, sp);
      const double day = day0 - 25.0 + std::floor(50.0 * u(rng)), sec = std::floor(86400 * u(rng));
      StepData exact;
      compute_step(sp, orbit, table, day, sec, exact);
      const double d1 = day + 2433282.5, d2 = sec / 86400.0;
      StateVector ef{};
      rotate_to_pef(eraGmst06(d1, d2, d1, d2), orbit.state_at(UtcInstant{day, sec}), ef);
      Vec6 geo{};
      state_to_spherical(ef, geo);
      double cheap[6];
      tracking_points(sp, ef, geo, local_radius(geo[1]), cheap);
      for (int k = 0; k < 6; k += 2) {
        if (std::isnan(exact.pt[k])) continue;
        const plan::BBox at{exact.pt[k], exact.pt[k], exact.pt[k + 1], exact.pt[k + 1]};
        EXPECT_TRUE(plan::in_bbox(plan::near_box(at, gap), cheap[k], cheap[k + 1]))
            << tle << " day " << day << " s " << sec << " alpha " << alpha << " point " << k / 2;
        widest = std::max(widest, std::fabs(lon_difference(exact.pt[k], cheap[k])) *
                                      std::cos(exact.pt[k + 1] * M_PI / 180.0));
      }
    }
  }
  // The two frames do differ (by about 5" in these years): the check is not vacuous.
  EXPECT_GT(widest, 0.0005);
}

// ---- the points rule is orvus's own test --------------------------------------------------

TEST(PlanPoints, RandomBoxesGiveOrvusContactsAndReports) {
  std::mt19937 rng(15);
  std::uniform_real_distribution<double> lon(-180.0, 175.0), lat(-70.0, 65.0), size(0.5, 5.0);
  std::string deck = "id,name,lon1,lon2,lat1,lat2\n";
  std::vector<Box> boxes;
  for (int i = 0; i < 30; ++i) {
    Box b;
    b.lon1 = std::round(lon(rng) * 100) / 100;
    b.lon2 = std::round((b.lon1 + size(rng)) * 100) / 100;
    b.lat1 = std::round(lat(rng) * 100) / 100;
    b.lat2 = std::round((b.lat1 + size(rng)) * 100) / 100;
    boxes.push_back(b);
    char row[160];
    std::snprintf(row, sizeof row, "B%02d,BOX %02d,%.2f,%.2f,%.2f,%.2f\n", i, i, b.lon1, b.lon2,
                  b.lat1, b.lat2);
    deck += row;
  }
  ScratchDir dir;
  const Plan plan = make_plan(dir, "deck.csv", deck, {kAmazonia, kLandsat}, "2025-07-20T00:00:00",
                              "2025-07-22T00:00:00", "points");
  std::size_t total = 0;
  for (std::size_t s = 0; s < 2; ++s) {
    const auto all = plan_opportunities(plan, eop(), s, 0, boxes.size());
    const Satellite sat{Propagator(plan.satellites[s].elements), plan.satellites[s].sensor};
    for (std::size_t t = 0; t < boxes.size(); ++t) {
      std::vector<Contact> mine;
      for (const auto& o : all)
        if (o.target == t) mine.push_back(o.contact);
      std::vector<Contact> theirs;
      for (const auto& c : find_contacts(sat, boxes[t], plan.interval, eop()))
        if (c.closed) theirs.push_back(c);
      ASSERT_EQ(mine.size(), theirs.size()) << "satellite " << s << " box " << t;
      for (std::size_t k = 0; k < mine.size(); ++k)
        EXPECT_TRUE(same_contact(mine[k], theirs[k])) << "satellite " << s << " box " << t;
      total += mine.size();
    }
  }
  EXPECT_GT(total, 30U);

  // The real programs: every pair's OUT2 from orvus-plan --reports is orvus's, byte for byte.
  const auto r =
      test::run_command("'" + plan_binary() + "' '" + dir.file("plan.toml") + "' --reports");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::vector<std::string> rows = read_lines(dir.file("out/opportunities.csv"));
  EXPECT_EQ(rows.size(), total + 1);
  const std::string tles[2] = {kAmazonia.tle, kLandsat.tle};
  const std::string names[2] = {kAmazonia.name, kLandsat.name};
  const double ab[2][2] = {{kAmazonia.alpha, kAmazonia.beta}, {kLandsat.alpha, kLandsat.beta}};
  for (std::size_t s = 0; s < 2; ++s) {
    for (std::size_t t = 0; t < boxes.size(); t += 3) {  // every third box: 20 orvus runs
      ScratchDir run;
      std::filesystem::copy_file(data_path("tle/" + tles[s]), run.path / tles[s]);
      std::filesystem::create_symlink(data_path("finals2000A.data"), run.path / "finals2000A.data");
      char rec[256];
      std::snprintf(rec, sizeof rec, "%.2f, %.2f, %.2f, %.2f\n%s\n%g, %g\n", boxes[t].lon1,
                    boxes[t].lon2, boxes[t].lat1, boxes[t].lat2, tles[s].c_str(), ab[s][0],
                    ab[s][1]);
      char id[32];
      std::snprintf(id, sizeof id, "B%02zu", t);
      run.write("ORVUS_IN.TXT",
                names[s] + "\nBOX " + std::string(id + 1) + "\n-3\n" + rec +
                    "20/07/2025 00:00:00.000000000\n22/07/2025 00:00:00.000000000\n1\n");
      ASSERT_EQ(test::run_orvus(run.path).status, 0);
      const std::string dir_name = "out/reports/" + std::to_string(s + 1) + "-" + id;
      EXPECT_EQ(test::read_file(dir.file(dir_name + "/ORVUS_v1.13_OUT2.CSV")),
                test::read_file(run.file("ORVUS_v1.13_OUT2.CSV")))
          << dir_name;
      EXPECT_EQ(test::read_file(dir.file(dir_name + "/ORVUS_v1.13_OUT3.CSV")),
                test::read_file(run.file("ORVUS_v1.13_OUT3.CSV")))
          << dir_name;
      // OUT1 too, its header included, but for the time each run took.
      const auto timeless = [](const std::string& file) {
        std::string kept;
        for (const auto& line : read_lines(file))
          if (line.find("EXECUTION TIME:") == std::string::npos) kept += line + "\n";
        return kept;
      };
      EXPECT_EQ(timeless(dir.file(dir_name + "/ORVUS_v1.13_OUT1.TXT")),
                timeless(run.file("ORVUS_v1.13_OUT1.TXT")))
          << dir_name;
    }
  }
}

// ---- the swath rule ----------------------------------------------------------------------

bool inside(const Contact& inner, const Contact& outer) {
  return since_epoch(outer.start_utc, inner.start_utc) >= 0 &&
         since_epoch(inner.end_utc, outer.end_utc) >= 0;
}

TEST(PlanSwath, FindsEveryPointsContactAndEveryLineOfSightPass) {
  ScratchDir dir;
  const std::string deck = test::read_file(data_path("plan/deck.csv"));
  Plan points = make_plan(dir, "deck.csv", deck, {kAmazonia, kLandsat}, "2025-07-01T00:00:00",
                          "2025-07-16T00:00:00", "points");
  Plan swath = points;
  swath.rule = TargetRule::swath;
  for (std::size_t s = 0; s < 2; ++s) {
    const auto p = plan_opportunities(points, eop(), s, 0, points.targets.size());
    const auto w = plan_opportunities(swath, eop(), s, 0, swath.targets.size());
    EXPECT_GE(w.size(), p.size());
    for (const auto& o : p) {
      const bool found = std::any_of(w.begin(), w.end(), [&](const Opportunity& x) {
        return x.target == o.target && inside(o.contact, x.contact);
      });
      EXPECT_TRUE(found) << "satellite " << s << " target " << points.targets[o.target].id
                         << " contact " << o.contact.number;
    }
  }

  // Brasilia (issue 15), half a month: the swath sees every pass that a single line of sight
  // swept across it (BETA 0, ALPHA -30 to 30 by 1 deg) sees, and the points miss some.
  const Box bsb{-48.3, -47.3, -16.1, -15.4};
  Plan one = swath;
  one.targets.resize(1);  // BSB
  one.satellites.resize(1);
  const auto w = plan_opportunities(one, eop(), 0, 0, 1);
  one.rule = TargetRule::points;
  const auto p = plan_opportunities(one, eop(), 0, 0, 1);
  const Propagator orbit(one.satellites[0].elements);
  std::vector<Contact> sight;
  for (int a = -30; a <= 30; ++a) {
    const Satellite sat{orbit, Sensor{static_cast<double>(a), 0.0}};
    for (const auto& c : find_contacts(sat, bsb, one.interval, eop())) sight.push_back(c);
  }
  // Passes: line-of-sight contacts within ten minutes of each other are one pass.
  std::sort(sight.begin(), sight.end(), [](const Contact& x, const Contact& y) {
    return since_epoch(y.start_utc, x.start_utc) < 0;
  });
  int passes = 0;
  for (std::size_t i = 0; i < sight.size(); ++i) {
    if (i == 0 || since_epoch(sight[i - 1].start_utc, sight[i].start_utc) > 600) ++passes;
    const bool found = std::any_of(w.begin(), w.end(), [&](const Opportunity& x) {
      return since_epoch(x.contact.start_utc, sight[i].start_utc) > -1.5 &&
             since_epoch(sight[i].start_utc, x.contact.end_utc) > -1.5;
    });
    EXPECT_TRUE(found) << "line-of-sight contact " << i;
  }
  EXPECT_EQ(static_cast<int>(w.size()), passes);
  EXPECT_LT(p.size(), w.size());
}

TEST(PlanSwath, PolygonsHolesAndTheAntimeridian) {
  const auto targets = read_targets(data_path("plan/polygons.geojson"));
  ASSERT_EQ(targets.size(), 3U);
  EXPECT_EQ(targets[0].polygons.size(), 1U);
  EXPECT_EQ(targets[0].polygons[0].size(), 2U);  // the hole kept
  EXPECT_EQ(targets[1].polygons.size(), 2U);     // split at 180
  for (const auto& poly : targets[1].polygons)
    for (const auto& g : poly[0]) EXPECT_LE(std::fabs(g.lon_deg), 180.0);
  EXPECT_EQ(targets[2].id, "7");
  EXPECT_EQ(targets[2].polygons.size(), 2U);
  EXPECT_NEAR(targets[0].centre.lon_deg, -47.8, 0.05);
  EXPECT_NEAR(targets[0].centre.lat_deg, -15.75, 0.05);
  EXPECT_NEAR(targets[1].centre.lon_deg, 179.5, 0.05);

  // The polygon with a hole sees a subset of the box's points contacts, the swath all of them.
  ScratchDir dir;
  std::filesystem::copy_file(data_path("plan/polygons.geojson"), dir.path / "p.geojson");
  dir.write("plan.toml", plan_text("p.geojson", {kAmazonia}, "2025-07-01T00:00:00",
                                   "2025-07-16T00:00:00", "swath"));
  const Plan plan = load_plan(dir.file("plan.toml"));
  const auto w = plan_opportunities(plan, eop(), 0, 0, plan.targets.size());
  std::size_t df = 0, fiji = 0;
  for (const auto& o : w) {
    df += o.target == 0;
    fiji += o.target == 1;
    EXPECT_GE(o.coverage, 0.0);
    EXPECT_LE(o.coverage, 1.0);
  }
  EXPECT_GT(df, 5U);
  EXPECT_GT(fiji, 5U);
}

// ---- decks, splits, constraints and bytes -------------------------------------------------

TEST(PlanDeck, EachTargetAsAloneAndAnySplitGiveTheSameFiles) {
  ScratchDir dir;
  const std::string deck = test::read_file(data_path("plan/deck.csv"));
  const Plan plan =
      make_plan(dir, "deck.csv", deck, {kAmazonia, kLandsat}, "2025-07-01T00:00:00",
                "2025-07-06T00:00:00", "swath", "\n[constraints]\nmin_sun_elevation_deg = -90\n");
  const std::size_t n = plan.targets.size();
  for (std::size_t s = 0; s < 2; ++s) {
    const auto all = plan_opportunities(plan, eop(), s, 0, n);
    std::vector<Opportunity> joined;
    for (std::size_t t = 0; t < n; ++t) {
      const auto one = plan_opportunities(plan, eop(), s, t, t + 1);
      joined.insert(joined.end(), one.begin(), one.end());
      // The pair's contacts step by step (the reports'): those of its opportunities.
      ContactList list;
      plan_contacts(plan, eop(), s, t, list);
      ASSERT_EQ(list.contacts.size(), one.size()) << s << " " << t;
      for (std::size_t i = 0; i < one.size(); ++i) {
        EXPECT_TRUE(same_contact(list.contacts[i], one[i].contact)) << s << " " << t << " " << i;
        EXPECT_FALSE(list.contacts[i].steps.empty());
      }
    }
    ContactList none;
    EXPECT_THROW(plan_contacts(plan, eop(), s, n, none), Error);
    EXPECT_EQ(serialize_opportunities(all), serialize_opportunities(joined));
  }
  ContactList none;
  EXPECT_THROW(plan_contacts(plan, eop(), 2, 0, none), Error);
  PlanCounts counts;
  const auto kept = run_plan(plan, eop(), &counts);
  std::vector<Opportunity> parts;
  for (std::size_t s = 0; s < 2; ++s) {
    for (const auto& [a, b] : {std::pair<std::size_t, std::size_t>{0, 1}, {1, 3}, {3, n}}) {
      const std::string bytes = serialize_opportunities(plan_opportunities(plan, eop(), s, a, b));
      const auto back = deserialize_opportunities(bytes);
      EXPECT_EQ(serialize_opportunities(back), bytes);
      parts.insert(parts.end(), back.begin(), back.end());
    }
  }
  const auto selected = select_opportunities(plan, parts);
  std::ostringstream c1, c2, g1, g2;
  write_opportunities_csv(plan, kept, c1);
  write_opportunities_csv(plan, selected, c2);
  write_opportunities_geojson(plan, kept, g1);
  write_opportunities_geojson(plan, selected, g2);
  EXPECT_EQ(c1.str(), c2.str());
  EXPECT_EQ(g1.str(), g2.str());
  EXPECT_EQ(counts.found, kept.size());
  EXPECT_EQ(c1.str().substr(0, c1.str().find('\n')),
            "satellite,norad_id,target_id,target_name,contact,start_utc,end_utc,start_local,"
            "end_local,duration_s,best_time_utc,best_time_local,best_alpha_deg,distance_deg,pass,"
            "sun_elevation_deg,coverage,element_age_days");
  // Sorted by start.
  for (std::size_t i = 1; i < kept.size(); ++i)
    EXPECT_LE(since_epoch(kept[i].contact.start_utc, kept[i - 1].contact.start_utc), 0.0);
  EXPECT_THROW(deserialize_opportunities("nonsense"), Error);
}

// ---- the planner as one call -------------------------------------------------------------

// Every table of a run, as CSV.
std::string tables_text(const Plan& plan, const PlanRun& run, const CoverageGrid* grid) {
  std::ostringstream out;
  for (const PlanTable table : kPlanTables) {
    write_table_csv(
        table, plan.interval.utc_offset_hours,
        [&](RowSink& sink) { run_table_rows(table, plan, run, grid, sink); }, out);
  }
  return out.str();
}

// The run on this machine against its tasks run apart, through their bytes, joined in reverse
// order and finished: the same tables, coverage and schedule included (a schedule proven
// optimal); a part lost or cut short stops the finish; steps leave out what they do not ask.
TEST(PlanRun, TasksRunApartAndJoinedInAnyOrderFinishAsTheWholeRun) {
  ScratchDir dir;
  dir.write("deck.csv", test::read_file(data_path("plan/deck.csv")));
  std::string text = plan_text(
      "deck.csv", {kAmazonia, kLandsat}, "2025-07-01T00:00:00", "2025-07-04T00:00:00", "swath",
      "\n[constraints]\nmin_sun_elevation_deg = 5\n[coverage]\ncell_km = 60\n"
      "[schedule]\ntime_limit_s = 30\n[[station]]\nname = \"CUIABA\"\n"
      "lon = -56.07\nlat = -15.55\nmin_elevation_deg = 5\n"
      "downlink_gbit_s = 0.05\n");
  for (std::size_t at = 0; (at = text.find("beta_deg", at)) != std::string::npos; ++at)
    text.insert(text.find('\n', at) + 1, "roll_rate_deg_s = 1\nimaging_gbit_s = 1\n");
  dir.write("plan.toml", text);
  const Plan plan = load_plan(dir.file("plan.toml"));
  const CoverageGrid grid = coverage_grid(plan);
  const PlanRun whole = run_planner(plan, eop(), &grid);
  ASSERT_TRUE(whole.schedule && whole.coverage);
  ASSERT_TRUE(whole.schedule->optimal);
  ASSERT_GT(whole.opportunities.size(), 5U);
  ASSERT_GT(whole.passes.size(), 5U);
  ASSERT_GT(whole.schedule->acquisitions.size(), 0U);
  ASSERT_GT(grid.cells.size(), 2 * 37U);
  const std::string expected = tables_text(plan, whole, &grid);
  for (const auto& [targets, cells] : {std::pair<std::size_t, std::size_t>{2, 37}, {1, 1000}}) {
    const std::vector<PlanTask> tasks = plan_tasks(plan, &grid, targets, cells);
    std::vector<std::string> bytes;
    for (const PlanTask& task : tasks)
      bytes.push_back(serialize_parts(run_task(plan, eop(), &grid, task)));
    PlanParts joined;
    for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) join(joined, deserialize_parts(*it));
    const PlanRun run = finish_plan(plan, eop(), &grid, joined);
    EXPECT_EQ(tables_text(plan, run, &grid), expected) << targets << " " << cells;
    EXPECT_EQ(run.counts.found, whole.counts.found);
    // A coverage part lost, or the bytes of a part cut short, stop the finish.
    PlanParts lost = joined;
    lost.coverage.pop_back();
    EXPECT_THROW(finish_plan(plan, eop(), &grid, lost), Error);
    EXPECT_THROW(deserialize_parts(bytes.back().substr(0, bytes.back().size() - 4)), Error);
  }
  // The bytes of a list of opportunities are those of parts holding just them.
  const std::string list = serialize_opportunities(whole.opportunities);
  EXPECT_EQ(serialize_parts(deserialize_parts(list)), list);
  // The passes alone: no sweep, no schedule.
  PlanSteps passes;
  passes.opportunities = passes.coverage = passes.schedule = false;
  const PlanRun alone = run_planner(plan, eop(), nullptr, passes);
  EXPECT_TRUE(alone.opportunities.empty() && !alone.coverage && !alone.schedule);
  std::ostringstream a, b;
  write_passes_csv(plan, alone.passes, a);
  write_passes_csv(plan, whole.passes, b);
  EXPECT_EQ(a.str(), b.str());
  // A row that does not match its table's columns is refused.
  EXPECT_THROW(write_table_csv(
                   PlanTable::unscheduled, 0.0,
                   [](RowSink& sink) {
                     sink.text("A");
                     sink.integer(1);
                   },
                   a),
               std::logic_error);
}

TEST(PlanDeck, ConstraintsRemoveExactlyTheRowsThatViolateThem) {
  ScratchDir dir;
  const std::string deck = test::read_file(data_path("plan/deck.csv"));
  Plan plan = make_plan(dir, "deck.csv", deck, {kAmazonia}, "2025-07-01T00:00:00",
                        "2025-07-11T00:00:00", "swath");
  const auto all = plan_opportunities(plan, eop(), 0, 0, plan.targets.size());
  ASSERT_GT(all.size(), 20U);
  for (const auto& o : all) {  // the Sun interpolated between whole minutes
    const auto& c = plan.targets[o.target].centre;
    EXPECT_NEAR(o.sun_elevation_deg, sun_elevation_deg(o.contact.best_utc, c.lon_deg, c.lat_deg),
                1e-3);
  }
  plan.constraints.min_sun_elevation_deg = 10.0;
  plan.constraints.max_abs_best_alpha_deg = 20.0;
  plan.constraints.pass = 'D';
  plan.constraints.min_duration_s = 5.0;
  PlanCounts c;
  const auto kept = select_opportunities(plan, all, &c);
  std::size_t sun = 0, alpha = 0, pass = 0, dur = 0, ok = 0;
  for (const auto& o : all) {
    if (!(o.sun_elevation_deg >= 10.0))
      ++sun;
    else if (!(std::fabs(o.contact.best_alpha_deg) <= 20.0))
      ++alpha;
    else if (o.contact.pass != 'D')
      ++pass;
    else if (!(o.contact.duration_s >= 5.0))
      ++dur;
    else
      ++ok;
  }
  EXPECT_EQ(c.found, all.size());
  EXPECT_EQ(c.kept, ok);
  EXPECT_EQ(kept.size(), ok);
  EXPECT_EQ(c.by_sun, sun);
  EXPECT_EQ(c.by_alpha, alpha);
  EXPECT_EQ(c.by_pass, pass);
  EXPECT_EQ(c.by_duration, dur);
  for (const auto& o : kept) {
    EXPECT_GE(o.sun_elevation_deg, 10.0);
    EXPECT_LE(std::fabs(o.contact.best_alpha_deg), 20.0);
    EXPECT_EQ(o.contact.pass, 'D');
    EXPECT_GE(o.contact.duration_s, 5.0);
  }
}

// The caller's progress, through which an interrupt stops a sweep, comes every few tenths of
// a second at most, from the call to its return, on a deck of thousands of points at steps of
// five minutes: blocks of a fixed number of steps made the whole sweep one block (seconds),
// and the work after the sweep (the Sun, the coverage and the swath of each contact) had no
// progress at all.
TEST(PlanSweep, ProgressComesOftenOnALargeDeckAtLongSteps) {
  ScratchDir dir;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> lon(-75.0, 40.0), lat(-33.0, 55.0);
  std::string deck = "id,name,lon,lat\n";
  for (int i = 0; i < 5000; ++i) {
    char row[96];
    std::snprintf(row, sizeof row, "P%d,P%d,%.4f,%.4f\n", i, i, lon(rng), lat(rng));
    deck += row;
  }
  dir.write("points.csv", deck);
  std::string text =
      plan_text("points.csv", {kAmazonia}, "2025-07-20T00:00:00", "2025-08-19T00:00:00", "swath");
  text.replace(text.find("step_s = 1.0"), 12, "step_s = 300.0");
  dir.write("plan.toml", text);
  const Plan plan = load_plan(dir.file("plan.toml"));
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Clock::time_point last = start;
  double longest = 0.0;
  std::size_t calls = 0, after_sweep = 0;
  const auto found = plan_opportunities(plan, eop(), 0, 0, plan.targets.size(), [&](double f) {
    const Clock::time_point now = Clock::now();
    longest = std::max(longest, std::chrono::duration<double>(now - last).count());
    last = now;
    ++calls;
    after_sweep += f == 1.0 ? 1 : 0;
  });
  longest = std::max(longest, std::chrono::duration<double>(Clock::now() - last).count());
  EXPECT_GT(found.size(), 50000U) << found.size();
  EXPECT_LT(longest, 0.5) << calls << " calls in "
                          << std::chrono::duration<double>(Clock::now() - start).count() << " s";
  // The work after the sweep (the whole share done) reports at least every few thousand
  // contacts, whatever this machine's speed.
  EXPECT_GT(after_sweep, found.size() / 4096);
}

// ---- bad plans and targets ----------------------------------------------------------------

TEST(PlanErrors, BadPlansStopNamingKeyAndLine) {
  ScratchDir dir;
  dir.write("t.csv", "id,name,lon1,lon2,lat1,lat2\nA,A,0,1,0,1\n");
  const std::string good =
      plan_text("t.csv", {kAmazonia}, "2025-07-01T00:00:00", "2025-07-02T00:00:00", "swath");
  auto check = [&](const std::string& from, const std::string& to, const std::string& expect) {
    std::string text = good;
    if (!from.empty()) {
      const auto at = text.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      text.replace(at, from.size(), to);
    } else {
      text += to;
    }
    dir.write("bad.toml", text);
    const std::string msg = error_text([&] { load_plan(dir.file("bad.toml")); });
    EXPECT_NE(msg.find(expect), std::string::npos) << msg;
    EXPECT_NE(msg.find("bad.toml"), std::string::npos) << msg;
  };
  check("start = ", "colour = \"red\"\nstart = ", "LINE 1: UNKNOWN KEY \"colour\"");
  check("step_s = 1.0\n", "", "MISSING KEY \"step_s\"");
  check("step_s = 1.0", "step_s = \"fast\"", "LINE 4: \"step_s\" MUST BE A NUMBER");
  check("step_s = 1.0", "step_s = 0.0001", "LINE 4: \"step_s\" MUST LIE BETWEEN 0.001 AND 86400");
  check("utc_offset_hours = -3", "utc_offset_hours = 25", "LINE 3: \"utc_offset_hours\" MUST LIE");
  check("beta_deg = 60", "beta_deg = 190", "\"satellite.beta_deg\" ALPHA - BETA/2");
  check("beta_deg = 60", "beta_deg = 60\nroll = 1", "UNKNOWN KEY \"satellite.roll\"");
  check("rule = \"swath\"", "rule = \"area\"", "LINE 7: \"rule\" MUST BE \"swath\" OR \"points\"");
  check("start = 2025-07-01T00:00:00", "start = \"2025-13-01T00:00:00\"", "LINE 1: \"start\"");
  check("", "\n[constraints]\npass = \"X\"\n",
        "\"constraints.pass\" MUST BE \"A\", \"D\" OR \"any\"");
  check("", "\n[constraints]\nmax_abs_best_alpha_deg = 100\n",
        "\"constraints.max_abs_best_alpha_deg\"");
  check("name = \"AMAZONIA 1\"", "name = \"AMAZONIA 1\"\nselect = 99999", "NO ELEMENT SET OF");
  check("step_s = 1.0", "step_s = 1.0 = 2", "LINE 4: NOT VALID TOML");
  // Nanoseconds are the finest time: more decimals are refused, never rounded into a shift.
  check("start = 2025-07-01T00:00:00", "start = \"2025-07-01T00:00:59.9999999999\"",
        "LINE 1: \"start\" HAS MORE THAN 9 DECIMALS OF SECONDS");
  check(
      "beta_deg = 60", "beta_deg = 150",
      "HORIZON: ALPHA - BETA/2 AND ALPHA + BETA/2 (GIVEN: -75.0000 AND 75.0000) MUST LIE WITHIN ");
  // A geostationary set is named as one the model cannot serve before its horizon is looked at.
  dir.write("geo.json",
            "[{\"OBJECT_NAME\":\"AMAZONIA 1\",\"NORAD_CAT_ID\":1,\"EPOCH\":\"2025-07-01T00:00:00\","
            "\"MEAN_MOTION\":1.0027,\"ECCENTRICITY\":0.0001,\"INCLINATION\":0.05,"
            "\"RA_OF_ASC_NODE\":0,\"ARG_OF_PERICENTER\":0,\"MEAN_ANOMALY\":0}]");
  check(data_path("tle/amazonia1_2025.tle"), dir.file("geo.json"),
        "SGP8 SERVES NEAR-EARTH ORBITS ONLY");
  // A string start is accepted like a date-time.
  std::string text = good;
  text.replace(text.find("start = 2025-07-01T00:00:00"), 27, "start = \"2025-07-01T00:00:00\"");
  dir.write("ok.toml", text);
  const Plan p = load_plan(dir.file("ok.toml"));
  EXPECT_EQ(p.start_local, "01/07/2025 00:00:00.000000000");
  EXPECT_EQ(p.targets.size(), 1U);
  EXPECT_EQ(p.satellites[0].elements.catalogue_number, 47699);
  EXPECT_EQ(p.satellites[0].sets_in_file, 1U);
  text.replace(text.find("start = \"2025-07-01T00:00:00\""), 29,
               "start = \"2025-07-01T00:00:59.999999999\"");
  // A catalogue: the set named as the satellite, and which one it was.
  dir.write("two.tle", test::read_file(data_path("tle/landsat8_2024.tle")) +
                           test::read_file(data_path("tle/amazonia1_2025.tle")));
  const std::string tle = data_path("tle/amazonia1_2025.tle");
  text.replace(text.find(tle), tle.size(), dir.file("two.tle"));
  dir.write("ok.toml", text);
  const Plan q = load_plan(dir.file("ok.toml"));
  EXPECT_EQ(q.start_local, "01/07/2025 00:00:59.999999999");
  EXPECT_EQ(q.satellites[0].elements.catalogue_number, 47699);
  EXPECT_EQ(q.satellites[0].set_number, 2U);
  EXPECT_EQ(q.satellites[0].sets_in_file, 2U);
}

// The schedule's keys of a satellite: defaults that keep the camera's view inside the sensor's
// field (so a plan without camera keys loads for any sensor orvus takes: ALPHA 0 BETA 70 or
// 100, ALPHA 20 BETA 60, on an orbit whose horizon is 63 deg), the horizon checked only for a
// schedule, and limits that keep every figure derived from the keys finite (a schedule at
// all the limits has finite figures); a refusal names the key at fault and its line, its
// numbers as %g.
TEST(PlanErrors, ScheduleKeysDefaultInsideTheFieldAndStayWithinTheirLimits) {
  ScratchDir dir;
  dir.write("t.csv", "id,name,lon,lat,priority\nA,A,-47.9,-15.8,1e9\nB,B,-48.6,-16.7,1e9\n");
  const auto plan = [&](double alpha, double beta, const std::string& extra) {
    const Sat sat{"AMAZONIA 1", "amazonia1_2025.tle", alpha, beta};
    dir.write("p.toml", plan_text("t.csv", {sat}, "2025-07-10T00:00:00", "2025-07-16T00:00:00",
                                  "swath", extra));
    return dir.file("p.toml");
  };
  const std::string schedule = "roll_rate_deg_s = 1\n\n[schedule]\ntime_limit_s = 10\n";
  struct Good {
    double alpha, beta;
    std::string extra;
    double camera, roll;
  };
  for (const Good& g : std::vector<Good>{
           {0, 70, "", 70, 0},
           {20, 60, "", 60, 20},
           {-20, 60, "", 60, 20},
           {0, 100, schedule, 100, 0},
           {0, 60, "camera_fov_deg = 8\n", 8, 26},     // (60 - 8) / 2
           {20, 10, "camera_fov_deg = 30\n", 30, 20},  // wider than the field: |ALPHA|
           {0, 60, "camera_fov_deg = 8\nmax_roll_deg = 80\n", 8, 80}}) {  // no schedule
    const Plan p = load_plan(plan(g.alpha, g.beta, g.extra));
    EXPECT_EQ(p.satellites[0].agility.camera_fov_deg, g.camera) << g.beta << " " << g.extra;
    EXPECT_EQ(p.satellites[0].agility.max_roll_deg, g.roll) << g.beta << " " << g.extra;
  }
  // Lines: 14 beta_deg, then the keys added.
  const std::pair<std::string, std::string> bad[] = {
      {"imaging_gbit_s = 1e308\n",
       "LINE 15: \"satellite.imaging_gbit_s\" MUST BE A POSITIVE FINITE NUMBER OF GBIT/S, AT MOST "
       "1e+06 (GIVEN: 1e+308)."},
      {"imaging_gbit_s = 1\nrecorder_gbit = 2e9\n",
       "LINE 16: \"satellite.recorder_gbit\" MUST BE A POSITIVE FINITE NUMBER OF GBIT, AT MOST "
       "1e+09 "
       "(GIVEN: 2e+09)."},
      {"roll_rate_deg_s = 1e-300\n",
       "LINE 15: \"satellite.roll_rate_deg_s\" MUST BE A POSITIVE FINITE NUMBER OF DEGREES/S, AT "
       "LEAST 1e-06, AT MOST 1e+06 (GIVEN: 1e-300)."},
      {"settle_s = 1e5\n",
       "LINE 15: \"satellite.settle_s\" MUST BE A FINITE NUMBER OF SECONDS, AT LEAST 0, AT MOST "
       "86400 (GIVEN: 100000)."},
      {"max_imaging_s_per_orbit = inf\n", "LINE 15: \"satellite.max_imaging_s_per_orbit\""},
      {"min_imaging_s = 86400.5\n", "LINE 15: \"satellite.min_imaging_s\""},
      {"camera_fov_deg = 180.1\n",
       "LINE 15: \"satellite.camera_fov_deg\" MUST BE A POSITIVE FINITE NUMBER OF DEGREES, AT MOST "
       "180 (GIVEN: 180.1)."},
      {"camera_fov_deg = 8\nmax_roll_deg = 1e308\n",
       "LINE 16: \"satellite.max_roll_deg\" MUST BE A FINITE NUMBER OF DEGREES, AT LEAST 0, AT "
       "MOST "
       "90 (GIVEN: 1e+308)."},
      // With a schedule: a roll past the horizon alone is the roll's fault, else the camera's.
      {"camera_fov_deg = 8\nmax_roll_deg = 70\n" + schedule,
       "LINE 16: \"satellite.max_roll_deg\" THE CAMERA'S VIEW PASSES THE EARTH'S HORIZON: "
       "MAX_ROLL_DEG + CAMERA_FOV_DEG/2 (GIVEN: 74) MUST LIE WITHIN 63."},
      {"max_roll_deg = 40\ncamera_fov_deg = 60\n" + schedule,
       "LINE 16: \"satellite.camera_fov_deg\" THE CAMERA'S VIEW PASSES THE EARTH'S HORIZON: "
       "MAX_ROLL_DEG + CAMERA_FOV_DEG/2 (GIVEN: 70)"},
      {"camera_fov_deg = 130\n" + schedule, "LINE 15: \"satellite.camera_fov_deg\" THE CAMERA'S"},
      {"max_roll_deg = 40\n" + schedule, "LINE 15: \"satellite.max_roll_deg\" THE CAMERA'S"},
      {"\n[[station]]\nname = \"S\"\nlon = 0\nlat = 0\ndownlink_gbit_s = 1.5e6\n",
       "LINE 20: \"station.downlink_gbit_s\" MUST BE A POSITIVE FINITE NUMBER OF GBIT/S, AT MOST "
       "1e+06 (GIVEN: 1.5e+06)."},
  };
  for (const auto& [extra, expect] : bad) {
    const std::string msg = error_text([&] { load_plan(plan(0, 60, extra)); });
    EXPECT_NE(msg.find(expect), std::string::npos) << extra << msg;
  }
  dir.write("b.csv", "id,name,lon,lat,priority\nA,A,-47.9,-15.8,1.5e9\n");
  EXPECT_NE(error_text([&] { read_targets(dir.file("b.csv")); })
                .find("LINE 2: priority OF TARGET \"A\" MUST BE A POSITIVE FINITE NUMBER, AT MOST "
                      "1e+09 (GIVEN: \"1.5e9\")."),
            std::string::npos);
  dir.write("b.geojson",
            "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"properties\":"
            "{\"id\":\"A\",\"priority\":1e300},\"geometry\":{\"type\":\"Point\",\"coordinates\":[0,"
            "0]}}]}");
  EXPECT_NE(error_text([&] { read_targets(dir.file("b.geojson")); })
                .find("FEATURE 1: THE FEATURE'S \"priority\" MUST BE A POSITIVE FINITE NUMBER, AT "
                      "MOST 1e+09"),
            std::string::npos);

  // The rates, the recorder, the times and the priorities at their limits (the camera within
  // the horizon): the schedule's figures stay finite.
  const Plan p = load_plan(
      plan(0, 60,
           "camera_fov_deg = 60\nmax_roll_deg = 30\nroll_rate_deg_s = 1e-6\nsettle_s = 86400\n"
           "max_imaging_s_per_orbit = 86400\nrecorder_gbit = 1e9\nimaging_gbit_s = 1e6\n"
           "\n[schedule]\ntime_limit_s = 10\n\n[[station]]\nname = \"S\"\n"
           "lon = -47.9\nlat = -15.8\ndownlink_gbit_s = 1e6\n"));
  const auto kept = run_plan(p, eop());
  const auto passes = plan_passes(p, eop());
  ASSERT_FALSE(kept.empty());
  ASSERT_FALSE(passes.empty());
  const PlanSchedule s = schedule_plan(p, eop(), kept, passes);
  ASSERT_FALSE(s.acquisitions.empty());
  EXPECT_EQ(s.objective, 1e9 * static_cast<double>(s.acquisitions.size()));
  EXPECT_TRUE(std::isfinite(s.bound) && std::isfinite(s.gap));
  for (const Acquisition& a : s.candidates) EXPECT_TRUE(std::isfinite(a.data_gbit));
}

TEST(PlanErrors, BadStationsStopNamingKeyAndLine) {
  ScratchDir dir;
  dir.write("t.csv", "id,name,lon1,lon2,lat1,lat2\nA,A,0,1,0,1\n");
  const std::string good =
      plan_text("t.csv", {kAmazonia}, "2025-07-01T00:00:00", "2025-07-02T00:00:00", "swath");
  const long first = std::count(good.begin(), good.end(), '\n') + 2;  // [[station]] of `two`
  const std::string two =
      "\n[[station]]\nname = \"CUIABA\"\nlon = -56.1\nlat = -15.6\nalt_m = 240\n"
      "min_elevation_deg = 5\ndownlink_gbit_s = 0.3\n"
      "\n[[station]]\nname = \"ALCANTARA\"\nlon = -44.4\nlat = -2.3\n";
  const Plan ok = [&] {
    dir.write("ok.toml", good + two);
    return load_plan(dir.file("ok.toml"));
  }();
  ASSERT_EQ(ok.stations.size(), 2U);
  EXPECT_EQ(ok.stations[0].line, first);
  EXPECT_EQ(ok.stations[0].downlink_gbit_s, 0.3);
  EXPECT_EQ(ok.stations[1].alt_m, 0.0);
  EXPECT_EQ(ok.stations[1].min_elevation_deg, 0.0);
  EXPECT_FALSE(ok.stations[1].downlink_gbit_s);
  auto check = [&](const std::string& from, const std::string& to, const std::string& expect) {
    std::string text = two;
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    dir.write("bad.toml", good + text);
    const std::string msg = error_text([&] { load_plan(dir.file("bad.toml")); });
    EXPECT_NE(msg.find(expect), std::string::npos) << msg;
    EXPECT_NE(msg.find("bad.toml"), std::string::npos) << msg;
  };
  auto line = [&](long k) { return "LINE " + std::to_string(first + k) + ": "; };
  check("alt_m = 240", "alt_m = 240\nband = \"X\"", line(5) + "UNKNOWN KEY \"station.band\"");
  check("lat = -15.6\n", "", line(0) + "MISSING KEY \"station.lat\"");
  check("lon = -56.1", "lon = \"W\"", line(2) + "\"station.lon\" MUST BE A NUMBER");
  check("lon = -56.1", "lon = 190", line(2) + "\"station.lon\" MUST LIE BETWEEN -180 AND 180");
  check("lat = -15.6", "lat = nan", line(3) + "\"station.lat\" MUST LIE BETWEEN -90 AND 90");
  check("alt_m = 240", "alt_m = 9001", line(4) + "\"station.alt_m\" MUST LIE BETWEEN -500");
  check("min_elevation_deg = 5", "min_elevation_deg = -6",
        line(5) + "\"station.min_elevation_deg\" MUST LIE BETWEEN -5 AND 85");
  check("downlink_gbit_s = 0.3", "downlink_gbit_s = 0",
        line(6) + "\"station.downlink_gbit_s\" MUST BE A POSITIVE");
  check("\"ALCANTARA\"", "\"CUIABA\"", line(9) + "\"station.name\" NAMES AN EARLIER STATION");
  check("\"ALCANTARA\"", "\"\"", line(9) + "\"station.name\" MUST NOT BE EMPTY");
  check("name = \"CUIABA\"", "name = 7", line(1) + "\"station.name\" MUST BE A STRING");
}

TEST(PlanErrors, BadTargetsStopNamingFileAndLineOrFeature) {
  ScratchDir dir;
  auto csv = [&](const std::string& rows, const std::string& expect) {
    dir.write("t.csv", "id,name,lon1,lon2,lat1,lat2\n" + rows);
    const std::string msg = error_text([&] { read_targets(dir.file("t.csv")); });
    EXPECT_NE(msg.find(expect), std::string::npos) << msg;
    EXPECT_NE(msg.find("t.csv"), std::string::npos) << msg;
  };
  csv("A,A,0,1,0,1\nA,B,0,1,0,1\n", "LINE 3: DUPLICATE TARGET id \"A\"");
  csv("A,A,0,1,0,1\nB,S\xE3O PAULO,0,1,0,1\n", "LINE 3: THE TEXT IS NOT UTF-8");
  dir.write("bom.csv", "\xEF\xBB\xBFid,name,lon1,lon2,lat1,lat2\nA,S\xC3\xA3O PAULO,0,1,0,1\n");
  EXPECT_EQ(read_targets(dir.file("bom.csv")).at(0).name, "S\xC3\xA3O PAULO");
  csv("A,A,0,1,0,nan\n", "LINE 2: lat2 OF TARGET \"A\" IS NOT A FINITE NUMBER");
  csv("A,A,0,1,0,x\n", "LINE 2: lat2 OF TARGET \"A\" IS NOT A NUMBER");
  csv("A,A,0,1,0,91\n", "LINE 2: TARGET \"A\": LATITUDES MUST LIE");
  csv("A,A,0,1,0\n", "LINE 2: A TARGET NEEDS 6 FIELDS");
  auto geo = [&](const std::string& coords, const std::string& expect,
                 const std::string& id = "\"A\"") {
    dir.write(
        "t.geojson",
        "{\"type\":\"FeatureCollection\",\"features\":[\n"
        "{\"type\":\"Feature\",\"properties\":{\"id\":\"OK\"},\"geometry\":{\"type\":\"Polygon\","
        "\"coordinates\":[[[0,0],[1,0],[1,1],[0,0]]]}},\n"
        "{\"type\":\"Feature\",\"properties\":{\"id\":" +
            id +
            "},\"geometry\":{\"type\":\"Polygon\","
            "\"coordinates\":" +
            coords + "}}]}\n");
    const std::string msg = error_text([&] { read_targets(dir.file("t.geojson")); });
    EXPECT_NE(msg.find(expect), std::string::npos) << msg;
    EXPECT_NE(msg.find("t.geojson"), std::string::npos) << msg;
  };
  geo("[[[0,0],[1,0],[1,1],[0,1]]]", "FEATURE 2: TARGET \"A\": A RING IS NOT CLOSED");
  geo("[[[0,0],[1,0],[0,0]]]", "FEATURE 2: TARGET \"A\": A RING HAS FEWER THAN FOUR POSITIONS");
  geo("[[[0,0],[1,1],[1,0],[0,1],[0,0]]]", "FEATURE 2: TARGET \"A\": A RING CROSSES ITSELF");
  geo("[[[0,0],[1,0],[1,1],[0,0]]]", "FEATURE 2: DUPLICATE TARGET id \"OK\"", "\"OK\"");
  geo("[[[0,0],[1,0],[1,1e999],[0,0]]]", "LINE 3: A NUMBER IS NOT FINITE");
  geo("[[[0,0],[1,0],[1,1],[0,0]]]", "FEATURE 2: THE FEATURE HAS NO \"id\"", "null");
  dir.write("t.geojson", "{\"type\":\"FeatureCollection\",\n\"features\":[\n{\"type\":}]}");
  const std::string msg = error_text([&] { read_targets(dir.file("t.geojson")); });
  EXPECT_NE(msg.find("LINE 3: MALFORMED JSON"), std::string::npos) << msg;
}

// Polygons are checked as simple features: each invalid one names its feature and reason, the
// polar cap written as RFC 7946 asks reads as the CSV box, and the coverage of a polygon across
// +-180 equals that of the same box under either rule (reference: the box, whose coverage is
// the strip measure of the reports' own routine).
TEST(PlanTargets, PolygonsValidAsSimpleFeaturesAndTheCapAsItsBox) {
  ScratchDir dir;
  auto feature = [](const std::string& type, const std::string& coords) {
    return "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\","
           "\"properties\":{\"id\":\"T\"},\"geometry\":{\"type\":\"" +
           type + "\",\"coordinates\":" + coords + "}}]}";
  };
  const std::string sq = "[[0,0],[10,0],[10,10],[0,10],[0,0]]";
  const struct {
    const char* type;
    std::string coords, reason;
  } bad[] = {
      {"Polygon", "[" + sq + ",[[20,20],[21,20],[21,21],[20,21],[20,20]]]",
       "A HOLE LIES OUTSIDE ITS OUTER RING"},
      {"Polygon", "[" + sq + "," + sq + "]", "A RING CROSSES ITSELF OR ANOTHER RING"},
      {"MultiPolygon", "[[" + sq + "],[" + sq + "]]", "A RING CROSSES ITSELF OR ANOTHER RING"},
      {"MultiPolygon", "[[" + sq + "],[[[2,2],[3,2],[3,3],[2,3],[2,2]]]]",
       "TWO POLYGONS OF THE MultiPolygon OVERLAP"},
      {"Polygon", "[[[0,80],[90,80],[180,80],[-90,80],[0,80]]]", "A RING GOES AROUND A POLE"},
      {"Polygon", "[[[0,0],[2,2],[2,0],[0,2],[0,0]]]", "A RING CROSSES ITSELF OR ANOTHER RING"},
      {"MultiPolygon", "[]", "THE MultiPolygon HOLDS NO POLYGON"},
      {"Polygon", "[[[-180,80],[180,80],[180,90],[0,85],[-180,90],[-180,80]]]",
       "AN EDGE FROM -180 TO 180 IS TAKEN ONLY AS THE EDGE OF A BOX"},
  };
  for (const auto& b : bad) {
    dir.write("t.geojson", feature(b.type, b.coords));
    const std::string msg = error_text([&] { read_targets(dir.file("t.geojson")); });
    EXPECT_NE(msg.find("FEATURE 1: TARGET \"T\": " + b.reason), std::string::npos)
        << b.coords << "\n"
        << msg;
  }
  for (const auto& [coords, lat1, lat2] :
       {std::tuple{"[[[-180,80],[180,80],[180,90],[-180,90],[-180,80]]]", 80.0, 90.0},
        std::tuple{"[[[180,-90],[-180,-90],[-180,-75],[0,-75],[180,-75],[180,-90]]]", -90.0,
                   -75.0}}) {
    dir.write("t.geojson", feature("Polygon", coords));
    const auto t = read_targets(dir.file("t.geojson"));
    ASSERT_EQ(t.size(), 1U);
    ASSERT_TRUE(t[0].box.has_value()) << coords;
    EXPECT_EQ(t[0].box->lon1, -180.0);
    EXPECT_EQ(t[0].box->lon2, 180.0);
    EXPECT_EQ(t[0].box->lat1, lat1);
    EXPECT_EQ(t[0].box->lat2, lat2);
  }
}

TEST(PlanTargets, PolygonCoverageEqualsTheBoxesOnBothSidesOfTheAntimeridian) {
  // Boxes east of, across and west of 180 as CSV and as the same GeoJSON rectangles (edges
  // along parallels differ from great circles by well under the tolerance at this size).
  const double boxes[3][2] = {{175.0, 180.0}, {177.0, 182.0}, {-180.0, -175.0}};
  std::string csv = "id,name,lon1,lon2,lat1,lat2\n";
  std::string geo = "{\"type\":\"FeatureCollection\",\"features\":[";
  for (int i = 0; i < 3; ++i) {
    const double a = boxes[i][0], b = boxes[i][1];
    char row[256];
    std::snprintf(row, sizeof row, "B%d,,%g,%g,-19,-16\n", i, a, b);
    csv += row;
    const double bw = b > 180.0 ? b - 360.0 : b;
    std::snprintf(row, sizeof row,
                  "%s{\"type\":\"Feature\",\"properties\":{\"id\":\"B%d\"},\"geometry\":{"
                  "\"type\":\"Polygon\",\"coordinates\":[[[%g,-19],[%g,-19],[%g,-16],[%g,-16],"
                  "[%g,-19]]]}}",
                  i ? "," : "", i, a, bw, bw, a, a);
    geo += row;
  }
  geo += "]}";
  for (const char* rule : {"points", "swath"}) {
    ScratchDir dir;
    const Plan pb = make_plan(dir, "b.csv", csv, {kLandsat}, "2024-10-01T00:00:00",
                              "2024-10-11T00:00:00", rule);
    const Plan pp = make_plan(dir, "p.geojson", geo, {kLandsat}, "2024-10-01T00:00:00",
                              "2024-10-11T00:00:00", rule);
    const auto ob = plan_opportunities(pb, eop(), 0, 0, 3);
    const auto op = plan_opportunities(pp, eop(), 0, 0, 3);
    std::size_t matched = 0;
    for (const auto& b : ob) {
      for (const auto& p : op) {
        if (p.target != b.target ||
            std::fabs(since_epoch(p.contact.best_utc, b.contact.best_utc)) > 5.0)
          continue;
        ++matched;
        EXPECT_NEAR(p.coverage, b.coverage, 0.02) << rule << " target " << b.target;
      }
    }
    EXPECT_GE(matched, 12U) << rule;
  }
}

// What each kind of target takes for its coverage, under one swath from lon -1 to 1 (side 1
// west, side 2 east) moving north from lat -1 to 0.5: a box wholly under it all of its area, a
// box of no width (a meridian's segment from lat 0 to 1) half of its length, a box of one
// position and a point all, one of four points a quarter, a line along the equator from lon 0
// to 2 and a polygon over lon 0..2, lat 0..0.4 half; a contact of one step (an instant) covers
// no area.
TEST(PlanTargets, EachKindOfTargetTakesItsOwnShareOfTheSwath) {
  const std::vector<GroundPoint> side1 = {{-1.0, -1.0}, {-1.0, 0.5}},
                                 side2 = {{1.0, -1.0}, {1.0, 0.5}};
  auto box = [](double lon1, double lon2, double lat1, double lat2) {
    Target t;
    t.box = Box{lon1, lon2, lat1, lat2};
    t.centre = {(lon1 + lon2) / 2.0, (lat1 + lat2) / 2.0};
    return t;
  };
  EXPECT_NEAR(target_coverage(box(-0.5, 0.5, -0.5, 0.0), side1, side2), 1.0, 1e-9);
  EXPECT_EQ(target_coverage(box(-0.5, 0.5, -0.5, 0.0), {side1[0]}, {side2[0]}), 0.0);
  EXPECT_NEAR(target_coverage(box(0.0, 0.0, 0.0, 1.0), side1, side2), 0.5, 1e-3);
  EXPECT_EQ(target_coverage(box(0.3, 0.3, 0.2, 0.2), side1, side2), 1.0);
  Target point;
  point.points = {{0.0, 0.0}};
  EXPECT_EQ(target_coverage(point, side1, side2), 1.0);
  Target points;
  points.points = {{0.0, 0.0}, {5.0, 5.0}, {-5.0, -5.0}, {10.0, 0.0}};
  points.centre = {2.5, 0.0};
  EXPECT_NEAR(target_coverage(points, side1, side2), 0.25, 1e-12);
  Target line;
  line.lines = {{{0.0, 0.0}, {2.0, 0.0}}};
  line.centre = {1.0, 0.0};
  EXPECT_NEAR(target_coverage(line, side1, side2), 0.5, 1e-3);
  Target polygon;
  polygon.polygons = {{{{0.0, 0.0}, {2.0, 0.0}, {2.0, 0.4}, {0.0, 0.4}, {0.0, 0.0}}}};
  polygon.centre = {1.0, 0.2};
  EXPECT_NEAR(target_coverage(polygon, side1, side2), 0.5, 1e-3);
}

// Every input of every command must be a regular file: a pipe without a writer, a directory or
// an endless device is named at once (the commands are given 2 s; a wait or an endless read
// would be killed by `timeout`, status 124).
TEST(PlanInputs, EveryInputOfEveryCommandIsARegularFileNamedAtOnce) {
  namespace fs = std::filesystem;
  ScratchDir base;
  const std::string deck = "id,name,lon1,lon2,lat1,lat2\nA,,-48.3,-47.3,-16.1,-15.4\n";
  struct Slot {
    std::string command, file;  // the command (run in the directory) and the input replaced
  };
  const std::string orvus = std::string("'") + ORVUS_BINARY + "'";
  const std::string map = std::string("'") + ORVUS_MAP_BINARY + "'";
  const std::string plan = "'" + plan_binary() + "' plan.toml";
  const Slot slots[] = {
      {orvus, "ORVUS_IN.TXT"}, {orvus, "am.tle"},         {orvus, "finals2000A.data"},
      {map, "am.tle"},         {map, "finals2000A.data"}, {plan, "plan.toml"},
      {plan, "deck.csv"},      {plan, "am.tle"},          {plan, "finals2000A.data"}};
  int n = 0;
  for (const Slot& slot : slots) {
    for (const char* kind : {"fifo", "directory", "device"}) {
      const fs::path dir = base.path / std::to_string(n++);
      fs::create_directory(dir);
      fs::copy_file(data_path("tle/amazonia1_2025.tle"), dir / "am.tle");
      fs::copy_file(data_path("finals2000A.data"), dir / "finals2000A.data");
      std::ofstream(dir / "deck.csv") << deck;
      std::ofstream(dir / "ORVUS_IN.TXT")
          << "AMAZONIA 1\nX\n-3\n-48.3, -47.3, -16.1, -15.4\nam.tle\n0, 60\n"
             "31/07/2025 00:00:00.000000000\n31/07/2025 01:00:00.000000000\n60\n";
      std::ofstream(dir / "plan.toml") << plan_text("deck.csv", {kAmazonia}, "2025-07-31T00:00:00",
                                                    "2025-07-31T01:00:00", "points");
      {
        // The plan's paths are its directory's own.
        std::string t = test::read_file((dir / "plan.toml").string());
        for (const char* f : {"finals2000A.data", "tle/amazonia1_2025.tle"}) {
          const std::string from = data_path(f);
          t.replace(t.find(from), from.size(), std::string(f) == "finals2000A.data" ? f : "am.tle");
        }
        std::ofstream(dir / "plan.toml") << t;
      }
      const fs::path target = dir / slot.file;
      fs::remove(target);
      if (std::string(kind) == "fifo") {
        ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
      } else if (std::string(kind) == "directory") {
        fs::create_directory(target);
      } else {
        fs::create_symlink("/dev/zero", target);
      }
      const auto r = test::run_command("cd '" + dir.string() + "' && timeout 2 " + slot.command);
      const std::string what =
          std::string(kind) == "directory" ? "IS A DIRECTORY" : "IS NOT A REGULAR FILE";
      EXPECT_EQ(r.status, 1) << slot.command << " " << slot.file << " " << kind << "\n" << r.output;
      EXPECT_NE(r.output.find(slot.file + "\" " + what), std::string::npos)
          << slot.command << " " << slot.file << " " << kind << "\n"
          << r.output;
    }
  }
}

// Box coverage by the area of the intersection (Green's theorem along both boundaries)
// against Boost.Geometry's overlay on the same equal-area projection and outline: random
// swaths of two to six steps across random boxes, from the equator to 80 deg. The overlay
// rounds its crossing points to an integer grid (its robustness policy): agreement to 1e-6.
TEST(PlanTargets, BoxCoverageAgreesWithTheOverlayOfBoostGeometry) {
  namespace bgm = boost::geometry;
  using Pt = bgm::model::d2::point_xy<double>;
  using Poly = bgm::model::polygon<Pt>;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  const double rad = M_PI / 180.0;
  int partial = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const double w = 0.1 + 4.9 * u01(rng), h = 0.1 + 4.9 * u01(rng);
    const Box box{-170.0 + 330.0 * u01(rng), 0.0, -80.0 + 155.0 * u01(rng), 0.0};
    const Box b{box.lon1, box.lon1 + w, box.lat1, box.lat1 + h};
    // Lambert azimuthal equal-area about the box's centre, the box's sides in 64 pieces.
    const double lon0 = (b.lon1 + b.lon2) / 2.0, lat0 = (b.lat1 + b.lat2) / 2.0;
    auto proj = [&](double lon, double lat) {
      const double dl = (lon - lon0) * rad, sp = std::sin(lat * rad), cp = std::cos(lat * rad);
      const double k = std::sqrt(
          2.0 / (1.0 + std::sin(lat0 * rad) * sp + std::cos(lat0 * rad) * cp * std::cos(dl)));
      return Pt(k * cp * std::sin(dl),
                k * (std::cos(lat0 * rad) * sp - std::sin(lat0 * rad) * cp * std::cos(dl)));
    };
    Poly outline;
    for (int i = 0; i <= 64; ++i) outline.outer().push_back(proj(b.lon1 + w * i / 64, b.lat1));
    for (int i = 0; i <= 64; ++i) outline.outer().push_back(proj(b.lon2, b.lat1 + h * i / 64));
    for (int i = 0; i <= 64; ++i) outline.outer().push_back(proj(b.lon2 - w * i / 64, b.lat2));
    for (int i = 0; i <= 64; ++i) outline.outer().push_back(proj(b.lon1, b.lat2 - h * i / 64));
    bgm::correct(outline);
    // A strip across the box at a random place, width and heading.
    const int steps = 2 + static_cast<int>(4 * u01(rng));
    const double cx = lon0 + w * (u01(rng) - 0.5) * 1.5, cy = lat0 + h * (u01(rng) - 0.5) * 1.5;
    const double ang = M_PI * u01(rng), half = 0.05 + std::max(w, h) * u01(rng);
    const double len = std::max(w, h) * (0.2 + 2.0 * u01(rng));
    std::vector<GroundPoint> side1, side2;
    for (int k = 0; k < steps; ++k) {
      const double f = len * (k / (steps - 1.0) - 0.5), bend = 0.02 * len * u01(rng);
      const double x = cx + f * std::cos(ang) - bend * std::sin(ang);
      const double y = cy + f * std::sin(ang) + bend * std::cos(ang);
      side1.push_back({x - half * std::sin(ang), y + half * std::cos(ang)});
      side2.push_back({x + half * std::sin(ang), y - half * std::cos(ang)});
    }
    Poly swath;
    for (const auto& g : side1) swath.outer().push_back(proj(g.lon_deg, g.lat_deg));
    for (auto it = side2.rbegin(); it != side2.rend(); ++it)
      swath.outer().push_back(proj(it->lon_deg, it->lat_deg));
    bgm::correct(swath);
    if (!bgm::is_valid(swath)) continue;
    bgm::model::multi_polygon<Poly> both;
    bgm::intersection(swath, outline, both);
    const double expected = std::clamp(bgm::area(both) / bgm::area(outline), 0.0, 1.0);
    EXPECT_NEAR(box_coverage(b, side1, side2), expected, 1e-6) << "trial " << trial;
    partial += expected > 0.01 && expected < 0.99;
  }
  EXPECT_GT(partial, 100);
}

// ---- the swath rule in continuous time ------------------------------------------------------

using plan::V3;

// The abeam instants of a point by a second method: the library's propagator and exact frame
// (ERFA's GAST at every instant), the point's signed distance from the satellite's
// cross-track plane found by bisection, and its off-nadir angle then on the local sphere.
struct Abeam {
  double t;      // s from the start
  double alpha;  // deg, signed: + to the side of r x v
};
// The frame of one instant: radial, along-track (forward) and cross-track (r x v) unit vectors.
struct Frame {
  V3 up, n, u;
  double r;
};
Frame exact_frame(const Propagator& orbit, const UtcInstant& start, double t) {
  UtcInstant at{start.day, start.seconds + t};
  normalise(at.day, at.seconds);
  const StateVector ef = tod_to_earth_fixed(at, orbit.state_at(at), eop());
  Frame f;
  f.r = std::sqrt(ef[0] * ef[0] + ef[1] * ef[1] + ef[2] * ef[2]);
  f.up = {ef[0] / f.r, ef[1] / f.r, ef[2] / f.r};
  const V3 c = {ef[1] * ef[5] - ef[2] * ef[4], ef[2] * ef[3] - ef[0] * ef[5],
                ef[0] * ef[4] - ef[1] * ef[3]};
  const double cn = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
  f.u = {c[0] / cn, c[1] / cn, c[2] / cn};
  f.n = {f.u[1] * f.up[2] - f.u[2] * f.up[1], f.u[2] * f.up[0] - f.u[0] * f.up[2],
         f.u[0] * f.up[1] - f.u[1] * f.up[0]};
  return f;
}
double dot3(const V3& a, const V3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
// Every abeam instant of each place over [0, span] s: where its distance from the cross-track
// plane changes sign on the near side, found by bisection to 0.1 us.
std::vector<std::vector<Abeam>> abeam_instants(const Propagator& orbit, const UtcInstant& start,
                                               double span, const std::vector<V3>& places) {
  std::vector<std::vector<Abeam>> out(places.size());
  Frame prev = exact_frame(orbit, start, 0.0);
  for (double t = 20.0; t <= span; t += 20.0) {
    const Frame cur = exact_frame(orbit, start, t);
    for (std::size_t i = 0; i < places.size(); ++i) {
      const V3& q = places[i];
      if (!(dot3(prev.n, q) > 0.0 && dot3(cur.n, q) <= 0.0 && dot3(cur.up, q) > 0.5)) continue;
      double a = t - 20.0, b = t;
      for (int k = 0; k < 50 && b - a > 1e-7; ++k) {
        const double m = 0.5 * (a + b);
        (dot3(exact_frame(orbit, start, m).n, q) > 0.0 ? a : b) = m;
      }
      const Frame f = exact_frame(orbit, start, 0.5 * (a + b));
      const double R = local_radius(std::asin(f.up[2]));
      const V3 d = {R * q[0] - f.r * f.up[0], R * q[1] - f.r * f.up[1], R * q[2] - f.r * f.up[2]};
      const double across = dot3(d, f.u);
      out[i].push_back(
          {0.5 * (a + b), std::atan2(std::hypot(dot3(d, f.n), across), -dot3(d, f.up)) * 180.0 /
                              M_PI * (across < 0 ? -1.0 : 1.0)});
    }
    prev = cur;
  }
  return out;
}

TEST(PlanSwathContinuous, PointsAreSeenOnEveryPassTheAbeamMethodPutsInTheSwath) {
  // Amazonia 1 looking +-30 deg across the track over 20 places in Brazil for 12 days.
  std::mt19937 rng(22);
  std::uniform_real_distribution<double> lon(-70.0, -36.0), lat(-32.0, 4.0);
  std::string deck = "id,name,lon,lat\n";
  std::vector<GroundPoint> places;
  for (int i = 0; i < 20; ++i) {
    places.push_back({lon(rng), lat(rng)});
    char row[96];
    std::snprintf(row, sizeof row, "P%d,,%.6f,%.6f\n", i, places.back().lon_deg,
                  places.back().lat_deg);
    deck += row;
  }
  ScratchDir dir;
  const Plan plan = make_plan(dir, "p.csv", deck, {kAmazonia}, "2025-07-01T00:00:00",
                              "2025-07-13T00:00:00", "swath");
  const auto found = plan_opportunities(plan, eop(), 0, 0, plan.targets.size());
  const Propagator orbit(plan.satellites[0].elements);
  const double span = since_epoch(plan.interval.start, plan.interval.end);
  std::vector<V3> units;
  for (const GroundPoint& g : places) {
    const Vec3 c = from_geodetic({g.lon_deg * M_PI / 180.0, g.lat_deg * M_PI / 180.0, 0.0});
    const double cn = std::sqrt(dot3(c, c));
    units.push_back({c[0] / cn, c[1] / cn, c[2] / cn});
  }
  const auto abeam = abeam_instants(orbit, plan.interval.start, span, units);
  std::size_t inside = 0;
  for (std::size_t i = 0; i < places.size(); ++i) {
    const auto& passes = abeam[i];
    std::vector<const Opportunity*> mine;
    for (const auto& o : found)
      if (o.target == i) mine.push_back(&o);
    std::size_t matched = 0;
    for (const Abeam& p : passes) {
      const Opportunity* hit = nullptr;
      for (const Opportunity* o : mine)
        if (std::fabs(since_epoch(plan.interval.start, o->contact.best_utc) - p.t) < 1.0) hit = o;
      if (std::fabs(p.alpha) < 30.0 - 0.01) {
        ++inside;
        ASSERT_NE(hit, nullptr) << "place " << i << " abeam at " << p.t << " s, " << p.alpha;
        EXPECT_NEAR(since_epoch(plan.interval.start, hit->contact.best_utc), p.t, 1e-3);
        EXPECT_NEAR(hit->contact.best_alpha_deg, p.alpha, 1e-4);
        EXPECT_EQ(hit->contact.duration_s, 0.0);
        ++matched;
      } else if (std::fabs(p.alpha) > 30.0 + 0.01) {
        EXPECT_EQ(hit, nullptr) << "place " << i << " abeam at " << p.t << " s, " << p.alpha;
      } else if (hit != nullptr) {
        ++matched;
      }
    }
    EXPECT_EQ(matched, mine.size()) << "place " << i << ": a contact no abeam instant explains";
  }
  EXPECT_GT(inside, 100U);
}

// The step is the search's granularity, not the answer's resolution: steps of 1, 10 and 30 s
// give the same contacts (times within 1 ms); a box of no width is the box 1e-7 deg wide.
TEST(PlanSwathContinuous, TheStepDoesNotChangeTheContacts) {
  std::string csv = "id,name,lon1,lon2,lat1,lat2\n";
  for (int i = 0; i < 20; ++i) {
    const double l = -60.0 + 1.37 * i;
    char row[160];
    std::snprintf(row, sizeof row, "Z%d,,%.6f,%.6f,-16.1,-15.4\nW%d,,%.6f,%.7f,-16.1,-15.4\n", i, l,
                  l, i, l, l + 1e-7);
    csv += row;
  }
  csv += "B,,-48.3,-47.3,-16.1,-15.4\nP,,-47.9,-47.9,-15.8,-15.8\n";
  std::vector<std::vector<Opportunity>> runs;
  for (const double step : {1.0, 10.0, 30.0}) {
    ScratchDir dir;
    const Plan plan = make_plan(dir, "d.csv", csv, {kAmazonia, kLandsat}, "2025-07-01T00:00:00",
                                "2025-07-06T00:00:00", "swath");
    Plan p = plan;
    p.interval.step_s = step;
    runs.push_back(run_plan(p, eop()));
  }
  ASSERT_GT(runs[0].size(), 100U);
  for (std::size_t r = 1; r < runs.size(); ++r) {
    ASSERT_EQ(runs[r].size(), runs[0].size()) << "run " << r;
    for (std::size_t i = 0; i < runs[0].size(); ++i) {
      const Contact& a = runs[0][i].contact;
      const Contact& b = runs[r][i].contact;
      EXPECT_EQ(runs[r][i].target, runs[0][i].target);
      EXPECT_NEAR(since_epoch(a.start_utc, b.start_utc), 0.0, 1e-3);
      EXPECT_NEAR(since_epoch(a.end_utc, b.end_utc), 0.0, 1e-3);
      EXPECT_NEAR(since_epoch(a.best_utc, b.best_utc), 0.0, 1e-3);
      EXPECT_EQ(a.pass, b.pass);
    }
  }
  // Each box of no width against its twin 1e-7 deg wide (targets 2i and 2i + 1).
  std::size_t pairs = 0;
  for (const auto& o : runs[0]) {
    if (o.target >= 40 || o.target % 2 != 0) continue;
    bool twin = false;
    for (const auto& w : runs[0]) {
      if (w.target == o.target + 1 && w.satellite == o.satellite &&
          std::fabs(since_epoch(o.contact.start_utc, w.contact.start_utc)) < 1e-3 &&
          std::fabs(since_epoch(o.contact.end_utc, w.contact.end_utc)) < 1e-3)
        twin = true;
    }
    EXPECT_TRUE(twin) << "target " << o.target;
    ++pairs;
  }
  EXPECT_GT(pairs, 40U);
}

// The bound behind the search: on steps of up to 60 s no event function strays from the chord
// between its two values by more than kEventCurvature h^2 / 8, for low orbits and views from
// nadir to 40 deg; and the line's frame is the exact step's within 1e-9 rad.
TEST(PlanSwathContinuous, EventFunctionsStayWithinTheStatedCurvature) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  double worst = 0.0, frame = 0.0;
  for (const Sat& s : {kAmazonia, kLandsat}) {
    const Propagator orbit(read_elements(data_path("tle/" + s.tle)));
    for (int trial = 0; trial < 40; ++trial) {
      SearchParams p;
      const double alpha = -40.0 + 80.0 * u01(rng),
                   beta = 2.0 * (40.0 - std::fabs(alpha)) * u01(rng);
      const UtcInstant epoch = orbit.elements().epoch;
      search_setup(Sensor{alpha, beta}, Box{-180, 180, -90, 90},
                   Interval{epoch, UtcInstant{epoch.day + 2.0, epoch.seconds}, 1.0, 0.0}, p);
      const plan::LineModel model(p, orbit, detail::eop_rows(eop()));
      const double t0 = 86400.0 * u01(rng), h = 60.0;
      const plan::SensorLine a = model.at(t0), b = model.at(t0 + h);
      const V3 q = a.pt[0];  // a direction near the track
      auto families = [&](const plan::SensorLine& l) {
        return std::array<double, 4>{l.n[0] * q[0] + l.n[1] * q[1] + l.n[2] * q[2],
                                     l.pt[1][0] * 0.6 + l.pt[1][1] * 0.8, l.pt[2][2],
                                     l.n[0] * l.n[0] + l.n[1] * l.n[1]};
      };
      const auto fa = families(a), fb = families(b);
      for (int k = 1; k < 20; ++k) {
        const double x = k / 20.0;
        const auto f = families(model.at(t0 + x * h));
        for (int i = 0; i < 4; ++i) {
          const double chord = fa[i] + (fb[i] - fa[i]) * x;
          worst = std::max(worst, std::fabs(f[i] - chord) / (x * (1 - x) * h * h / 2.0));
        }
      }
      // The exact step's tracking points at the same instant.
      StepData sd;
      compute_step(p, orbit, detail::eop_rows(eop()), a.utc.day, a.utc.seconds, sd);
      for (int i = 1; i < 3; ++i) {
        const V3 e = plan::unit(sd.pt[2 * i], sd.pt[2 * i + 1]);
        frame = std::max(frame, std::hypot(e[0] - a.pt[i][0], e[1] - a.pt[i][1],
                                           e[2] - a.pt[i][2]));  // chord, rad
      }
    }
  }
  EXPECT_LT(worst, plan::kEventCurvature);
  EXPECT_GT(worst, plan::kEventCurvature / 100.0);  // the bound is not vacuous
  EXPECT_LT(frame, 1e-9);
}

// ---- the plan kept ready for many searches -------------------------------------------------

// The element set of `tle` (name and two lines) with its mean anomaly moved by half a turn:
// another satellite on the same orbit, its checksum made again (digits, '-' as 1, mod 10).
std::string moved_set(const std::string& tle) {
  std::istringstream in(tle);
  std::string name, l1, l2;
  std::getline(in, name);
  std::getline(in, l1);
  std::getline(in, l2);
  char anomaly[16];
  std::snprintf(anomaly, sizeof anomaly, "%8.4f",
                std::fmod(std::stod(l2.substr(43, 8)) + 180.0, 360.0));
  l2 = l2.substr(0, 43) + anomaly + l2.substr(51, 17);
  int sum = 0;
  for (const char c : l2) sum += c == '-' ? 1 : (c >= '0' && c <= '9' ? c - '0' : 0);
  return name + "\n" + l1 + "\n" + l2 + std::to_string(sum % 10) + "\n";
}

TEST(PlanModelSearch, EverySearchGivesWhatRunPlannerGivesForItsPlan) {
  ScratchDir dir;
  dir.write("a.tle", test::read_file(data_path("tle/amazonia1_2025.tle")));
  const std::string deck =
      R"({"type":"FeatureCollection","features":[)"
      R"({"type":"Feature","properties":{"id":"BSB"},"geometry":{"type":"Polygon",)"
      R"("coordinates":[[[-48.3,-16.1],[-47.3,-16.1],[-47.3,-15.4],[-48.3,-15.4],[-48.3,-16.1]]]}},)"
      R"({"type":"Feature","properties":{"id":"DAM"},"geometry":{"type":"Point",)"
      R"("coordinates":[-54.59,-25.41]}},)"
      R"({"type":"Feature","properties":{"id":"ROAD"},"geometry":{"type":"LineString",)"
      R"("coordinates":[[-60.0,-3.1],[-59.0,-4.0]]}}]})";
  dir.write("deck.geojson", deck);
  std::string text =
      plan_text("deck.geojson", {kAmazonia, kLandsat}, "2025-07-25T00:00:00", "2025-07-26T00:00:00",
                "swath", "\n[constraints]\nmin_sun_elevation_deg = -30\n");
  text.replace(text.find(data_path("tle/amazonia1_2025.tle")),
               data_path("tle/amazonia1_2025.tle").size(), dir.file("a.tle"));
  dir.write("plan.toml", text);
  const Plan plan = load_plan(dir.file("plan.toml"));
  PlanModel model(plan, std::make_shared<const EarthOrientation>(eop()));
  EXPECT_TRUE(model.plan().targets.empty());

  // The plan with another interval and some of its satellites, run whole.
  const auto expected = [&](const Plan& base, const UtcInstant& start, double seconds,
                            const std::vector<std::size_t>& sats) {
    Plan p = base;
    p.interval.start = start;
    p.interval.end = after(start, seconds);
    p.satellites.clear();
    for (const std::size_t s : sats) p.satellites.push_back(base.satellites[s]);
    PlanSteps steps;
    steps.coverage = steps.passes = steps.schedule = false;
    std::vector<Opportunity> run = run_planner(p, eop(), nullptr, steps).opportunities;
    for (Opportunity& o : run) o.satellite = sats[o.satellite];
    return serialize_opportunities(run);
  };
  const UtcInstant t0 = plan.interval.start;
  struct Search {
    UtcInstant start;
    double seconds;
    std::vector<std::size_t> sats;
  };
  // Whole days, a start off the second, a short search inside an earlier one, one satellite.
  const std::vector<Search> searches = {{t0, 86400.0, {0, 1}},
                                        {after(t0, 3600.25), 1.5 * 86400.0, {0, 1}},
                                        {after(t0, 7200.0), 6 * 3600.0, {0, 1}},
                                        {t0, 86400.0, {1}}};
  std::size_t found = 0;
  for (const Search& s : searches) {
    const std::vector<Opportunity> got =
        model.opportunities(plan.targets, s.start, after(s.start, s.seconds),
                            s.sats.size() == 2 ? std::vector<std::size_t>{} : s.sats);
    found += got.size();
    EXPECT_EQ(serialize_opportunities(got), expected(plan, s.start, s.seconds, s.sats))
        << s.start.seconds << " " << s.seconds;
  }
  EXPECT_GT(found, 5U);
  // At once on several threads, as a service searches.
  {
    std::vector<std::string> got(4);
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < got.size(); ++k) {
      threads.emplace_back([&, k] {
        got[k] = serialize_opportunities(
            model.opportunities(plan.targets, searches[k].start,
                                after(searches[k].start, searches[k].seconds), searches[k].sats));
      });
    }
    for (auto& t : threads) t.join();
    for (std::size_t k = 0; k < got.size(); ++k)
      EXPECT_EQ(got[k], expected(plan, searches[k].start, searches[k].seconds, searches[k].sats));
  }
  EXPECT_THROW(model.opportunities(plan.targets, after(t0, 10.0), t0), Error);
  EXPECT_THROW(model.opportunities(plan.targets, t0, after(t0, 10.0), {2}), Error);

  // An element file changed on disk is read again; a broken one leaves the sets as they were.
  EXPECT_FALSE(model.reload_elements());
  const std::string moved = moved_set(test::read_file(data_path("tle/amazonia1_2025.tle")));
  dir.write("a.tle", moved + "\n");  // one byte more: another size whatever the clock
  ASSERT_TRUE(model.reload_elements());
  const Plan reloaded = load_plan(dir.file("plan.toml"));
  const std::string after_change = expected(reloaded, t0, 86400.0, {0, 1});
  EXPECT_NE(after_change, expected(plan, t0, 86400.0, {0, 1}));
  EXPECT_EQ(serialize_opportunities(model.opportunities(plan.targets, t0, after(t0, 86400.0))),
            after_change);
  dir.write("a.tle", "not an element set\n");
  EXPECT_THROW(model.reload_elements(), Error);
  EXPECT_EQ(serialize_opportunities(model.opportunities(plan.targets, t0, after(t0, 86400.0))),
            after_change);
}

}  // namespace
}  // namespace orvus
