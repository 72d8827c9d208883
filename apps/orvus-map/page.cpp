// The run's contacts on the map page.
#include <cmath>
#include <cstdio>
#include <fstream>

#include "legacy/fatal.hpp"
#include "map.hpp"
#include "outputs/map_page.hpp"

namespace orvus::map {

namespace {

std::string degrees(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f\xC2\xB0", v);
  return buf;
}

page::Line page_line(const std::vector<LonLat>& line) {
  page::Line out;
  out.reserve(line.size());
  for (const LonLat& p : line) out.push_back({p.lon_deg, p.lat_deg});
  return out;
}

}  // namespace

page::Page map_page(const Run& run) {
  const RunParams& p = run.params;
  page::Page page;
  const std::string satellite = trimmed(p.SAT_NAME), location = trimmed(p.LOC_NAME);
  page.header.title = satellite + " over " + location;
  page.header.satellites = satellite;
  page.header.location = location;
  page.header.start = p.START_LOCAL;
  page.header.end = p.END_LOCAL;
  page.header.interval = page::interval_text(p.START_LOCAL, p.END_LOCAL, p.UTC_DIFF);
  page.header.alpha = degrees(p.ALPHA);
  page.header.beta = degrees(p.BETA);
  page.satellites.push_back({satellite});
  // The box as written: a corner beyond +-180 makes it cross the antimeridian, and the page
  // keeps its longitudes continuous.
  page::Target box;
  box.name = location;
  box.rings.push_back(
      {{p.LON1, p.LAT1}, {p.LON2, p.LAT1}, {p.LON2, p.LAT2}, {p.LON1, p.LAT2}, {p.LON1, p.LAT1}});
  page.targets.push_back(std::move(box));
  for (const Contact& c : run.contacts) {
    page::Contact pc;
    pc.satellite = 0;
    pc.target = 0;
    pc.number = c.number;
    for (const StepPoints& s : c.steps) {
      if (s.p[0]) pc.track.push_back({s.p[0]->lon_deg, s.p[0]->lat_deg});
    }
    if (c.closed) {
      pc.start = c.start;
      pc.duration_s = c.duration;
      pc.pass = c.pass;
      pc.best_alpha_deg = c.best_alpha;
      pc.sun_elevation_deg = c.sun_elevation_deg;
    } else if (!c.steps.empty()) {  // still open when the interval ended
      pc.start = c.steps.front().time;
    }
    pc.coverage = c.coverage;
    const std::vector<LonLat> ring = swath_ring(c);
    if (!ring.empty()) pc.swath.push_back(page_line(ring));
    if (c.best_point) pc.best_point = page::Point{c.best_point->lon_deg, c.best_point->lat_deg};
    page.contacts.push_back(std::move(pc));
  }
  return page;
}

void write_page(const Run& run, const std::filesystem::path& file) {
  const std::string html = page::page_html(map_page(run));
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw Fatal{" ORVUS-MAP: CANNOT CREATE \"" + file.string() + "\".", " EXECUTION INTERRUPTED."};
  }
  out << html;
  out.flush();
  if (!out) {
    throw Fatal{" ORVUS-MAP: CANNOT WRITE \"" + file.string() + "\".", " EXECUTION INTERRUPTED."};
  }
}

}  // namespace orvus::map
