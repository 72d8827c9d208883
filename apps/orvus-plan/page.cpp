// The plan's opportunities on the map page: "opportunities.html".
#include "page.hpp"

#include <algorithm>
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
  if (schedule != nullptr) pg.schedule = schedule_layer(plan, kept, *schedule, passes);
  return page::page_html(pg);
}

}  // namespace orvus::plan_page
