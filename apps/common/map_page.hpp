// The map page: one self-contained HTML file (Leaflet, the land and borders of Natural Earth
// 1:50m, the data, all inline) showing targets and the contacts over them, with a table of
// the contacts that sorts, filters and selects. Shared by the commands that map contacts.
#pragma once

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
  std::string interval;     // e.g. "31/07/2025 00:00:00.000 to 01/08/2025 00:00:00.000 (UTC -3 h)"
  std::string alpha, beta;  // as the run gives them, e.g. "0.00°"
};

struct Target {
  std::string name;
  std::vector<Line> rings;  // closed rings
};

struct Contact {
  std::string id;  // the swath's and the row's data-contact
  std::string satellite;
  std::size_t target = 0;  // index into Page::targets
  int number = 0;
  std::string start;  // local time text
  double duration_s = 0.0;
  char pass = ' ';                       // 'A', 'D', or ' ' for a contact still open
  std::optional<double> best_alpha_deg;  // empty for a contact still open
  std::optional<double> sun_elevation_deg;
  double coverage = 0.0;  // fraction of the target's area under the swath
  // Closed rings, or for a contact of one step the line across the track. Either whole (the
  // page keeps each ring's longitudes continuous across +-180) or already cut there.
  std::vector<Line> swath;
  Line track;                       // point (0)
  std::optional<Point> best_point;  // ground point seen at BEST ALPHA
};

struct Page {
  Header header;
  std::vector<Target> targets;
  std::vector<Contact> contacts;
};

// The text with every byte that is not valid UTF-8 replaced by U+FFFD.
std::string utf8(std::string_view s);

// A JSON string of the text (made valid UTF-8 as above); `in_script` also escapes '<', '>' and
// '&', so that no "</script" or "<!--" can end or change a <script> element holding it.
std::string json_string(std::string_view s, bool in_script = true);

// The page as HTML text. Texts may hold any bytes: invalid UTF-8 becomes U+FFFD.
std::string page_html(const Page& page);

// Writes page_html(page) to `file`; returns false when the file cannot be written.
bool write_page(const Page& page, const std::filesystem::path& file);

// The embedded assets (generated at build time from third_party/web/node_modules).
std::string_view asset_leaflet_js();
std::string_view asset_leaflet_css();
std::string_view asset_topojson_js();
std::string_view asset_countries_50m();  // world-atlas TopoJSON: objects "countries", "land"

}  // namespace orvus::page
