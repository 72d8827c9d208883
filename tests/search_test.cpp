// The screened search against the plain search: the screening's bounds, identical reports
// and console on randomised scenarios with 1, 2 and 4 threads, and identical contacts where
// the screening has no width to spare (a single line of sight at nadir, tiny boxes on the
// track).
#include "core/search/search.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "core/elements/two_line_file.hpp"
#include "core/orbit/model.hpp"
#include "core/search/step_workers.hpp"
#include "core/sweep/sweep.hpp"
#include "core/time/time_text.hpp"
#include "orvus/frames.hpp"
#include "orvus/geometry.hpp"
#include "orvus/search.hpp"
#include "orvus/threads.hpp"
#include "orvus/version.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::read_lines;
using test::ScratchDir;

constexpr double kRad = M_PI / 180.0;

double sphere_distance(double lon1, double lat1, double lon2, double lat2) {
  const double a = std::sin((lat2 - lat1) / 2), b = std::sin((lon2 - lon1) / 2);
  return 2 * std::asin(std::sqrt(std::min(1.0, a * a + std::cos(lat1) * std::cos(lat2) * b * b)));
}

const Propagator& landsat8() {
  static const Propagator orbit(read_two_line_file(data_path("tle/landsat8_2024.tle")));
  return orbit;
}

TEST(Screen, BoxDistanceIsALowerBoundOnTheSphere) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < 3000; ++i) {
    // Boxes anywhere: near the poles, across the whole longitude range, at +-180.
    SearchParams p;
    const double lat_c = -90 + 180 * u(rng), lon_c = -180 + 360 * u(rng);
    const double half_lat = (i % 5 == 0 ? 20 : 3) * u(rng),
                 half_lon = (i % 7 == 0 ? 180 : 10) * u(rng);
    p.gc_lat1 = lat_c - half_lat;
    p.gc_lat2 = lat_c + half_lat;
    p.gc_lon1 = lon_c - half_lon;
    p.gc_lon2 = lon_c + half_lon;
    Screen s;
    init_screen(p, landsat8(), s);
    if (s.all_out) continue;
    const double lon = (-180 + 360 * u(rng)) * kRad, lat = (-90 + 180 * u(rng)) * kRad;
    const double bound = box_distance_bound(s, lon, lat);
    // The true distance: the smallest over a fine sampling of the box as the points can
    // reach it.
    double best = 1e9;
    for (int a = 0; a <= 60; ++a) {
      for (int b = 0; b <= 60; ++b) {
        const double qlon = s.lon1 + (s.lon2 - s.lon1) * a / 60.0;
        const double qlat = s.lat1 + (s.lat2 - s.lat1) * b / 60.0;
        best = std::min(best, sphere_distance(lon, lat, qlon, qlat));
      }
    }
    ASSERT_LE(bound, best + 1e-12) << i;
    // And it is not uselessly small: within the sampling step of the true distance when
    // the box is narrow in longitude.
    if (half_lon < 5 && std::fabs(lat) < 60 * kRad && std::fabs(lat_c) < 60) {
      EXPECT_GT(bound, best * 0.5 - 0.02) << i;
    }
  }
  // A box whose longitudes are swapped holds nothing.
  SearchParams p;
  p.gc_lon1 = 10;
  p.gc_lon2 = -10;
  p.gc_lat1 = -5;
  p.gc_lat2 = 5;
  Screen s;
  init_screen(p, landsat8(), s);
  EXPECT_TRUE(s.all_out);
}

struct Loaded {
  Propagator orbit;
  EopRows table;
  explicit Loaded(const std::string& tle) : orbit(read_two_line_file(data_path("tle/" + tle))) {
    load_eop_file(table, data_path("finals2000A.data"));
  }
};

