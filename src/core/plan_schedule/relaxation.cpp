// A plan's schedule, its Lagrangian relaxation: a bound and a schedule to start from.
//
// The rows that join the satellites (a target at most once) and those that join a satellite's
// images beyond their order (imaging time per revolution, the recorder's rows) are priced:
// for multipliers lambda >= 0 per target and mu >= 0 per row, the best chain of images of
// each satellite for the priced priorities (a longest path over the images in start order,
// exact since the images a satellite can make together are the chains) gives an upper bound
// on every schedule's priority; subgradient steps (Polyak's rule, towards the best schedule
// found) lower it. Each few steps the chains, each target kept once and the rows repaired,
// are completed greedily into a schedule.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/plan_schedule/plan_schedule_internal.hpp"

namespace orvus::detail {
namespace {

// Subgradient steps of the relaxation at most (a count, not a time: the same input gives the
// same schedule to start from).
constexpr std::size_t kRelaxSteps = 1500;
// Steps without a better bound before the step size is halved.
constexpr std::size_t kRelaxPatience = 20;
// Images of one satellite further apart than this (s) are in different passes.
constexpr double kPassGap = 900.0;

class Relax {
 public:
  Relax(const Plan& plan, const std::vector<Acquisition>& cands, const std::vector<Slot>& slots,
        const std::vector<std::vector<Window>>& windows, const ScheduleProblem& problem)
      : plan_(plan), cands_(cands), slots_(slots), windows_(windows), n_(cands.size()) {
    // Packing rows: capacities (per candidate's uses) and the recorder's rows.
    rhs_ = problem.capacities;
    row_of_.resize(n_);
    for (std::size_t c = 0; c < n_; ++c)
      for (const ScheduleUse& u : problem.candidates[c].values[0].uses)
        row_of_[c].emplace_back(u.resource, u.amount);
    for (const ScheduleRow& r : problem.rows) {
      const std::size_t k = rhs_.size();
      rhs_.push_back(r.upper);
      for (const ScheduleTerm& t : r.terms)
        row_of_[t.choice.candidate].emplace_back(k, t.coefficient);
    }
    weight_.resize(n_);
    for (std::size_t c = 0; c < n_; ++c) weight_[c] = plan.targets[cands[c].target].priority;
    // Each candidate's predecessors: those it can follow within the longest transition, and
    // the point from which every earlier image frees it (by the images' free times).
    by_sat_.resize(plan.satellites.size());
    for (std::size_t c = 0; c < n_; ++c) by_sat_[cands[c].satellite].push_back(c);
    near_.resize(n_);
    free_until_.assign(n_, 0);
    by_free_.resize(by_sat_.size());
    for (std::size_t s = 0; s < by_sat_.size(); ++s) {
      auto& mine = by_sat_[s];
      std::stable_sort(mine.begin(), mine.end(), [&](std::size_t x, std::size_t y) {
        return slots[x].start < slots[y].start;
      });
      const SatelliteAgility& ag = plan.satellites[s].agility;
      const double longest = longest_transition(ag);
      double widest = 0.0;  // the longest image
      for (const std::size_t c : mine) widest = std::max(widest, slots[c].end - slots[c].start);
      std::vector<std::size_t>& by_free = by_free_[s];
      by_free = mine;
      std::stable_sort(by_free.begin(), by_free.end(),
                       [&](std::size_t x, std::size_t y) { return slots[x].end < slots[y].end; });
      std::size_t f = 0;
      for (std::size_t j = 0; j < mine.size(); ++j) {
        const std::size_t c = mine[j];
        while (f < by_free.size() && slots[by_free[f]].end + longest <= slots[c].start) ++f;
        free_until_[c] = f;  // by_free[0 .. f) can all precede c, whatever their roll
        for (std::size_t i = j; i-- > 0;) {
          const std::size_t p = mine[i];
          if (slots[p].start + widest + longest <= slots[c].start) break;  // all free before
          if (slots[p].end + longest <= slots[c].start) continue;
          if (follows(ag, cands[p], slots[p], cands[c], slots[c])) near_[c].push_back(p);
        }
      }
    }
  }

