// The three reports of one satellite and target of a plan (orvus-plan --reports): the pair's
// box, sensor and interval as a run's parameters, and the planner's sweep over that one
// target writing through the reports' sink.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "legacy/reports.hpp"
#include "orvus/plan.hpp"
#include "orvus/time.hpp"

namespace orvus {

namespace {

std::string padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

std::int16_t trimmed_length(const std::string& s) {
  return static_cast<std::int16_t>(s.find_last_not_of(' ') + 1);
}

// What the reports' headers show of the pair: the names, the target's box (a polygon's
// bounding box) and centre (a polygon's own), the sensor, the interval and the element file.
// The geocentric box, which the reports do not show, is left out.
RunParams pair_params(const Plan& plan, const PlanSatellite& s, const Target& t) {
  Box box = t.box ? *t.box : Box{};
  if (!t.box) {  // a polygon: its bounding box
    box = {1e9, -1e9, 1e9, -1e9};
    for (const auto& poly : t.polygons)
      for (const auto& g : poly.front()) {
        box.lon1 = std::min(box.lon1, g.lon_deg);
        box.lon2 = std::max(box.lon2, g.lon_deg);
        box.lat1 = std::min(box.lat1, g.lat_deg);
        box.lat2 = std::max(box.lat2, g.lat_deg);
      }
  }
  RunParams p;
  p.SAT_NAME = padded(s.name, 50);
  p.LOC_NAME = padded(t.name, 70);
  p.UTC_DIFF = plan.interval.utc_offset_hours;
  p.LON1 = box.lon1;
  p.LAT1 = box.lat1;
  p.LON2 = box.lon2;
  p.LAT2 = box.lat2;
  p.TLE_FILE = padded(std::filesystem::path(s.elements_path).filename().string(), 70);
  p.ALPHA = s.sensor.alpha_deg;
  p.BETA = s.sensor.beta_deg;
  p.START_LOCAL = padded(plan.start_local, 29);
  p.END_LOCAL = padded(plan.end_local, 29);
  p.STEP = plan.interval.step_s;
  // The box's centre, or the polygons' own.
  p.CEN_LON = t.box ? (box.lon1 + box.lon2) / 2.0 : t.centre.lon_deg;
  p.CEN_LAT = t.box ? (box.lat1 + box.lat2) / 2.0 : t.centre.lat_deg;
  p.START_DAY = plan.interval.start.day;
  p.START_SEC = plan.interval.start.seconds;
  p.END_DAY = plan.interval.end.day;
  p.END_SEC = plan.interval.end.seconds;
  p.START_UTC = format_date_time(plan.interval.start);
  p.END_UTC = format_date_time(plan.interval.end);
  p.ALPHA0 = p.ALPHA;
  p.ALPHA1 = p.ALPHA - p.BETA / 2.0;
  p.ALPHA2 = p.ALPHA + p.BETA / 2.0;
  p.SAT_LEN = trimmed_length(p.SAT_NAME);
  p.LOC_LEN = trimmed_length(p.LOC_NAME);
  return p;
}

}  // namespace

void write_plan_reports(const Plan& plan, const EarthOrientation& eop, std::size_t sat,
                        std::size_t target, const ReportFiles& files) {
  const RunParams p = pair_params(plan, plan.satellites.at(sat), plan.targets.at(target));
  const auto t0 = std::chrono::steady_clock::now();
  write_headers(files, p);
  ReportSink sink(files);
  plan_contacts(plan, eop, sat, target, sink);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  write_execution_time(files.out1.get(), secs);
}

}  // namespace orvus