TEST(Screen, StepsProvenOutAreOut) {
  const Loaded l("landsat8_2024.tle");
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  long proven = 0;
  for (int i = 0; i < 400; ++i) {
    SearchParams p;
    p.gc_lat1 = -80 + 150 * u(rng);
    p.gc_lat2 = p.gc_lat1 + 10 * u(rng);
    p.gc_lon1 = -180 + 340 * u(rng);
    p.gc_lon2 = p.gc_lon1 + 20 * u(rng);
    p.alpha0 = -40 + 80 * u(rng);
    const double beta = 30 * u(rng);
    p.alpha1 = p.alpha0 - beta / 2;
    p.alpha2 = p.alpha0 + beta / 2;
    p.step = 1 + 59 * u(rng);
    p.utc_diff = 0;
    // The sweep's screening of the box as its one target.
    SearchParams whole = p;
    whole.gc_lon1 = -180, whole.gc_lon2 = 180, whole.gc_lat1 = -90, whole.gc_lat2 = 90;
    Screen s;
    init_screen(whole, l.orbit, s);
    ASSERT_TRUE(s.enabled);
    const plan::TargetIndex index =
        plan::index_prepared({plan::prepare_box(p)}, s, plan::FrameGap{});
    double day = l.orbit.elements().epoch.day + std::floor(5 * u(rng));
    double sec = 86000 * u(rng);
    plan::CheapState cs;
    if (!plan::cheap_point(l.orbit, s, day, sec, cs)) continue;
    std::vector<plan::Entry> hits;
    const double out_for = plan::screen_instant(index, s, p, cs, false, {}, hits);
    if (out_for < 0.0) continue;
    // Every step of the proven span, computed exactly, is out of the box.
    const long k = static_cast<long>(std::floor(out_for / p.step));
    for (long j = 0; j <= std::min(k, 300L); ++j) {
      StepData d;
      compute_step(p, l.orbit, l.table, day, sec, d);
      ASSERT_FALSE(d.any_in) << i << " step " << j << " of " << k;
      advance_step(p, day, sec);
      ++proven;
    }
  }
  EXPECT_GT(proven, 1000);
}

// --- Identity of the reports on randomised scenarios ---

// The program's input file and first report, in the working directory of a run.
constexpr const char* kInputFile = "ORVUS_IN.TXT";
constexpr const char* kOut1File = "ORVUS_v" ORVUS_VERSION "_OUT1.TXT";

std::string text(double day, double sec) {
  DateText t{};
  write_date_text(day, sec, t);
  return std::string(text_view(t));
}

struct Totals {
  int scenarios = 0, with_contacts = 0, stopped = 0;
};