  Relaxation run(std::size_t iterations, Clock::time_point deadline, Budget& budget) {
    Relaxation out;
    out.start.assign(n_, -1);
    std::vector<double> lambda(plan_.targets.size(), 0.0), mu(rhs_.size(), 0.0);
    std::vector<char> x(n_, 0);
    std::vector<double> g_target(plan_.targets.size()), g_row(rhs_.size());
    std::vector<char> has(plan_.targets.size(), 0);
    for (const Acquisition& a : cands_) has[a.target] = 1;
    bool integral = true;
    for (std::size_t c = 0; c < n_; ++c)
      integral = integral && weight_[c] == std::floor(weight_[c]);
    double theta = 2.0;
    std::size_t since_better = 0;
    // The first step always: its chains are a bound and its repair a schedule.
    for (std::size_t it = 0; it < iterations && (it == 0 || Clock::now() < deadline); ++it) {
      budget.poll();
      // The priced chains.
      double value = 0.0;
      for (std::size_t t = 0; t < lambda.size(); ++t) value += has[t] ? lambda[t] : 0.0;
      for (std::size_t r = 0; r < rhs_.size(); ++r) value += mu[r] * rhs_[r];
      std::fill(x.begin(), x.end(), 0);
      for (std::size_t s = 0; s < by_sat_.size(); ++s) value += chain(s, lambda, mu, x);
      const double bound = integral ? std::floor(value + 1e-6) : value;
      if (bound < out.bound - 1e-9) {
        out.bound = bound;
        since_better = 0;
      } else if (++since_better >= kRelaxPatience) {
        theta /= 2.0;
        since_better = 0;
      }
      if (it % 4 == 0) repair(x, lambda, out);
      if (out.objective >= out.bound - 1e-9 * std::max(1.0, out.bound) || theta < 1e-4) break;
      // The step towards the best schedule's priority.
      std::fill(g_target.begin(), g_target.end(), 0.0);
      std::fill(g_row.begin(), g_row.end(), 0.0);
      for (std::size_t t = 0; t < g_target.size(); ++t) g_target[t] = has[t] ? 1.0 : 0.0;
      for (std::size_t r = 0; r < rhs_.size(); ++r) g_row[r] = rhs_[r];
      for (std::size_t c = 0; c < n_; ++c) {
        if (!x[c]) continue;
        g_target[cands_[c].target] -= 1.0;
        for (const auto& [r, a] : row_of_[c]) g_row[r] -= a;
      }
      double norm = 0.0;
      for (std::size_t t = 0; t < g_target.size(); ++t)
        if (!(lambda[t] <= 0.0 && g_target[t] > 0.0)) norm += g_target[t] * g_target[t];
      for (std::size_t r = 0; r < rhs_.size(); ++r)
        if (!(mu[r] <= 0.0 && g_row[r] > 0.0)) norm += g_row[r] * g_row[r];
      if (!(norm > 0.0)) break;  // the chains are a schedule: the bound is reached
      const double step = theta * (value - out.objective) / norm;
      for (std::size_t t = 0; t < lambda.size(); ++t)
        lambda[t] = std::max(0.0, lambda[t] - step * g_target[t]);
      for (std::size_t r = 0; r < mu.size(); ++r) mu[r] = std::max(0.0, mu[r] - step * g_row[r]);
    }
    if (out.objective < out.bound - 1e-9 * std::max(1.0, out.bound)) {
      improve(out, deadline, budget);
    }
    return out;
  }

