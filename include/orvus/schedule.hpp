// Choosing acquisitions: a weighted selection problem over candidates with one to three values
// each, and its exact solver (a 0-1 mixed-integer programme solved by CBC, warm started by a
// greedy and tabu local search).
//
// The model. Candidate c taking value k is the 0-1 variable x(c,k); a candidate takes at most
// one value (sum over k of x(c,k) <= 1) and is "taken" when one is. Maximise the sum of the
// weights of the taken candidates; among schedules of equal weight, minimise the sum of the
// costs of the taken values. Constraints:
//   - forbidden pairs and triples of (candidate, value): never all taken together
//     (a plan's transitions: two acquisitions on one satellite that leave no time to roll and
//     settle between them; SPOT5's binary and ternary constraints);
//   - at-most-one sets: at most one of the listed (candidate, value) is taken (a plan's
//     acquisitions that overlap in time with their transitions, or one target's candidates);
//   - capacities: for each resource r, the sum over taken values of their use of r is at most
//     capacities[r] (the imaging seconds of one revolution; SPOT5's recorder);
//   - general linear rows over x and continuous variables y, lower <= a.x + b.y <= upper.
//     With y(p) the data downlinked over station pass p (0 <= y(p) <= rate * pass length),
//     a plan's recorder is, for each acquisition i and each pass q:
//       sum_{j <= i} data(j) x(j) - sum_{p before i} y(p) <= recorder   (level after i)
//       sum_{p <= q} y(p) - sum_{j ends before q} data(j) x(j) <= 0       (only data taken)
//     and the imaging time of one revolution may be written as a capacity or a row.
//
// Units are the caller's: weights, costs, uses and coefficients only need to be consistent
// (a plan uses priorities, degrees of roll plus a small multiple of time, seconds, Gbit).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "orvus/export.hpp"

namespace orvus {

// Use of a capacity resource by a value: `amount` (>= 0) units of resource `resource`.
struct ScheduleUse {
  std::size_t resource = 0;
  double amount = 0.0;
};

// One way of taking a candidate (a camera, a roll angle).
struct ScheduleValue {
  double cost = 0.0;  // secondary cost, finite and >= 0: smaller is preferred at equal weight
  std::vector<ScheduleUse> uses;
};

struct ScheduleCandidate {
  double weight = 1.0;                // > 0, gained when the candidate takes any value
  std::vector<ScheduleValue> values;  // 1 to 3
};

// The candidate `candidate` taking its value `value` (an index into its values).
struct ScheduleChoice {
  std::size_t candidate = 0;
  std::size_t value = 0;
};

struct ScheduleTerm {
  ScheduleChoice choice;
  double coefficient = 0.0;
};
struct ContinuousTerm {
  std::size_t variable = 0;  // index into ScheduleProblem::continuous
  double coefficient = 0.0;
};

// lower <= sum of coefficient * x(choice) + sum of coefficient * y(variable) <= upper; an
// infinite bound is absent.
struct ScheduleRow {
  std::vector<ScheduleTerm> terms;
  std::vector<ContinuousTerm> continuous;
  double lower = -std::numeric_limits<double>::infinity();
  double upper = std::numeric_limits<double>::infinity();
};

// A continuous variable y with its bounds (finite lower bound, upper bound may be infinite).
struct ContinuousVariable {
  double lower = 0.0;
  double upper = std::numeric_limits<double>::infinity();
};

struct ScheduleProblem {
  std::vector<ScheduleCandidate> candidates;
  std::vector<std::array<ScheduleChoice, 2>> forbidden_pairs;
  std::vector<std::array<ScheduleChoice, 3>> forbidden_triples;
  std::vector<std::vector<ScheduleChoice>> at_most_one;
  std::vector<double> capacities;  // per resource, >= 0
  std::vector<ContinuousVariable> continuous;
  // The empty schedule (no candidate taken) should satisfy every row for some y: the local
  // search starts from it. Rows it violates leave the search to the exact solver alone.
  std::vector<ScheduleRow> rows;
};

struct ScheduleOptions {
  // Wall clock for the whole solve (> 0): the local search, CBC (its first linear programme
  // included) and the neighbourhoods stop by it.
  double time_limit_s = 60.0;
  // Moves of the tabu search per independent part; 0 chooses from the part's size. A move
  // count (not a time) bounds it so that the same input gives the same warm start.
  std::uint64_t search_moves = 0;
  std::uint32_t seed = 1;  // of the local search's tie-breaking
  bool exact = true;       // false: the greedy and tabu search alone, no bound but the trivial
  // A schedule to start from (per candidate the value taken, -1 for none; empty: none): the
  // search starts from it in each part where it is feasible, instead of from the greedy.
  std::vector<int> start;
  // When given, called on the calling thread about every 50 ms while the solve runs, with the
  // share of the time limit used (0 to 1); it may throw to stop the solve (a caller's
  // interrupt), and the exception leaves as thrown, CBC stopped first.
  std::function<void(double)> progress;
};

struct ScheduleResult {
  std::vector<int> value;          // per candidate: the value taken, -1 when not taken
  std::vector<double> continuous;  // the continuous variables
  double objective = 0.0;          // sum of the weights of the taken candidates
  double cost = 0.0;               // sum of the costs of the taken values
  double bound = 0.0;              // proven upper bound on `objective`
  double gap = 0.0;                // (bound - objective) / bound, 0 for an empty problem
  bool optimal = false;            // objective proven maximal
  bool cost_optimal = false;       // and, among maximal schedules, cost proven minimal
  bool feasible = false;           // false only when no schedule was found (see rows)
  double seconds = 0.0;            // wall clock of the solve
  double search_objective = 0.0;   // what the local search alone reached
  std::size_t values_removed = 0;  // values that no schedule can take (preprocessing)
  std::size_t parts = 0;           // independent parts solved apart
  std::size_t cliques = 0;         // clique rows written for the conflicts
};

// Solves the problem: the best schedule found within the time limit, always feasible (the
// empty schedule at worst, when it is). Equal weights compare exactly when every weight is an
// integer (priorities, SPOT5); other sums within 1e-9 of the total weight count as equal.
// Same problem and options, same schedule whenever the local search ends on its move count
// (not on its time, a quarter of a part's share) and the optimum is proven: the search's
// ties are broken by a seeded generator and CBC runs one thread. The time goes to the
// independent parts in proportion to their size, smaller parts first; time they leave goes
// to the parts still unproven.
// Raises Error (kind input) for a malformed problem: a weight that is not positive and finite,
// a candidate with no value or more than three, an index out of range, a negative use, a row
// without variables that cannot hold; and for a time limit that is not positive.
ORVUS_API ScheduleResult solve_schedule(const ScheduleProblem& problem,
                                        const ScheduleOptions& options = {});

}  // namespace orvus
