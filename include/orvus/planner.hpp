// The planner as one call: a plan's opportunities, their constraints, the coverage, the passes
// over its stations and the schedule, in that order, on this machine (run_planner) or from
// parts computed apart and joined (plan_tasks, run_task, join, finish_plan), with the same
// results. The plan may come from a file (load_plan) or be built in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvus/coverage.hpp"
#include "orvus/earth_orientation.hpp"
#include "orvus/export.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/plan_tables.hpp"

namespace orvus {

// What a run computes of what the plan asks for: each step runs only when the plan has it
// (the coverage with [coverage], the passes with stations, the schedule with [schedule]). The
// schedule needs the opportunities and the passes: asking for it computes them.
struct PlanSteps {
  bool opportunities = true;
  bool coverage = true;
  bool passes = true;
  bool schedule = true;
};

// Where a run is: sweeping (the opportunities, then the coverage; the share of both) or
// scheduling (the share of the schedule's time limit used).
enum class PlanStage : std::uint8_t { sweep, schedule };
// Called on the calling thread between blocks of work; it may throw to stop the run (a
// caller's interrupt), and the exception leaves as thrown.
using PlanProgress = std::function<void(PlanStage stage, double share)>;

// Everything a run found.
struct PlanRun {
  std::vector<Opportunity> opportunities;  // kept, as select_opportunities orders them
  PlanCounts counts;                       // found, kept and removed by each constraint
  std::vector<PlanPass> passes;            // as plan_passes gives them; none without stations
  std::optional<CoverageResult> coverage;  // with [coverage]
  std::optional<PlanSchedule> schedule;    // with [schedule]
};

// The whole plan on this machine. `grid` is the plan's coverage grid (coverage_grid), needed
// when the plan has [coverage] and the coverage is asked for. Thread-safe; every step computes
// on the machine's threads. Deterministic, but for a schedule whose optimum the solver does not
// prove within its time limit. Raises Error as the steps do, and (kind usage) for a plan with
// [coverage] given no grid.
ORVUS_API PlanRun run_planner(const Plan& plan, const EarthOrientation& eop,
                              const CoverageGrid* grid = nullptr, const PlanSteps& steps = {},
                              const PlanProgress& progress = {});

// A part of a plan's sweep that can run apart (another thread, process or machine): one
// satellite over the targets [first, last), or over the coverage grid's cells [first, last).
struct PlanTask {
  enum class Kind : std::uint8_t { opportunities, coverage };
  Kind kind = Kind::opportunities;
  std::size_t satellite = 0;
  std::size_t first = 0, last = 0;
};

// Tasks that cover the plan once: satellite after satellite, targets_per_task targets each
// (the opportunities), then, with [coverage] and a grid, cells_per_task cells each. Each task
// sweeps its satellite's orbit once for all its targets or cells: fewer, larger tasks cost
// less in all. Raises Error (kind usage) for a size of 0.
ORVUS_API std::vector<PlanTask> plan_tasks(const Plan& plan, const CoverageGrid* grid,
                                           std::size_t targets_per_task,
                                           std::size_t cells_per_task);

// What the sweeps of one or more tasks found, before the constraints: the opportunities of
// their targets (each target's contacts whole) and the coverage's accesses of their cells.
struct PlanParts {
  std::vector<Opportunity> opportunities;
  std::vector<CoverageAccesses> coverage;
};

// One task. `progress` as for plan_opportunities (the share of the task). Raises Error (kind
// usage) for a satellite or a range the plan does not have, or a coverage task without a grid.
ORVUS_API PlanParts run_task(const Plan& plan, const EarthOrientation& eop,
                             const CoverageGrid* grid, const PlanTask& task,
                             const std::function<void(double)>& progress = {});

// Adds `part` to `whole`. Joined in any order, the parts give the same finished run.
ORVUS_API void join(PlanParts& whole, PlanParts part);

// Parts as bytes and back, exactly: the bytes of their opportunities
// (serialize_opportunities) followed by those of each coverage part
// (serialize_coverage_accesses), so that the bytes of a list of opportunities are those of
// parts holding just them.
ORVUS_API std::string serialize_parts(const PlanParts& parts);
ORVUS_API PlanParts deserialize_parts(const std::string& bytes);

// The run of the joined parts of every task: the constraints, the coverage's statistics, the
// passes and the schedule, as run_planner finishes its own sweep. Raises Error as
// coverage_statistics does when the coverage's parts do not cover the grid exactly once.
ORVUS_API PlanRun finish_plan(const Plan& plan, const EarthOrientation& eop,
                              const CoverageGrid* grid, PlanParts parts,
                              const PlanSteps& steps = {}, const PlanProgress& progress = {});

// A plan's satellites kept ready for many searches over changing targets and intervals (a
// tasking service's): the element sets read once, and what a sweep computes that depends on
// time alone (the sidereal time's hourly nodes, the Sun at whole minutes) kept from one search
// to the next. A search is run_planner's own sweep of the plan with that interval and those
// targets, and gives the same opportunities. Thread-safe: searches may run at once, and
// alongside reload_elements.
class ORVUS_API PlanModel {
 public:
  // The satellites, rule, step, UTC offset and constraints of `plan` (its interval and targets
  // are each search's own; its stations, coverage and schedule are not used).
  PlanModel(Plan plan, std::shared_ptr<const EarthOrientation> eop);
  ~PlanModel();
  PlanModel(const PlanModel&) = delete;
  PlanModel& operator=(const PlanModel&) = delete;

  // Reads again every element file changed on disk (its modification time or size) since it
  // was read, taking the set as load_plan does; returns whether any set was read again. Raises
  // Error for a file that cannot be read or holds no such set: the model keeps the sets it had
  // and tries that file again at the next call.
  bool reload_elements();

  // The opportunities of `targets` over [start, end] (UTC) by the satellites numbered
  // `satellites` (indices into the plan's, ascending; empty: all), the plan's constraints
  // applied: those that run_planner gives for the plan with that interval and those targets
  // and satellites alone, each numbering its satellite as the model's plan does. `counts` and
  // `progress` as for run_plan. Raises Error as the sweep does, and (kind usage) for an end
  // before the start or a satellite the plan does not have.
  std::vector<Opportunity> opportunities(std::vector<Target> targets, const UtcInstant& start,
                                         const UtcInstant& end,
                                         const std::vector<std::size_t>& satellites = {},
                                         PlanCounts* counts = nullptr,
                                         const std::function<void(double)>& progress = {}) const;

  // The scene of satellite `satellite` (an index into the plan's) over `seconds` centred on
  // `centre` (UTC): the ground its sensor's field (ALPHA and BETA) sweeps then, its line at
  // both ends and `pieces` - 1 instants between, cut at +-180 (the rings of a swath: the
  // footprint of an opportunity of an instant). Raises Error as a search does.
  std::vector<Ring> scene(std::size_t satellite, const UtcInstant& centre, double seconds,
                          int pieces = 4) const;

  // The plan as the model holds it now (its element sets as last read).
  Plan plan() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The rows of one of a run's tables (plan_tables.hpp); none for a step the run did not make.
// `grid` as given to the run.
ORVUS_API void run_table_rows(PlanTable table, const Plan& plan, const PlanRun& run,
                              const CoverageGrid* grid, RowSink& sink);

}  // namespace orvus
