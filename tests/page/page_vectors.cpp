// Writes, as JSON on standard output, what the map page's writer makes for known values, for
// the page's decoder to read back under node (decode_test.js): columns of integers at the
// edges of the 7-bit groups, of the zigzag code and of 2^53, each with the values it holds;
// a few hand-derived byte strings; and the HTML of a small page whose values decode_test.js
// knows.
#include <cstdint>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "outputs/map_page.hpp"
#include "outputs/map_page_columns.hpp"

namespace {

using orvus::page::Column;

constexpr std::int64_t p2(int n) {
  return std::int64_t{1} << n;
}

// The column's base64 text, without the quotes of its JSON.
std::string text(const Column& c) {
  const std::string json = c.json();
  return json.substr(1, json.size() - 2);
}

nlohmann::json unsigned_case() {
  std::vector<std::int64_t> values = {0, 1, 127, 128, 300, p2(14) - 1, p2(14)};
  for (const int n : {21, 28, 35, 42, 49})
    for (const std::int64_t v : {p2(n) - 1, p2(n), p2(n) + 1}) values.push_back(v);
  for (const std::int64_t v : {p2(52) + 1, p2(53) - 1, p2(53)}) values.push_back(v);
  Column c;
  for (const std::int64_t v : values) c.put(static_cast<std::uint64_t>(v));
  return {{"read", "uint"}, {"values", values}, {"bytes", text(c)}};
}

// Signed values: the zigzag code of +-2^k is 2^(k+1) or 2^(k+1) - 1, so that 63 / -64 / 64 /
// -65 straddle one byte and two, and +-2^48 the 7 bytes below 2^49 and the 8 above.
std::vector<std::int64_t> signed_values() {
  std::vector<std::int64_t> values = {0, -1, 1, -2, 2, 63, -64, 64, -65};
  for (const int n : {13, 20, 27, 34, 41, 48})
    for (const std::int64_t v : {p2(n) - 1, -p2(n), p2(n), -p2(n) - 1}) values.push_back(v);
  for (const std::int64_t v : {p2(52) + 1, -p2(52) - 1, p2(53) - 1, -(p2(53) - 1), -p2(53)})
    values.push_back(v);
  return values;
}

nlohmann::json signed_case() {
  const std::vector<std::int64_t> values = signed_values();
  Column c;
  for (const std::int64_t v : values) c.put_signed(v);
  return {{"read", "sint"}, {"values", values}, {"bytes", text(c)}};
}

nlohmann::json optional_case() {
  std::vector<std::optional<std::int64_t>> values = {std::nullopt};
  for (const std::int64_t v : signed_values()) {
    values.push_back(v);
    values.push_back(std::nullopt);
  }
  Column c;
  nlohmann::json listed = nlohmann::json::array();
  for (const auto& v : values) {
    c.put_optional(v);
    listed.push_back(v ? nlohmann::json(*v) : nlohmann::json(nullptr));
  }
  return {{"read", "opt"}, {"values", listed}, {"bytes", text(c)}};
}

// 300 = 0b10 0101100: 0xAC 0x02; -1 zigzags to 1; missing is 0, 0 is 0 + 1.
nlohmann::json pinned() {
  Column u, s, o;
  u.put(300);
  s.put_signed(-1);
  o.put_optional(std::nullopt);
  o.put_optional(0);
  return {{"uint 300", text(u)}, {"sint -1", text(s)}, {"opt missing, 0", text(o)}};
}

// The page decode_test.js knows: two satellites; a box and a target across +-180 (a line
// and a point); a contact over each (the second earlier, open, with no angles, its swath
// across +-180); a schedule of two acquisitions and three station passes; a coverage grid.
orvus::page::Page small_page() {
  using namespace orvus::page;
  Page p;
  p.header.title = "vectors";
  p.header.start = "01/07/2025 00:00:00.000";
  p.header.end = "03/07/2025 00:00:00.000";
  p.satellites = {{"SAT A"}, {"SAT B"}};
  const Line box = {{10, 20}, {11, 20}, {11, 21}, {10, 21}, {10, 20}};
  p.targets.push_back({"BOX", "Box", {box}, {}, {}});
  p.targets.push_back({"FJI", "", {}, {{{179.5, -17}, {-179.5, -17}}}, {{179.0, -18}}});
  Contact c0;
  c0.satellite = 0;
  c0.target = 0;
  c0.number = 1;
  c0.start = "01/07/2025 00:00:01.500";
  c0.duration_s = 12.3456;
  c0.pass = 'A';
  c0.best_alpha_deg = -3.14159;
  c0.sun_elevation_deg = 45.678;
  c0.coverage = 0.25;
  c0.swath = {{{10, 20}, {10, 21}, {11, 21}, {11, 20}, {10, 20}}};
  c0.track = {{10.5, 19.5}, {10.5, 21.5}};
  c0.best_point = Point{10.25, 20.75};
  Contact c1;
  c1.satellite = 1;
  c1.target = 1;
  c1.number = -7;
  c1.start = "01/07/2025 00:00:00.250";
  c1.coverage = 1.0;
  c1.swath = {{{179.8, -17.5}, {179.8, -16.5}, {-179.8, -16.5}, {-179.8, -17.5}, {179.8, -17.5}}};
  p.contacts = {c0, c1};
  Schedule s;
  s.acquisitions.push_back({1, 0, std::nullopt, "01/07/2025 06:00:00.000", 4.5, -12.34, {box}});
  s.acquisitions.push_back({0, 0, 0, "01/07/2025 05:00:00.000", 3.0, 7.5, {box}});
  s.passes = {{0, "ALCANTARA", "01/07/2025 01:00:00.000", 600.0},
              {1, "CUIABA", "01/07/2025 02:00:00.000", 480.5},
              {0, "ALCANTARA", "01/07/2025 03:00:00.000", 300.0}};
  s.max_roll_deg = 30.0;
  p.schedule = s;
  Coverage g;
  g.cell_km = 50.0;
  g.band_edge_deg = {-10.0, 0.0, 10.0, 20.0};
  g.band_cells = {4, 4, 3};
  g.cells = {{0, 1, 0, std::nullopt}, {0, 3, 2, 12.34}, {2, 0, 1, std::nullopt}, {2, 2, 5, 100.0}};
  Coverage::Area area{"BOX", "Box", 0, 4, {}};
  area.series = {{"all", {{0.0, 0.0}, {3600.5, 0.5}, {7200.0, 1.0}}}, {"SAT A", {{3600.5, 0.25}}}};
  g.areas = {area};
  p.coverage = g;
  return p;
}

}  // namespace

int main() {
  const nlohmann::json out = {{"columns", {unsigned_case(), signed_case(), optional_case()}},
                              {"pinned", pinned()},
                              {"page", orvus::page::page_html(small_page())}};
  std::cout << out.dump() << '\n';
  return std::cout ? 0 : 1;
}
