// A plan's schedule, inside: what its jobs share. The candidates on the plan's time line and
// the downlink windows (model.cpp), the selection problem for the solver core (model.cpp), the
// schedule as it grows with its checks and recorder (timeline.cpp), and the two starts the
// solver is given: the Lagrangian relaxation (relaxation.cpp) and the neighbourhoods
// (neighbourhoods.cpp). schedule_plan.cpp runs them within one time budget.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "core/schedule/budget.hpp"
#include "orvus/plan.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/schedule.hpp"

namespace orvus::detail {

// Times of the schedule are compared to the microsecond (they are written to the millisecond).
inline constexpr double kScheduleTimeTolerance = 1e-6;

// Seconds rounded to the millisecond.
inline double round_ms(double s) {
  return std::round(s * 1000.0) / 1000.0;
}
// Seconds from the plan's start, to the millisecond.
inline double offset_ms(const Plan& plan, const UtcInstant& t) {
  return round_ms(since_epoch(plan.interval.start, t));
}

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
std::vector<std::vector<Window>> windows_of(const Plan& plan, const std::vector<PlanPass>& passes);

// The longest transition of a satellite (s): settling and a roll from one side to the other.
inline double longest_transition(const SatelliteAgility& ag) {
  return ag.settle_s + 2.0 * ag.max_roll_deg / ag.roll_rate_deg_s;
}

// Whether `later` can follow `earlier` (which starts no later) on one satellite.
inline bool follows(const SatelliteAgility& ag, const Acquisition& earlier, const Slot& e,
                    const Acquisition& later, const Slot& l) {
  const double need =
      ag.settle_s + std::fabs(later.roll_deg - earlier.roll_deg) / ag.roll_rate_deg_s;
  return l.start >= e.end + need - kScheduleTimeTolerance;
}

inline bool compatible(const SatelliteAgility& ag, const Acquisition& x, const Slot& sx,
                       const Acquisition& y, const Slot& sy) {
  return sx.start <= sy.start ? follows(ag, x, sx, y, sy) : follows(ag, y, sy, x, sx);
}

// ---- the model (model.cpp) ----

// The selection problem: one candidate per acquisition, the target's at-most-one sets, the
// transitions as forbidden pairs, a capacity per (satellite, revolution) and, for a satellite
// with a recorder, its rows.
struct Model {
  ScheduleProblem problem;
  std::map<std::pair<std::size_t, int>, std::size_t> resource;  // (satellite, revolution)
};

// The candidates (by satellite, then start) as the selection problem; `budget` polled.
Model build_model(const Plan& plan, const std::vector<Acquisition>& cands,
                  const std::vector<Slot>& slots, const std::vector<std::vector<Window>>& windows,
                  Budget& budget);

// ---- the schedule as it grows, its timeline and its reasons (timeline.cpp) ----

// The recorder of one satellite for a set of images, each (end, data), by end: what each
// window sends (as much as it can of the data recorded before its start) and whether the
// level after every image, counting the windows that have ended, stays within `recorder`.
struct Recorder {
  std::vector<double> sent;  // per window
  bool within = true;
};
Recorder run_recorder(const std::vector<std::pair<double, double>>& images,
                      const std::vector<Window>& windows, double recorder);

// The checks of one more image, in the order they are made; `fits` when it passes them all.
enum class Check { fits, transitions, imaging_time, recorder };

// The schedule as it grows: what the checks of one more candidate need. On one satellite the
// images are a chain (each can follow the one before): when c can follow its predecessor in
// start order and precede its successor, it can follow and precede every other (roll changes
// obey the triangle inequality and every transition includes its settling and its image).
class Selection {
 public:
  Selection(const Plan& plan, const std::vector<Acquisition>& cands, const std::vector<Slot>& slots,
            const std::vector<std::vector<Window>>& windows);

  void add(std::size_t c);
  // The first check that candidate c fails against the schedule as it is.
  [[nodiscard]] Check fails(std::size_t c) const;
  [[nodiscard]] bool fits(std::size_t c) const { return fails(c) == Check::fits; }
  // The recorder of a satellite over a set of its candidates.
  [[nodiscard]] Recorder recorder(std::size_t satellite, std::vector<std::size_t> set) const;
  // The satellite's images by start.
  [[nodiscard]] const std::vector<std::size_t>& of(std::size_t satellite) const {
    return by_sat_[satellite];
  }

 private:
  [[nodiscard]] std::vector<std::size_t>::const_iterator position(
      const std::vector<std::size_t>& mine, std::size_t c) const;

  const Plan& plan_;
  const std::vector<Acquisition>& cands_;
  const std::vector<Slot>& slots_;
  const std::vector<std::vector<Window>>& windows_;
  std::vector<std::vector<std::size_t>> by_sat_;
  std::map<std::pair<std::size_t, int>, double> used_;
};

// The images of a finished selection as the schedule states them: slews, recorder levels and
// downlinks, by start, then satellite, then target id.
std::vector<ScheduledAcquisition> timeline(const Plan& plan, const std::vector<Acquisition>& cands,
                                           const std::vector<Slot>& slots,
                                           const std::vector<std::vector<Window>>& windows,
                                           const Selection& sel);

// Why a target has no acquisition, from the furthest check its candidates fail against the
// finished schedule (none: it has no candidate).
UnscheduledReason reason_of(std::optional<Check> furthest);

// Every target not `acquired`, in the deck's order, with its kept opportunities and its reason
// (see PlanSchedule::unscheduled); `budget` polled.
std::vector<UnscheduledTarget> unscheduled_targets(const Plan& plan,
                                                   const std::vector<Acquisition>& cands,
                                                   const std::vector<Opportunity>& kept,
                                                   const std::vector<char>& acquired,
                                                   const Selection& sel, Budget& budget);

// ---- the starts of the solver (relaxation.cpp, neighbourhoods.cpp) ----

// A schedule and a bound from the Lagrangian relaxation.
struct Relaxation {
  std::vector<int> start;  // per candidate: 0 taken, -1 not
  double objective = 0.0;
  double bound = std::numeric_limits<double>::infinity();
};

// The relaxation of the model's problem, stopped by `deadline` (but for its first step, which
// always runs) or by its count of steps, its schedule then improved pass by pass.
Relaxation relax(const Plan& plan, const std::vector<Acquisition>& cands,
                 const std::vector<Slot>& slots, const std::vector<std::vector<Window>>& windows,
                 const ScheduleProblem& problem, Clock::time_point deadline, Budget& budget);

// The schedule x (per candidate 0 taken or -1, feasible) improved in place by solving the
// neighbourhoods of the targets left out exactly, until a round brings nothing or `deadline`.
void improve_neighbourhoods(const std::vector<Acquisition>& cands, std::size_t targets,
                            const ScheduleProblem& problem, std::vector<int>& x,
                            Clock::time_point deadline, Budget& budget);

}  // namespace orvus::detail