// Scenario `index` of a seeded series: random element set, box, angles, step, interval and
// time difference; some with a day missing from the Earth-orientation table.
void run_scenario(int index, Totals& totals) {
  std::mt19937_64 rng(1000 + static_cast<unsigned>(index));
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const bool amazonia = u(rng) < 0.5;
  const std::string tle = amazonia ? "amazonia1_2025.tle" : "landsat8_2024.tle";
  const double epoch_day = amazonia ? 27598.0 : 27307.0;

  ScratchDir dir;
  std::filesystem::copy_file(data_path("tle/" + tle), dir.path / tle);
  const double start_day = epoch_day - 3 + std::floor(7 * u(rng));
  const double start_sec = std::floor(86400 * u(rng) * 1000) / 1000;
  const double length = 3 * 86400 * u(rng) * u(rng);
  const double step = std::round((1 + 59 * u(rng)) * 10) / 10;
  const double utc_diff = std::round((-12 + 26 * u(rng)) * 2) / 2;

  // The Earth-orientation file: the real one, or one cut short or with a day taken out.
  const double kind = u(rng);
  if (kind < 0.85) {
    std::filesystem::create_symlink(data_path("finals2000A.data"), dir.path / "finals2000A.data");
  } else {
    const auto real = read_lines(data_path("finals2000A.data"));
    const double missing_mjd = start_day + 33282 + std::floor(length / 86400 * u(rng));
    std::string out;
    for (const auto& line : real) {
      const double mjd = std::atof(line.substr(7, 8).c_str());
      if (kind < 0.93 && mjd >= missing_mjd) break;      // the file ends there
      if (kind >= 0.93 && mjd == missing_mjd) continue;  // that day is missing
      out += line + "\n";
    }
    dir.write("finals2000A.data", out);
  }

  // Boxes anywhere, near the poles and across +-180 included.
  const double lat_c = -88 + 176 * u(rng);
  const double lon_c = -180 + 360 * u(rng);
  const double half_lat = 0.1 + (u(rng) < 0.2 ? 15 : 4) * u(rng);
  const double half_lon = 0.1 + (u(rng) < 0.2 ? 120 : 8) * u(rng);
  const double alpha = -40 + 80 * u(rng);
  const double beta = u(rng) < 0.15 ? 0.0 : 40 * u(rng);
  char box[200], angles[100], steps[50], diff[50];
  std::snprintf(box, sizeof box, "%.4f, %.4f, %.4f, %.4f", lon_c - half_lon, lon_c + half_lon,
                lat_c - half_lat, lat_c + half_lat);
  std::snprintf(angles, sizeof angles, "%.3f, %.3f", alpha, beta);
  std::snprintf(steps, sizeof steps, "%.1f", step);
  std::snprintf(diff, sizeof diff, "%.1f", utc_diff);
  double end_day = start_day, end_sec = start_sec + length;
  while (end_sec > 86400) {
    end_day += 1;
    end_sec -= 86400;
  }
  // Local texts of the UTC interval.
  double ls_day = start_day, ls_sec = start_sec + utc_diff * 3600;
  normalise(ls_day, ls_sec);
  double le_day = end_day, le_sec = end_sec + utc_diff * 3600;
  normalise(le_day, le_sec);
  dir.write(kInputFile, "SAT\nTARGET\n" + std::string(diff) + "\n" + box + "\n" + tle + "\n" +
                            angles + "\n" + text(ls_day, ls_sec) + "\n" + text(le_day, le_sec) +
                            "\n" + steps + "\n");

  const auto plain = test::run_orvus(dir.path, "ORVUS_SEARCH=plain");
  const std::string expected = test::comparable_output(dir.path, plain);
  for (int threads : {1, 2, 4}) {
    const auto screened = test::run_orvus(dir.path, "ORVUS_THREADS=" + std::to_string(threads));
    ASSERT_EQ(test::comparable_output(dir.path, screened), expected)
        << "scenario " << index << ", " << threads << " thread(s)\n"
        << test::read_file(dir.file(kInputFile));
  }
  ++totals.scenarios;
  if (read_lines(dir.file(kOut1File)).size() > 17) ++totals.with_contacts;
  if (plain.status != 0) ++totals.stopped;
}

class ScreenedEqualsPlain : public testing::TestWithParam<int> {};

TEST_P(ScreenedEqualsPlain, RandomScenarios) {
  Totals totals;
  const int first = GetParam() * 55;
  for (int i = first; i < first + 55; ++i) run_scenario(i, totals);
  std::printf("%d scenarios: %d with contacts, %d stopped on the Earth-orientation table\n",
              totals.scenarios, totals.with_contacts, totals.stopped);
  EXPECT_EQ(totals.scenarios, 55);
  EXPECT_GE(totals.with_contacts, 5);
}

INSTANTIATE_TEST_SUITE_P(Series, ScreenedEqualsPlain, testing::Values(0, 1, 2, 3));

