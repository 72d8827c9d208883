// The companion command orvus-map: reads a run's input file and reports and draws its
// contacts for GIS tools (GeoJSON, KML) and people (an SVG map).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "run/run.hpp"

namespace orvus::map {

struct LonLat {
  double lon = 0.0;
  double lat = 0.0;
};

struct StepPoints {
  std::string time;            // local time text, 23 characters
  std::optional<LonLat> p[3];  // tracking points (0), (1), (2); empty where not a number
};

// One contact as the reports give it.
struct Contact {
  int number = 0;
  std::vector<StepPoints> steps;  // from OUT1
  bool closed = false;            // has its BEST ALPHA line and its OUT2 row
  // From the BEST ALPHA line of OUT1.
  std::optional<LonLat> best_point;
  // From the OUT2 row.
  std::string start, end, best_time;
  double duration = 0.0, best_alpha = 0.0, distance = 0.0;
  char pass = ' ';
};

struct Run {
  RunParams params;
  std::vector<Contact> contacts;
};

// Reads "ORVUS_IN.TXT", "ORVUS_v1.13_OUT1.TXT" and "ORVUS_v1.13_OUT2.CSV" in `dir`. Raises
// Fatal naming the file and the line of anything it cannot read.
void read_run(const std::filesystem::path& dir, Run& run);

// UTC day number and seconds of a local report time text "DD/MM/YYYY HH:MM:SS.sss".
void local_text_to_utc(const std::string& text, double utc_diff, double& day, double& seconds);

// Elevation of the Sun's centre in degrees, without refraction, seen from the geodetic
// longitude and latitude (degrees, height 0) at the UTC instant.
double sun_elevation_deg(double utc_day, double utc_sec, double lon, double lat);

// Fraction of the area of the box [lon1, lon2] x [lat1, lat2] (degrees) that the swath
// (points (1) in time order, then points (2) in reverse) covers, measured on a Lambert
// azimuthal equal-area projection centred on the box.
double box_coverage(double lon1, double lon2, double lat1, double lat2,
                    const std::vector<LonLat>& side1, const std::vector<LonLat>& side2);

// A line or a closed ring cut where it crosses longitude +-180, every part with longitudes
// in [-180, 180]. Rings come back closed.
std::vector<std::vector<LonLat>> split_line(const std::vector<LonLat>& line);
std::vector<std::vector<LonLat>> split_ring(const std::vector<LonLat>& ring);

// The swath of a contact: points (1) in time order, then points (2) in reverse, closed; for
// a contact of one step, the open line from point (1) to point (2).
std::vector<LonLat> swath_ring(const Contact& c);

void write_geojson(const Run& run, const std::filesystem::path& file);
void write_kml(const Run& run, const std::filesystem::path& file);
void write_svg(const Run& run, const std::filesystem::path& file);

inline constexpr const char* kGeoJsonFile = "ORVUS_v1.13_CONTACTS.geojson";
inline constexpr const char* kKmlFile = "ORVUS_v1.13_CONTACTS.kml";
inline constexpr const char* kSvgFile = "ORVUS_v1.13_MAP.svg";

}  // namespace orvus::map