  // Each pass of each satellite (its images closer than kPassGap to one another) planned again
  // given the rest: the best chain of the pass over the targets not acquired elsewhere (exact
  // within a pass, where a target has one image at most), preferring targets with fewer
  // images, kept when the schedule's priority does not drop and the satellite's revolutions
  // and recorder still hold. Rounds until three bring nothing more, or the deadline.
  void improve(Relaxation& out, Clock::time_point deadline, Budget& budget) {
    std::vector<long> holder(plan_.targets.size(), -1);  // the candidate acquiring it
    std::vector<double> alternatives(plan_.targets.size(), 0.0);
    for (std::size_t c = 0; c < n_; ++c) {
      alternatives[cands_[c].target] += 1.0;
      if (out.start[c] >= 0) holder[cands_[c].target] = static_cast<long>(c);
    }
    std::vector<std::vector<std::size_t>> passes;  // by satellite, then start
    std::vector<std::size_t> pass_satellite;
    for (std::size_t s = 0; s < by_sat_.size(); ++s) {
      for (std::size_t i = 0; i < by_sat_[s].size(); ++i) {
        const std::size_t c = by_sat_[s][i];
        if (i == 0 || slots_[c].start - slots_[by_sat_[s][i - 1]].start > kPassGap) {
          passes.emplace_back();
          pass_satellite.push_back(s);
        }
        passes.back().push_back(c);
      }
    }
    std::vector<char> in_pass(n_, 0);
    std::vector<double> w(n_, 0.0);
    for (int quiet = 0, round = 0; quiet < 3 && round < 50 && Clock::now() < deadline; ++round) {
      bool better = false;
      for (std::size_t k = 0; k < passes.size() && Clock::now() < deadline; ++k) {
        budget.poll();
        const auto& members = passes[k];
        double before = 0.0;
        for (const std::size_t c : members) {
          in_pass[c] = 1;
          if (out.start[c] >= 0) before += weight_[c];
        }
        for (const std::size_t c : members) {
          const long h = holder[cands_[c].target];
          w[c] = h >= 0 && !in_pass[static_cast<std::size_t>(h)]
                     ? -1.0
                     : weight_[c] * (1.0 + 1e-3 / alternatives[cands_[c].target]);
        }
        const std::vector<std::size_t> chosen = pass_chain(members, w);
        for (const std::size_t c : members) in_pass[c] = 0;
        double after = 0.0;
        for (const std::size_t c : chosen) after += weight_[c];
        if (after < before - 1e-9) continue;
        std::vector<int> trial = out.start;
        for (const std::size_t c : members) trial[c] = -1;
        for (const std::size_t c : chosen) trial[c] = 0;
        if (trial == out.start || !holds(pass_satellite[k], trial)) continue;
        for (const std::size_t c : members)
          if (out.start[c] >= 0) holder[cands_[c].target] = -1;
        for (const std::size_t c : chosen) holder[cands_[c].target] = static_cast<long>(c);
        out.start = std::move(trial);
        out.objective += after - before;
        better = better || after > before + 1e-9;
      }
      quiet = better ? 0 : quiet + 1;
    }
  }

 private:
  // Keeps candidate p's best chain value in `best` (and p in `arg`) when it is higher.
  void keep_best(std::size_t p, double& best, long& arg) const {
    if (best_[p] > best) {
      best = best_[p];
      arg = static_cast<long>(p);
    }
  }

  // Candidate c of weight w closes the best chain that fits before it: the best of those
  // already free by its start (`free_best`, `free_arg`) or of its near candidates that fit.
  // The best chain so far is kept in `top`, `top_arg`.
  void extend_chain(std::size_t c, double w, double free_best, long free_arg, double& top,
                    long& top_arg) {
    double before = free_best;
    long arg = free_arg;
    for (const std::size_t p : near_[c]) keep_best(p, before, arg);
    best_[c] = w + before;
    from_[c] = arg;
    keep_best(c, top, top_arg);
  }

  // The best chain of satellite s for the priced priorities, marked in x; its priced value.
  double chain(std::size_t s, const std::vector<double>& lambda, const std::vector<double>& mu,
               std::vector<char>& x) {
    const auto& mine = by_sat_[s];
    best_.assign(n_, 0.0);
    from_.assign(n_, -1);
    const auto& by_free = by_free_[s];
    double free_best = 0.0;
    long free_arg = -1;
    std::size_t f = 0;
    double top = 0.0;
    long top_arg = -1;
    for (const std::size_t c : mine) {
      double w = weight_[c] - lambda[cands_[c].target];
      for (const auto& [r, a] : row_of_[c]) w -= mu[r] * a;
      while (f < free_until_[c]) keep_best(by_free[f++], free_best, free_arg);
      extend_chain(c, w, free_best, free_arg, top, top_arg);
    }
    for (long c = top_arg; c >= 0; c = from_[static_cast<std::size_t>(c)])
      x[static_cast<std::size_t>(c)] = 1;
    return top;
  }

