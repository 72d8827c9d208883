// A plan's schedule, its candidates: each kept opportunity taken by the camera at its roll,
// the image found by the continuous-time swath engine, and the revolution it falls in (from the
// ascending nodes).
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <utility>

#include "core/plan/plan_internal.hpp"
#include "core/plan_schedule/plan_schedule_internal.hpp"
#include "orvus/plan_schedule.hpp"
#include "orvus/threads.hpp"

namespace orvus {

using detail::offset_ms;
using detail::round_ms;
using plan::after;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// How far from an opportunity the camera's contact is looked for (s): the camera's line lies
// in the plane of the field's line, so it meets the target while the field does, but for the
// part of the camera beyond the field's edge.
constexpr double kReach = 30.0;
// Candidates made between two calls of the caller's progress, per thread.
constexpr std::size_t kCandidateBlock = 16;

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

}  // namespace orvus
