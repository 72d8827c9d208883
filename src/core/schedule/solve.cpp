// The solve: parts one after the other, smaller first, each given its share of the time left;
// in each, the local search, then the weight optimum by the exact solver, then the least cost
// among schedules of that weight.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <limits>

#include "core/schedule/schedule_internal.hpp"
#include "orvus/error.hpp"

namespace orvus {

using detail::Clock;

ScheduleResult solve_schedule(const ScheduleProblem& problem, const ScheduleOptions& options) {
  const auto t0 = Clock::now();
  if (!std::isfinite(options.time_limit_s) || options.time_limit_s <= 0.0) {
    throw Error(ErrorKind::input, {" SCHEDULE: the time limit must be positive"});
  }
  auto compiled = detail::compile(problem);
  if (compiled.infeasible) {
    throw Error(ErrorKind::input, {" SCHEDULE: a row without variables can never hold"});
  }
  const auto deadline = t0 + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(options.time_limit_s));
  ScheduleResult res;
  res.value.assign(problem.candidates.size(), -1);
  res.continuous.resize(problem.continuous.size());
  for (std::size_t j = 0; j < problem.continuous.size(); ++j) {
    res.continuous[j] = problem.continuous[j].lower;
  }
  res.values_removed = compiled.values_removed;
  res.parts = compiled.parts.size();
  res.feasible = true;
  res.optimal = res.cost_optimal = true;

  double total_weight = 0;
  for (const auto& c : problem.candidates) total_weight += c.weight;
  std::size_t left = 0;
  for (const auto& part : compiled.parts) left += part.nodes() + part.y.size();

  for (const auto& part : compiled.parts) {
    const auto size = part.nodes() + part.y.size();
    const auto now = Clock::now();
    const double remaining = std::chrono::duration<double>(deadline - now).count();
    const double share = std::max(0.0, remaining) * static_cast<double>(size) /
                         static_cast<double>(std::max<std::size_t>(left, 1));
    left -= size;
    const auto part_end =
        now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(share));

    double all_weight = 0, least_cost = 0;
    bool costs = false;
    for (std::size_t v = 0; v < part.vars(); ++v) {
      all_weight += part.weight[part.var_first[v]];
      double c = std::numeric_limits<double>::infinity();
      for (auto n = part.var_first[v]; n < part.var_first[v + 1]; ++n) {
        c = std::min(c, part.cost[n]);
        costs = costs || part.cost[n] > 0;
      }
      least_cost += c;
    }
    const std::uint64_t moves = options.search_moves > 0
                                    ? options.search_moves
                                    : 1000 + 200 * static_cast<std::uint64_t>(part.nodes());
    const auto search_end = options.exact ? now + (part_end - now) / 2 : part_end;
    auto best = detail::local_search(part, moves, options.seed, search_end);
    res.search_objective += best.feasible ? best.weight : 0.0;
    double bound = all_weight;
    bool optimal = false, cost_optimal = false;
    // Every candidate taken at its cheapest value: nothing can do better.
    if (best.feasible && best.weight >= all_weight - 1e-9 * all_weight &&
        best.cost <= least_cost + 1e-9 * std::max(1.0, least_cost)) {
      optimal = cost_optimal = true;
      bound = best.weight;
    } else if (options.exact) {
      const auto cliques = detail::clique_cover(part);
      res.cliques += cliques.size();
      auto seconds_to = [&](Clock::time_point end) {
        return std::chrono::duration<double>(end - Clock::now()).count();
      };
      // The weight optimum gets most of the share when a cost is to be minimised after it.
      const auto weight_end = costs ? Clock::now() + (part_end - Clock::now()) * 4 / 5 : part_end;
      auto w = detail::solve_milp(part, cliques, best, false, 0.0, seconds_to(weight_end));
      best = std::move(w.best);
      optimal = w.optimal;
      bound = std::min(bound, std::max(w.bound, best.feasible ? best.weight : 0.0));
      cost_optimal = optimal && !costs;
      if (optimal && costs && seconds_to(part_end) > 0.0) {
        const double min_weight = compiled.integral_weights
                                      ? best.weight - 0.5
                                      : best.weight - 1e-9 * std::max(1.0, total_weight);
        auto c = detail::solve_milp(part, cliques, best, true, min_weight, seconds_to(part_end));
        best = std::move(c.best);
        cost_optimal = c.optimal;
      }
    }
    if (std::getenv("K_PARTS")) std::fprintf(stderr, "part nodes %zu vars %zu triples %zu caps %zu: %.0f bound %.1f opt %d\n", part.nodes(), part.vars(), part.triples.size(), part.cap.size(), best.weight, bound, (int)optimal);
    res.optimal = res.optimal && optimal;
    res.cost_optimal = res.cost_optimal && cost_optimal;
    res.bound += bound;
    if (!best.feasible) {
      res.feasible = false;
      continue;
    }
    for (std::size_t v = 0; v < part.vars(); ++v) {
      const auto n = best.node[v];
      if (n >= 0) res.value[part.var_candidate[v]] = static_cast<int>(part.node_value[n]);
    }
    for (std::size_t j = 0; j < part.y.size(); ++j) res.continuous[part.y_global[j]] = best.y[j];
    res.objective += best.weight;
    res.cost += best.cost;
  }
  res.cost_optimal = res.cost_optimal && res.optimal;
  res.gap = res.bound > 0 ? std::max(0.0, res.bound - res.objective) / res.bound : 0.0;
  res.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  return res;
}

}  // namespace orvus
