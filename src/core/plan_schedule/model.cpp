// A plan's schedule, its model: the downlink windows of each satellite and the selection
// problem the solver core takes (the candidates with their priorities and costs, one image a
// target, the transitions, the imaging time of each revolution and the recorder's rows).
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include "core/plan_schedule/plan_schedule_internal.hpp"

namespace orvus::detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// The secondary cost of an image at the plan's end (0 at its start), after its |roll| in
// degrees: earlier images win among schedules of equal priority and roll.
constexpr double kLateCost = 1e-3;

// The recorder's rows of one satellite. With Y(q) what the windows 1..q can send at most
// (as much as they can, of the data recorded before each starts) and D(t) the data recorded
// by t, the level after an image ending at e, q windows having ended, is D(e) - Y(q), and
// Y(q) = min(C(1..q), min over k <= q of D(a_k) + C(k+1..q)) where C sums the windows'
// capacities. So the level stays within R after every image exactly when, for every
// q and k <= q, the data of the images ending after a_k (any time, for k = 0) and before
// l_{q+1} is at most R + C(k+1..q). Rows that no selection can break (the images there,
// at most the imaging time of each revolution, hold less) are left out.
void recorder_rows(const Plan& plan, const std::vector<Acquisition>& cands,
                   const std::vector<Slot>& slots, const std::vector<std::size_t>& mine,
                   const std::vector<Window>& w, Model& m, Budget& budget) {
  const SatelliteAgility& ag = plan.satellites.at(cands[mine.front()].satellite).agility;
  const double R = *ag.recorder_gbit;
  const double per_revolution = ag.max_imaging_s_per_orbit && ag.imaging_gbit_s
                                    ? *ag.max_imaging_s_per_orbit * *ag.imaging_gbit_s
                                    : kInf;
  std::vector<std::size_t> by_end = mine;
  std::stable_sort(by_end.begin(), by_end.end(),
                   [&](std::size_t x, std::size_t y) { return slots[x].end < slots[y].end; });
  std::vector<double> ends(by_end.size());
  for (std::size_t i = 0; i < by_end.size(); ++i) ends[i] = slots[by_end[i]].end;
  const std::size_t nw = w.size();
  std::vector<double> cum(nw + 1, 0.0);  // cum[q] = C(1..q)
  for (std::size_t k = 0; k < nw; ++k) cum[k + 1] = cum[k] + w[k].capacity();
  std::map<int, double> rev_data;
  for (std::size_t q = 0; q <= nw; ++q) {
    // Images ending at or after l_q (windows 1..q ended) and before l_{q+1}.
    const double lo_end = q == 0 ? -kInf : w[q - 1].l;
    const double hi_end = q == nw ? kInf : w[q].l;
    const auto first_in = std::lower_bound(ends.begin(), ends.end(), lo_end);
    const auto past = std::lower_bound(ends.begin(), ends.end(), hi_end);
    if (first_in == past) continue;  // no image there: no level to check
    const std::size_t stop = static_cast<std::size_t>(past - ends.begin());
    for (std::size_t k = 0; k <= q; ++k) {
      budget.poll();
      const double after_a = k == 0 ? -kInf : w[k - 1].a;
      const std::size_t begin = static_cast<std::size_t>(
          std::upper_bound(ends.begin(), ends.end(), after_a) - ends.begin());
      if (begin >= stop) continue;
      const double rhs = R + (cum[q] - cum[k]);
      rev_data.clear();
      for (std::size_t i = begin; i < stop; ++i)
        rev_data[cands[by_end[i]].revolution] += cands[by_end[i]].data_gbit;
      double most = 0.0;
      for (const auto& [rev, d] : rev_data) most += std::min(d, per_revolution);
      if (most <= rhs * (1.0 + 1e-12)) continue;
      ScheduleRow row;
      row.upper = rhs;
      for (std::size_t i = begin; i < stop; ++i)
        row.terms.push_back({{by_end[i], 0}, cands[by_end[i]].data_gbit});
      m.problem.rows.push_back(std::move(row));
    }
  }
}

}  // namespace

