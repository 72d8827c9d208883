// The solve: parts one after the other, smaller first, each given its share of the time left
// (in proportion to its size) until the deadline: a direct caller's time limit less a margin,
// or the deadline a caller sharing its budget gives (a plan's schedule step). In a part: the local
// search for a fixed number of moves (at most a quarter of the share), then the exact solver for
// the weight (up to a fifth of the share). Not proven, CBC goes on when its bound is within 2 % of
// the best schedule (it is closing on a proof); otherwise the local search goes on along the same
// trajectory for nearly half the share (on large parts one long run reaches what runs started anew
// miss), then CBC again from the best schedule; a part whose linear relaxation CBC could not solve
// in its time leaves the search the whole share. Proven, the exact solver for the least cost
// at that weight. Time that parts leave unused goes, in a second round, to the exact solver
// on the parts still unproven.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "core/schedule/schedule_internal.hpp"
#include "orvus/error.hpp"

namespace orvus {
namespace {

using detail::Clock;

// Of a part's share of the time: what CBC has at first for its weight, and what the search
// has next when CBC's bound ends further than kCbcGoesOnGap (relative) from the best weight.
constexpr double kCbcShare = 0.2, kSearchShare = 0.45, kCbcGoesOnGap = 0.02;
// Of a direct caller's time limit, kept for what runs past a stop (CBC's last node, the
// answer's assembly): this share of it, at most kMarginS.
constexpr double kMarginS = 0.25, kMarginShare = 0.02;

Clock::time_point after(Clock::time_point t, double seconds) {
  return detail::time_after(t, seconds);
}
double until(Clock::time_point t) {
  return detail::seconds_until(t);
}

struct PartState {
  std::unique_ptr<detail::LocalSearch> search;  // one trajectory, resumed
  detail::PartSchedule best;
  std::vector<std::vector<std::uint32_t>> cliques;
  double bound = 0;
  bool optimal = false, cost_optimal = false, costs = false, cliques_built = false;
  bool too_large = false;  // for CBC: the search has the part's time
};

class Solver {
 public:
  Solver(const detail::Compiled& compiled, const ScheduleOptions& options, double total_weight,
         detail::Budget& budget)
      : c_(compiled),
        opt_(options),
        total_weight_(total_weight),
        budget_(budget),
        state_(compiled.parts.size()) {}

  void round_one(std::size_t i, Clock::time_point end) {
    const auto& part = c_.parts[i];
    auto& st = state_[i];
    const auto start = Clock::now();
    const double share = std::chrono::duration<double>(end - start).count();
    double all_weight = 0, least_cost = 0;
    for (std::size_t v = 0; v < part.vars(); ++v) {
      all_weight += part.weight[part.var_first[v]];
      double c = std::numeric_limits<double>::infinity();
      for (auto n = part.var_first[v]; n < part.var_first[v + 1]; ++n) {
        c = std::min(c, part.cost[n]);
        st.costs = st.costs || part.cost[n] > 0;
      }
      least_cost += c;
    }
    st.bound = all_weight;
    const std::uint64_t moves = opt_.search_moves > 0
                                    ? opt_.search_moves
                                    : 1000 + 200 * static_cast<std::uint64_t>(part.nodes());
    const detail::PartSchedule given = start_of(part);
    st.search = std::make_unique<detail::LocalSearch>(part, opt_.seed);
    st.search->begin(given.feasible ? &given : nullptr);
    st.best = st.search->run(moves, opt_.exact ? after(start, share / 4) : end, budget_);
    search_objective += st.best.feasible ? st.best.weight : 0.0;
    // Every candidate taken at its cheapest value: nothing can do better.
    if (st.best.feasible && st.best.weight >= all_weight - 1e-9 * all_weight &&
        st.best.cost <= least_cost + 1e-9 * std::max(1.0, least_cost)) {
      st.optimal = st.cost_optimal = true;
      st.bound = st.best.weight;
      return;
    }
    if (!opt_.exact) return;
    const bool searched = st.best.feasible;
    weight_phase(i, std::min(end, after(Clock::now(), kCbcShare * share)));
    // Not proven: CBC goes on when its bound is close to the best schedule; otherwise the
    // search goes on along its trajectory for a while (the better of its schedule and CBC's
    // stands), then CBC again from the best schedule.
    const bool close =
        st.best.feasible && st.bound - st.best.weight <= kCbcGoesOnGap * std::max(1.0, st.bound);
    if (!st.optimal && !close && searched && until(end) > 0) {
      // A model too large for CBC leaves the search the whole share.
      const auto until_then =
          st.too_large ? end : std::min(end, after(Clock::now(), kSearchShare * share));
      auto more = st.search->run(std::numeric_limits<std::uint64_t>::max(), until_then, budget_);
      if (more.feasible && more.weight > st.best.weight) st.best = std::move(more);
    }
    if (!st.optimal) weight_phase(i, end);
    if (st.optimal) cost_phase(i, end);
  }

  void round_two(std::size_t i, Clock::time_point end) {
    auto& st = state_[i];
    if (!st.optimal) weight_phase(i, end);
    if (st.optimal && !st.cost_optimal) cost_phase(i, end);
  }

  [[nodiscard]] const PartState& state(std::size_t i) const { return state_[i]; }

