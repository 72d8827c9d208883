// The files of a planner's run in its output folder (opportunities.csv, opportunities.geojson,
// opportunities.html, passes.csv when the plan has stations, the schedule's files when it has
// [schedule] and, with reports, the reports/ folder), written into a temporary folder
// beside them and put in place of the earlier ones together at the end, or not at all. The
// folder is locked for the run. Shared by orvus-plan and the Python module.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "orvus/coverage.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/planner.hpp"

namespace orvus::io {
class ExclusiveLock;
class StopCleanup;
}  // namespace orvus::io

namespace orvus::plan_outputs {

// The temporary folder of a run inside the output folder; what a killed run left there is
// removed by the next one.
inline constexpr const char* kStagingName = ".orvus-plan.tmp";

class OutputFolder {
 public:
  // Creates `dir` where needed and locks it for the object's life (a second planner on it
  // stops here), checks that it can be written and that no output's name is held by what
  // the run could not replace, removes what a killed run left and sets up the temporary
  // folder (with `reports`, its reports/). From here until commit() SIGINT, SIGTERM and
  // SIGHUP remove the temporaries, write `stop_message` to standard error and end the
  // process by the signal; SIGXFSZ is ignored, so that a file-size limit is a write error.
  // Raises Error naming the folder, or the file of `plan` (the plan file, the targets, an
  // element file, the Earth-orientation file) that an output would replace or remove,
  // before anything is written.
  OutputFolder(const Plan& plan, const std::string& dir, bool reports,
               std::string_view stop_message = {});
  // Removes the temporaries of a run that was not committed.
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Where a path of the run (relative to the output folder, e.g. "reports/1-BSB") is
  // written, and the name that messages give it.
  [[nodiscard]] std::filesystem::path staged(const std::string& relative) const;
  [[nodiscard]] std::string shown(const std::string& relative) const;

  // Writes a file of the run through `body`. Raises Error naming the file (and the reason:
  // disk full, file too large) when a write fails.
  void write(const std::string& relative, const std::function<void(std::ostream&)>& body);
  // opportunities.csv, opportunities.geojson and opportunities.html of the kept opportunities
  // (the page with the coverage's layer and charts when given).
  void write_opportunities(const Plan& plan, const std::vector<Opportunity>& kept,
                           const CoverageGrid* grid = nullptr,
                           const CoverageResult* coverage = nullptr);
  // passes.csv. A run that does not write it removes an earlier one with the set.
  void write_passes(const Plan& plan, const std::vector<PlanPass>& passes);
  // coverage_cells.csv, coverage_cells.geojson, coverage.csv and coverage_summary.csv. A run
  // that does not write them removes earlier ones with the set.
  void write_coverage(const Plan& plan, const CoverageGrid& grid, const CoverageResult& result);
  // schedule.csv, unscheduled.csv, schedule.geojson and schedule.json; the page that
  // write_opportunities writes after it shows the schedule on its timeline. A run that does
  // not write them removes earlier ones with the set.
  void write_schedule(const Plan& plan, const std::vector<PlanPass>& passes,
                      const PlanSchedule& schedule);

  // Every file of a run: passes.csv with stations, the schedule's files with [schedule], the
  // opportunities' three files and the coverage's files with [coverage] (`grid` as given to
  // the run).
  void write_run(const Plan& plan, const PlanRun& run, const CoverageGrid* grid);

  // Puts every output of the run in place of the earlier ones: all of them, or (Error) none.
  void commit();

 private:
  void put_in_place();
  std::string dir_;                    // as given, for messages
  std::filesystem::path abs_, stage_;  // the folder and the temporary folder, absolute
  bool reports_ = false;
  bool committed_ = false;
  std::vector<std::string> written_;
  std::unique_ptr<io::ExclusiveLock> lock_;
  std::unique_ptr<io::StopCleanup> cleanup_;
  // What the page shows beside the opportunities (write_schedule).
  const PlanSchedule* schedule_ = nullptr;
  const std::vector<PlanPass>* schedule_passes_ = nullptr;
};

// The plan's coverage grid, the land (region = "land") taken from the map data's
// Natural Earth 1:50m land.
CoverageGrid coverage_grid(const Plan& plan);

// The reports/ folder of every satellite and target, index s * targets + t:
// "<satellite number>-<target id>" where the id is made of ASCII letters, digits, '-', '_'
// and '.' only and no other id of the deck reads the same in any case; else the id's safe
// form (every other character one '_', cut to 80 bytes) and "-" and the 8 hexadecimal digits
// of the id's 32-bit FNV-1a hash.
std::vector<std::string> report_folders(const Plan& plan);

// reports/index.csv: folder, satellite and target id of every pair.
void write_report_index(const Plan& plan, const std::vector<std::string>& folders,
                        std::ostream& out);

}  // namespace orvus::plan_outputs
