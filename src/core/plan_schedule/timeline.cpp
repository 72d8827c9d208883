// A plan's schedule, its timeline: the schedule as it grows (the checks of one more image:
// transitions, imaging time of its revolution, recorder), the recorder over time with the
// downlinks, the images as the schedule states them, and why a target has none.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <utility>

#include "core/plan_schedule/plan_schedule_internal.hpp"

namespace orvus {
namespace detail {

Recorder run_recorder(const std::vector<std::pair<double, double>>& images,
                      const std::vector<Window>& windows, double recorder) {
  Recorder r;
  r.sent.assign(windows.size(), 0.0);
  double total_sent = 0.0, recorded = 0.0;
  std::size_t i = 0;
  for (std::size_t k = 0; k < windows.size(); ++k) {
    while (i < images.size() && images[i].first <= windows[k].a) recorded += images[i++].second;
    r.sent[k] = std::max(0.0, std::min(windows[k].capacity(), recorded - total_sent));
    total_sent += r.sent[k];
  }
  if (!std::isfinite(recorder)) return r;
  const double tolerance = 1e-9 * std::max(1.0, recorder);
  double level_in = 0.0, out = 0.0;
  std::size_t k = 0;
  for (i = 0; i < images.size(); ++i) {
    level_in += images[i].second;
    if (i + 1 < images.size() && images[i + 1].first == images[i].first) continue;
    while (k < windows.size() && windows[k].l <= images[i].first) out += r.sent[k++];
    if (level_in - out > recorder + tolerance) r.within = false;
  }
  return r;
}

Selection::Selection(const Plan& plan, const std::vector<Acquisition>& cands,
                     const std::vector<Slot>& slots,
                     const std::vector<std::vector<Window>>& windows)
    : plan_(plan),
      cands_(cands),
      slots_(slots),
      windows_(windows),
      by_sat_(plan.satellites.size()) {}

void Selection::add(std::size_t c) {
  auto& mine = by_sat_[cands_[c].satellite];
  mine.insert(position(mine, c), c);
  used_[{cands_[c].satellite, cands_[c].revolution}] += cands_[c].imaging_s;
}

Check Selection::fails(std::size_t c) const {
  const Acquisition& a = cands_[c];
  const SatelliteAgility& ag = plan_.satellites[a.satellite].agility;
  const auto& mine = by_sat_[a.satellite];
  const auto at = position(mine, c);
  // Without settling or image length the chain argument can lose a tolerance: all of them.
  const bool all = ag.settle_s + ag.min_imaging_s < 1e-3;
  const auto from = all || at == mine.begin() ? mine.begin() : at - 1;
  const auto to = all || at == mine.end() ? mine.end() : at + 1;
  for (auto it = from; it != to; ++it)
    if (!compatible(ag, a, slots_[c], cands_[*it], slots_[*it])) return Check::transitions;
  if (ag.max_imaging_s_per_orbit) {
    const auto it = used_.find({a.satellite, a.revolution});
    const double used = it == used_.end() ? 0.0 : it->second;
    const double cap = *ag.max_imaging_s_per_orbit;
    if (used + a.imaging_s > cap + 1e-9 * std::max(1.0, cap)) return Check::imaging_time;
  }
  if (ag.recorder_gbit) {
    std::vector<std::size_t> set = mine;
    set.push_back(c);
    if (!recorder(a.satellite, set).within) return Check::recorder;
  }
  return Check::fits;
}

Recorder Selection::recorder(std::size_t satellite, std::vector<std::size_t> set) const {
  std::stable_sort(set.begin(), set.end(),
                   [&](std::size_t x, std::size_t y) { return slots_[x].end < slots_[y].end; });
  std::vector<std::pair<double, double>> images;
  images.reserve(set.size());
  for (const std::size_t c : set) images.emplace_back(slots_[c].end, cands_[c].data_gbit);
  const auto& rec = plan_.satellites[satellite].agility.recorder_gbit;
  return run_recorder(images, windows_[satellite],
                      rec ? *rec : std::numeric_limits<double>::infinity());
}

std::vector<std::size_t>::const_iterator Selection::position(const std::vector<std::size_t>& mine,
                                                             std::size_t c) const {
  return std::lower_bound(mine.begin(), mine.end(), c, [&](std::size_t x, std::size_t y) {
    return slots_[x].start < slots_[y].start || (slots_[x].start == slots_[y].start && x < y);
  });
}

std::vector<ScheduledAcquisition> timeline(const Plan& plan, const std::vector<Acquisition>& cands,
                                           const std::vector<Slot>& slots,
                                           const std::vector<std::vector<Window>>& windows,
                                           const Selection& sel) {
  std::vector<ScheduledAcquisition> out;
  for (std::size_t sat = 0; sat < plan.satellites.size(); ++sat) {
    std::vector<std::size_t> mine = sel.of(sat);
    std::stable_sort(mine.begin(), mine.end(),
                     [&](std::size_t x, std::size_t y) { return slots[x].start < slots[y].start; });
    const SatelliteAgility& ag = plan.satellites[sat].agility;
    std::map<std::size_t, ScheduledAcquisition> made;
    for (std::size_t i = 0; i < mine.size(); ++i) {
      ScheduledAcquisition& a = made[mine[i]];
      a.candidate = mine[i];
      if (i > 0)
        a.slew_s =
            std::fabs(cands[mine[i]].roll_deg - cands[mine[i - 1]].roll_deg) / ag.roll_rate_deg_s;
    }
    if (ag.imaging_gbit_s) {
      const Recorder rec = sel.recorder(sat, mine);
      const std::vector<Window>& w = windows[sat];
      std::vector<double> before(w.size() + 1, 0.0);  // sent by the windows before k
      for (std::size_t k = 0; k < w.size(); ++k) before[k + 1] = before[k] + rec.sent[k];
      std::stable_sort(mine.begin(), mine.end(),
                       [&](std::size_t x, std::size_t y) { return slots[x].end < slots[y].end; });
      double recorded = 0.0;
      for (const std::size_t c : mine) {
        const double e = slots[c].end;
        // First recorded, first sent: its data are (recorded, recorded + data] of the whole.
        const double first_bit = recorded;
        recorded += cands[c].data_gbit;
        double sent = 0.0;
        for (std::size_t k = 0; k < w.size() && w[k].a <= e; ++k)
          sent += std::min(rec.sent[k], w[k].rate * (std::min(e, w[k].l) - w[k].a));
        ScheduledAcquisition& a = made[c];
        a.recorder_after_gbit = std::max(0.0, recorded - sent);
        if (cands[c].data_gbit > 0.0) {
          for (std::size_t k = 0; k < w.size(); ++k) {
            if (rec.sent[k] > 0.0 && first_bit < before[k + 1] - 1e-12 &&
                first_bit >= before[k] - 1e-12) {
              a.downlink_pass = w[k].pass;
              a.downlink_start_utc =
                  after(plan.interval.start,
                        round_ms(w[k].a + std::max(0.0, first_bit - before[k]) / w[k].rate));
              break;
            }
          }
        }
      }
    }
    for (auto& [c, a] : made) out.push_back(a);
  }
  std::stable_sort(out.begin(), out.end(),
                   [&](const ScheduledAcquisition& x, const ScheduledAcquisition& y) {
                     const Slot& a = slots[x.candidate];
                     const Slot& b = slots[y.candidate];
                     if (a.start != b.start) return a.start < b.start;
                     const Acquisition& ca = cands[x.candidate];
                     const Acquisition& cb = cands[y.candidate];
                     if (ca.satellite != cb.satellite) return ca.satellite < cb.satellite;
                     return plan.targets[ca.target].id < plan.targets[cb.target].id;
                   });
  return out;
}

UnscheduledReason reason_of(std::optional<Check> furthest) {
  if (!furthest) return UnscheduledReason::no_opportunity;
  switch (*furthest) {
    case Check::fits:  // not after the completion: taken for the transitions
    case Check::transitions:
      return UnscheduledReason::conflicts;
    case Check::imaging_time:
      return UnscheduledReason::imaging_time;
    case Check::recorder:
      return UnscheduledReason::recorder;
  }
  return UnscheduledReason::conflicts;
}

std::vector<UnscheduledTarget> unscheduled_targets(const Plan& plan,
                                                   const std::vector<Acquisition>& cands,
                                                   const std::vector<Opportunity>& kept,
                                                   const std::vector<char>& acquired,
                                                   const Selection& sel, Budget& budget) {
  std::vector<std::size_t> opportunities(plan.targets.size(), 0);
  for (const Opportunity& o : kept)
    if (o.target < opportunities.size()) ++opportunities[o.target];
  std::vector<std::optional<Check>> furthest(plan.targets.size());
  for (std::size_t c = 0; c < cands.size(); ++c) {
    const std::size_t t = cands[c].target;
    if (acquired[t]) continue;
    budget.poll();
    const Check check = sel.fails(c);
    if (!furthest[t] || *furthest[t] < check) furthest[t] = check;
  }
  std::vector<UnscheduledTarget> out;
  for (std::size_t t = 0; t < plan.targets.size(); ++t) {
    if (acquired[t]) continue;
    UnscheduledTarget u;
    u.target = t;
    u.opportunities = opportunities[t];
    u.reason = reason_of(furthest[t]);
    out.push_back(u);
  }
  return out;
}

}  // namespace detail

}  // namespace orvus
