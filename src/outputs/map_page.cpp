// The map page: the assets, the data as columns and the page's script, in one HTML file.
#include "outputs/map_page.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <tuple>
#include <utility>

#include "map_page_columns.hpp"
#include "orvus/constants.hpp"
#include "outputs/world_atlas.hpp"
#include "sha256.hpp"

namespace orvus::page {

// Valid UTF-8 passes; any other byte becomes U+FFFD.
std::string utf8(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    bool ok = n > 0 && i + n <= s.size();
    for (std::size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
    if (ok) {
      out.append(s, i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string json_string(std::string_view s, bool in_script) {
  std::string out = "\"";
  for (const char ch : utf8(s)) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || (in_script && (ch == '<' || ch == '>' || ch == '&'))) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

namespace {

// A local date-time text "DD/MM/YYYY hh:mm:ss.sss..." read to the millisecond (further
// decimals cut, as the reports' 23 columns cut them).
struct LocalTime {
  int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

std::optional<LocalTime> read_local_time(std::string_view text) {
  LocalTime t;
  const auto digits = [&](std::size_t at, std::size_t n, int& v) {
    if (at + n > text.size()) return false;
    v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      v = v * 10 + (text[i] - '0');
    }
    return true;
  };
  if (!digits(0, 2, t.day) || text[2] != '/' || !digits(3, 2, t.month) || text[5] != '/' ||
      !digits(6, 4, t.year) || text.size() < 19 || text[10] != ' ' || !digits(11, 2, t.hour) ||
      text[13] != ':' || !digits(14, 2, t.minute) || text[16] != ':' || !digits(17, 2, t.second)) {
    return std::nullopt;
  }
  if (text.size() > 20 && text[19] == '.') {
    int scale = 100;
    for (std::size_t i = 20; i < text.size() && i < 23 && text[i] >= '0' && text[i] <= '9'; ++i) {
      t.millisecond += (text[i] - '0') * scale;
      scale /= 10;
    }
  }
  return t;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (H. Hinnant,
// "chrono-Compatible Low-Level Date Algorithms", days_from_civil).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Milliseconds of the local calendar from 1970-01-01 00:00 (what the page's Date.UTC gives).
std::optional<std::int64_t> local_ms(std::string_view text) {
  const auto t = read_local_time(text);
  if (!t) return std::nullopt;
  return ((days_from_civil(t->year, t->month, t->day) * 24 + t->hour) * 60 + t->minute) * 60000 +
         std::int64_t{t->second} * 1000 + t->millisecond;
}

std::string readable_time(std::string_view text) {
  const auto t = read_local_time(text);
  if (!t) return utf8(text);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d", t->day, t->month, t->year, t->hour,
                t->minute);
  std::string out = buf;
  if (t->second != 0 || t->millisecond != 0) {
    std::snprintf(buf, sizeof buf, ":%02d", t->second);
    out += buf;
  }
  if (t->millisecond != 0) {
    std::snprintf(buf, sizeof buf, ".%03d", t->millisecond);
    out += buf;
  }
  return out;
}

// Longitude `lon` moved by whole turns to within 180 deg of `ref`.
double near(double lon, double ref) {
  return lon - 360.0 * std::round((lon - ref) / 360.0);
}

// Squared distance, in plane degrees, of `p` from the segment a-b.
double distance2(const Point& p, const Point& a, const Point& b) {
  const double dx = b.lon_deg - a.lon_deg, dy = b.lat_deg - a.lat_deg;
  const double len2 = dx * dx + dy * dy;
  double f =
      len2 > 0.0 ? ((p.lon_deg - a.lon_deg) * dx + (p.lat_deg - a.lat_deg) * dy) / len2 : 0.0;
  f = std::clamp(f, 0.0, 1.0);
  const double ex = a.lon_deg + f * dx - p.lon_deg, ey = a.lat_deg + f * dy - p.lat_deg;
  return ex * ex + ey * ey;
}

// Douglas-Peucker (D. H. Douglas, T. K. Peucker, "Algorithms for the reduction of the number of
// points required to represent a digitized line or its caricature", The Canadian
// Cartographer 10(2), 1973): marks in `keep` the points of `line` the simplified line keeps.
void mark_kept(const Line& line, double tolerance_deg, std::vector<char>& keep) {
  if (line.empty()) return;
  keep[0] = keep[line.size() - 1] = 1;
  std::vector<std::pair<std::size_t, std::size_t>> spans = {{0, line.size() - 1}};
  const double tol2 = tolerance_deg * tolerance_deg;
  while (!spans.empty()) {
    const auto [a, b] = spans.back();
    spans.pop_back();
    double worst = -1.0;
    std::size_t at = a;
    for (std::size_t i = a + 1; i < b; ++i) {
      const double d = distance2(line[i], line[a], line[b]);
      if (d > worst) {
        worst = d;
        at = i;
      }
    }
    if (worst > tol2) {
      keep[at] = 1;
      spans.emplace_back(a, at);
      spans.emplace_back(at, b);
    }
  }
}

}  // namespace

Line simplified(const Line& line, double tolerance_deg) {
  std::vector<char> keep(line.size(), 0);
  mark_kept(line, tolerance_deg, keep);
  Line out;
  for (std::size_t i = 0; i < line.size(); ++i)
    if (keep[i]) out.push_back(line[i]);
  return out;
}

Line simplified_swath(const Line& ring, double tolerance_deg) {
  const std::size_t n = (ring.size() - 1) / 2;
  const bool paired = ring.size() >= 5 && ring.size() % 2 == 1 &&
                      ring.front().lon_deg == ring.back().lon_deg &&
                      ring.front().lat_deg == ring.back().lat_deg;
  if (!paired) return simplified(ring, tolerance_deg);
  Line side1(ring.begin(), ring.begin() + static_cast<long>(n)), side2;
  for (std::size_t i = 0; i < n; ++i) side2.push_back(ring[2 * n - 1 - i]);
  std::vector<char> keep(n, 0), keep2(n, 0);
  mark_kept(side1, tolerance_deg, keep);
  mark_kept(side2, tolerance_deg, keep2);
  Line out;
  for (std::size_t i = 0; i < n; ++i)
    if (keep[i] || keep2[i]) out.push_back(side1[i]);
  for (std::size_t i = n; i-- > 0;)
    if (keep[i] || keep2[i]) out.push_back(side2[i]);
  out.push_back(out.front());
  return out;
}

std::string interval_text(std::string_view start, std::string_view end, double utc_offset_hours) {
  std::string out = readable_time(start) + " to " + readable_time(end) + ", UTC";
  const long minutes = std::lround(std::fabs(utc_offset_hours) * 60.0);
  if (minutes != 0) {
    out += utc_offset_hours < 0 ? " \xE2\x88\x92" : " +";  // U+2212 MINUS SIGN
    out += std::to_string(minutes / 60);
    if (minutes % 60 != 0) {
      char buf[8];
      std::snprintf(buf, sizeof buf, ":%02ld", minutes % 60);
      out += buf;
    }
  }
  return out;
}

namespace {

// Degrees to integers of 1 / scale degree; non-finite values are left out before.
std::int64_t quantized(double v, double scale) {
  return std::llround(v * scale);
}

// Scales of the geometry: targets to 1e-5 deg (about a metre), swaths, tracks, best points and
// the targets' centres (the swaths' reference) to 1e-4 deg (about 11 m, under a pixel at the
// page's zoom levels).
constexpr double kTargetScale = 1e5, kSwathScale = 1e4;
// Swaths and tracks simplified to 1e-3 deg: 0.7 pixel at zoom 10, the closest a row's click
// zooms.
constexpr double kSimplifyDeg = 1e-3;

bool finite(const Point& p) {
  return std::isfinite(p.lon_deg) && std::isfinite(p.lat_deg);
}

// One feature of a geometry column: its number of parts, then per part (its number of points
// times 4 plus its kind: 0 closed ring without its closing point, 1 line, 2 points) and its
// points as differences of the quantized longitude and latitude from the point before, the
// first from the reference point (ref_x, ref_y, in the same units). Longitudes are made
// continuous, the first within 180 deg of `ref_lon`, so that a part across +-180 is whole.
class Geometry {
 public:
  Geometry(double scale, double ref_lon, std::int64_t ref_x, std::int64_t ref_y)
      : scale_(scale), ref_lon_(ref_lon), ref_x_(ref_x), ref_y_(ref_y) {}
  void add(int kind, const Line& points) {
    Line part;
    for (const Point& p : points)
      if (finite(p)) part.push_back(p);
    if (kind == 0 && part.size() > 1 && part.front().lon_deg == part.back().lon_deg &&
        part.front().lat_deg == part.back().lat_deg) {
      part.pop_back();
    }
    if (part.empty()) return;
    parts_.emplace_back(kind, std::move(part));
  }
  void write(Column& out) const {
    out.put(parts_.size());
    for (const auto& [kind, part] : parts_) {
      out.put(part.size() * 4 + static_cast<std::size_t>(kind));
      std::int64_t x = ref_x_, y = ref_y_;
      double prev = ref_lon_;
      for (const Point& p : part) {
        // Continuous along each part but for points, each of which is near the reference.
        prev = near(p.lon_deg, kind == 2 ? ref_lon_ : prev);
        const std::int64_t qx = quantized(prev, scale_), qy = quantized(p.lat_deg, scale_);
        out.put_signed(qx - x);
        out.put_signed(qy - y);
        x = qx;
        y = qy;
      }
    }
  }

 private:
  double scale_, ref_lon_;
  std::int64_t ref_x_, ref_y_;
  std::vector<std::pair<int, Line>> parts_;
};

// The mean of a target's points (a ring's closing point once), continuous from the first.
Point centre(const Target& t) {
  double lon = 0.0, lat = 0.0, ref = 0.0;
  std::size_t n = 0;
  const auto add = [&](const Point& p) {
    if (!finite(p)) return;
    if (n == 0) ref = p.lon_deg;
    ref = near(p.lon_deg, ref);
    lon += ref;
    lat += p.lat_deg;
    ++n;
  };
  for (const Line& r : t.rings)
    for (std::size_t i = 0; i < r.size(); ++i)
      if (i + 1 < r.size() || r.size() < 2 || r[i].lon_deg != r[0].lon_deg ||
          r[i].lat_deg != r[0].lat_deg)
        add(r[i]);
  for (const Line& l : t.lines)
    for (const Point& p : l) add(p);
  for (const Point& p : t.points) add(p);
  if (n == 0) return {};
  return {near(lon / static_cast<double>(n), 0.0), lat / static_cast<double>(n)};
}

// Appends `"name":value` to a JSON object being written, after a comma but for the first.
void field(std::string& out, const char* name, const std::string& value) {
  if (out.back() != '{') out += ',';
  out += '"';
  out += name;
  out += "\":";
  out += value;
}

// Web Mercator as the page's map projects: pixels of the 256-pixel world at zoom 0, x east from
// 180 W, y south from 85.0511 N (latitudes beyond are taken at that limit), in units of 1/4096
// pixel (38 m at the equator).
constexpr double kMercatorScale = 4096.0;
std::pair<std::int64_t, std::int64_t> mercator(const Point& p) {
  constexpr double kMaxLat = 85.0511287798;
  const double lat = std::clamp(p.lat_deg, -kMaxLat, kMaxLat) * constants::pi / 180.0;
  const double x = 256.0 * (p.lon_deg / 360.0 + 0.5);
  const double y =
      256.0 * (0.5 - std::log(std::tan(constants::pi / 4.0 + lat / 2.0)) / constants::two_pi);
  return {std::llround(x * kMercatorScale), std::llround(y * kMercatorScale)};
}

// The land (closed rings, kind 0) and the borders (lines, kind 1) of Natural Earth 1:50m as
// one feature each of a geometry column, projected: the page draws them without projecting.
const std::string& world_json() {
  static const std::string json = [] {
    const WorldOutlines& world = world_outlines();
    std::string out = "{";
    for (const auto& [name, lines, kind] :
         {std::tuple{"land", &world.land, 0}, std::tuple{"borders", &world.borders, 1}}) {
      Column c;
      c.put(lines->size());
      for (const Line& line : *lines) {
        const bool closed = kind == 0 && line.size() > 1 &&
                            line.front().lon_deg == line.back().lon_deg &&
                            line.front().lat_deg == line.back().lat_deg;
        const std::size_t n = line.size() - (closed ? 1 : 0);
        c.put(n * 4 + static_cast<std::size_t>(kind));
        std::int64_t x = 0, y = 0;
        for (std::size_t i = 0; i < n; ++i) {
          const auto [qx, qy] = mercator(line[i]);
          c.put_signed(qx - x);
          c.put_signed(qy - y);
          x = qx;
          y = qy;
        }
      }
      field(out, name, c.json());
    }
    return out + "}";
  }();
  return json;
}

// A swath's rings (or a line across the track), each made continuous from near the
// reference longitude, then simplified.
void add_swath(Geometry& g, const std::vector<Line>& swath, double ref_lon) {
  for (const Line& ring : swath) {
    Line whole;
    double prev = ref_lon;
    for (const Point& p : ring) {
      if (!finite(p)) continue;
      prev = near(p.lon_deg, prev);
      whole.push_back({prev, p.lat_deg});
    }
    const bool closed = whole.size() > 3;
    g.add(closed ? 0 : 1,
          closed ? simplified_swath(whole, kSimplifyDeg) : simplified(whole, kSimplifyDeg));
  }
}

template <class F>
std::string json_texts(std::size_t n, F&& text) {
  std::string out = "[";
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += ',';
    out += json_string(text(i));
  }
  return out + ']';
}

// The coverage layer: the bands, the cells as columns (band and column as differences from
// the cell before, accesses, the longest revisit in tenths of an hour), and per area its
// series of (seconds from the start, covered fraction in 1e-4).
std::string coverage_json(const Coverage& c) {
  std::string out = "{";
  field(out, "cell_km", std::to_string(c.cell_km));
  std::string edges = "[";
  for (std::size_t i = 0; i < c.band_edge_deg.size(); ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%.6f", i ? "," : "", c.band_edge_deg[i]);
    edges += buf;
  }
  field(out, "edges", edges + "]");
  Column bands, band, column, accesses, revisit;
  for (const std::uint32_t n : c.band_cells) bands.put(n);
  std::uint32_t prev_band = 0, prev_column = 0;
  for (const Coverage::Cell& cell : c.cells) {
    band.put(cell.band - prev_band);
    column.put(cell.band != prev_band ? cell.column : cell.column - prev_column);
    prev_band = cell.band;
    prev_column = cell.column;
    accesses.put(cell.accesses);
    revisit.put_optional(cell.max_revisit_h && std::isfinite(*cell.max_revisit_h)
                             ? std::optional<std::int64_t>(quantized(*cell.max_revisit_h, 10.0))
                             : std::nullopt);
  }
  field(out, "bands", bands.json());
  field(out, "count", std::to_string(c.cells.size()));
  field(out, "band", band.json());
  field(out, "column", column.json());
  field(out, "accesses", accesses.json());
  field(out, "max_revisit_dh", revisit.json());
  std::string areas = "[";
  for (std::size_t a = 0; a < c.areas.size(); ++a) {
    const Coverage::Area& area = c.areas[a];
    std::string o = "{";
    field(o, "id", json_string(area.id));
    field(o, "name", json_string(area.name));
    field(o, "target", area.target ? std::to_string(*area.target) : "-1");
    field(o, "cells", std::to_string(area.cells));
    std::string series = "[";
    for (std::size_t k = 0; k < area.series.size(); ++k) {
      const Coverage::Series& s = area.series[k];
      Column t, f;
      std::int64_t prev = 0;
      for (const auto& [seconds, fraction] : s.points) {
        const std::int64_t ms = std::llround(seconds * 1000.0);
        t.put_signed(ms - prev);
        prev = ms;
        f.put(static_cast<std::uint64_t>(std::llround(std::clamp(fraction, 0.0, 1.0) * 1e4)));
      }
      std::string so = "{";
      field(so, "satellite", json_string(s.satellite));
      field(so, "count", std::to_string(s.points.size()));
      field(so, "t_ms", t.json());
      field(so, "fraction_e4", f.json());
      series += (k ? "," : "") + so + "}";
    }
    field(o, "series", series + "]");
    areas += (a ? "," : "") + o + "}";
  }
  field(out, "areas", areas + "]");
  return out + "}";
}

// The schedule's columns: per acquisition its satellite, target, opportunity (0 for none,
// else its index + 1), start (ms from the interval's start, as differences), duration (ms),
// roll (1/100 deg) and camera swath; per pass its satellite, station (index into the
// names), AOS and duration; and the roll scale.
std::string schedule_data(const Schedule& s, const std::vector<Point>& centres, std::int64_t t0) {
  std::string out = "{";
  field(out, "count", std::to_string(s.acquisitions.size()));
  Column satellite, target, contact, start, duration, roll, swath;
  std::int64_t previous = t0;
  for (const Acquisition& a : s.acquisitions) {
    satellite.put(a.satellite);
    target.put(a.target);
    contact.put(a.contact ? *a.contact + 1 : 0);
    const std::int64_t ms = local_ms(a.start).value_or(previous);
    start.put_signed(ms - previous);
    previous = ms;
    duration.put_signed(std::isfinite(a.duration_s) ? quantized(a.duration_s, 1000.0) : 0);
    roll.put_signed(std::isfinite(a.roll_deg) ? quantized(a.roll_deg, 100.0) : 0);
    const Point ref = a.target < centres.size() ? centres[a.target] : Point{};
    Geometry g(kSwathScale, ref.lon_deg, quantized(ref.lon_deg, kSwathScale),
               quantized(ref.lat_deg, kSwathScale));
    add_swath(g, a.swath, ref.lon_deg);
    g.write(swath);
  }
  field(out, "satellite", satellite.json());
  field(out, "target", target.json());
  field(out, "contact", contact.json());
  field(out, "start_ms", start.json());
  field(out, "duration_ms", duration.json());
  field(out, "roll_cdeg", roll.json());
  field(out, "swath", swath.json());
  field(out, "max_roll_cdeg",
        std::to_string(std::isfinite(s.max_roll_deg) ? quantized(s.max_roll_deg, 100.0) : 0));
  out += ",\n\"passes\":{";
  field(out, "count", std::to_string(s.passes.size()));
  std::vector<std::string> names;
  Column pass_satellite, station, aos, length;
  previous = t0;
  for (const StationPass& p : s.passes) {
    pass_satellite.put(p.satellite);
    auto it = std::find(names.begin(), names.end(), p.station);
    if (it == names.end()) it = names.insert(names.end(), p.station);
    station.put(static_cast<std::uint64_t>(it - names.begin()));
    const std::int64_t ms = local_ms(p.aos).value_or(previous);
    aos.put_signed(ms - previous);
    previous = ms;
    length.put_signed(std::isfinite(p.duration_s) ? quantized(p.duration_s, 1000.0) : 0);
  }
  field(out, "stations", json_texts(names.size(), [&](std::size_t i) { return names[i]; }));
  field(out, "satellite", pass_satellite.json());
  field(out, "station", station.json());
  field(out, "aos_ms", aos.json());
  field(out, "duration_ms", length.json());
  return out + "}}";
}

std::string page_data(const Page& page) {
  const Header& h = page.header;
  std::string out = "{\"version\":1,\"header\":{";
  field(out, "title", json_string(h.title));
  field(out, "satellites", json_string(h.satellites));
  field(out, "location", json_string(h.location));
  field(out, "interval", json_string(h.interval));
  field(out, "alpha", json_string(h.alpha));
  field(out, "beta", json_string(h.beta));
  out += '}';
  // The interval in milliseconds of the local calendar from 1970-01-01.
  std::int64_t t0 = 0;
  if (const auto s = local_ms(h.start)) {
    t0 = *s;
  } else if (!page.contacts.empty()) {
    t0 = local_ms(page.contacts.front().start).value_or(0);
  }
  const std::int64_t t1 = local_ms(h.end).value_or(t0);
  field(out, "t0", std::to_string(t0));
  field(out, "t1", std::to_string(t1));
  field(out, "world", world_json());
  out += ",\n\"satellites\":{";
  field(out, "name",
        json_texts(page.satellites.size(), [&](std::size_t i) { return page.satellites[i].name; }));
  out += "},\n\"targets\":{";
  const std::size_t nt = page.targets.size();
  field(out, "count", std::to_string(nt));
  field(out, "id", json_texts(nt, [&](std::size_t i) { return page.targets[i].id; }));
  field(out, "name", json_texts(nt, [&](std::size_t i) { return page.targets[i].name; }));
  std::vector<Point> centres(nt);
  Column centre_column, geometry;
  for (std::size_t i = 0; i < nt; ++i) {
    const Target& t = page.targets[i];
    centres[i] = centre(t);
    const std::int64_t cx = quantized(centres[i].lon_deg, kSwathScale);
    const std::int64_t cy = quantized(centres[i].lat_deg, kSwathScale);
    centre_column.put_signed(cx);
    centre_column.put_signed(cy);
    Geometry g(kTargetScale, centres[i].lon_deg, cx * 10, cy * 10);
    for (const Line& r : t.rings) g.add(0, r);
    for (const Line& l : t.lines) g.add(1, l);
    if (!t.points.empty()) g.add(2, t.points);
    g.write(geometry);
  }
  field(out, "centre", centre_column.json());
  field(out, "geometry", geometry.json());
  out += "},\n\"contacts\":{";
  field(out, "count", std::to_string(page.contacts.size()));
  Column satellite, target, number, start, duration, alpha, sun, coverage, best, swath, track;
  std::string pass;
  bool tracks = false;
  std::int64_t previous = t0;
  for (const Contact& c : page.contacts) {
    satellite.put(c.satellite);
    target.put(c.target);
    number.put_signed(c.number);
    const std::int64_t s = local_ms(c.start).value_or(previous);
    start.put_signed(s - previous);
    previous = s;
    duration.put_signed(std::isfinite(c.duration_s) ? quantized(c.duration_s, 1000.0) : 0);
    pass += c.pass == 'A' || c.pass == 'D' ? c.pass : ' ';
    const auto optional = [](const std::optional<double>& v,
                             double scale) -> std::optional<std::int64_t> {
      if (!v || !std::isfinite(*v)) return std::nullopt;
      return quantized(*v, scale);
    };
    alpha.put_optional(optional(c.best_alpha_deg, 100.0));
    sun.put_optional(optional(c.sun_elevation_deg, 100.0));
    coverage.put_signed(std::isfinite(c.coverage) ? quantized(c.coverage, 1e4) : 0);
    const Point ref = c.target < nt ? centres[c.target] : Point{};
    const std::int64_t rx = quantized(ref.lon_deg, kSwathScale);
    const std::int64_t ry = quantized(ref.lat_deg, kSwathScale);
    if (c.best_point && finite(*c.best_point)) {
      best.put_optional(quantized(near(c.best_point->lon_deg, ref.lon_deg), kSwathScale) - rx);
      best.put_signed(quantized(c.best_point->lat_deg, kSwathScale) - ry);
    } else {
      best.put_optional(std::nullopt);
    }
    Geometry g(kSwathScale, ref.lon_deg, rx, ry);
    add_swath(g, c.swath, ref.lon_deg);
    g.write(swath);
    Geometry tg(kSwathScale, ref.lon_deg, rx, ry);
    if (c.track.size() >= 2) {
      Line whole;
      double prev = ref.lon_deg;
      for (const Point& p : c.track) {
        if (!finite(p)) continue;
        prev = near(p.lon_deg, prev);
        whole.push_back({prev, p.lat_deg});
      }
      tg.add(1, simplified(whole, kSimplifyDeg));
      tracks = true;
    }
    tg.write(track);
  }
  field(out, "satellite", satellite.json());
  field(out, "target", target.json());
  field(out, "number", number.json());
  field(out, "start_ms", start.json());
  field(out, "duration_ms", duration.json());
  field(out, "pass", json_string(pass));
  field(out, "best_alpha_cdeg", alpha.json());
  field(out, "sun_elevation_cdeg", sun.json());
  field(out, "coverage_e4", coverage.json());
  field(out, "best_point", best.json());
  field(out, "swath", swath.json());
  if (tracks) field(out, "track", track.json());
  out += '}';
  if (page.coverage) out += ",\n\"coverage\":" + coverage_json(*page.coverage);
  if (page.schedule) out += ",\n\"schedule\":" + schedule_data(*page.schedule, centres, t0);
  out += '}';
  return out;
}

// Replaces the first "@name@" of `text` by `value`.
void fill(std::string& text, std::string_view name, std::string_view value) {
  std::string mark(1, '@');
  mark.append(name);
  mark += '@';
  const auto at = text.find(mark);
  if (at != std::string::npos) text.replace(at, mark.size(), value);
}

}  // namespace

std::string page_html(const Page& page) {
  // Filled from the end of the template backwards, so that no inserted text is searched.
  std::string out(asset_page_html());
  // The scripts run by their hashes: no other inline script (nor handler) can.
  const std::string hashes = csp_hash(asset_leaflet_js()) + " " + csp_hash(asset_page_js());
  // So do the two style sheets: Leaflet's and the page's own (the template's second <style>);
  // no style attribute in markup applies (the scripts set styles through the DOM).
  const std::string_view tpl = asset_page_html();
  const auto own = tpl.find("<style>\n");
  const auto own_end = tpl.find("</style>", own);
  const std::string styles =
      csp_hash(asset_leaflet_css()) + " " +
      csp_hash(tpl.substr(own + 7, own_end == std::string_view::npos ? 0 : own_end - own - 7));
  fill(out, "PAGE_JS", asset_page_js());
  fill(out, "DATA", page_data(page));
  fill(out, "LEAFLET_JS", asset_leaflet_js());
  fill(out, "LEAFLET_CSS", asset_leaflet_css());
  fill(out, "SCRIPT_HASHES", hashes);
  fill(out, "STYLE_HASHES", styles);
  return out;
}

bool write_page(const Page& page, const std::filesystem::path& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << page_html(page);
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace orvus::page
