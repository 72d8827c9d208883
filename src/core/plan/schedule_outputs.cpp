// The schedule's files: schedule.csv, unscheduled.csv, schedule.geojson and schedule.json,
// written as the opportunities' tables are (times to the millisecond, ISO 8601).
#include <cmath>
#include <cstdio>
#include <ostream>

#include "core/plan/plan_internal.hpp"
#include "orvus/plan_schedule.hpp"

namespace orvus {

namespace {

using plan::fixed_text;
using plan::json_number;

}  // namespace

void write_schedule_csv(const Plan& plan, const std::vector<PlanPass>& passes,
                        const PlanSchedule& schedule, std::ostream& out) {
  write_table_csv(
      PlanTable::schedule, plan.interval.utc_offset_hours,
      [&](RowSink& sink) { schedule_rows(plan, passes, schedule, sink); }, out);
}

void write_unscheduled_csv(const Plan& plan, const PlanSchedule& schedule, std::ostream& out) {
  write_table_csv(
      PlanTable::unscheduled, plan.interval.utc_offset_hours,
      [&](RowSink& sink) { unscheduled_rows(plan, schedule, sink); }, out);
}

// One feature per acquisition: the camera's swath with the row's fields (numbers as
// numbers, an empty field as null) and its revolution.
void write_schedule_geojson(const Plan& plan, const std::vector<PlanPass>& passes,
                            const PlanSchedule& schedule, std::ostream& out) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  plan::JsonProperties properties(PlanTable::schedule, plan.interval.utc_offset_hours, false);
  for (const ScheduledAcquisition& a : schedule.acquisitions) {
    const Acquisition& c = schedule.candidates.at(a.candidate);
    plan::schedule_row(plan, passes, schedule, a, properties);
    out << (first ? "\n" : ",\n");
    first = false;
    out << "{\"type\":\"Feature\",\"properties\":{\"kind\":\"acquisition\"" << properties.take()
        << ",\"revolution\":" << c.revolution << "},\"geometry\":";
    std::vector<std::vector<Ring>> polys;
    for (const Ring& ring : c.swath) polys.push_back({ring});
    plan::put_multipolygon(out, polys);
    out << '}';
  }
  out << "\n]}\n";
}

void write_schedule_json(const Plan& plan, const PlanSchedule& schedule, std::ostream& out) {
  out << "{\n  \"objective\": " << json_number(schedule.objective)
      << ",\n  \"best_bound\": " << json_number(schedule.bound)
      << ",\n  \"gap\": " << json_number(schedule.gap)
      << ",\n  \"optimal\": " << (schedule.optimal ? "true" : "false")
      << ",\n  \"candidates\": " << schedule.candidates.size()
      << ",\n  \"acquisitions\": " << schedule.acquisitions.size()
      << ",\n  \"targets\": " << plan.targets.size()
      << ",\n  \"unscheduled\": " << schedule.unscheduled.size()
      << ",\n  \"seconds\": " << fixed_text(schedule.seconds, 3)
      << ",\n  \"solve_seconds\": " << fixed_text(schedule.solve_seconds, 3)
      << ",\n  \"time_limit_s\": " << json_number(plan.schedule ? plan.schedule->time_limit_s : 0.0)
      << "\n}\n";
}

std::string schedule_summary(const Plan& plan, const PlanSchedule& schedule) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "SCHEDULE: %zu ACQUISITIONS OF %zu TARGETS FROM %zu CANDIDATES; OBJECTIVE %s, "
                "BEST BOUND %s, GAP %.2f %%%s; %.1f S.",
                schedule.acquisitions.size(), plan.targets.size(), schedule.candidates.size(),
                json_number(schedule.objective).c_str(), json_number(schedule.bound).c_str(),
                schedule.gap * 100.0, schedule.optimal ? " (OPTIMAL)" : "", schedule.seconds);
  return buf;
}

}  // namespace orvus