  // The caller's starting schedule on a part, feasible or flagged not (or none given).
  [[nodiscard]] detail::PartSchedule start_of(const detail::Part& part) const {
    detail::PartSchedule s;
    if (opt_.start.empty()) return s;
    s.node.assign(part.vars(), -1);
    for (std::size_t v = 0; v < part.vars(); ++v) {
      const auto c = part.var_candidate[v];
      const int value = c < opt_.start.size() ? opt_.start[c] : -1;
      if (value < 0) continue;
      bool found = false;
      for (auto n = part.var_first[v]; n < part.var_first[v + 1]; ++n) {
        if (static_cast<int>(part.node_value[n]) != value) continue;
        s.node[v] = static_cast<std::int32_t>(n);
        found = true;
      }
      if (!found) return {};  // a value no schedule can take
    }
    if (!part.y.empty() && !part.rows.empty()) return {};  // its continuous values are unknown
    for (const auto& y : part.y) s.y.push_back(y.lower);
    s.feasible = detail::check_part(part, s);
    return s;
  }
  std::size_t cliques = 0;
  double search_objective = 0;

 private:
  void weight_phase(std::size_t i, Clock::time_point end) {
    auto& st = state_[i];
    if (until(end) <= 0 || st.too_large) return;
    if (!st.cliques_built) {
      st.cliques = detail::clique_cover(c_.parts[i]);
      st.cliques_built = true;
      cliques += st.cliques.size();
    }
    auto w = detail::solve_milp(c_.parts[i], st.cliques, st.best, false, 0.0, until(end), budget_);
    st.best = std::move(w.best);
    st.optimal = w.optimal;
    st.too_large = w.too_large;
    st.bound = std::min(st.bound, std::max(w.bound, st.best.feasible ? st.best.weight : 0.0));
    st.cost_optimal = st.optimal && !st.costs;
  }
  // The least cost among schedules of the optimal weight (weights that are integers differ by
  // at least one: half of it separates them exactly).
  void cost_phase(std::size_t i, Clock::time_point end) {
    auto& st = state_[i];
    if (st.cost_optimal || until(end) <= 0) return;
    const double min_weight = c_.integral_weights
                                  ? st.best.weight - 0.5
                                  : st.best.weight - 1e-9 * std::max(1.0, total_weight_);
    auto c =
        detail::solve_milp(c_.parts[i], st.cliques, st.best, true, min_weight, until(end), budget_);
    st.best = std::move(c.best);
    st.cost_optimal = c.optimal;
  }

  const detail::Compiled& c_;
  const ScheduleOptions& opt_;
  double total_weight_;
  detail::Budget& budget_;
  std::vector<PartState> state_;
};

}  // namespace

ScheduleResult detail::solve_schedule(const ScheduleProblem& problem,
                                      const ScheduleOptions& options, Budget& budget,
                                      Clock::time_point deadline) {
  const auto t0 = Clock::now();
  const auto compiled = detail::compile(problem);
  if (compiled.infeasible) {
    throw Error(ErrorKind::input, {" SCHEDULE: a row without variables can never hold"});
  }
  double total_weight = 0;
  for (const auto& c : problem.candidates) total_weight += c.weight;
  Solver solver(compiled, options, total_weight, budget);

  const auto& parts = compiled.parts;
  auto size = [&](std::size_t i) { return parts[i].nodes() + parts[i].y.size() + 1; };
  std::size_t left = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) left += size(i);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const double share =
        std::max(0.0, until(deadline)) * static_cast<double>(size(i)) / static_cast<double>(left);
    left -= size(i);
    solver.round_one(i, after(Clock::now(), share));
  }
  if (options.exact) {
    left = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (!solver.state(i).cost_optimal) left += size(i);
    }
    for (std::size_t i = 0; i < parts.size() && until(deadline) > 0.01; ++i) {
      if (solver.state(i).cost_optimal) continue;
      const double share =
          until(deadline) * static_cast<double>(size(i)) / static_cast<double>(left);
      left -= size(i);
      solver.round_two(i, after(Clock::now(), share));
    }
  }

  ScheduleResult res;
  res.value.assign(problem.candidates.size(), -1);
  res.continuous.resize(problem.continuous.size());
  for (std::size_t j = 0; j < problem.continuous.size(); ++j) {
    res.continuous[j] = problem.continuous[j].lower;
  }
  res.values_removed = compiled.values_removed;
  res.parts = parts.size();
  res.cliques = solver.cliques;
  res.search_objective = solver.search_objective;
  res.feasible = res.optimal = res.cost_optimal = true;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const auto& part = parts[i];
    const auto& st = solver.state(i);
    res.optimal = res.optimal && st.optimal;
    res.cost_optimal = res.cost_optimal && st.cost_optimal;
    res.bound += st.bound;
    if (!st.best.feasible) {
      res.feasible = false;
      continue;
    }
    for (std::size_t v = 0; v < part.vars(); ++v) {
      const auto n = st.best.node[v];
      if (n >= 0) res.value[part.var_candidate[v]] = static_cast<int>(part.node_value[n]);
    }
    for (std::size_t j = 0; j < part.y.size(); ++j) {
      res.continuous[part.y_global[j]] = st.best.y[j];
    }
    res.objective += st.best.weight;
    res.cost += st.best.cost;
  }
  res.cost_optimal = res.cost_optimal && res.optimal;
  res.gap = res.bound > 0 ? std::max(0.0, res.bound - res.objective) / res.bound : 0.0;
  res.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  return res;
}

ScheduleResult solve_schedule(const ScheduleProblem& problem, const ScheduleOptions& options) {
  const auto t0 = Clock::now();
  if (!std::isfinite(options.time_limit_s) || options.time_limit_s <= 0.0) {
    throw Error(ErrorKind::input, {" SCHEDULE: the time limit must be positive"});
  }
  detail::Budget budget(options.time_limit_s, options.progress, t0);
  const double margin = std::min(kMarginS, kMarginShare * options.time_limit_s);
  return detail::solve_schedule(problem, options, budget, after(t0, options.time_limit_s - margin));
}

}  // namespace orvus
