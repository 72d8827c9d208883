// A page of several targets and two satellites for the browser test: contacts computed by the
// library, written with the shared page writer.
//   plan_page <test data directory> <page.html>
#include <cstdio>
#include <exception>
#include <string>

#include "map_page.hpp"
#include "orvus/analysis.hpp"
#include "orvus/contacts.hpp"
#include "orvus/elements.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: plan_page <test data directory> <page.html>\n");
    return 2;
  }
  const std::string data = argv[1];
  struct Run {
    const char* tle;
    orvus::Sensor sensor;
    const char* start;
    const char* end;
  };
  const Run runs[] = {
      {"landsat8_2024.tle", {0.0, 15.0}, "30/09/2024 00:00:00", "04/10/2024 00:00:00"},
      {"amazonia1_2025.tle", {0.0, 60.0}, "25/07/2025 00:00:00", "28/07/2025 00:00:00"}};
  struct Named {
    const char* name;
    orvus::Box box;
  };
  // The last one crosses the antimeridian.
  const Named targets[] = {{"BRASILIA", {-49.0, -46.5, -17.0, -14.5}},
                           {"SAHEL", {2.0, 6.0, 12.0, 16.0}},
                           {"FIJI", {177.0, 182.0, -19.0, -15.0}}};
  try {
    const auto eop = orvus::EarthOrientation::load(data + "/finals2000A.data");
    orvus::page::Page page;
    page.header = {"Test plan: two satellites, three targets",
                   "",
                   "deck of the browser test",
                   "",
                   "0.00\xC2\xB0",
                   "15.00\xC2\xB0 / 60.00\xC2\xB0"};
    for (const Named& t : targets) {
      const orvus::Box& b = t.box;
      page.targets.push_back({t.name,
                              {{{b.lon1, b.lat1},
                                {b.lon2, b.lat1},
                                {b.lon2, b.lat2},
                                {b.lon1, b.lat2},
                                {b.lon1, b.lat1}}}});
    }
    for (const Run& r : runs) {
      orvus::ElementSet set = orvus::read_elements(data + "/tle/" + r.tle);
      set.name.erase(set.name.find_last_not_of(' ') + 1);
      const orvus::Satellite satellite{orvus::Propagator(set), r.sensor};
      const orvus::Interval interval{orvus::parse_date_time(r.start), orvus::parse_date_time(r.end),
                                     10.0, 0.0};
      page.header.satellites += (page.header.satellites.empty() ? "" : ", ") + set.name;
      page.header.interval += (page.header.interval.empty() ? "" : "; ") + set.name + " " +
                              r.start + " to " + r.end + " UTC";
      for (const Named& t : targets) {
        for (const orvus::Contact& c : orvus::find_contacts(satellite, t.box, interval, eop)) {
          orvus::page::Contact pc;
          pc.id = set.name + "-" + t.name + "-" + std::to_string(c.number);
          pc.satellite = set.name;
          pc.target = t.name;
          pc.number = c.number;
          pc.start = std::string(orvus::format_date_time(c.start_local).data(), 23);
          pc.duration_s = c.duration_s;
          pc.pass = c.closed ? c.pass : ' ';
          if (c.closed) {
            pc.best_alpha_deg = c.best_alpha_deg;
            pc.sun_elevation_deg = orvus::sun_elevation_deg(
                c.best_utc, (t.box.lon1 + t.box.lon2) / 2, (t.box.lat1 + t.box.lat2) / 2);
            pc.best_point = orvus::page::Point{c.best_geodetic.lon_deg, c.best_geodetic.lat_deg};
          }
          std::vector<orvus::GroundPoint> side1, side2;
          orvus::page::Line ring;
          for (const orvus::ContactStep& s : c.steps) {
            side1.push_back(s.geodetic[1]);
            side2.push_back(s.geodetic[2]);
            pc.track.push_back({s.geodetic[0].lon_deg, s.geodetic[0].lat_deg});
            ring.push_back({s.geodetic[1].lon_deg, s.geodetic[1].lat_deg});
          }
          for (auto it = c.steps.rbegin(); it != c.steps.rend(); ++it)
            ring.push_back({it->geodetic[2].lon_deg, it->geodetic[2].lat_deg});
          if (ring.size() > 2) ring.push_back(ring.front());
          pc.swath.push_back(ring);
          pc.coverage = orvus::box_coverage(t.box, side1, side2);
          page.contacts.push_back(std::move(pc));
        }
      }
    }
    if (!orvus::page::write_page(page, argv[2])) {
      std::fprintf(stderr, "plan_page: cannot write %s\n", argv[2]);
      return 1;
    }
    std::printf("%zu contacts\n", page.contacts.size());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plan_page: %s\n", e.what());
    return 1;
  }
  return 0;
}
