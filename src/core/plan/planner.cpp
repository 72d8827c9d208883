// The planner as one call (planner.hpp): the sweeps, as one run on this machine or as tasks
// joined from elsewhere, then one finish for both.
#include "orvus/planner.hpp"

#include <utility>

#include "core/plan/plan_internal.hpp"
#include "orvus/error.hpp"

namespace orvus {

namespace {

// What the steps asked for amount to for this plan.
struct Wanted {
  bool opportunities, coverage, passes, schedule;
};
Wanted wanted(const Plan& plan, const PlanSteps& steps) {
  const bool schedule = steps.schedule && plan.schedule.has_value();
  return {steps.opportunities || schedule, steps.coverage && plan.coverage.has_value(),
          (steps.passes || schedule) && !plan.stations.empty(), schedule};
}

void need_grid(const Plan& plan, const CoverageGrid* grid) {
  if (grid == nullptr) {
    throw Error(ErrorKind::usage, {" THE PLAN \"" + plan.path +
                                   "\" HAS [coverage]: ITS RUN NEEDS ITS COVERAGE GRID."});
  }
}

// The steps after the sweeps: the constraints on the opportunities found, the coverage's
// statistics (unless the sweep made them as it went), the passes and the schedule.
PlanRun finish(const Plan& plan, const EarthOrientation& eop, const CoverageGrid* grid,
               PlanParts parts, std::optional<CoverageResult> swept, const Wanted& want,
               const PlanProgress& progress) {
  PlanRun run;
  if (want.opportunities) {
    run.opportunities = select_opportunities(plan, std::move(parts.opportunities), &run.counts);
  }
  if (want.coverage) {
    if (swept) {
      run.coverage = std::move(swept);
    } else {
      need_grid(plan, grid);
      run.coverage = coverage_statistics(plan, *grid, parts.coverage);
    }
  }
  if (want.passes) run.passes = plan_passes(plan, eop);
  if (want.schedule) {
    run.schedule = schedule_plan(plan, eop, run.opportunities, run.passes, [&](double f) {
      if (progress) progress(PlanStage::schedule, f);
    });
  }
  return run;
}

}  // namespace

PlanRun run_planner(const Plan& plan, const EarthOrientation& eop, const CoverageGrid* grid,
                    const PlanSteps& steps, const PlanProgress& progress) {
  const Wanted want = wanted(plan, steps);
  if (want.coverage) need_grid(plan, grid);
  // The sweep's share: the opportunities, then the coverage, each half of it when both run.
  const double phases = want.opportunities && want.coverage ? 2.0 : 1.0;
  const auto sweep = [&](double before, double f) {
    if (progress) progress(PlanStage::sweep, (before + f) / phases);
  };
  PlanParts parts;
  if (want.opportunities) {
    // One satellite after another, each sweep over every target on the machine's threads.
    const auto nsat = static_cast<double>(plan.satellites.size());
    for (std::size_t s = 0; s < plan.satellites.size(); ++s) {
      const PlanTask task{PlanTask::Kind::opportunities, s, 0, plan.targets.size()};
      join(parts, run_task(plan, eop, grid, task,
                           [&](double f) { sweep(0.0, (static_cast<double>(s) + f) / nsat); }));
    }
  }
  // The coverage's accesses go to each cell's figures as the sweeps find them, never into a
  // list: the memory follows the cells.
  std::optional<CoverageResult> swept;
  if (want.coverage) {
    swept =
        run_coverage(plan, eop, *grid, [&](double f) { sweep(want.opportunities ? 1.0 : 0.0, f); });
  }
  return finish(plan, eop, grid, std::move(parts), std::move(swept), want, progress);
}

std::vector<Opportunity> run_plan(const Plan& plan, const EarthOrientation& eop, PlanCounts* counts,
                                  const std::function<void(double)>& progress) {
  PlanSteps steps;
  steps.coverage = steps.passes = steps.schedule = false;
  PlanRun run = run_planner(plan, eop, nullptr, steps, [&](PlanStage, double f) {
    if (progress) progress(f);
  });
  if (counts != nullptr) *counts = run.counts;
  return std::move(run.opportunities);
}

std::vector<PlanTask> plan_tasks(const Plan& plan, const CoverageGrid* grid,
                                 std::size_t targets_per_task, std::size_t cells_per_task) {
  if (targets_per_task == 0 || cells_per_task == 0) {
    throw Error(ErrorKind::usage, {" A TASK NEEDS AT LEAST ONE TARGET AND ONE CELL."});
  }
  std::vector<PlanTask> tasks;
  const std::size_t targets = plan.targets.size();
  for (std::size_t s = 0; s < plan.satellites.size(); ++s)
    for (std::size_t first = 0; first < targets; first += targets_per_task)
      tasks.push_back(
          {PlanTask::Kind::opportunities, s, first, std::min(targets, first + targets_per_task)});
  if (plan.coverage && grid != nullptr) {
    const std::size_t cells = grid->cells.size();
    for (std::size_t s = 0; s < plan.satellites.size(); ++s)
      for (std::size_t first = 0; first < cells; first += cells_per_task)
        tasks.push_back(
            {PlanTask::Kind::coverage, s, first, std::min(cells, first + cells_per_task)});
  }
  return tasks;
}

PlanParts run_task(const Plan& plan, const EarthOrientation& eop, const CoverageGrid* grid,
                   const PlanTask& task, const std::function<void(double)>& progress) {
  const bool coverage = task.kind == PlanTask::Kind::coverage;
  if (coverage) need_grid(plan, grid);
  const std::size_t count = coverage ? grid->cells.size() : plan.targets.size();
  if (task.satellite >= plan.satellites.size() || task.first > task.last || task.last > count) {
    throw Error(ErrorKind::usage,
                {std::string(" NO SUCH SATELLITE OR ") + (coverage ? "CELL" : "TARGET") +
                 " RANGE IN THE PLAN \"" + plan.path + "\"."});
  }
  PlanParts part;
  if (coverage) {
    part.coverage.push_back(
        coverage_accesses(plan, eop, *grid, task.satellite, task.first, task.last, progress));
  } else {
    part.opportunities =
        plan_opportunities(plan, eop, task.satellite, task.first, task.last, progress);
  }
  return part;
}

void join(PlanParts& whole, PlanParts part) {
  if (whole.opportunities.empty()) {
    whole.opportunities = std::move(part.opportunities);
  } else {
    for (Opportunity& o : part.opportunities) whole.opportunities.push_back(std::move(o));
  }
  for (CoverageAccesses& c : part.coverage) whole.coverage.push_back(std::move(c));
}

std::string serialize_parts(const PlanParts& parts) {
  std::string bytes = serialize_opportunities(parts.opportunities);
  for (const CoverageAccesses& c : parts.coverage) bytes += serialize_coverage_accesses(c);
  return bytes;
}

PlanParts deserialize_parts(const std::string& bytes) {
  PlanParts parts;
  std::size_t at = 0;
  parts.opportunities = plan::read_opportunities(bytes, at);
  while (at < bytes.size()) parts.coverage.push_back(plan::read_coverage_accesses(bytes, at));
  return parts;
}

PlanRun finish_plan(const Plan& plan, const EarthOrientation& eop, const CoverageGrid* grid,
                    PlanParts parts, const PlanSteps& steps, const PlanProgress& progress) {
  return finish(plan, eop, grid, std::move(parts), std::nullopt, wanted(plan, steps), progress);
}

void run_table_rows(PlanTable table, const Plan& plan, const PlanRun& run, const CoverageGrid* grid,
                    RowSink& sink) {
  switch (table) {
    case PlanTable::opportunities:
      opportunity_rows(plan, run.opportunities, sink);
      return;
    case PlanTable::passes:
      pass_rows(plan, run.passes, sink);
      return;
    case PlanTable::schedule:
      if (run.schedule) schedule_rows(plan, run.passes, *run.schedule, sink);
      return;
    case PlanTable::unscheduled:
      if (run.schedule) unscheduled_rows(plan, *run.schedule, sink);
      return;
    case PlanTable::coverage_cells:
    case PlanTable::coverage:
    case PlanTable::coverage_summary:
      break;
  }
  if (!run.coverage) return;
  need_grid(plan, grid);
  if (table == PlanTable::coverage_cells) {
    coverage_cell_rows(plan, *grid, *run.coverage, sink);
  } else if (table == PlanTable::coverage) {
    coverage_rows(plan, *grid, *run.coverage, sink);
  } else {
    coverage_summary_rows(plan, *grid, *run.coverage, sink);
  }
}

}  // namespace orvus
