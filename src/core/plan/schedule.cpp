// A plan's acquisition schedule: candidates from the kept opportunities (the camera at its
// roll, by the continuous-time swath engine), revolutions from the ascending nodes, the
// selection problem for the solver core, and the schedule it returns completed, ordered and
// explained (slews, recorder levels, downlinks, why a target has no acquisition).
#include "orvus/schedule.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "core/plan/plan_internal.hpp"
#include "orvus/error.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/threads.hpp"

namespace orvus {

using plan::after;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// How far from an opportunity the camera's contact is looked for (s): the camera's line lies
// in the plane of the field's line, so it meets the target while the field does, but for the
// part of the camera beyond the field's edge.
constexpr double kReach = 30.0;
// Times of the schedule are compared to the microsecond (they are written to the millisecond).
constexpr double kTimeTolerance = 1e-6;
// Subgradient steps of the relaxation at most (a count, not a time: the same input gives the
// same schedule to start from).
constexpr std::size_t kRelaxSteps = 1500;
// Steps without a better bound before the step size is halved.
constexpr std::size_t kRelaxPatience = 20;
using Clock = std::chrono::steady_clock;
// Images of one satellite further apart than this (s) are in different passes.
constexpr double kPassGap = 900.0;
// The secondary cost of an image at the plan's end (0 at its start), after its |roll| in
// degrees: earlier images win among schedules of equal priority and roll.
constexpr double kLateCost = 1e-3;

// Seconds from the plan's start, to the millisecond.
double offset_ms(const Plan& plan, const UtcInstant& t) {
  return std::round(since_epoch(plan.interval.start, t) * 1000.0) / 1000.0;
}

double round_ms(double s) {
  return std::round(s * 1000.0) / 1000.0;
}

// The candidate of one kept opportunity, or none when the camera at its roll never touches
// the target: a plan of that target and that satellite, its sensor the camera, over the
// opportunity and kReach seconds either side (within the plan's interval).
std::optional<Acquisition> candidate_of(const Plan& plan, const EarthOrientation& eop,
                                        const Opportunity& o, std::size_t index) {
  const PlanSatellite& ps = plan.satellites.at(o.satellite);
  const SatelliteAgility& ag = ps.agility;
  const double roll = std::clamp(o.contact.best_alpha_deg, -ag.max_roll_deg, ag.max_roll_deg);
  const double span = since_epoch(plan.interval.start, plan.interval.end);
  const double from = std::max(0.0, offset_ms(plan, o.contact.start_utc) - kReach);
  const double to = std::min(span, offset_ms(plan, o.contact.end_utc) + kReach);
  Plan one;
  one.path = plan.path;
  one.earth_orientation_path = plan.earth_orientation_path;
  one.targets_path = plan.targets_path;
  one.rule = TargetRule::swath;
  one.interval.start = after(plan.interval.start, from);
  one.interval.end = after(plan.interval.start, to);
  // A search granularity only: the engine finds the touching instants between steps.
  one.interval.step_s = std::min(plan.interval.step_s, 5.0);
  one.interval.utc_offset_hours = plan.interval.utc_offset_hours;
  PlanSatellite camera = ps;
  camera.sensor = Sensor{roll, ag.camera_fov_deg};
  one.satellites.push_back(std::move(camera));
  one.targets.push_back(plan.targets.at(o.target));
  std::vector<Opportunity> seen = plan::opportunities(one, eop, 0, 0, 1, {}, 1);
  if (seen.empty()) return std::nullopt;

  Acquisition a;
  a.opportunity = index;
  a.satellite = o.satellite;
  a.target = o.target;
  a.roll_deg = roll;
  double start = kInf, end = -kInf, nearest = kInf;
  const double best = offset_ms(plan, o.contact.best_utc);
  for (Opportunity& s : seen) {
    start = std::min(start, offset_ms(plan, s.contact.start_utc));
    end = std::max(end, offset_ms(plan, s.contact.end_utc));
    const double d = std::fabs(offset_ms(plan, s.contact.best_utc) - best);
    if (d < nearest) {
      nearest = d;
      a.sun_elevation_deg = s.sun_elevation_deg;
    }
    for (Ring& r : s.swath) a.swath.push_back(std::move(r));
  }
  if (end - start < ag.min_imaging_s) {
    // About the middle of the touching, kept within the plan's interval.
    const double length = round_ms(std::min(ag.min_imaging_s, span));
    start = round_ms(std::clamp((start + end - length) / 2.0, 0.0, span - length));
    end = start + length;
  }
  a.start_utc = after(plan.interval.start, start);
  a.end_utc = after(plan.interval.start, end);
  a.imaging_s = round_ms(end - start);
  a.data_gbit = ag.imaging_gbit_s ? *ag.imaging_gbit_s * a.imaging_s : 0.0;
  return a;
}

// ---- the time budget ----

// Of the plan's time limit, kept for what follows the solver (completion, order, reasons):
// a fixed part and a share.
constexpr double kFinishS = 0.2, kFinishShare = 0.02;
// Candidates made between two calls of the caller's progress, per thread.
constexpr std::size_t kCandidateBlock = 16;

// The schedule step's one time budget, from its start to the plan's time limit, and the
// caller's progress, called at most every 50 ms with the share of the limit used.
class Budget {
 public:
  // From now.
  Budget(double limit_s, const std::function<void(double)>& progress)
      : limit_s_(limit_s),
        start_(Clock::now()),
        end_(start_ +
             std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit_s))),
        progress_(progress) {}
  [[nodiscard]] Clock::time_point start() const { return start_; }
  [[nodiscard]] double left() const {
    return std::chrono::duration<double>(end_ - Clock::now()).count();
  }
  void poll() {
    if (!progress_) return;
    const auto now = Clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(50);
    progress_(std::clamp(1.0 - left() / limit_s_, 0.0, 1.0));
  }
  [[nodiscard]] bool has_progress() const { return static_cast<bool>(progress_); }
  [[nodiscard]] double limit_s() const { return limit_s_; }

 private:
  double limit_s_;
  Clock::time_point start_, end_, next_{};
  const std::function<void(double)>& progress_;
};

