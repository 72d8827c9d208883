// A plan's acquisition schedule: which of the kept opportunities each satellite takes, at
// which roll and when, within its agility, its imaging time per revolution and its recorder.
//
// Candidates. Each kept opportunity gives at most one candidate acquisition: the roll is the
// opportunity's BEST ALPHA clamped to +-max_roll_deg; the image lasts while the camera at that
// roll (the sensor line from roll - camera_fov/2 to roll + camera_fov/2) touches the target,
// found by the continuous-time swath engine within 30 s of the opportunity, from its first
// touch to its last; an image shorter than min_imaging_s (a point is crossed in an instant)
// is lengthened to it about its middle. No candidate when the camera never touches the
// target. Data volume = imaging_gbit_s x imaging seconds.
//
// A schedule is feasible when:
//   - each target is acquired at most once;
//   - on one satellite, an acquisition starts at least settle_s + |roll change| /
//     roll_rate_deg_s after the previous one ends (the first one is free);
//   - the images that start within one revolution (revolutions counted from 1 at the plan's
//     start, a new one at each ascending node of the satellite) last max_imaging_s_per_orbit
//     in all at most;
//   - the recorder, empty at the plan's start, never holds more than recorder_gbit. An image's
//     data are recorded at its end. One downlink at a time: the station passes of a satellite,
//     taken by AOS, each from its AOS or the previous pass's LOS, whichever is later, to its
//     LOS; a pass sends, at its station's downlink_gbit_s from its start, the data recorded
//     before its start, as much as its time allows (first recorded, first sent). The level
//     checked after each image counts only the passes that have ended (so never less than the
//     true level).
// Objective: the largest sum of the acquired targets' priorities; among equal sums the
// smallest sum of |roll| (degrees), then the earliest images (a cost of 0.001 per image at
// the plan's end, 0 at its start).
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "orvus/export.hpp"
#include "orvus/orbit.hpp"
#include "orvus/plan.hpp"

