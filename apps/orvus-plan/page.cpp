// The plan's opportunities on the map page: "opportunities.html".
#include "page.hpp"

#include <cstdio>
#include <filesystem>
#include <string>

#include "map_page.hpp"
#include "orvus/time.hpp"

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

}  // namespace

std::string page_html(const Plan& plan, const std::vector<Opportunity>& kept) {
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
  return page::page_html(pg);
}

}  // namespace orvus::plan_page