// job(i) for every i in [0, n) on `threads` threads, the caller's progress called with the
// share done between blocks (and so on the calling thread).
void in_blocks(std::size_t n, const std::function<void(std::size_t)>& job, int threads,
               const std::function<void(double)>& progress) {
  if (!progress) {
    parallel_for(n, job, threads);
    return;
  }
  const std::size_t block = kCandidateBlock * static_cast<std::size_t>(std::max(threads, 1));
  for (std::size_t first = 0; first < n; first += block) {
    progress(static_cast<double>(first) / static_cast<double>(n));
    const std::size_t count = std::min(block, n - first);
    parallel_for(
        count, [&](std::size_t i) { job(first + i); }, threads);
  }
  progress(1.0);
}

// ---- the model ----

// A candidate on the time line of the plan (seconds from its start).
struct Slot {
  double start = 0, end = 0;
};

// A downlink window of one satellite: [a, l] of one pass, at `rate` Gbit/s.
struct Window {
  double a = 0, l = 0, rate = 0;
  std::size_t pass = 0;  // index into the passes
  [[nodiscard]] double capacity() const { return rate * (l - a); }
};

// The windows of each satellite: its passes over stations with a downlink rate, by AOS, each
// from its AOS or the previous one's LOS, whichever is later (one downlink at a time); a pass
// left without time is dropped.
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

// Whether `later` can follow `earlier` (which starts no later) on one satellite.
bool follows(const SatelliteAgility& ag, const Acquisition& earlier, const Slot& e,
             const Acquisition& later, const Slot& l) {
  const double need =
      ag.settle_s + std::fabs(later.roll_deg - earlier.roll_deg) / ag.roll_rate_deg_s;
  return l.start >= e.end + need - kTimeTolerance;
}

bool compatible(const SatelliteAgility& ag, const Acquisition& x, const Slot& sx,
                const Acquisition& y, const Slot& sy) {
  return sx.start <= sy.start ? follows(ag, x, sx, y, sy) : follows(ag, y, sy, x, sx);
}

// The recorder of one satellite for a set of images, each (end, data), by end: what each
// window sends (as much as it can of the data recorded before its start) and whether the
// level after every image, counting the windows that have ended, stays within `recorder`.
struct Recorder {
  std::vector<double> sent;  // per window
  bool within = true;
};
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

// The selection problem: one candidate per acquisition, the target's at-most-one sets, the
// transitions as forbidden pairs, a capacity per (satellite, revolution) and, for a satellite
// with a recorder, its rows (see recorder_rows).
struct Model {
  ScheduleProblem problem;
  std::map<std::pair<std::size_t, int>, std::size_t> resource;  // (satellite, revolution)
};

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
    const double longest = ag.settle_s + 2.0 * ag.max_roll_deg / ag.roll_rate_deg_s;
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

