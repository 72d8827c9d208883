// orvus-plan PLAN.toml [--reports]: every imaging opportunity of a deck of targets for the
// plan's satellites, filtered by its constraints, into opportunities.csv,
// opportunities.geojson and opportunities.html, the passes over its stations into passes.csv,
// with [schedule] the acquisitions chosen into schedule.csv, unscheduled.csv,
// schedule.geojson and schedule.json (and, with --reports, the three classic reports of every
// pair), all put in place together at the end of the run.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "legacy/program.hpp"
#include "orvus/coverage.hpp"
#include "orvus/error.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/planner.hpp"
#include "orvus/threads.hpp"
#include "orvus/version.hpp"
#include "outputs/plan_outputs.hpp"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void write_failed(const std::string& name, int err) {
  throw orvus::Error(orvus::ErrorKind::io,
                     {" CANNOT WRITE THE REPORT FILE \"" + name +
                          "\": " + std::strerror(err != 0 ? err : EIO) + ".",
                      " THE EARLIER OUTPUTS ARE LEFT AS THEY WERE.", " EXECUTION INTERRUPTED."});
}

// Raises Error naming the first report whose stream failed, and why: stdio may have dropped
// the buffer that failed and the reason with it, so a byte more is written to the temporary
// (which the failed run discards) to have it afresh.
void check_reports(const orvus::ReportFiles& files) {
  const std::array<std::pair<std::FILE*, const std::string*>, 3> streams = {
      {{files.out1.get(), &files.name1},
       {files.out2.get(), &files.name2},
       {files.out3.get(), &files.name3}}};
  for (const auto& [f, name] : streams) {
    errno = 0;
    if (std::fflush(f) == 0 && std::ferror(f) == 0) continue;
    int err = errno;
    if (err == 0 && ::write(fileno(f), "\n", 1) < 0) err = errno;
    write_failed(*name, err);
  }
}

