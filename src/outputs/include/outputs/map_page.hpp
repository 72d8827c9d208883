// The map page: one self-contained HTML file (Leaflet, the land and borders of Natural Earth
// 1:50m projected beforehand, the data, all inline) showing targets and the contacts over them,
// with a table of the contacts that sorts, filters and selects. Shared by the commands that map
// contacts.
//
// The data go into the page once, as columns: a table of satellites, a table of targets (id,
// name, geometry) and the contacts as columns of numbers indexing those tables, with times in
// milliseconds from the interval's start and swaths simplified. The page draws the targets
// first, coloured by their number of contacts, and the swaths of a selection only. A page with
// a schedule also has, in columns likewise, its acquisitions and station passes: a timeline
// per satellite, and the acquired swaths highlighted on the map.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvus::page {

struct Point {
  double lon_deg = 0.0;  // geodetic degrees
  double lat_deg = 0.0;
};
using Line = std::vector<Point>;

struct Header {
  std::string title;        // the page's title
  std::string satellites;   // e.g. "AMAZONIA 1" or "LANDSAT 8, AMAZONIA 1"
  std::string location;     // location or deck name
  std::string interval;     // as interval_text() gives it
  std::string alpha, beta;  // as the run gives them, e.g. "0.00°"
  // Local date-times "DD/MM/YYYY hh:mm:ss.sss..." of the interval's start and end; the
  // contacts' starts are kept as milliseconds from `start`.
  std::string start, end;
};

struct Satellite {
  std::string name;
};

// A target: areas (closed rings: outer boundaries and holes alike, drawn even-odd), lines and
// points, in any mix.
struct Target {
  std::string id, name;
  std::vector<Line> rings;
  std::vector<Line> lines;
  std::vector<Point> points;
};

struct Contact {
  std::size_t satellite = 0;  // index into Page::satellites
  std::size_t target = 0;     // index into Page::targets
  int number = 0;
  std::string start;  // local date-time text, "DD/MM/YYYY hh:mm:ss.sss..." (to the millisecond)
  double duration_s = 0.0;
  char pass = ' ';                       // 'A', 'D', or ' ' for a contact still open
  std::optional<double> best_alpha_deg;  // empty for a contact still open
  std::optional<double> sun_elevation_deg;
  double coverage = 0.0;  // fraction of the target's area under the swath
  // Closed rings, or for a contact of one step the line across the track; a ring of points (1)
  // forward then points (2) back keeps that form when simplified. Either whole or cut at
  // +-180: the page draws each piece beside its target.
  std::vector<Line> swath;
  Line track;                       // point (0)
  std::optional<Point> best_point;  // ground point seen at BEST ALPHA
};

// A coverage grid: cells on latitude bands, coloured by their accesses or their longest
// revisit, and per area the fraction covered at least once as time goes on.
struct Coverage {
  double cell_km = 0.0;
  std::vector<double> band_edge_deg;      // geodetic, south to north: one more than the bands
  std::vector<std::uint32_t> band_cells;  // the cells of each band (equal in longitude)
  struct Cell {
    std::uint32_t band = 0, column = 0, accesses = 0;
    std::optional<double> max_revisit_h;  // empty below two accesses
  };
  std::vector<Cell> cells;  // by band, then column
  struct Series {
    std::string satellite;                          // "all" or the satellite's name
    std::vector<std::pair<double, double>> points;  // (s from the start, fraction), ascending
  };
  struct Area {
    std::string id, name;
    std::optional<std::size_t> target;  // index into Page::targets
    std::size_t cells = 0;
    std::vector<Series> series;  // all the satellites together first
  };
  std::vector<Area> areas;
};

// An acquisition of a schedule, on the timeline and, its swath highlighted, on the map.
struct Acquisition {
  std::size_t satellite = 0;           // index into Page::satellites
  std::size_t target = 0;              // index into Page::targets
  std::optional<std::size_t> contact;  // the opportunity it takes (index into Page::contacts)
  std::string start;                   // local date-time text, as Contact::start
  double duration_s = 0.0;
  double roll_deg = 0.0;
  std::vector<Line> swath;  // the camera's swath, as Contact::swath
};

// A station pass of a satellite, on the timeline.
struct StationPass {
  std::size_t satellite = 0;  // index into Page::satellites
  std::string station;
  std::string aos;  // local date-time text, as Contact::start
  double duration_s = 0.0;
};

// A schedule: its acquisitions and the passes its recorder empties over.
struct Schedule {
  std::vector<Acquisition> acquisitions;
  std::vector<StationPass> passes;
  double max_roll_deg = 0.0;  // the timeline's roll scale: the largest |roll| allowed
};

struct Page {
  Header header;
  std::vector<Satellite> satellites;
  std::vector<Target> targets;
  std::vector<Contact> contacts;
  std::optional<Coverage> coverage;
  std::optional<Schedule> schedule;  // shown on a timeline per satellite when present
};

// The interval as people read it: "01/07/2025 00:00 to 31/07/2025 00:00, UTC −3" (seconds
// and milliseconds shown only when not zero; "UTC +5:30" for a fractional offset). `start`
// and `end` are date-time texts "DD/MM/YYYY hh:mm:ss.sss...".
std::string interval_text(std::string_view start, std::string_view end, double utc_offset_hours);

// The text with every byte that is not valid UTF-8 replaced by U+FFFD.
std::string utf8(std::string_view s);

// A JSON string of the text (made valid UTF-8 as above); `in_script` also escapes '<', '>' and
// '&', so that no "</script" or "<!--" can end or change a <script> element holding it.
std::string json_string(std::string_view s, bool in_script = true);

// The polyline simplified (Douglas-Peucker, in degrees of longitude and latitude taken as
// plane coordinates) so that no point lies farther than `tolerance_deg` from it; the first and
// last points are kept. A swath ring of 2n + 1 points (points (1) forward, points (2) back,
// closed) keeps the pairs of the steps kept on either side, so that it stays such a ring.
Line simplified(const Line& line, double tolerance_deg);
Line simplified_swath(const Line& ring, double tolerance_deg);

// The page as HTML text. Texts may hold any bytes: invalid UTF-8 becomes U+FFFD.
std::string page_html(const Page& page);

// Writes page_html(page) to `file`; returns false when the file cannot be written.
bool write_page(const Page& page, const std::filesystem::path& file);

// The embedded assets (generated at build time from third_party/web/node_modules and, for the
// page's own template and script, src/outputs).
std::string_view asset_leaflet_js();
std::string_view asset_leaflet_css();
std::string_view asset_countries_50m();  // world-atlas TopoJSON: objects "countries", "land"
std::string_view asset_page_html();
std::string_view asset_page_js();

}  // namespace orvus::page