  // The chains made a schedule: each target once (its most valuable priced image), the
  // images that fit kept, then any candidate that fits, by priority then priced value.
  void repair(const std::vector<char>& x, const std::vector<double>& lambda, Relaxation& out) {
    Selection sel(plan_, cands_, slots_, windows_);
    std::vector<char> acquired(plan_.targets.size(), 0);
    std::vector<std::size_t> order;
    for (std::size_t c = 0; c < n_; ++c)
      if (x[c]) order.push_back(c);
    std::vector<std::size_t> rest;
    for (std::size_t c = 0; c < n_; ++c)
      if (!x[c]) rest.push_back(c);
    auto by_value = [&](std::size_t a, std::size_t b) {
      if (weight_[a] != weight_[b]) return weight_[a] > weight_[b];
      const double pa = -lambda[cands_[a].target], pb = -lambda[cands_[b].target];
      if (pa != pb) return pa > pb;
      return a < b;
    };
    std::stable_sort(order.begin(), order.end(), by_value);
    std::stable_sort(rest.begin(), rest.end(), by_value);
    std::vector<int> taken(n_, -1);
    double objective = 0.0;
    for (const auto* list : {&order, &rest}) {
      for (const std::size_t c : *list) {
        if (acquired[cands_[c].target] || !sel.fits(c)) continue;
        sel.add(c);
        acquired[cands_[c].target] = 1;
        taken[c] = 0;
        objective += weight_[c];
      }
    }
    if (objective > out.objective) {
      out.objective = objective;
      out.start = std::move(taken);
    }
  }

  // The best chain of the members (one pass of a satellite, by start) for the weights given
  // (negative: not taken).
  std::vector<std::size_t> pass_chain(const std::vector<std::size_t>& members,
                                      const std::vector<double>& w) {
    const SatelliteAgility& ag = plan_.satellites[cands_[members.front()].satellite].agility;
    const double longest = longest_transition(ag);
    std::vector<std::size_t> by_end = members;
    std::stable_sort(by_end.begin(), by_end.end(),
                     [&](std::size_t x, std::size_t y) { return slots_[x].end < slots_[y].end; });
    std::size_t f = 0;
    double free_best = 0.0, top = 0.0;
    long free_arg = -1, top_arg = -1;
    for (const std::size_t c : members) {
      best_[c] = -1.0;
      from_[c] = -1;
    }
    for (const std::size_t c : members) {
      while (f < by_end.size() && slots_[by_end[f]].end + longest <= slots_[c].start)
        keep_best(by_end[f++], free_best, free_arg);
      if (w[c] < 0.0) continue;
      extend_chain(c, w[c], free_best, free_arg, top, top_arg);
    }
    std::vector<std::size_t> out;
    for (long c = top_arg; c >= 0; c = from_[static_cast<std::size_t>(c)])
      out.push_back(static_cast<std::size_t>(c));
    return out;
  }

  // Whether satellite s's images of the schedule keep its revolutions' imaging time and its
  // recorder (their order holds: they are a chain).
  bool holds(std::size_t s, const std::vector<int>& taken) const {
    Selection sel(plan_, cands_, slots_, windows_);
    for (const std::size_t c : by_sat_[s]) {
      if (taken[c] < 0) continue;
      if (!sel.fits(c)) return false;
      sel.add(c);
    }
    return true;
  }

  const Plan& plan_;
  const std::vector<Acquisition>& cands_;
  const std::vector<Slot>& slots_;
  const std::vector<std::vector<Window>>& windows_;
  std::size_t n_;
  std::vector<double> rhs_, weight_;
  std::vector<std::vector<std::pair<std::size_t, double>>> row_of_;
  std::vector<std::vector<std::size_t>> by_sat_, by_free_, near_;
  std::vector<std::size_t> free_until_;
  std::vector<double> best_;
  std::vector<long> from_;
};

}  // namespace

Relaxation relax(const Plan& plan, const std::vector<Acquisition>& cands,
                 const std::vector<Slot>& slots, const std::vector<std::vector<Window>>& windows,
                 const ScheduleProblem& problem, Clock::time_point deadline, Budget& budget) {
  return Relax(plan, cands, slots, windows, problem).run(kRelaxSteps, deadline, budget);
}

}  // namespace orvus::detail