// The schedule as it grows: what the checks of one more candidate need. On one satellite the
// images are a chain (each can follow the one before): when c can follow its predecessor in
// start order and precede its successor, it can follow and precede every other (roll changes
// obey the triangle inequality and every transition includes its settling and its image).
class Selection {
 public:
  Selection(const Plan& plan, const std::vector<Acquisition>& cands, const std::vector<Slot>& slots,
            const std::vector<std::vector<Window>>& windows)
      : plan_(plan),
        cands_(cands),
        slots_(slots),
        windows_(windows),
        by_sat_(plan.satellites.size()) {}

  void add(std::size_t c) {
    auto& mine = by_sat_[cands_[c].satellite];
    mine.insert(position(mine, c), c);
    used_[{cands_[c].satellite, cands_[c].revolution}] += cands_[c].imaging_s;
  }

  // 0: fits; else the first check that candidate c fails (1 transitions, 2 imaging time of its
  // revolution, 3 recorder).
  [[nodiscard]] int fails(std::size_t c) const {
    const Acquisition& a = cands_[c];
    const SatelliteAgility& ag = plan_.satellites[a.satellite].agility;
    const auto& mine = by_sat_[a.satellite];
    const auto at = position(mine, c);
    // Without settling or image length the chain argument can lose a tolerance: all of them.
    const bool all = ag.settle_s + ag.min_imaging_s < 1e-3;
    const auto from = all || at == mine.begin() ? mine.begin() : at - 1;
    const auto to = all || at == mine.end() ? mine.end() : at + 1;
    for (auto it = from; it != to; ++it)
      if (!compatible(ag, a, slots_[c], cands_[*it], slots_[*it])) return 1;
    if (ag.max_imaging_s_per_orbit) {
      const auto it = used_.find({a.satellite, a.revolution});
      const double used = it == used_.end() ? 0.0 : it->second;
      const double cap = *ag.max_imaging_s_per_orbit;
      if (used + a.imaging_s > cap + 1e-9 * std::max(1.0, cap)) return 2;
    }
    if (ag.recorder_gbit) {
      std::vector<std::size_t> set = mine;
      set.push_back(c);
      if (!recorder(a.satellite, set).within) return 3;
    }
    return 0;
  }

  [[nodiscard]] Recorder recorder(std::size_t satellite, std::vector<std::size_t> set) const {
    std::stable_sort(set.begin(), set.end(),
                     [&](std::size_t x, std::size_t y) { return slots_[x].end < slots_[y].end; });
    std::vector<std::pair<double, double>> images;
    images.reserve(set.size());
    for (const std::size_t c : set) images.emplace_back(slots_[c].end, cands_[c].data_gbit);
    const auto& rec = plan_.satellites[satellite].agility.recorder_gbit;
    return run_recorder(images, windows_[satellite], rec ? *rec : kInf);
  }

  // The satellite's images by start.
  [[nodiscard]] const std::vector<std::size_t>& of(std::size_t satellite) const {
    return by_sat_[satellite];
  }

 private:
  [[nodiscard]] std::vector<std::size_t>::const_iterator position(
      const std::vector<std::size_t>& mine, std::size_t c) const {
    return std::lower_bound(mine.begin(), mine.end(), c, [&](std::size_t x, std::size_t y) {
      return slots_[x].start < slots_[y].start || (slots_[x].start == slots_[y].start && x < y);
    });
  }

  const Plan& plan_;
  const std::vector<Acquisition>& cands_;
  const std::vector<Slot>& slots_;
  const std::vector<std::vector<Window>>& windows_;
  std::vector<std::vector<std::size_t>> by_sat_;
  std::map<std::pair<std::size_t, int>, double> used_;
};

// ---- the Lagrangian relaxation: a bound and a schedule to start from ----
//
// The rows that join the satellites (a target at most once) and those that join a satellite's
// images beyond their order (imaging time per revolution, the recorder's rows) are priced:
// for multipliers lambda >= 0 per target and mu >= 0 per row, the best chain of images of
// each satellite for the priced priorities (a longest path over the images in start order,
// exact since the images a satellite can make together are the chains) gives an upper bound
// on every schedule's priority; subgradient steps (Polyak's rule, towards the best schedule
// found) lower it. Each few steps the chains, each target kept once and the rows repaired,
// are completed greedily into a schedule.
struct Relaxation {
  std::vector<int> start;  // per candidate: 0 taken, -1 not
  double objective = 0.0;
  double bound = kInf;
};

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
      const double longest = ag.settle_s + 2.0 * ag.max_roll_deg / ag.roll_rate_deg_s;
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
        if (acquired[cands_[c].target] || sel.fails(c) != 0) continue;
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
    const double longest = ag.settle_s + 2.0 * ag.max_roll_deg / ag.roll_rate_deg_s;
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
      if (sel.fails(c) != 0) return false;
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

