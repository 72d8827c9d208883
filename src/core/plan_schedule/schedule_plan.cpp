// A plan's schedule, its driver: the candidates, the model, the relaxation, the neighbourhoods
// and the solver core within one time budget, the schedule completed by any candidate that
// still fits, then its timeline and the reasons of the targets left out.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <utility>

#include "core/plan_schedule/plan_schedule_internal.hpp"
#include "orvus/error.hpp"
#include "orvus/plan_schedule.hpp"

namespace orvus {
namespace {

using detail::Budget;
using detail::Clock;
using detail::Slot;

// Of the plan's time limit, kept after the solver's stop for what runs past it (CBC's last
// node) and what follows it (completion, order, reasons): a fixed part and a share.
constexpr double kFinishS = 0.2, kFinishShare = 0.02;
// The solver's time at least (s), however late it starts.
constexpr double kLeastSolveS = 0.05;

// A schedule is asked of a plan with [schedule] only.
void require_schedule(const Plan& plan) {
  if (!plan.schedule) {
    throw Error(ErrorKind::usage,
                {" THE PLAN HAS NO [schedule] TABLE.", " EXECUTION INTERRUPTED."});
  }
}

// The schedule of the candidates within the budget: the relaxation for at most a quarter of
// the solver's time (what the budget has left after the model, but for the finish), its
// schedule improved neighbourhood by neighbourhood until three quarters of it (they stop
// earlier when a round brings nothing), then the solver from there until the finish;
// completed, ordered and explained.
PlanSchedule solve_plan(const Plan& plan, std::vector<Acquisition> candidates,
                        const std::vector<Opportunity>& kept, const std::vector<PlanPass>& passes,
                        Budget& budget) {
  PlanSchedule out;
  out.candidates = std::move(candidates);
  const std::vector<Acquisition>& cands = out.candidates;
  std::vector<Slot> slots(cands.size());
  for (std::size_t c = 0; c < cands.size(); ++c)
    slots[c] = {detail::offset_ms(plan, cands[c].start_utc),
                detail::offset_ms(plan, cands[c].end_utc)};
  const auto windows = detail::windows_of(plan, passes);

  // The solver's schedule.
  std::vector<char> taken(cands.size(), 0);
  bool filled = false;
  if (!cands.empty()) {
    const detail::Model m = detail::build_model(plan, cands, slots, windows, budget);
    const auto solver_t0 = Clock::now();
    const double finish = kFinishS + kFinishShare * budget.limit_s();
    auto share_end = [&](double share) {
      return detail::time_after(solver_t0, std::max(0.0, share * (budget.left() - finish)));
    };
    const detail::Relaxation rel =
        detail::relax(plan, cands, slots, windows, m.problem, share_end(0.25), budget);
    std::vector<int> start = rel.start;
    if (rel.objective < rel.bound - 1e-9 * std::max(1.0, rel.bound)) {
      detail::improve_neighbourhoods(cands, plan.targets.size(), m.problem, start, share_end(0.75),
                                     budget);
    }
    double start_weight = 0.0;
    for (std::size_t c = 0; c < cands.size(); ++c)
      if (start[c] >= 0) start_weight += m.problem.candidates[c].weight;
    ScheduleOptions opt;
    opt.start = start;
    const auto solver_end = std::max(detail::time_after(Clock::now(), kLeastSolveS),
                                     detail::time_after(budget.end(), -finish));
    const ScheduleResult r = detail::solve_schedule(m.problem, opt, budget, solver_end);
    // The solver's schedule, unless it did worse than the one it was given.
    const bool given = r.objective < start_weight - 1e-9 * std::max(1.0, start_weight);
    for (std::size_t c = 0; c < cands.size(); ++c)
      taken[c] = (given ? start[c] : r.value[c]) >= 0 ? 1 : 0;
    out.bound = std::min(r.bound, rel.bound);
    const double objective = given ? start_weight : r.objective;
    out.optimal =
        (r.optimal && !given) || (rel.bound <= objective + 1e-9 * std::max(1.0, rel.bound));
    out.solve_seconds = std::chrono::duration<double>(Clock::now() - solver_t0).count();
  }
  // Completed by any candidate that still fits, the most valuable first.
  detail::Selection sel(plan, cands, slots, windows);
  std::vector<char> acquired(plan.targets.size(), 0);
  for (std::size_t c = 0; c < cands.size(); ++c) {
    if (!taken[c]) continue;
    sel.add(c);
    acquired[cands[c].target] = 1;
  }
  std::vector<std::size_t> rest;
  for (std::size_t c = 0; c < cands.size(); ++c)
    if (!acquired[cands[c].target]) rest.push_back(c);
  std::stable_sort(rest.begin(), rest.end(), [&](std::size_t x, std::size_t y) {
    const double px = plan.targets[cands[x].target].priority;
    const double py = plan.targets[cands[y].target].priority;
    if (px != py) return px > py;
    return std::fabs(cands[x].roll_deg) < std::fabs(cands[y].roll_deg);
  });
  for (const std::size_t c : rest) {
    budget.poll();
    if (acquired[cands[c].target] || !sel.fits(c)) continue;
    sel.add(c);
    taken[c] = 1;
    acquired[cands[c].target] = 1;
    filled = true;
  }
  out.optimal = out.optimal && !filled;

  out.acquisitions = detail::timeline(plan, cands, slots, windows, sel);
  for (const auto& a : out.acquisitions)
    out.objective += plan.targets[cands[a.candidate].target].priority;
  out.unscheduled = detail::unscheduled_targets(plan, cands, kept, acquired, sel, budget);
  // Nothing beats every target that has a candidate: the bound when the solver's is looser
  // (a relaxation cut short by the clock).
  std::vector<char> reachable_target(plan.targets.size(), 0);
  for (const Acquisition& a : cands) reachable_target[a.target] = 1;
  double reachable = 0.0;
  for (std::size_t t = 0; t < plan.targets.size(); ++t)
    if (reachable_target[t]) reachable += plan.targets[t].priority;
  if (cands.empty() || out.objective >= reachable - 1e-9 * std::max(1.0, reachable))
    out.optimal = true;
  out.bound = std::max(std::min(out.bound, reachable), out.objective);
  out.gap = out.bound > 0.0 ? (out.bound - out.objective) / out.bound : 0.0;
  out.seconds = std::chrono::duration<double>(Clock::now() - budget.start()).count();
  return out;
}

}  // namespace

PlanSchedule schedule_plan(const Plan& plan, const EarthOrientation& eop,
                           const std::vector<Opportunity>& kept,
                           const std::vector<PlanPass>& passes,
                           const std::function<void(double)>& progress) {
  require_schedule(plan);
  Budget budget(plan.schedule->time_limit_s, progress);
  auto cands = schedule_candidates(plan, eop, kept, [&](double) { budget.poll(); });
  return solve_plan(plan, std::move(cands), kept, passes, budget);
}

PlanSchedule schedule_plan(const Plan& plan, std::vector<Acquisition> candidates,
                           const std::vector<Opportunity>& kept,
                           const std::vector<PlanPass>& passes,
                           const std::function<void(double)>& progress) {
  require_schedule(plan);
  Budget budget(plan.schedule->time_limit_s, progress);
  return solve_plan(plan, std::move(candidates), kept, passes, budget);
}

}  // namespace orvus
