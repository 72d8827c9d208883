// A plan's schedule, its neighbourhoods solved exactly: a better schedule to start from.
//
// A target left out is mostly blocked by its neighbours' images. Its neighbourhood (the
// target, then the targets whose candidates conflict with its candidates, then theirs, at most
// kNeighbourhood targets in that order) is freed and solved exactly by the solver core with
// the rest of the schedule fixed: candidates that conflict with a fixed image are left out,
// and the capacities and rows keep what the fixed images leave. A better result (more
// priority, or as much at a smaller cost) replaces the neighbourhood's images. Each round
// visits the targets left out in the deck's order; rounds end when one brings nothing, or at
// the deadline.
#include <algorithm>
#include <utility>

#include "core/plan_schedule/plan_schedule_internal.hpp"

namespace orvus::detail {
namespace {

constexpr std::size_t kNeighbourhood = 60;
constexpr double kNeighbourhoodLimit = 2.0;  // s, the solver's limit on one neighbourhood

class Neighbourhoods {
 public:
  Neighbourhoods(const std::vector<Acquisition>& cands, std::size_t targets,
                 const ScheduleProblem& p)
      : cands_(cands),
        p_(p),
        partners_(cands.size()),
        of_target_(targets),
        near_(targets),
        free_(targets, 0),
        index_(cands.size(), -1) {
    for (const auto& fp : p.forbidden_pairs) {
      partners_[fp[0].candidate].push_back(fp[1].candidate);
      partners_[fp[1].candidate].push_back(fp[0].candidate);
    }
    for (std::size_t c = 0; c < cands.size(); ++c) of_target_[cands[c].target].push_back(c);
    for (std::size_t t = 0; t < targets; ++t) {
      std::vector<std::size_t>& near = near_[t];
      for (const std::size_t c : of_target_[t])
        for (const std::size_t q : partners_[c])
          if (cands[q].target != t) near.push_back(cands[q].target);
      std::sort(near.begin(), near.end());
      near.erase(std::unique(near.begin(), near.end()), near.end());
    }
  }

  // x: per candidate 0 (taken) or -1, a feasible schedule, improved in place.
  void run(std::vector<int>& x, Clock::time_point deadline, Budget& budget) {
    for (int round = 0; round < 20 && Clock::now() < deadline; ++round) {
      bool better = false;
      for (std::size_t t = 0; t < of_target_.size() && Clock::now() < deadline; ++t) {
        budget.poll();
        if (of_target_[t].empty() || acquired(t, x)) continue;
        better = solve(around(t), x, deadline, budget) || better;
      }
      if (!better) break;
    }
  }

 private:
  [[nodiscard]] bool acquired(std::size_t t, const std::vector<int>& x) const {
    return std::any_of(of_target_[t].begin(), of_target_[t].end(),
                       [&](std::size_t c) { return x[c] >= 0; });
  }

  // Target t's neighbourhood, breadth first over the conflicts.
  std::vector<std::size_t> around(std::size_t t) {
    std::vector<std::size_t> out{t};
    free_[t] = 1;
    for (std::size_t k = 0; k < out.size() && out.size() < kNeighbourhood; ++k) {
      for (const std::size_t u : near_[out[k]]) {
        if (free_[u]) continue;
        free_[u] = 1;
        out.push_back(u);
        if (out.size() >= kNeighbourhood) break;
      }
    }
    for (const std::size_t u : out) free_[u] = 0;
    return out;
  }

  // Solves the neighbourhood with the rest fixed; whether x got better.
  bool solve(const std::vector<std::size_t>& targets, std::vector<int>& x,
             Clock::time_point deadline, Budget& budget) {
    if (seconds_until(deadline) < 0.05) return false;
    for (const std::size_t t : targets) free_[t] = 1;
    auto fixed = [&](std::size_t c) { return x[c] >= 0 && !free_[cands_[c].target]; };
    ScheduleProblem sub;
    std::vector<std::size_t> members;  // sub candidate -> candidate
    double weight = 0.0, cost = 0.0;   // of the neighbourhood's images now
    std::vector<int> start;
    for (const std::size_t t : targets) {
      std::vector<ScheduleChoice> once;
      for (const std::size_t c : of_target_[t]) {
        if (std::any_of(partners_[c].begin(), partners_[c].end(), fixed)) continue;
        index_[c] = static_cast<long>(members.size());
        once.push_back({members.size(), 0});
        members.push_back(c);
        sub.candidates.push_back(p_.candidates[c]);
        start.push_back(x[c]);
        if (x[c] >= 0) {
          weight += p_.candidates[c].weight;
          cost += p_.candidates[c].values[0].cost;
        }
      }
      if (once.size() > 1) sub.at_most_one.push_back(std::move(once));
    }
    for (const std::size_t c : members)
      for (const std::size_t q : partners_[c])
        if (index_[q] > index_[c])
          sub.forbidden_pairs.push_back({{{static_cast<std::size_t>(index_[c]), 0},
                                          {static_cast<std::size_t>(index_[q]), 0}}});
    sub.capacities = p_.capacities;
    for (std::size_t c = 0; c < x.size(); ++c)
      if (fixed(c))
        for (const ScheduleUse& u : p_.candidates[c].values[0].uses)
          sub.capacities[u.resource] = std::max(0.0, sub.capacities[u.resource] - u.amount);
    for (const ScheduleRow& row : p_.rows) {
      ScheduleRow r;
      double held = 0.0;  // by the fixed images
      for (const ScheduleTerm& term : row.terms) {
        const std::size_t c = term.choice.candidate;
        if (index_[c] >= 0) {
          r.terms.push_back({{static_cast<std::size_t>(index_[c]), 0}, term.coefficient});
        } else if (fixed(c)) {
          held += term.coefficient;
        }
      }
      if (r.terms.empty()) continue;
      r.upper = std::max(0.0, row.upper - held);
      sub.rows.push_back(std::move(r));
    }
    for (const std::size_t t : targets) free_[t] = 0;
    for (const std::size_t c : members) index_[c] = -1;
    if (members.empty()) return false;

    ScheduleOptions opt;
    opt.start = std::move(start);
    const ScheduleResult r = solve_schedule(
        sub, opt, budget, std::min(deadline, time_after(Clock::now(), kNeighbourhoodLimit)));
    const double tolerance = 1e-9 * std::max(1.0, weight);
    if (!r.feasible || r.objective < weight - tolerance ||
        (r.objective <= weight + tolerance && r.cost >= cost - 1e-9))
      return false;
    for (const std::size_t t : targets)
      for (const std::size_t c : of_target_[t]) x[c] = -1;
    for (std::size_t i = 0; i < members.size(); ++i) x[members[i]] = r.value[i] >= 0 ? 0 : -1;
    return r.objective > weight + tolerance;
  }

  const std::vector<Acquisition>& cands_;
  const ScheduleProblem& p_;
  std::vector<std::vector<std::size_t>> partners_, of_target_, near_;
  std::vector<char> free_;
  std::vector<long> index_;
};

}  // namespace

void improve_neighbourhoods(const std::vector<Acquisition>& cands, std::size_t targets,
                            const ScheduleProblem& problem, std::vector<int>& x,
                            Clock::time_point deadline, Budget& budget) {
  Neighbourhoods(cands, targets, problem).run(x, deadline, budget);
}

}  // namespace orvus::detail
