// The scheduler's internals: the problem compiled into independent parts of (candidate, value)
// nodes, the clique cover of their conflicts, the local search and the exact solver.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/schedule/budget.hpp"
#include "orvus/schedule.hpp"

namespace orvus::detail {

// One independent part of a problem, on local indices. A node is one (candidate, value); the
// nodes of one candidate (a "variable" here) are consecutive.
struct Part {
  std::vector<std::uint32_t> var_candidate;  // global candidate of each local variable
  std::vector<std::uint32_t> var_first;      // nodes of variable v: var_first[v] .. [v + 1]
  std::vector<std::uint32_t> node_var;
  std::vector<std::uint32_t> node_value;  // index into the candidate's values
  std::vector<double> weight, cost;       // per node (the weight is the candidate's)
  // Conflicts: sorted neighbours of each node, the other values of its variable included.
  std::vector<std::vector<std::uint32_t>> adj;
  // Forbidden triples of nodes of three distinct variables, none of whose pairs conflicts.
  std::vector<std::array<std::uint32_t, 3>> triples;
  std::vector<std::vector<std::uint32_t>> node_triples;
  // Packing rows: sum of amounts of the taken nodes <= cap (capacities, and the general rows
  // with no continuous term, non-negative coefficients and no binding lower bound).
  std::vector<double> cap;
  std::vector<std::vector<std::pair<std::uint32_t, double>>> node_uses;  // (packing row, amount)
  // The other general rows, on local nodes and continuous variables.
  struct Row {
    std::vector<std::pair<std::uint32_t, double>> x, y;
    double lower = 0, upper = 0;
  };
  std::vector<Row> rows;
  std::vector<std::vector<std::pair<std::uint32_t, double>>> node_rows;  // (row, coefficient)
  std::vector<ContinuousVariable> y;
  std::vector<std::uint32_t> y_global;

  [[nodiscard]] std::size_t nodes() const { return node_var.size(); }
  [[nodiscard]] std::size_t vars() const { return var_candidate.size(); }
};

struct Compiled {
  std::vector<Part> parts;  // in the order they are solved: smaller first
  std::size_t values_removed = 0;
  bool integral_weights = true;
  bool infeasible = false;  // a row that no schedule can satisfy (no variable in it)
};

// Validates (raising Error) and compiles: values no schedule can take removed, conflicts and
// triples normalised, rows sorted into packing and general, independent parts split.
Compiled compile(const ScheduleProblem& problem);

// Clique cover of the conflict graph of a part: maximal cliques, built greedily in a fixed
// order, whose pairs include every conflict edge.
std::vector<std::vector<std::uint32_t>> clique_cover(const Part& part);

// A schedule of a part: the node taken by each variable (-1: none), continuous values.
struct PartSchedule {
  std::vector<std::int32_t> node;
  std::vector<double> y;
  double weight = 0, cost = 0;
  bool feasible = false;
};

// Relative tolerance of the capacity and row checks.
inline constexpr double kRowTolerance = 1e-9;

// Re-checks a part's schedule against every constraint (binary, ternary, packing and general
// rows, continuous bounds) and fills weight and cost; the solver keeps no schedule that fails.
bool check_part(const Part& part, PartSchedule& s);

// Greedy and tabu search over a part, in steps of one trajectory (see local_search.cpp).
class Search;
class LocalSearch {
 public:
  LocalSearch(const Part& part, std::uint32_t seed);
  ~LocalSearch();
  LocalSearch(const LocalSearch&) = delete;
  LocalSearch& operator=(const LocalSearch&) = delete;
  // Starts from `start` (a feasible schedule) or else the empty schedule; false when that
  // breaks a row (the search then never runs).
  bool begin(const PartSchedule* start);
  // Up to `moves` more moves, stopping earlier at `deadline`, the budget polled at each: the
  // best schedule found so far.
  PartSchedule run(std::uint64_t moves, Clock::time_point deadline, Budget& budget);

 private:
  std::unique_ptr<Search> impl_;
};

// Greedy and tabu search from `start` (a feasible schedule) or else the empty schedule: at most
// `moves` moves, stopping earlier at `deadline`, the budget polled at each. Infeasible (feasible
// = false) only if it starts from the empty schedule and that violates a row.
PartSchedule local_search(const Part& part, std::uint64_t moves, std::uint32_t seed,
                          Clock::time_point deadline, const PartSchedule* start, Budget& budget);

// The exact solver on one part. Weight mode maximises the weight; cost mode minimises the cost
// among schedules of weight >= min_weight.
struct MilpOutcome {
  PartSchedule best;  // the start when nothing better was found
  double bound = 0;   // weight mode: upper bound on the weight
  bool optimal = false;
  bool too_large = false;  // its linear relaxation not solved in the time: CBC did not start
};
// CBC stops by `seconds` of wall clock (its linear programmes too), polling the budget as it
// goes; what the budget's progress throws leaves once CBC has returned.
MilpOutcome solve_milp(const Part& part, const std::vector<std::vector<std::uint32_t>>& cliques,
                       const PartSchedule& start, bool cost_mode, double min_weight, double seconds,
                       Budget& budget);

}  // namespace orvus::detail
