// The passes of a plan's satellites over its stations, across the plan's interval.
#include "core/search/passes.hpp"

#include <algorithm>
#include <string>

#include "core/time/eop_table.hpp"
#include "orvus/constants.hpp"
#include "orvus/error.hpp"
#include "orvus/plan.hpp"

namespace orvus {

namespace {

// The interval's length (s), after checking that the table covers both ends: a day it lacks
// stops the run here.
double covered_span(const Plan& plan, const EarthOrientation& eop) {
  for (const UtcInstant& t : {plan.interval.start, plan.interval.end}) {
    (void)eop.at(utc_mjd(t));
  }
  return since_epoch(plan.interval.start, plan.interval.end);
}

void add_passes(const Plan& plan, const EarthOrientation& eop, const detail::SiderealTime& sidereal,
                double span, std::size_t satellite, std::vector<PlanPass>& out) {
  if (satellite >= plan.satellites.size()) {
    throw Error(ErrorKind::usage,
                {" THE PLAN HAS NO SATELLITE " + std::to_string(satellite + 1) + "."});
  }
  const Propagator orbit(plan.satellites[satellite].elements);
  for (std::size_t k = 0; k < plan.stations.size(); ++k) {
    for (const Pass& p : detail::find_passes(orbit, detail::eop_rows(eop), sidereal,
                                             plan.stations[k], plan.interval.start, span))
      out.push_back({satellite, k, p});
  }
}

void sort_passes(const Plan& plan, std::vector<PlanPass>& list) {
  std::stable_sort(list.begin(), list.end(), [&](const PlanPass& a, const PlanPass& b) {
    const double d = since_epoch(b.pass.aos_utc, a.pass.aos_utc);
    if (d != 0.0) return d < 0.0;
    if (a.satellite != b.satellite) return a.satellite < b.satellite;
    return plan.stations.at(a.station).name < plan.stations.at(b.station).name;
  });
}

}  // namespace

std::vector<PlanPass> plan_passes(const Plan& plan, const EarthOrientation& eop,
                                  std::size_t satellite) {
  std::vector<PlanPass> out;
  if (plan.stations.empty()) return out;
  const double span = covered_span(plan, eop);
  const detail::SiderealTime sidereal(plan.interval.start, plan.interval.end);
  add_passes(plan, eop, sidereal, span, satellite, out);
  sort_passes(plan, out);
  return out;
}

std::vector<PlanPass> plan_passes(const Plan& plan, const EarthOrientation& eop) {
  std::vector<PlanPass> out;
  if (plan.stations.empty()) return out;
  const double span = covered_span(plan, eop);
  const detail::SiderealTime sidereal(plan.interval.start, plan.interval.end);
  for (std::size_t s = 0; s < plan.satellites.size(); ++s)
    add_passes(plan, eop, sidereal, span, s, out);
  sort_passes(plan, out);
  return out;
}

}  // namespace orvus