// ---- neighbourhoods solved exactly: a better schedule to start from ----
//
// A target left out is mostly blocked by its neighbours' images. Its neighbourhood (the
// target, then the targets whose candidates conflict with its candidates, then theirs, at most
// kNeighbourhood targets in that order) is freed and solved exactly by the solver core with
// the rest of the schedule fixed: candidates that conflict with a fixed image are left out,
// and the capacities and rows keep what the fixed images leave. A better result (more
// priority, or as much at a smaller cost) replaces the neighbourhood's images. Each round
// visits the targets left out in the deck's order; rounds end when one brings nothing, or at
// the deadline.
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
    const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
    if (left < 0.05) return false;
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
    opt.time_limit_s = std::min(kNeighbourhoodLimit, left);
    opt.start = std::move(start);
    if (budget.has_progress()) opt.progress = [&](double) { budget.poll(); };
    const ScheduleResult r = solve_schedule(sub, opt);
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

std::vector<UtcInstant> ascending_nodes(const Propagator& orbit, const UtcInstant& start,
                                        const UtcInstant& end) {
  std::vector<UtcInstant> out;
  const double span = since_epoch(start, end);
  if (!(span > 0.0)) return out;
  // z turns twice a revolution: a sixteenth of one between samples cannot hide a node.
  const double h = std::clamp(orbit.nodal_period_s() / 16.0, 1.0, 60.0);
  auto z = [&](double t) { return orbit.state_at(after(start, t))[2]; };
  double t0 = 0.0, z0 = z(0.0);
  while (t0 < span) {
    const double t1 = std::min(span, t0 + h);
    const double z1 = z(t1);
    if (z0 < 0.0 && z1 >= 0.0) {
      double lo = t0, hi = t1;
      while (hi - lo > 1e-5) {
        const double mid = 0.5 * (lo + hi);
        (z(mid) < 0.0 ? lo : hi) = mid;
      }
      out.push_back(after(start, std::min(span, round_ms(hi))));
    }
    t0 = t1;
    z0 = z1;
  }
  return out;
}

std::vector<Acquisition> schedule_candidates(const Plan& plan, const EarthOrientation& eop,
                                             const std::vector<Opportunity>& kept,
                                             const std::function<void(double)>& progress) {
  std::vector<std::optional<Acquisition>> made(kept.size());
  in_blocks(
      kept.size(), [&](std::size_t i) { made[i] = candidate_of(plan, eop, kept[i], i); },
      kept.size() >= 8 ? machine_threads() : 1, progress);
  // Revolutions: 1 at the plan's start, one more at each ascending node.
  std::vector<std::vector<double>> nodes(plan.satellites.size());
  for (std::size_t s = 0; s < plan.satellites.size(); ++s) {
    const Propagator orbit(plan.satellites[s].elements);
    for (const UtcInstant& t : ascending_nodes(orbit, plan.interval.start, plan.interval.end))
      nodes[s].push_back(offset_ms(plan, t));
  }
  std::vector<Acquisition> out;
  for (auto& a : made) {
    if (!a) continue;
    const auto& n = nodes[a->satellite];
    a->revolution =
        1 + static_cast<int>(std::upper_bound(n.begin(), n.end(), offset_ms(plan, a->start_utc)) -
                             n.begin());
    out.push_back(std::move(*a));
  }
  std::stable_sort(out.begin(), out.end(), [&](const Acquisition& x, const Acquisition& y) {
    if (x.satellite != y.satellite) return x.satellite < y.satellite;
    const double d = since_epoch(y.start_utc, x.start_utc);
    if (d != 0.0) return d < 0.0;
    return plan.targets[x.target].id < plan.targets[y.target].id;
  });
  return out;
}

