// Per-call costs of the hot routines and the cost of a whole day of contact search at 1 s
// steps on the real Earth-orientation file and element sets.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/coords.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/orbit/model.hpp"
#include "core/time/eop.hpp"
#include "core/time/time_text.hpp"
#include "legacy/routines.hpp"
#include "legacy/run.hpp"
#include "orvus/plan.hpp"

namespace {

using namespace orvus;

const std::string kData = ORVUS_TEST_DATA;

struct Fixture {
  Propagator orbit{read_elements(kData + "/tle/landsat8_2024.tle")};
  EopRows table;
  Fixture() { load_eop_file(table, kData + "/finals2000A.data"); }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_Sgp8Propagate(benchmark::State& state) {
  const Fixture& f = fixture();
  StateVector st{};
  double t = 0.0;
  for (auto _ : state) {
    st = f.orbit.state_at(t);
    benchmark::DoNotOptimize(st);
    t += 1.0;
  }
}
BENCHMARK(BM_Sgp8Propagate);

// The indexed lookup, at the start, the middle and the end of the table.
void BM_LocateEop(benchmark::State& state) {
  const Fixture& f = fixture();
  const double date =
      f.table.mjd[static_cast<std::size_t>(state.range(0)) * (f.table.mjd.size() - 1) / 2] + 0.3;
  double xp = 0, yp = 0, dut1 = 0;
  for (auto _ : state) {
    locate_eop(date, f.table, xp, yp, dut1);
    benchmark::DoNotOptimize(xp);
  }
}
BENCHMARK(BM_LocateEop)->Arg(0)->Arg(1)->Arg(2);

// The plain first-match scan over the same rows, for comparison.
void BM_IersPlainScan(benchmark::State& state) {
  const Fixture& f = fixture();
  const double date =
      f.table.mjd[static_cast<std::size_t>(state.range(0)) * (f.table.mjd.size() - 1) / 2] + 0.3;
  std::size_t row = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(scan_eop_rows(date, f.table, row));
  }
}
BENCHMARK(BM_IersPlainScan)->Arg(0)->Arg(1)->Arg(2);

void BM_TodToEf(benchmark::State& state) {
  const Fixture& f = fixture();
  const StateVector tod = {4.0e6, -5.0e6, 3.0e6, 1000.0, 5000.0, -4000.0};
  StateVector ef{};
  double frac = 0.1;
  for (auto _ : state) {
    tod_to_ef(27308.0 + constants::mjd1950_to_jd, frac, tod, ef, f.table);
    benchmark::DoNotOptimize(ef);
    frac = frac < 0.9 ? frac + 1e-5 : 0.1;
  }
}
BENCHMARK(BM_TodToEf);

void BM_CartesianToGeodetic(benchmark::State& state) {
  Vec3 p = {4.0e6, -3.0e6, 3.5e6};
  Vec3 g{};
  for (auto _ : state) {
    cartesian_to_geodetic(p, g);
    benchmark::DoNotOptimize(g);
    p[2] += 1.0;
  }
}
BENCHMARK(BM_CartesianToGeodetic);

void BM_OffNadirPoint(benchmark::State& state) {
  const Vec6 s = {4.2e6, -3.1e6, 4.3e6, 4000.0, 5500.0, -100.0};
  const double radius = 6.37e6;
  Vec3 nadir{}, normal{};
  double h = 0, lon = 0, lat = 0, alpha = 10.0;
  nadir_frame(s, {}, radius, nadir, normal, h);
  for (auto _ : state) {
    off_nadir_point(s, {}, radius, nadir, normal, h, alpha, lon, lat);
    benchmark::DoNotOptimize(lon);
    alpha = alpha < 40.0 ? alpha + 1e-3 : 10.0;
  }
}
BENCHMARK(BM_OffNadirPoint);

// One day at 1 s steps: the whole search, and its propagation and frame parts alone.
constexpr double kSteps = 86400.0;

void BM_SearchDay(benchmark::State& state) {
  const Fixture& f = fixture();
  const Propagator& orbit = f.orbit;
  SearchParams p;
  p.utc_diff = -3.0;
  p.lon1 = -75.0;
  p.lon2 = -30.0;
  p.lat1 = -35.0;
  p.lat2 = 5.0;
  p.alpha = 10.0;
  p.beta = 20.0;
  derive_search_values(p);
  p.step = 1.0;
  p.start_day = 27308.0;
  p.start_sec = 0.0;
  p.end_day = 27308.0;
  p.end_sec = 86399.0;
  for (auto _ : state) {
    ReportFiles files;
    files.out1.reset(std::fopen("/dev/null", "w"));
    files.out2.reset(std::fopen("/dev/null", "w"));
    files.out3.reset(std::fopen("/dev/null", "w"));
    ReportSink sink(files);
    contact_search(p, orbit, f.table, sink);
  }
  state.counters["per_step"] = benchmark::Counter(
      kSteps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SearchDay)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_SearchDayPropagationOnly(benchmark::State& state) {
  const Fixture& f = fixture();
  StateVector st{};
  for (auto _ : state) {
    for (double s = 0; s < kSteps; s += 1.0) {
      st = f.orbit.state_at(since_epoch(f.orbit.elements().epoch, 27308.0, s));
      benchmark::DoNotOptimize(st);
    }
  }
  state.counters["per_step"] = benchmark::Counter(
      kSteps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SearchDayPropagationOnly)->Unit(benchmark::kMillisecond);

void BM_SearchDayFrameOnly(benchmark::State& state) {
  const Fixture& f = fixture();
  const StateVector tod = {4.0e6, -5.0e6, 3.0e6, 1000.0, 5000.0, -4000.0};
  StateVector ef{};
  for (auto _ : state) {
    for (double s = 0; s < kSteps; s += 1.0) {
      tod_to_ef(27308.0 + constants::mjd1950_to_jd, s / 86400.0, tod, ef, f.table);
      benchmark::DoNotOptimize(ef);
    }
  }
  state.counters["per_step"] = benchmark::Counter(
      kSteps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SearchDayFrameOnly)->Unit(benchmark::kMillisecond);

}  // namespace

// Reading a deck of one polygon whose outer ring has n vertices (a coastline-like wavy circle
// of 5 degrees): the ring's validity check must stay near n log n.
void BM_ReadTargetsLongRing(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  const std::string path = "/tmp/orvus-bench-ring-" + std::to_string(n) + ".geojson";
  {
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fprintf(f,
                 "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\","
                 "\"properties\":{\"id\":\"R\"},\"geometry\":{\"type\":\"Polygon\","
                 "\"coordinates\":[[");
    for (int i = 0; i <= n; ++i) {
      const double a = 2.0 * M_PI * (i % n) / n;
      const double r = 5.0 + 0.3 * std::sin(97.0 * a) + 0.1 * std::sin(1013.0 * a);
      std::fprintf(f, "%s[%.9f,%.9f]", i ? "," : "", -50.0 + r * std::cos(a),
                   -10.0 + r * std::sin(a));
    }
    std::fprintf(f, "]]}}]}\n");
    std::fclose(f);
  }
  for (auto _ : state) benchmark::DoNotOptimize(read_targets(path));
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadTargetsLongRing)->Arg(16000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The passes of a 7-day plan of 3 satellites over 2 stations (Amazonia 1, Landsat 8's set
// moved to Amazonia's epoch, Amazonia's turned 120 deg in node; Cuiaba and Svalbard with 5 deg
// masks): the whole of plan_passes, frame nodes included.
void BM_PlanPasses7Days(benchmark::State& state) {
  Plan plan;
  const ElementSet amazonia = read_element_file(kData + "/tle/amazonia1_2025.tle").at(0);
  ElementSet landsat = read_element_file(kData + "/tle/landsat8_2024.tle").at(0);
  landsat.epoch = amazonia.epoch;
  ElementSet turned = amazonia;
  turned.raan += 2.0 * M_PI / 3.0;
  for (const ElementSet& e : {amazonia, landsat, turned}) {
    PlanSatellite s;
    s.name = e.name;
    s.elements = e;
    plan.satellites.push_back(s);
  }
  plan.interval.start = amazonia.epoch;
  plan.interval.end = {amazonia.epoch.day + 7.0, amazonia.epoch.seconds};
  plan.stations = {{"CUIABA", -56.07, -15.55, 240.0, 5.0, std::nullopt, 0},
                   {"SVALBARD", 15.41, 78.23, 450.0, 5.0, std::nullopt, 0}};
  const EarthOrientation eop = EarthOrientation::load(kData + "/finals2000A.data");
  std::size_t n = 0;
  for (auto _ : state) n = plan_passes(plan, eop).size();
  state.counters["passes"] = static_cast<double>(n);
}
BENCHMARK(BM_PlanPasses7Days)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
