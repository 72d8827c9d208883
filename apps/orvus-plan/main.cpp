// orvus-plan PLAN.toml [--reports]: every imaging opportunity of a deck of targets for the
// plan's satellites, filtered by its constraints, into opportunities.csv,
// opportunities.geojson and the map page opportunities.html (and, with --reports, the three
// classic reports of every pair).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/plan/plan_internal.hpp"
#include "core/text.hpp"
#include "legacy/fatal.hpp"
#include "legacy/run.hpp"
#include "orvus/error.hpp"
#include "orvus/plan.hpp"
#include "orvus/version.hpp"
#include "page.hpp"

namespace fs = std::filesystem;

namespace {

std::string padded(std::string s, std::size_t width) {
  s.resize(width, ' ');
  return s;
}

std::string safe_name(const std::string& id) {
  std::string out;
  for (const char c : id)
    out +=
        (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.') ? c : '_';
  return out;
}

void check_written(std::ofstream& out, const fs::path& path) {
  out.flush();
  if (!out) {
    throw orvus::Error(orvus::ErrorKind::io,
                       {" CANNOT WRITE \"" + path.string() + "\".", " EXECUTION INTERRUPTED."});
  }
}

// The three reports of one satellite and target, as orvus writes them.
void write_reports(const orvus::Plan& plan, const orvus::EarthOrientation& eop, std::size_t sat,
                   std::size_t target, const fs::path& dir) {
  using namespace orvus;
  const PlanSatellite& s = plan.satellites[sat];
  const Target& t = plan.targets[target];
  fs::create_directories(dir);
  RunParams p;
  p.SAT_NAME = padded(s.name, 50);
  p.LOC_NAME = padded(t.name, 70);
  p.UTC_DIFF = plan.interval.utc_offset_hours;
  Box box = t.box ? *t.box : Box{};
  if (!t.box) {  // a polygon: its bounding box
    box = {1e9, -1e9, 1e9, -1e9};
    for (const auto& poly : t.polygons)
      for (const auto& g : poly.front()) {
        box.lon1 = std::min(box.lon1, g.lon_deg);
        box.lon2 = std::max(box.lon2, g.lon_deg);
        box.lat1 = std::min(box.lat1, g.lat_deg);
        box.lat2 = std::max(box.lat2, g.lat_deg);
      }
  }
  p.LON1 = box.lon1;
  p.LON2 = box.lon2;
  p.LAT1 = box.lat1;
  p.LAT2 = box.lat2;
  p.TLE_FILE = padded(fs::path(s.elements_path).filename().string(), 70);
  p.ALPHA = s.sensor.alpha_deg;
  p.BETA = s.sensor.beta_deg;
  p.START_LOCAL = padded(plan.start_local, 29);
  p.END_LOCAL = padded(plan.end_local, 29);
  p.STEP = plan.interval.step_s;
  corner_to_geocentric(p.LON1, p.LAT1, p.GC_LON1, p.GC_LAT1);
  corner_to_geocentric(p.LON2, p.LAT2, p.GC_LON2, p.GC_LAT2);
  p.CEN_GC_LON = (p.GC_LON1 + p.GC_LON2) / 2.0;
  p.CEN_GC_LAT = (p.GC_LAT1 + p.GC_LAT2) / 2.0;
  p.CEN_LON = t.box ? (p.LON1 + p.LON2) / 2.0 : t.centre.lon_deg;
  p.CEN_LAT = t.box ? (p.LAT1 + p.LAT2) / 2.0 : t.centre.lat_deg;
  p.START_DAY = plan.interval.start.day;
  p.START_SEC = plan.interval.start.seconds;
  p.END_DAY = plan.interval.end.day;
  p.END_SEC = plan.interval.end.seconds;
  INSTHOR3(p.START_DAY, p.START_SEC, p.START_UTC);
  INSTHOR3(p.END_DAY, p.END_SEC, p.END_UTC);
  p.ALPHA0 = p.ALPHA;
  p.ALPHA1 = p.ALPHA - p.BETA / 2.0;
  p.ALPHA2 = p.ALPHA + p.BETA / 2.0;
  auto len = [](const std::string& x) { return static_cast<std::int16_t>(trim_blanks(x).size()); };
  p.SAT_LEN = len(p.SAT_NAME);
  p.LOC_LEN = len(p.LOC_NAME);

  ReportFiles files;
  const fs::path n1 = dir / kOut1File, n2 = dir / kOut2File, n3 = dir / kOut3File;
  files.out1.reset(std::fopen(n1.c_str(), "w"));
  files.out2.reset(std::fopen(n2.c_str(), "w"));
  files.out3.reset(std::fopen(n3.c_str(), "w"));
  files.name1 = n1.string();
  files.name2 = n2.string();
  files.name3 = n3.string();
  if (!files.out1 || !files.out2 || !files.out3) {
    throw Error(ErrorKind::io, {" CANNOT CREATE THE REPORTS IN \"" + dir.string() + "\".",
                                " EXECUTION INTERRUPTED."});
  }
  const auto t0 = std::chrono::steady_clock::now();
  write_headers(files, p);
  ReportSink sink(files);
  plan::sweep(plan, eop, sat, target, target + 1, {&sink}, {});
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  write_execution_time(files.out1.get(), secs);
  check_report_streams(files);
  for (FilePtr* f : {&files.out1, &files.out2, &files.out3}) {
    if (std::fclose(f->release()) != 0) {
      throw Error(ErrorKind::io, {" CANNOT WRITE THE REPORTS IN \"" + dir.string() + "\".",
                                  " EXECUTION INTERRUPTED."});
    }
  }
}

class Bar {
 public:
  explicit Bar(bool on) : on_(on) {}
  void operator()(double f) {
    if (!on_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const int pct = static_cast<int>(std::floor(f * 100.0));
    if (pct == last_) return;
    last_ = pct;
    const int w = 40, fill = pct * w / 100;
    std::fprintf(stderr, "\r ORVUS-PLAN [%s%s] %3d%%",
                 std::string(static_cast<std::size_t>(fill), '#').c_str(),
                 std::string(static_cast<std::size_t>(w - fill), ' ').c_str(), pct);
    std::fflush(stderr);
  }
  void done() {
    if (on_ && last_ >= 0) std::fprintf(stderr, "\n");
  }

 private:
  bool on_;
  int last_ = -1;
  std::mutex mutex_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string plan_path;
  bool reports = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--version") {
      std::printf("ORVUS-PLAN v" ORVUS_VERSION "\n");
      return 0;
    }
    if (a == "--help" || a == "-h") {
      std::printf(
          "Usage: orvus-plan PLAN.toml [--reports]\n"
          "Finds every imaging opportunity of the plan's targets for its satellites and writes\n"
          "opportunities.csv, opportunities.geojson and opportunities.html (a map page) into\n"
          "the plan's output directory; with --reports also the three orvus reports of every\n"
          "satellite and target in reports/<satellite number>-<target id>/.\n");
      return 0;
    }
    if (a == "--reports") {
      reports = true;
    } else if (plan_path.empty() && !a.empty() && a[0] != '-') {
      plan_path = a;
    } else {
      std::fprintf(stderr, " ORVUS-PLAN: UNKNOWN ARGUMENT \"%s\" (SEE --help).\n", a.c_str());
      return 2;
    }
  }
  if (plan_path.empty()) {
    std::fprintf(stderr, "Usage: orvus-plan PLAN.toml [--reports]\n");
    return 2;
  }
  Bar bar(isatty(2) == 1);
  try {
    const orvus::Plan plan = orvus::load_plan(plan_path);
    const orvus::EarthOrientation eop = orvus::EarthOrientation::load(plan.earth_orientation_path);
    for (const auto& s : plan.satellites) {
      const double age =
          std::max(std::fabs(orvus::element_age_days(s.elements, plan.interval.start)),
                   std::fabs(orvus::element_age_days(s.elements, plan.interval.end)));
      if (age > 14.0) {
        std::fprintf(stderr,
                     " ORVUS-PLAN: WARNING: THE INTERVAL REACHES %.1f DAYS FROM THE EPOCH OF THE "
                     "ELEMENT SET OF \"%s\" (MORE THAN 14).\n",
                     age, s.name.c_str());
      }
    }
    orvus::PlanCounts counts;
    const auto kept = orvus::run_plan(plan, eop, &counts, [&](double f) { bar(f); });
    bar.done();
    const fs::path out(plan.output_dir);
    fs::create_directories(out);
    {
      std::ofstream f(out / "opportunities.csv", std::ios::binary);
      orvus::write_opportunities_csv(plan, kept, f);
      check_written(f, out / "opportunities.csv");
    }
    {
      std::ofstream f(out / "opportunities.geojson", std::ios::binary);
      orvus::write_opportunities_geojson(plan, kept, f);
      check_written(f, out / "opportunities.geojson");
    }
    if (!orvus::plan_page::write_page(plan, kept, out / "opportunities.html")) {
      throw orvus::Error(orvus::ErrorKind::io, {" ORVUS-PLAN: CANNOT WRITE \"" +
                                                    (out / "opportunities.html").string() + "\".",
                                                " EXECUTION INTERRUPTED."});
    }
    if (reports) {
      // Every pair on its own sweep, the pairs spread over the machine's threads.
      const std::size_t pairs = plan.satellites.size() * plan.targets.size();
      std::vector<std::exception_ptr> failed(pairs);
      std::atomic<std::size_t> next{0};
      auto work = [&] {
        for (std::size_t i = next.fetch_add(1); i < pairs; i = next.fetch_add(1)) {
          const std::size_t s = i / plan.targets.size(), t = i % plan.targets.size();
          try {
            write_reports(
                plan, eop, s, t,
                out / "reports" / (std::to_string(s + 1) + "-" + safe_name(plan.targets[t].id)));
          } catch (...) {
            failed[i] = std::current_exception();
          }
        }
      };
      std::vector<std::thread> pool;
      for (int k = 1; k < orvus::plan::default_threads(); ++k) pool.emplace_back(work);
      work();
      for (auto& th : pool) th.join();
      for (const auto& f : failed)
        if (f) std::rethrow_exception(f);
    }
    std::fprintf(stderr,
                 " ORVUS-PLAN: %zu OPPORTUNITIES FOUND, %zu KEPT. REMOVED: %zu BY SUN ELEVATION, "
                 "%zu BY BEST ALPHA, %zu BY PASS, %zu BY DURATION.\n",
                 counts.found, counts.kept, counts.by_sun, counts.by_alpha, counts.by_pass,
                 counts.by_duration);
    std::fprintf(stderr, " ORVUS-PLAN: WRITTEN TO \"%s\".\n", out.string().c_str());
  } catch (const orvus::Error& e) {
    bar.done();
    for (const auto& l : e.lines()) std::fprintf(stderr, "%s\n", l.c_str());
    return 1;
  } catch (const std::exception& e) {
    bar.done();
    std::fprintf(stderr, " ORVUS-PLAN: %s\n EXECUTION INTERRUPTED.\n", e.what());
    return 1;
  }
  return 0;
}
