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
using plan::iso_text;
using plan::json_number;
using plan::json_quoted;

UtcInstant local(const Plan& plan, const UtcInstant& t) {
  return normalise(UtcInstant{t.day, t.seconds + plan.interval.utc_offset_hours * 3600.0});
}

// The fields of one acquisition, in the order of schedule.csv, as texts (empty: none).
struct Row {
  std::string satellite, norad_id, target_id, target_name, priority, start_utc, end_utc,
      start_local, end_local, roll_deg, slew_s, imaging_s, data_gbit, recorder_after_gbit,
      downlink_station, downlink_start_utc, sun_elevation_deg;
};

Row row_of(const Plan& plan, const std::vector<PlanPass>& passes, const PlanSchedule& s,
           const ScheduledAcquisition& a) {
  const Acquisition& c = s.candidates.at(a.candidate);
  const PlanSatellite& sat = plan.satellites.at(c.satellite);
  const Target& t = plan.targets.at(c.target);
  const double off = plan.interval.utc_offset_hours;
  Row r;
  r.satellite = sat.name;
  r.norad_id = std::to_string(sat.elements.catalogue_number);
  r.target_id = t.id;
  r.target_name = t.name;
  r.priority = json_number(t.priority);
  r.start_utc = iso_text(c.start_utc, std::nullopt);
  r.end_utc = iso_text(c.end_utc, std::nullopt);
  r.start_local = iso_text(local(plan, c.start_utc), off);
  r.end_local = iso_text(local(plan, c.end_utc), off);
  r.roll_deg = fixed_text(c.roll_deg, 4);
  r.slew_s = fixed_text(a.slew_s, 3);
  r.imaging_s = fixed_text(c.imaging_s, 3);
  if (sat.agility.imaging_gbit_s) r.data_gbit = fixed_text(c.data_gbit, 3);
  if (a.recorder_after_gbit) r.recorder_after_gbit = fixed_text(*a.recorder_after_gbit, 3);
  if (a.downlink_pass) {
    r.downlink_station = plan.stations.at(passes.at(*a.downlink_pass).station).name;
    r.downlink_start_utc = iso_text(a.downlink_start_utc, std::nullopt);
  }
  r.sun_elevation_deg = fixed_text(c.sun_elevation_deg, 2);
  return r;
}

}  // namespace

void write_schedule_csv(const Plan& plan, const std::vector<PlanPass>& passes,
                        const PlanSchedule& schedule, std::ostream& out) {
  out << "satellite,norad_id,target_id,target_name,priority,start_utc,end_utc,start_local,"
         "end_local,roll_deg,slew_s,imaging_s,data_gbit,recorder_after_gbit,downlink_station,"
         "downlink_start_utc,sun_elevation_deg\n";
  for (const ScheduledAcquisition& a : schedule.acquisitions) {
    const Row r = row_of(plan, passes, schedule, a);
    out << csv_field(r.satellite) << ',' << r.norad_id << ',' << csv_field(r.target_id) << ','
        << csv_field(r.target_name) << ',' << r.priority << ',' << r.start_utc << ',' << r.end_utc
        << ',' << r.start_local << ',' << r.end_local << ',' << r.roll_deg << ',' << r.slew_s << ','
        << r.imaging_s << ',' << r.data_gbit << ',' << r.recorder_after_gbit << ','
        << csv_field(r.downlink_station) << ',' << r.downlink_start_utc << ','
        << r.sun_elevation_deg << '\n';
  }
}

void write_unscheduled_csv(const Plan& plan, const PlanSchedule& schedule, std::ostream& out) {
  out << "target_id,target_name,priority,opportunities,reason\n";
  for (const UnscheduledTarget& u : schedule.unscheduled) {
    const Target& t = plan.targets.at(u.target);
    out << csv_field(t.id) << ',' << csv_field(t.name) << ',' << json_number(t.priority) << ','
        << u.opportunities << ',' << reason_text(u.reason) << '\n';
  }
}

// One feature per acquisition: the camera's swath with the row's fields (numbers as
// numbers, an empty field as null) and its revolution.
void write_schedule_geojson(const Plan& plan, const std::vector<PlanPass>& passes,
                            const PlanSchedule& schedule, std::ostream& out) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  auto text = [](const std::string& v) { return v.empty() ? std::string("null") : json_quoted(v); };
  auto number = [](const std::string& v) { return v.empty() ? std::string("null") : v; };
  for (const ScheduledAcquisition& a : schedule.acquisitions) {
    const Acquisition& c = schedule.candidates.at(a.candidate);
    const Row r = row_of(plan, passes, schedule, a);
    out << (first ? "\n" : ",\n");
    first = false;
    out << "{\"type\":\"Feature\",\"properties\":{\"kind\":\"acquisition\",\"satellite\":"
        << json_quoted(r.satellite) << ",\"norad_id\":" << r.norad_id
        << ",\"target_id\":" << json_quoted(r.target_id)
        << ",\"target_name\":" << json_quoted(r.target_name) << ",\"priority\":" << r.priority
        << ",\"start_utc\":" << text(r.start_utc) << ",\"end_utc\":" << text(r.end_utc)
        << ",\"start_local\":" << text(r.start_local) << ",\"end_local\":" << text(r.end_local)
        << ",\"roll_deg\":" << json_number(c.roll_deg) << ",\"slew_s\":" << json_number(a.slew_s)
        << ",\"imaging_s\":" << json_number(c.imaging_s)
        << ",\"data_gbit\":" << number(r.data_gbit.empty() ? "" : json_number(c.data_gbit))
        << ",\"recorder_after_gbit\":"
        << number(a.recorder_after_gbit ? json_number(*a.recorder_after_gbit) : "")
        << ",\"downlink_station\":" << text(r.downlink_station)
        << ",\"downlink_start_utc\":" << text(r.downlink_start_utc)
        << ",\"sun_elevation_deg\":" << json_number(c.sun_elevation_deg)
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