namespace orvus {

// One acquisition a satellite could make: an opportunity taken at one roll.
struct Acquisition {
  std::size_t opportunity = 0;     // index into the opportunities it was made from
  std::size_t satellite = 0;       // index into Plan::satellites
  std::size_t target = 0;          // index into Plan::targets
  UtcInstant start_utc, end_utc;   // the image, to the millisecond
  double imaging_s = 0.0;          // end - start
  double roll_deg = 0.0;           // signed as ALPHA: positive to the left of the track
  double data_gbit = 0.0;          // imaging_gbit_s x imaging_s (0 without a data rate)
  double sun_elevation_deg = 0.0;  // at the target's centre when the camera is abeam of it
  int revolution = 1;              // of its satellite, from 1 at the plan's start
  std::vector<Ring> swath;         // the camera's swath during the image, cut at +-180
};

// Why a target has no acquisition (see PlanSchedule::unscheduled).
enum class UnscheduledReason { no_opportunity, conflicts, imaging_time, recorder };

struct ScheduledAcquisition {
  std::size_t candidate = 0;  // index into PlanSchedule::candidates
  double slew_s = 0.0;        // |roll change| / roll rate from its satellite's previous image
  // The recorder just after the image (its data in, what the passes sent until then out);
  // empty when the satellite has no data rate.
  std::optional<double> recorder_after_gbit;
  // The pass (index into the passes given) in which its data start to go down, and when.
  std::optional<std::size_t> downlink_pass;
  UtcInstant downlink_start_utc;
};

struct UnscheduledTarget {
  std::size_t target = 0;         // index into Plan::targets
  std::size_t opportunities = 0;  // its kept opportunities
  UnscheduledReason reason = UnscheduledReason::no_opportunity;
};

struct PlanSchedule {
  std::vector<Acquisition> candidates;             // by satellite, then start
  std::vector<ScheduledAcquisition> acquisitions;  // by start, then satellite, then target id
  // Every target without an acquisition, in the deck's order, with the first reason that
  // applies: "no opportunity" when no kept opportunity gives a candidate; otherwise each of
  // its candidates is tried against the schedule as it is, checking in turn the transitions
  // on its satellite ("conflicts"), the imaging time of its revolution ("imaging time") and
  // the recorder ("recorder"), and the target takes the check that its candidate going
  // furthest fails.
  std::vector<UnscheduledTarget> unscheduled;
  double objective = 0.0;      // sum of the acquired targets' priorities
  double bound = 0.0;          // proven upper bound on the objective
  double gap = 0.0;            // (bound - objective) / bound; 0 when nothing can be acquired
  bool optimal = false;        // the objective is proven the largest
  double seconds = 0.0;        // wall clock of the candidates, the model and the solve
  double solve_seconds = 0.0;  // of the solver (the relaxation, neighbourhoods and CBC)
};

// The ascending nodes (the true-of-date position's z turning from negative to positive) of
// the orbit from `start` to `end` (UTC), to the millisecond, in time order.
ORVUS_API std::vector<UtcInstant> ascending_nodes(const Propagator& orbit, const UtcInstant& start,
                                                  const UtcInstant& end);

// The candidates of the kept opportunities (as select_opportunities gives them), computed on
// the machine's threads; satellites' agility as the plan gives it (roll_rate_deg_s is not
// used here). Same input, same candidates. `progress` as for plan_opportunities (see
// plan.hpp), with the share of the candidates made.
ORVUS_API std::vector<Acquisition> schedule_candidates(
    const Plan& plan, const EarthOrientation& eop, const std::vector<Opportunity>& kept,
    const std::function<void(double)>& progress = {});

// The schedule of a plan with [schedule] from its kept opportunities and its passes (as
// plan_passes gives them): the best schedule found (always feasible, the empty one at worst),
// completed by any candidate that still fits. The plan's time limit bounds the whole step on
// the wall clock (candidates, model, relaxation, neighbourhoods, CBC and completion, within a
// small margin); a model too large for the time left keeps the relaxation's and the local
// search's schedule and its bound. Same input, same schedule whenever the solver proves its
// optimum within the limit. `progress`, when given, is called on the calling thread about
// every 50 ms with the share of the time limit used; it may throw to stop the step (a
// caller's interrupt), and the exception leaves as thrown. Raises Error (kind usage) for a
// plan without [schedule].
ORVUS_API PlanSchedule schedule_plan(const Plan& plan, const EarthOrientation& eop,
                                     const std::vector<Opportunity>& kept,
                                     const std::vector<PlanPass>& passes,
                                     const std::function<void(double)>& progress = {});
// The same from candidates already made (the time limit counted from this call).
ORVUS_API PlanSchedule schedule_plan(const Plan& plan, std::vector<Acquisition> candidates,
                                     const std::vector<Opportunity>& kept,
                                     const std::vector<PlanPass>& passes,
                                     const std::function<void(double)>& progress = {});

// "no opportunity", "conflicts", "imaging time" or "recorder".
ORVUS_API const char* reason_text(UnscheduledReason reason);

// schedule.csv, unscheduled.csv, schedule.geojson (the acquired swaths) and schedule.json
// (the solver's summary), and the summary line written on standard error.
ORVUS_API void write_schedule_csv(const Plan& plan, const std::vector<PlanPass>& passes,
                                  const PlanSchedule& schedule, std::ostream& out);
ORVUS_API void write_unscheduled_csv(const Plan& plan, const PlanSchedule& schedule,
                                     std::ostream& out);
ORVUS_API void write_schedule_geojson(const Plan& plan, const std::vector<PlanPass>& passes,
                                      const PlanSchedule& schedule, std::ostream& out);
ORVUS_API void write_schedule_json(const Plan& plan, const PlanSchedule& schedule,
                                   std::ostream& out);
ORVUS_API std::string schedule_summary(const Plan& plan, const PlanSchedule& schedule);

}  // namespace orvus
