// One time budget for a solve and for whatever runs around it (a plan's schedule step): its
// start and limit on the wall clock, and the caller's progress. The phases that share it cut
// their deadlines from it; the solver stops by the deadline it is given and polls the same
// budget, so that the progress and an interrupt reach the caller through one clock.
#pragma once

#include <chrono>
#include <functional>

#include "orvus/schedule.hpp"

namespace orvus::detail {

using Clock = std::chrono::steady_clock;

// The instant `seconds` after t.
inline Clock::time_point time_after(Clock::time_point t, double seconds) {
  return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}
// Seconds from now to t (negative once t has passed).
inline double seconds_until(Clock::time_point t) {
  return std::chrono::duration<double>(t - Clock::now()).count();
}

class Budget {
 public:
  // `limit_s` (> 0) from `start`; `progress` (may be empty) outlives the budget.
  Budget(double limit_s, const std::function<void(double)>& progress,
         Clock::time_point start = Clock::now())
      : progress_(progress ? &progress : nullptr),
        start_(start),
        end_(time_after(start, limit_s)),
        limit_s_(limit_s) {}

  [[nodiscard]] Clock::time_point start() const { return start_; }
  // The start plus the limit.
  [[nodiscard]] Clock::time_point end() const { return end_; }
  [[nodiscard]] double limit_s() const { return limit_s_; }
  // Seconds left until the end (negative past it).
  [[nodiscard]] double left() const { return seconds_until(end_); }
  [[nodiscard]] bool has_progress() const { return progress_ != nullptr; }

  // Calls the caller's progress, at most every 50 ms, with the share of the limit used (0 to
  // 1); whatever it throws (a caller's interrupt) leaves through here.
  void poll() {
    if (progress_ == nullptr) return;
    const auto now = Clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(50);
    const double used = std::chrono::duration<double>(now - start_).count() / limit_s_;
    (*progress_)(used < 0.0 ? 0.0 : used > 1.0 ? 1.0 : used);
  }

 private:
  const std::function<void(double)>* progress_;
  Clock::time_point start_, end_, next_{};
  double limit_s_;
};

// The solve (solve_schedule in orvus/schedule.hpp) within a caller's budget: every phase stops
// by `deadline`, with no margin of its own (the caller keeps what it needs after it), and
// polls `budget`; options.time_limit_s and options.progress are not used.
ScheduleResult solve_schedule(const ScheduleProblem& problem, const ScheduleOptions& options,
                              Budget& budget, Clock::time_point deadline);

}  // namespace orvus::detail