// The three reports of one satellite and target, as orvus writes them, into the run's
// temporary reports/ folder.
void write_reports(const orvus::Plan& plan, const orvus::EarthOrientation& eop, std::size_t sat,
                   std::size_t target, const orvus::plan_outputs::OutputFolder& out,
                   const std::string& folder) {
  using namespace orvus;
  const std::string relative = "reports/" + folder;
  const fs::path dir = out.staged(relative);
  if (::mkdir(dir.c_str(), 0777) != 0) {
    const int err = errno;
    throw Error(
        ErrorKind::io,
        {" CANNOT CREATE THE FOLDER \"" + out.shown(relative) + "\": " + std::strerror(err) + ".",
         " THE EARLIER OUTPUTS ARE LEFT AS THEY WERE.", " EXECUTION INTERRUPTED."});
  }
  ReportFiles files;
  files.out1.reset(std::fopen((dir / kOut1File).c_str(), "wx"));
  files.out2.reset(std::fopen((dir / kOut2File).c_str(), "wx"));
  files.out3.reset(std::fopen((dir / kOut3File).c_str(), "wx"));
  // Messages name the reports where they are to be.
  files.name1 = out.shown(relative + "/" + kOut1File);
  files.name2 = out.shown(relative + "/" + kOut2File);
  files.name3 = out.shown(relative + "/" + kOut3File);
  if (!files.out1 || !files.out2 || !files.out3) {
    const int err = errno;
    throw Error(ErrorKind::io,
                {" CANNOT CREATE THE REPORTS IN \"" + out.shown(relative) +
                     "\": " + std::strerror(err) + ".",
                 " THE EARLIER OUTPUTS ARE LEFT AS THEY WERE.", " EXECUTION INTERRUPTED."});
  }
  try {
    write_plan_reports(plan, eop, sat, target, files);
  } catch (const Error&) {
    check_reports(files);  // a failed write, with its reason
    throw;
  }
  check_reports(files);
  for (FilePtr* f : {&files.out1, &files.out2, &files.out3}) {
    if (std::fclose(f->release()) != 0) {
      const int err = errno;
      write_failed(f == &files.out1   ? files.name1
                   : f == &files.out2 ? files.name2
                                      : files.name3,
                   err);
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
          "the plan's output directory, passes.csv of its stations and, when the plan has a\n"
          "[schedule] table, the acquisitions chosen in schedule.csv, unscheduled.csv,\n"
          "schedule.geojson and schedule.json; with --reports also the\n"
          "three orvus reports of every satellite and target in\n"
          "reports/<satellite number>-<target id>/, listed in reports/index.csv. The earlier\n"
          "outputs are replaced together at the end, or left as they were.\n");
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
    // The output folder made, locked and checked before minutes of work.
    orvus::plan_outputs::OutputFolder out(
        plan, plan.output_dir, reports,
        " ORVUS-PLAN: INTERRUPTED: THE EARLIER OUTPUTS ARE LEFT AS THEY WERE.\n");
    const orvus::EarthOrientation eop = orvus::EarthOrientation::load(plan.earth_orientation_path);
    for (const auto& s : plan.satellites) {
      if (s.sets_in_file > 1) {
        std::fprintf(stderr,
                     " ORVUS-PLAN: THE ELEMENT FILE \"%s\" HOLDS %zu SETS: USING SET %zu (\"%s\", "
                     "CATALOGUE NUMBER %lld) FOR SATELLITE \"%s\".\n",
                     orvus::printable(s.elements_path).c_str(), s.sets_in_file, s.set_number,
                     orvus::printable(s.elements.name).c_str(),
                     static_cast<long long>(s.elements.catalogue_number),
                     orvus::printable(s.name).c_str());
      }
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
    // The coverage's grid before minutes of work: too many cells stop the run here.
    std::optional<orvus::CoverageGrid> grid;
    if (plan.coverage) {
      grid = orvus::plan_outputs::coverage_grid(plan);
      for (const auto& area : grid->areas) {
        if (area.cells.empty()) {
          std::fprintf(stderr,
                       " ORVUS-PLAN: WARNING: TARGET \"%s\" HOLDS NO CELL CENTRE OF THE %g KM "
                       "GRID: ITS COVERAGE IS NOT MEASURED.\n",
                       orvus::printable(area.id).c_str(), grid->cell_km);
        }
      }
    }
    const orvus::PlanRun run = orvus::run_planner(plan, eop, grid ? &*grid : nullptr, {},
                                                  [&](orvus::PlanStage stage, double f) {
                                                    if (stage == orvus::PlanStage::sweep) bar(f);
                                                  });
    bar.done();
    out.write_run(plan, run, grid ? &*grid : nullptr);
    if (reports) {
      const std::vector<std::string> folders = orvus::plan_outputs::report_folders(plan);
      // Every pair on its own sweep, the pairs spread over the machine's threads; the first
      // failure stops the others.
      orvus::parallel_for(
          folders.size(),
          [&](std::size_t i) {
            write_reports(plan, eop, i / plan.targets.size(), i % plan.targets.size(), out,
                          folders[i]);
          },
          orvus::machine_threads());
      out.write("reports/index.csv", [&](std::ostream& index) {
        orvus::plan_outputs::write_report_index(plan, folders, index);
      });
    }
    out.commit();
    std::fprintf(stderr,
                 " ORVUS-PLAN: %zu OPPORTUNITIES FOUND, %zu KEPT. REMOVED: %zu BY SUN ELEVATION, "
                 "%zu BY BEST ALPHA, %zu BY PASS, %zu BY DURATION.\n",
                 run.counts.found, run.counts.kept, run.counts.by_sun, run.counts.by_alpha,
                 run.counts.by_pass, run.counts.by_duration);
    if (!plan.stations.empty()) {
      std::fprintf(stderr, " ORVUS-PLAN: %zu STATION PASSES.\n", run.passes.size());
    }
    if (const auto& coverage = run.coverage) {
      std::fprintf(stderr,
                   " ORVUS-PLAN: COVERAGE: %zu CELLS OF %.1f KM2 IN %zu AREAS; %zu ACCESSES FOUND, "
                   "%zu KEPT. REMOVED: %zu BY SUN ELEVATION, %zu BY BEST ALPHA, %zu BY PASS.\n",
                   grid->cells.size(), grid->cell_area_km2, grid->areas.size(), coverage->found,
                   coverage->kept, coverage->by_sun, coverage->by_alpha, coverage->by_pass);
    }

    if (run.schedule) {
      std::fprintf(stderr, " ORVUS-PLAN: %s\n",
                   orvus::schedule_summary(plan, *run.schedule).c_str());
    }
    std::fprintf(stderr, " ORVUS-PLAN: WRITTEN TO \"%s\".\n", plan.output_dir.c_str());
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
