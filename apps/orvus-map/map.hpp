// The companion command orvus-map: reads a run's input file and reports and draws its
// contacts for GIS tools (GeoJSON, KML) and people (an SVG map).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "legacy/program.hpp"
#include "orvus/analysis.hpp"

namespace orvus::map {

// A fixed-width field of the run without its padding.
inline std::string trimmed(const std::string& field) {
  return field.substr(0, field.find_last_not_of(' ') + 1);
}

using LonLat = GroundPoint;  // degrees

struct StepPoints {
  std::string time;            // local time text, 23 characters
  std::optional<LonLat> p[3];  // tracking points (0), (1), (2); empty where not a number
};

// One contact as the map draws it: the texts as the reports write them.
struct Contact {
  int number = 0;
  std::vector<StepPoints> steps;      // the in-box steps, geodetic points
  bool closed = false;                // ended before the interval did: has its summary
  std::optional<LonLat> best_point;   // ground point seen at BEST ALPHA
  std::string start, end, best_time;  // local, 23 characters
  UtcInstant best_utc;
  double duration = 0.0, best_alpha = 0.0, distance = 0.0;
  char pass = ' ';
  // The opportunity's figures (opportunity_figures): the Sun's elevation at the box's centre
  // at the best time (a closed contact), the share of the box under the swath.
  double sun_elevation_deg = 0.0, coverage = 0.0;
};

struct Run {
  RunParams params;
  std::vector<Contact> contacts;
};

// The run in `dir`: its input file "ORVUS_IN.TXT" with the element set and the
// Earth-orientation file it uses, and its contacts computed by the library's search, the
// same search orvus runs. Raises Error naming a file that cannot be read.
void read_run(const std::filesystem::path& dir, Run& run);

// The map's contact of a contact record.
Contact map_contact(const orvus::Contact& c);

// The core library's measures, with the map's arguments.
inline double sun_elevation_deg(double utc_day, double utc_sec, double lon, double lat) {
  return orvus::sun_elevation_deg(UtcInstant{utc_day, utc_sec}, lon, lat);
}
inline double box_coverage(double lon1, double lon2, double lat1, double lat2,
                           const std::vector<LonLat>& side1, const std::vector<LonLat>& side2) {
  return orvus::box_coverage(Box{lon1, lon2, lat1, lat2}, side1, side2);
}
using orvus::split_line;
using orvus::split_ring;

// The swath of a contact: points (1) in time order, then points (2) in reverse, closed; for
// a contact of one step, the open line from point (1) to point (2).
std::vector<LonLat> swath_ring(const Contact& c);

void write_geojson(const Run& run, const std::filesystem::path& file);
void write_kml(const Run& run, const std::filesystem::path& file);
void write_svg(const Run& run, const std::filesystem::path& file);
// The interactive page (outputs/map_page.hpp) of the run.
void write_page(const Run& run, const std::filesystem::path& file);

inline constexpr const char* kGeoJsonFile = "ORVUS_v" ORVUS_VERSION "_CONTACTS.geojson";
inline constexpr const char* kKmlFile = "ORVUS_v" ORVUS_VERSION "_CONTACTS.kml";
inline constexpr const char* kSvgFile = "ORVUS_v" ORVUS_VERSION "_MAP.svg";
inline constexpr const char* kPageFile = "ORVUS_v" ORVUS_VERSION "_MAP.html";

}  // namespace orvus::map
