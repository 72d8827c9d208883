// A plan kept ready for many searches (planner.hpp): its element sets read once and read again
// when their files change, and the sweep's values that depend on time alone (SweepCache) kept
// between searches. Each search runs the planner's own sweep and constraints.
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "core/plan/plan_internal.hpp"
#include "orvus/analysis.hpp"
#include "orvus/error.hpp"
#include "orvus/planner.hpp"
#include "orvus/threads.hpp"

namespace orvus {

namespace {

// What identifies a file's contents for a reader that does not read it: its modification time
// and size (none when it cannot be looked at).
using Stamp = std::optional<std::pair<std::filesystem::file_time_type, std::uintmax_t>>;
Stamp stamp_of(const std::string& path) {
  std::error_code ec;
  const auto time = std::filesystem::last_write_time(path, ec);
  if (ec) return std::nullopt;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  return std::pair{time, size};
}

// The set of `path` the satellite takes, as load_plan chooses it: the one "select" names, or
// the one of its name, or a file's only set when "select" is not given.
void read_set(PlanSatellite& sat) {
  const std::vector<ElementSet> sets = read_element_file(sat.elements_path);
  std::ptrdiff_t i = find_element_set(sets, sat.select);
  const auto* named = std::get_if<std::string>(&sat.select);
  if (i < 0 && named != nullptr && *named == sat.name && sets.size() == 1) i = 0;
  if (i < 0 || sets.empty()) {
    throw Error(ErrorKind::elements, {" NO ELEMENT SET OF \"" + sat.elements_path +
                                      "\" IS THE ONE SATELLITE \"" + sat.name + "\" TAKES."});
  }
  sat.elements = sets[static_cast<std::size_t>(i)];
  sat.set_number = static_cast<std::size_t>(i) + 1;
  sat.sets_in_file = sets.size();
}

}  // namespace

struct PlanModel::Impl {
  std::shared_ptr<const EarthOrientation> eop;
  plan::SweepCache cache;
  mutable std::mutex mutex;          // guards `plan` and `stamps`
  std::shared_ptr<const Plan> plan;  // replaced whole when a set is read again
  std::vector<Stamp> stamps;         // per satellite, of its element file when read
};

PlanModel::PlanModel(Plan plan, std::shared_ptr<const EarthOrientation> eop)
    : impl_(std::make_unique<Impl>()) {
  if (!eop) throw Error(ErrorKind::usage, {" A PLAN MODEL NEEDS ITS EARTH-ORIENTATION TABLE."});
  impl_->eop = std::move(eop);
  plan.targets.clear();
  plan.coverage.reset();
  plan.schedule.reset();
  for (const PlanSatellite& s : plan.satellites) impl_->stamps.push_back(stamp_of(s.elements_path));
  impl_->plan = std::make_shared<const Plan>(std::move(plan));
}

PlanModel::~PlanModel() = default;

bool PlanModel::reload_elements() {
  std::shared_ptr<const Plan> now;
  std::vector<Stamp> stamps;
  {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    now = impl_->plan;
    stamps = impl_->stamps;
  }
  auto next = std::make_shared<Plan>(*now);
  bool changed = false;
  for (std::size_t s = 0; s < next->satellites.size(); ++s) {
    const Stamp stamp = stamp_of(next->satellites[s].elements_path);
    if (stamp && stamp == stamps[s]) continue;
    read_set(next->satellites[s]);  // raises before anything is replaced
    stamps[s] = stamp;
    changed = true;
  }
  if (!changed) return false;
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->plan = std::move(next);
  impl_->stamps = std::move(stamps);
  return true;
}

std::vector<Ring> PlanModel::scene(std::size_t satellite, const UtcInstant& centre, double seconds,
                                   int pieces) const {
  std::shared_ptr<const Plan> base;
  {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    base = impl_->plan;
  }
  plan::check_satellite(*base, satellite);
  if (!(seconds >= 0.0 && seconds <= plan::kMostSeconds)) {
    throw Error(ErrorKind::usage, {" A SCENE LASTS FROM 0 TO 86400 SECONDS."});
  }
  const Interval interval{after(centre, -seconds / 2.0), after(centre, seconds / 2.0),
                          base->interval.step_s, base->interval.utc_offset_hours};
  return plan::field_swath(*base, *impl_->eop, satellite, interval, pieces, &impl_->cache);
}

Plan PlanModel::plan() const {
  const std::lock_guard<std::mutex> lock(impl_->mutex);
  return *impl_->plan;
}

std::vector<Opportunity> PlanModel::opportunities(
    std::vector<Target> targets, const UtcInstant& start, const UtcInstant& end,
    const std::vector<std::size_t>& satellites, PlanCounts* counts,
    const std::function<void(double)>& progress) const {
  std::shared_ptr<const Plan> base;
  {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    base = impl_->plan;
  }
  if (!(since_epoch(start, end) >= 0.0)) {
    throw Error(ErrorKind::usage, {" A SEARCH ENDS BEFORE IT STARTS."});
  }
  // The plan of this search: its interval, its targets and its satellites alone.
  std::vector<std::size_t> chosen = satellites;
  if (chosen.empty()) {
    for (std::size_t s = 0; s < base->satellites.size(); ++s) chosen.push_back(s);
  }
  Plan p;
  p.path = base->path;
  p.start_local = base->start_local;
  p.end_local = base->end_local;
  p.interval = Interval{start, end, base->interval.step_s, base->interval.utc_offset_hours};
  p.earth_orientation_path = base->earth_orientation_path;
  p.targets_path = base->targets_path;
  p.output_dir = base->output_dir;
  p.rule = base->rule;
  p.constraints = base->constraints;
  p.targets = std::move(targets);
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    if (chosen[k] >= base->satellites.size() || (k > 0 && chosen[k] <= chosen[k - 1])) {
      throw Error(ErrorKind::usage, {" THE PLAN HAS NO SATELLITE " + std::to_string(chosen[k] + 1) +
                                     " IN THIS PLACE."});
    }
    p.satellites.push_back(base->satellites[chosen[k]]);
  }
  // run_planner's sweep, satellite after satellite, each over every target on the machine's
  // threads, then its constraints.
  const auto nsat = static_cast<double>(p.satellites.size());
  std::vector<Opportunity> found;
  for (std::size_t s = 0; s < p.satellites.size(); ++s) {
    std::vector<Opportunity> part = plan::opportunities(
        p, *impl_->eop, s, 0, p.targets.size(),
        [&](double f) {
          if (progress) progress((static_cast<double>(s) + f) / nsat);
        },
        machine_threads(), &impl_->cache);
    for (Opportunity& o : part) found.push_back(std::move(o));
  }
  std::vector<Opportunity> kept = select_opportunities(p, std::move(found), counts);
  for (Opportunity& o : kept) o.satellite = chosen[o.satellite];
  return kept;
}

}  // namespace orvus
