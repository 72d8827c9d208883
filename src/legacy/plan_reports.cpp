// The three reports of one satellite and target of a plan (orvus-plan --reports): the pair's
// box, sensor and interval as a run's parameters, and the planner's sweep over that one
// target writing through the reports' sink.
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "core/plan/plan_internal.hpp"
#include "legacy/run.hpp"

namespace orvus {

void write_plan_reports(const Plan& plan, const EarthOrientation& eop, std::size_t sat,
                        std::size_t target, const ReportFiles& files) {
  const PlanSatellite& s = plan.satellites[sat];
  const Target& t = plan.targets[target];
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
  SearchParams search;
  search.lon1 = box.lon1;
  search.lon2 = box.lon2;
  search.lat1 = box.lat1;
  search.lat2 = box.lat2;
  search.alpha = s.sensor.alpha_deg;
  search.beta = s.sensor.beta_deg;
  derive_search_values(search);
  if (!t.box) {  // the reports' centre is the polygons' own
    search.cen_lon = t.centre.lon_deg;
    search.cen_lat = t.centre.lat_deg;
  }
  search.utc_diff = plan.interval.utc_offset_hours;
  search.start_day = plan.interval.start.day;
  search.start_sec = plan.interval.start.seconds;
  search.end_day = plan.interval.end.day;
  search.end_sec = plan.interval.end.seconds;
  search.step = plan.interval.step_s;
  search.element_file = std::filesystem::path(s.elements_path).filename().string();
  const RunParams p = report_params(search, {s.name, t.name, plan.start_local, plan.end_local});

  const auto t0 = std::chrono::steady_clock::now();
  write_headers(files, p);
  ReportSink sink(files);
  plan::sweep(plan, eop, sat, target, target + 1, {&sink}, {});
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  write_execution_time(files.out1.get(), secs);
}

}  // namespace orvus