// At ALPHA = 0 and BETA = 0 the three tracking points are the sub-satellite point: nothing
// of the screening's bound on how far the points lie from it is left to absorb an error,
// only the margin between the cheap and the exact frame. Boxes of 4 m to 5 km around the
// sub-satellite point of one step, holding it or just missing it, each searched over two
// hours around that step: the screened search finds exactly the plain search's contacts,
// with 1 and 2 threads.
TEST(Screen, NadirLineOfSightOverTinyBoxesOnTheTrackFindsThePlainContacts) {
  const EarthOrientation eop = EarthOrientation::load(data_path("finals2000A.data"));
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double one_minus_e2 = 0.9933056020041341;  // the geodetic ellipsoid's 1 - e^2
  int with_contacts = 0, contacts = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string tle = i % 2 == 0 ? "landsat8_2024.tle" : "amazonia1_2025.tle";
    const Satellite sat{Propagator(read_two_line_file(data_path("tle/" + tle))), Sensor{0.0, 0.0}};
    UtcInstant t = sat.orbit.elements().epoch;
    t.day += std::floor(3 * u(rng));
    t.seconds = std::floor(3600 + 79200 * u(rng));  // a step of the interval below
    // The sub-satellite point then, geocentric, and the geodetic latitude of the surface
    // point below it (tan geodetic = tan geocentric / (1 - e^2)).
    const StateVector ef = tod_to_earth_fixed(t, sat.orbit.state_at(t), eop);
    const GroundPoint g = ground_point(ef, 6378137.0, 0.0);
    const double lat = std::atan(std::tan(g.lat_deg * kRad) / one_minus_e2) / kRad;
    const double size = 4e-5 + 0.045 * u(rng) * u(rng);
    const double lon_c = g.lon_deg + size * (1.5 * u(rng) - 0.75);
    const double lat_c = lat + size * (1.5 * u(rng) - 0.75);
    const Box box{lon_c - size / 2, lon_c + size / 2, lat_c - size / 2, lat_c + size / 2};
    Interval interval{{t.day, t.seconds - 3600}, {t.day, t.seconds + 3600}, 1.0, 0.0};
    interval.step_s = i % 3 == 0 ? 0.5 : 1.0;
    const auto plain = find_contacts(sat, box, interval, eop, {SearchMethod::plain, 1, {}});
    for (const int threads : {1, 2}) {
      const auto screened =
          find_contacts(sat, box, interval, eop, {SearchMethod::screened, threads, {}});
      ASSERT_EQ(screened.size(), plain.size()) << "box " << i << ", " << threads << " thread(s)";
      for (std::size_t k = 0; k < plain.size(); ++k) {
        const Contact& a = plain[k];
        const Contact& b = screened[k];
        EXPECT_TRUE(a.closed == b.closed && a.start_utc.day == b.start_utc.day &&
                    a.start_utc.seconds == b.start_utc.seconds &&
                    a.end_utc.seconds == b.end_utc.seconds && a.steps.size() == b.steps.size() &&
                    a.best_alpha_deg == b.best_alpha_deg && a.pass == b.pass)
            << "box " << i << ", contact " << k << ", " << threads << " thread(s)";
      }
    }
    with_contacts += plain.empty() ? 0 : 1;
    contacts += static_cast<int>(plain.size());
  }
  std::printf("nadir, zero width: %d of 40 tiny boxes seen, %d contacts\n", with_contacts,
              contacts);
  EXPECT_GE(with_contacts, 8);   // about 4 in 9 hold the point
  EXPECT_LE(with_contacts, 32);  // and the others just miss it
}

}  // namespace
}  // namespace orvus

// A job that raises on any thread (a report that cannot be written) reaches the caller once
// every job is done, instead of ending the process from a helper thread.
TEST(StepWorkersTest, AJobsErrorReachesTheCallerAfterTheOthers) {
  orvus::StepWorkers workers(3);
  for (const std::size_t bad : {std::size_t{0}, std::size_t{37}, std::size_t{99}}) {
    std::atomic<std::size_t> ran{0};
    EXPECT_THROW(workers.for_each(
                     100,
                     [&](std::size_t i) {
                       ++ran;
                       if (i == bad) throw std::runtime_error("cannot write");
                     },
                     true),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 100U);
  }
  std::atomic<std::size_t> sum{0};
  workers.for_each(
      10, [&](std::size_t i) { sum += i; }, true);  // still usable afterwards
  EXPECT_EQ(sum.load(), 45U);
  // The library's pool over any thread count: every index once, or the job's error.
  for (const int threads : {1, 2, 5}) {
    std::vector<std::atomic<int>> seen(1000);
    orvus::parallel_for(
        1000, [&](std::size_t i) { ++seen[i]; }, threads);
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& v) { return v == 1; }));
    EXPECT_THROW(orvus::parallel_for(
                     1000,
                     [](std::size_t i) {
                       if (i == 500) throw std::runtime_error("x");
                     },
                     threads),
                 std::runtime_error);
  }
}