std::vector<std::vector<Window>> windows_of(const Plan& plan, const std::vector<PlanPass>& passes) {
  std::vector<std::vector<Window>> out(plan.satellites.size());
  std::vector<std::size_t> order(passes.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    return since_epoch(passes[y].pass.aos_utc, passes[x].pass.aos_utc) < 0.0;
  });
  std::vector<double> last(plan.satellites.size(), -kInf);
  for (const std::size_t i : order) {
    const PlanPass& p = passes[i];
    const Station& st = plan.stations.at(p.station);
    if (!st.downlink_gbit_s || p.satellite >= out.size()) continue;
    Window w;
    w.a = std::max(since_epoch(plan.interval.start, p.pass.aos_utc), last[p.satellite]);
    w.l = since_epoch(plan.interval.start, p.pass.los_utc);
    w.rate = *st.downlink_gbit_s;
    w.pass = i;
    last[p.satellite] = std::max(last[p.satellite], w.l);
    if (w.l > w.a) out[p.satellite].push_back(w);
  }
  return out;
}

Model build_model(const Plan& plan, const std::vector<Acquisition>& cands,
                  const std::vector<Slot>& slots, const std::vector<std::vector<Window>>& windows,
                  Budget& budget) {
  Model m;
  ScheduleProblem& p = m.problem;
  const double span = std::max(since_epoch(plan.interval.start, plan.interval.end), 1e-9);
  std::vector<std::vector<std::size_t>> by_sat(plan.satellites.size());
  std::vector<std::vector<ScheduleChoice>> by_target(plan.targets.size());
  for (std::size_t c = 0; c < cands.size(); ++c) {
    const Acquisition& a = cands[c];
    const SatelliteAgility& ag = plan.satellites.at(a.satellite).agility;
    ScheduleCandidate sc;
    sc.weight = plan.targets.at(a.target).priority;
    ScheduleValue v;
    v.cost = std::fabs(a.roll_deg) + kLateCost * std::clamp(slots[c].start / span, 0.0, 1.0);
    if (ag.max_imaging_s_per_orbit) {
      const auto key = std::make_pair(a.satellite, a.revolution);
      auto it = m.resource.find(key);
      if (it == m.resource.end()) {
        it = m.resource.emplace(key, p.capacities.size()).first;
        p.capacities.push_back(*ag.max_imaging_s_per_orbit);
      }
      v.uses.push_back({it->second, a.imaging_s});
    }
    sc.values.push_back(std::move(v));
    p.candidates.push_back(std::move(sc));
    by_sat[a.satellite].push_back(c);
    by_target[a.target].push_back({c, 0});
  }
  for (auto& set : by_target)
    if (set.size() > 1) p.at_most_one.push_back(std::move(set));
  for (std::size_t s = 0; s < by_sat.size(); ++s) {
    const std::vector<std::size_t>& mine = by_sat[s];  // by start (candidates' order)
    if (mine.empty()) continue;
    const SatelliteAgility& ag = plan.satellites[s].agility;
    const double longest = longest_transition(ag);
    for (std::size_t i = 0; i < mine.size(); ++i) {
      budget.poll();
      const Slot& si = slots[mine[i]];
      for (std::size_t j = i + 1; j < mine.size(); ++j) {
        const Slot& sj = slots[mine[j]];
        if (sj.start >= si.end + longest) break;
        if (!compatible(ag, cands[mine[i]], si, cands[mine[j]], sj))
          p.forbidden_pairs.push_back({{{mine[i], 0}, {mine[j], 0}}});
      }
    }
    if (ag.recorder_gbit) recorder_rows(plan, cands, slots, mine, windows[s], m, budget);
  }
  return m;
}

}  // namespace orvus::detail
