// The plan's opportunities on the map page: "opportunities.html".
#include "plan_page.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "orvus/time.hpp"
#include "outputs/map_page.hpp"

namespace orvus::plan_page {

namespace {

std::string degrees(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f\xC2\xB0", v);
  return buf;
}

page::Line page_line(const Ring& ring) {
  page::Line out;
  out.reserve(ring.size());
  for (const GroundPoint& p : ring) out.push_back({p.lon_deg, p.lat_deg});
  return out;
}

// The coverage for the page: the cells with their accesses and longest revisit, and per area
// and series the covered fraction at the end of each minute in which it grew, thinned to at
// most 600 points (the last always kept).
page::Coverage coverage_layer(const Plan& plan, const CoverageGrid& grid,
                              const CoverageResult& result) {
  page::Coverage c;
  c.cell_km = grid.cell_km;
  c.band_edge_deg = grid.band_edge_deg;
  c.band_cells = grid.band_cells;
  c.cells.reserve(grid.cells.size());
  for (std::size_t i = 0; i < grid.cells.size(); ++i) {
    page::Coverage::Cell cell;
    cell.band = grid.cells[i].band;
    cell.column = grid.cells[i].column;
    cell.accesses = result.cells[i].accesses;
    if (result.cells[i].accesses >= 2) cell.max_revisit_h = result.cells[i].max_revisit_s / 3600.0;
    c.cells.push_back(cell);
  }
  constexpr std::size_t kMostPoints = 600;
  const double start = plan.interval.start.seconds;
  for (std::size_t a = 0; a < grid.areas.size(); ++a) {
    const CoverageGrid::Area& area = grid.areas[a];
    page::Coverage::Area pa;
    pa.id = area.id;
    pa.name = area.name;
    if (area.target != CoverageGrid::kLand) pa.target = area.target;
    pa.cells = area.cells.size();
    for (const CoverageSeries& s : result.areas[a]) {
      page::Coverage::Series ps;
      ps.satellite =
          s.satellite == CoverageSeries::kAll ? "all" : plan.satellites.at(s.satellite).name;
      std::vector<std::pair<double, double>> minutes;
      const auto& t = s.first_s;
      for (std::size_t i = 0; i < t.size(); ++i) {
        if (i + 1 < t.size() &&
            std::floor((start + t[i + 1]) / 60.0) == std::floor((start + t[i]) / 60.0))
          continue;
        minutes.emplace_back(t[i], static_cast<double>(i + 1) / static_cast<double>(pa.cells));
      }
      const std::size_t every = (minutes.size() + kMostPoints - 1) / kMostPoints;
      for (std::size_t i = 0; i < minutes.size(); ++i)
        if (i % std::max<std::size_t>(every, 1) == 0 || i + 1 == minutes.size())
          ps.points.push_back(minutes[i]);
      pa.series.push_back(std::move(ps));
    }
    c.areas.push_back(std::move(pa));
  }
  return c;
}

std::string local_text(const Plan& plan, const UtcInstant& utc) {
  UtcInstant t{utc.day, utc.seconds + plan.interval.utc_offset_hours * 3600.0};
  normalise(t.day, t.seconds);
  const DateText text = format_date_time(t);
  return {text.data(), text.size()};
}

// The schedule's acquisitions and the passes of satellites over stations with a downlink
// rate, for the timeline.
page::Schedule schedule_layer(const Plan& plan, const std::vector<Opportunity>& kept,
                              const PlanSchedule& schedule, const std::vector<PlanPass>* passes) {
  page::Schedule out;
  for (const PlanSatellite& s : plan.satellites)
    out.max_roll_deg = std::max(out.max_roll_deg, s.agility.max_roll_deg);
  for (const ScheduledAcquisition& a : schedule.acquisitions) {
    const Acquisition& c = schedule.candidates.at(a.candidate);
    page::Acquisition pa;
    pa.satellite = c.satellite;
    pa.target = c.target;
    if (c.opportunity < kept.size()) pa.contact = c.opportunity;
    pa.start = local_text(plan, c.start_utc);
    pa.duration_s = c.imaging_s;
    pa.roll_deg = c.roll_deg;
    for (const Ring& ring : c.swath) pa.swath.push_back(page_line(ring));
    out.acquisitions.push_back(std::move(pa));
  }
  if (passes != nullptr) {
    for (const PlanPass& p : *passes) {
      out.passes.push_back({p.satellite, plan.stations.at(p.station).name,
                            local_text(plan, p.pass.aos_utc), p.pass.duration_s});
    }
  }
  return out;
}

}  // namespace

std::string page_html(const Plan& plan, const std::vector<Opportunity>& kept,
                      const CoverageGrid* grid, const CoverageResult* coverage,
                      const PlanSchedule* schedule, const std::vector<PlanPass>* passes) {
  page::Page pg;
  page::Header& h = pg.header;
  h.title = "ORVUS plan: " + std::filesystem::path(plan.path).filename().string();
  for (const PlanSatellite& s : plan.satellites) {
    const std::string sep = h.satellites.empty() ? "" : ", ";
    h.satellites += sep + s.name;
    h.alpha += sep + degrees(s.sensor.alpha_deg);
    h.beta += sep + degrees(s.sensor.beta_deg);
    pg.satellites.push_back({s.name});
  }
  h.location = std::filesystem::path(plan.targets_path).filename().string() + " (" +
               std::to_string(plan.targets.size()) + " targets)";
  h.start = plan.start_local;
  h.end = plan.end_local;
  h.interval = page::interval_text(h.start, h.end, plan.interval.utc_offset_hours);
  pg.targets.reserve(plan.targets.size());
  for (const Target& t : plan.targets) {
    page::Target pt;
    pt.id = t.id;
    pt.name = t.name;
    if (t.box) {
      const Box& b = *t.box;
      pt.rings.push_back({{b.lon1, b.lat1},
                          {b.lon2, b.lat1},
                          {b.lon2, b.lat2},
                          {b.lon1, b.lat2},
                          {b.lon1, b.lat1}});
    }
    for (const Polygon& poly : t.polygons)
      for (const Ring& ring : poly) pt.rings.push_back(page_line(ring));
    for (const Ring& line : t.lines) pt.lines.push_back(page_line(line));
    for (const GroundPoint& g : t.points) pt.points.push_back({g.lon_deg, g.lat_deg});
    pg.targets.push_back(std::move(pt));
  }
  pg.contacts.reserve(kept.size());
  for (const Opportunity& o : kept) {
    const Contact& c = o.contact;
    page::Contact pc;
    pc.satellite = o.satellite;
    pc.target = o.target;
    pc.number = c.number;
    const DateText start = format_date_time(c.start_local);
    pc.start.assign(start.data(), start.size());
    pc.duration_s = c.duration_s;
    pc.pass = c.pass;
    pc.best_alpha_deg = c.best_alpha_deg;
    pc.sun_elevation_deg = o.sun_elevation_deg;
    pc.coverage = o.coverage;
    for (const Ring& ring : o.swath) pc.swath.push_back(page_line(ring));
    pc.best_point = page::Point{c.best_geodetic.lon_deg, c.best_geodetic.lat_deg};
    pg.contacts.push_back(std::move(pc));
  }
  if (grid != nullptr && coverage != nullptr) pg.coverage = coverage_layer(plan, *grid, *coverage);
  if (schedule != nullptr) pg.schedule = schedule_layer(plan, kept, *schedule, passes);
  return page::page_html(pg);
}

}  // namespace orvus::plan_page