namespace {

// A schedule is asked of a plan with [schedule] only.
void require_schedule(const Plan& plan) {
  if (!plan.schedule) {
    throw Error(ErrorKind::usage,
                {" THE PLAN HAS NO [schedule] TABLE.", " EXECUTION INTERRUPTED."});
  }
}

// The schedule of the candidates within the budget: the relaxation for at most a quarter of
// the solver's time, its schedule improved neighbourhood by neighbourhood until three
// quarters of it (they stop earlier when a round brings nothing), then the solver from there;
// completed, ordered and explained.
PlanSchedule solve_plan(const Plan& plan, std::vector<Acquisition> candidates,
                        const std::vector<Opportunity>& kept, const std::vector<PlanPass>& passes,
                        Budget& budget) {
  PlanSchedule out;
  out.candidates = std::move(candidates);
  const std::vector<Acquisition>& cands = out.candidates;
  std::vector<Slot> slots(cands.size());
  for (std::size_t c = 0; c < cands.size(); ++c)
    slots[c] = {offset_ms(plan, cands[c].start_utc), offset_ms(plan, cands[c].end_utc)};
  const auto windows = windows_of(plan, passes);

  // The solver's schedule.
  std::vector<char> taken(cands.size(), 0);
  bool filled = false;
  if (!cands.empty()) {
    const Model m = build_model(plan, cands, slots, windows, budget);
    const auto solver_t0 = Clock::now();
    // The solver's time: what is left, but for the finish.
    const double finish = kFinishS + kFinishShare * budget.limit_s();
    auto share_end = [&](double share) {
      return solver_t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                             std::max(0.0, share * (budget.left() - finish))));
    };
    const Relaxation rel =
        Relax(plan, cands, slots, windows, m.problem).run(kRelaxSteps, share_end(0.25), budget);
    ScheduleOptions opt;
    std::vector<int> start = rel.start;
    if (rel.objective < rel.bound - 1e-9 * std::max(1.0, rel.bound)) {
      Neighbourhoods(cands, plan.targets.size(), m.problem).run(start, share_end(0.75), budget);
    }
    double start_weight = 0.0;
    for (std::size_t c = 0; c < cands.size(); ++c)
      if (start[c] >= 0) start_weight += m.problem.candidates[c].weight;
    opt.time_limit_s = std::max(0.05, budget.left() - finish);
    opt.start = start;
    if (budget.has_progress()) opt.progress = [&](double) { budget.poll(); };
    const ScheduleResult r = solve_schedule(m.problem, opt);
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
  Selection sel(plan, cands, slots, windows);
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
    if (acquired[cands[c].target] || sel.fails(c) != 0) continue;
    sel.add(c);
    taken[c] = 1;
    acquired[cands[c].target] = 1;
    filled = true;
  }
  out.optimal = out.optimal && !filled;

  // Each satellite's images in time order: slews, recorder and downlinks.
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
    for (auto& [c, a] : made) out.acquisitions.push_back(a);
  }
  std::stable_sort(out.acquisitions.begin(), out.acquisitions.end(),
                   [&](const ScheduledAcquisition& x, const ScheduledAcquisition& y) {
                     const Slot& a = slots[x.candidate];
                     const Slot& b = slots[y.candidate];
                     if (a.start != b.start) return a.start < b.start;
                     const Acquisition& ca = cands[x.candidate];
                     const Acquisition& cb = cands[y.candidate];
                     if (ca.satellite != cb.satellite) return ca.satellite < cb.satellite;
                     return plan.targets[ca.target].id < plan.targets[cb.target].id;
                   });
  for (const auto& a : out.acquisitions)
    out.objective += plan.targets[cands[a.candidate].target].priority;

  // Why the others have none.
  std::vector<std::size_t> opportunities(plan.targets.size(), 0);
  for (const Opportunity& o : kept)
    if (o.target < opportunities.size()) ++opportunities[o.target];
  std::vector<int> furthest(plan.targets.size(), -1);
  for (std::size_t c = 0; c < cands.size(); ++c) {
    const std::size_t t = cands[c].target;
    if (acquired[t]) continue;
    budget.poll();
    furthest[t] = std::max(furthest[t], sel.fails(c));
  }
  for (std::size_t t = 0; t < plan.targets.size(); ++t) {
    if (acquired[t]) continue;
    UnscheduledTarget u;
    u.target = t;
    u.opportunities = opportunities[t];
    u.reason = furthest[t] < 0    ? UnscheduledReason::no_opportunity
               : furthest[t] <= 1 ? UnscheduledReason::conflicts
               : furthest[t] == 2 ? UnscheduledReason::imaging_time
                                  : UnscheduledReason::recorder;
    out.unscheduled.push_back(u);
  }
  // Nothing beats every target that has a candidate: the bound when the solver's is looser
  // (a relaxation cut short by the clock).
  double reachable = 0.0;
  for (std::size_t t = 0; t < plan.targets.size(); ++t)
    if (acquired[t] || furthest[t] >= 0) reachable += plan.targets[t].priority;
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

const char* reason_text(UnscheduledReason reason) {
  switch (reason) {
    case UnscheduledReason::no_opportunity:
      return "no opportunity";
    case UnscheduledReason::conflicts:
      return "conflicts";
    case UnscheduledReason::imaging_time:
      return "imaging time";
    case UnscheduledReason::recorder:
      return "recorder";
  }
  return "";
}

}  // namespace orvus
