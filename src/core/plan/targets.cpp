// The deck of targets: a CSV of boxes (record 4 of the input file) or a GeoJSON
// FeatureCollection of polygons (holes kept, split at +-180 as RFC 7946 does), checked
// target by target.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "core/plan/plan_internal.hpp"
#include "core/text.hpp"
#include "orvus/analysis.hpp"

namespace orvus {

namespace {

using plan::fail;

// One CSV row split at commas; fields may be quoted ("a, b" with "" for a quote).
std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        out.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        out.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  for (auto& f : out) f = std::string(trim(f, " \t\r\n"));
  return out;
}

std::vector<Target> read_csv(const std::string& path, std::istream& in) {
  std::vector<Target> out;
  std::set<std::string> ids;
  std::string line;
  long n = 0;
  bool header = false;
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (trim(line, " \t\r\n").empty()) continue;
    const auto f = csv_fields(line);
    if (!header) {
      std::string h;
      for (std::size_t i = 0; i < f.size(); ++i) h += (i ? "," : "") + f[i];
      if (h != "id,name,lon1,lon2,lat1,lat2") {
        fail(path, n, "header", "THE HEADER MUST BE \"id,name,lon1,lon2,lat1,lat2\".");
      }
      header = true;
      continue;
    }
    if (f.size() != 6) {
      fail(path, n, "",
           "A TARGET NEEDS 6 FIELDS (id,name,lon1,lon2,lat1,lat2); FOUND " +
               std::to_string(f.size()) + ".");
    }
    Target t;
    t.id = f[0];
    t.name = f[1];
    t.line = n;
    if (t.id.empty()) fail(path, n, "id", "THE TARGET HAS NO id.");
    double v[4];
    static const char* names[4] = {"lon1", "lon2", "lat1", "lat2"};
    for (int k = 0; k < 4; ++k) {
      const std::string& s = f[2 + k];
      char* end = nullptr;
      v[k] = std::strtod(s.c_str(), &end);
      if (s.empty() || end != s.c_str() + s.size()) {
        fail(
            path, n, names[k],
            std::string(names[k]) + " OF TARGET \"" + t.id + "\" IS NOT A NUMBER (\"" + s + "\").");
      }
      if (!std::isfinite(v[k])) {
        fail(path, n, names[k],
             std::string(names[k]) + " OF TARGET \"" + t.id + "\" IS NOT A FINITE NUMBER.");
      }
    }
    if (!(std::fabs(v[2]) <= 90.0 && std::fabs(v[3]) <= 90.0 && std::fabs(v[0]) <= 360.0 &&
          std::fabs(v[1]) <= 360.0)) {
      fail(path, n, "",
           "TARGET \"" + t.id +
               "\": LATITUDES MUST LIE BETWEEN -90 AND 90 DEGREES AND LONGITUDES "
               "BETWEEN -360 AND 360 DEGREES.");
    }
    if (!ids.insert(t.id).second) fail(path, n, "id", "DUPLICATE TARGET id \"" + t.id + "\".");
    t.box = Box{v[0], v[1], v[2], v[3]};
    t.centre = {(v[0] + v[1]) / 2.0, (v[2] + v[3]) / 2.0};
    out.push_back(std::move(t));
  }
  if (!header) fail(path, 0, "header", "THE FILE IS EMPTY: NO HEADER id,name,lon1,lon2,lat1,lat2.");
  return out;
}

// Proper crossing of segments pq and rs (planar), touching ends excluded.
bool segments_cross(const GroundPoint& p, const GroundPoint& q, const GroundPoint& r,
                    const GroundPoint& s) {
  auto orient = [](const GroundPoint& a, const GroundPoint& b, const GroundPoint& c) {
    const double v = (b.lon_deg - a.lon_deg) * (c.lat_deg - a.lat_deg) -
                     (b.lat_deg - a.lat_deg) * (c.lon_deg - a.lon_deg);
    return (v > 0) - (v < 0);
  };
  const int o1 = orient(p, q, r), o2 = orient(p, q, s), o3 = orient(r, s, p), o4 = orient(r, s, q);
  if (o1 * o2 < 0 && o3 * o4 < 0) return true;
  // Collinear overlap.
  auto between = [](const GroundPoint& a, const GroundPoint& b, const GroundPoint& c) {
    return std::min(a.lon_deg, b.lon_deg) <= c.lon_deg &&
           c.lon_deg <= std::max(a.lon_deg, b.lon_deg) &&
           std::min(a.lat_deg, b.lat_deg) <= c.lat_deg &&
           c.lat_deg <= std::max(a.lat_deg, b.lat_deg);
  };
  auto same = [](const GroundPoint& a, const GroundPoint& b) {
    return a.lon_deg == b.lon_deg && a.lat_deg == b.lat_deg;
  };
  if (o1 == 0 && o2 == 0 && o3 == 0 && o4 == 0) {
    if ((between(p, q, r) && !same(r, p) && !same(r, q)) ||
        (between(p, q, s) && !same(s, p) && !same(s, q)) ||
        (between(r, s, p) && !same(p, r) && !same(p, s)))
      return true;
  }
  return false;
}

// Whether a closed ring (unwrapped longitudes) crosses itself; a grid of cells keeps it near
// linear for long rings.
bool self_crossing(const Ring& r) {
  const std::size_t n = r.size() - 1;  // edges
  if (n < 3) return false;
  // Repeated vertices (other than the closing one) are a crossing.
  double lo = 1e9, hi = -1e9, la = 1e9, lb = -1e9;
  for (const auto& g : r) {
    lo = std::min(lo, g.lon_deg);
    hi = std::max(hi, g.lon_deg);
    la = std::min(la, g.lat_deg);
    lb = std::max(lb, g.lat_deg);
  }
  const int grid = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(n)) / 2));
  const double w = std::max((hi - lo) / grid, 1e-12), h = std::max((lb - la) / grid, 1e-12);
  std::vector<std::vector<std::size_t>> cells(static_cast<std::size_t>(grid) * grid);
  auto cell = [&](double x, double y) {
    const int i = std::clamp(static_cast<int>((x - lo) / w), 0, grid - 1);
    const int j = std::clamp(static_cast<int>((y - la) / h), 0, grid - 1);
    return std::pair<int, int>{i, j};
  };
  for (std::size_t e = 0; e < n; ++e) {
    const auto [i1, j1] =
        cell(std::min(r[e].lon_deg, r[e + 1].lon_deg), std::min(r[e].lat_deg, r[e + 1].lat_deg));
    const auto [i2, j2] =
        cell(std::max(r[e].lon_deg, r[e + 1].lon_deg), std::max(r[e].lat_deg, r[e + 1].lat_deg));
    for (int i = i1; i <= i2; ++i)
      for (int j = j1; j <= j2; ++j) cells[static_cast<std::size_t>(i) * grid + j].push_back(e);
  }
  for (const auto& c : cells) {
    for (std::size_t x = 0; x < c.size(); ++x) {
      for (std::size_t y = x + 1; y < c.size(); ++y) {
        const std::size_t a = c[x], b = c[y];
        const bool adjacent = b == a + 1 || (a == 0 && b == n - 1);
        if (adjacent) {
          // Adjacent edges cross only when they fold back over each other.
          const GroundPoint& p = r[a];
          const GroundPoint& q = r[a + 1];
          const GroundPoint& s = r[b + 1];
          const GroundPoint& t = r[b];
          (void)t;
          const double v = (q.lon_deg - p.lon_deg) * (s.lat_deg - p.lat_deg) -
                           (q.lat_deg - p.lat_deg) * (s.lon_deg - p.lon_deg);
          const double d = (q.lon_deg - p.lon_deg) * (s.lon_deg - q.lon_deg) +
                           (q.lat_deg - p.lat_deg) * (s.lat_deg - q.lat_deg);
          if (b == a + 1 && v == 0 && d < 0) return true;
          continue;
        }
        if (segments_cross(r[a], r[a + 1], r[b], r[b + 1])) return true;
        // Shared vertex between non-adjacent edges.
        for (const auto* u : {&r[a], &r[a + 1]})
          for (const auto* v : {&r[b], &r[b + 1]})
            if (u->lon_deg == v->lon_deg && u->lat_deg == v->lat_deg) return true;
      }
    }
  }
  return false;
}

double signed_area(const Ring& r) {
  double s = 0;
  for (std::size_t i = 0; i + 1 < r.size(); ++i)
    s += r[i].lon_deg * r[i + 1].lat_deg - r[i + 1].lon_deg * r[i].lat_deg;
  return s / 2.0;
}

bool planar_in(const Ring& r, const GroundPoint& p) {
  bool in = false;
  for (std::size_t i = 0; i + 1 < r.size(); ++i) {
    const auto& a = r[i];
    const auto& b = r[i + 1];
    if ((a.lat_deg > p.lat_deg) != (b.lat_deg > p.lat_deg)) {
      const double x =
          a.lon_deg + (p.lat_deg - a.lat_deg) / (b.lat_deg - a.lat_deg) * (b.lon_deg - a.lon_deg);
      if (p.lon_deg < x) in = !in;
    }
  }
  return in;
}

// Polygon rings split at +-180: the outer ring's parts, each with the holes inside it.
std::vector<Polygon> split_polygon(const Polygon& poly) {
  std::vector<Polygon> out;
  for (auto& part : split_ring(poly[0])) out.push_back({part});
  for (std::size_t h = 1; h < poly.size(); ++h) {
    for (auto& part : split_ring(poly[h])) {
      Ring hole = part;
      std::reverse(hole.begin(), hole.end());  // holes clockwise
      // The part of the outer ring that holds the hole's middle.
      GroundPoint probe = hole[0];
      for (const auto& g : hole) {
        if (g.lon_deg != 180.0 && g.lon_deg != -180.0) {
          probe = g;
          break;
        }
      }
      for (auto& o : out) {
        if (planar_in(o[0], probe) || out.size() == 1) {
          o.push_back(hole);
          break;
        }
      }
    }
  }
  return out;
}

std::vector<Target> read_geojson(const std::string& path, const std::string& text) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    long line = 1;
    for (std::size_t i = 0; i < std::min<std::size_t>(e.byte, text.size()); ++i)
      if (text[i] == '\n') ++line;
    fail(path, line, "", "MALFORMED JSON.");
  } catch (const nlohmann::json::exception& e) {
    // A number beyond the doubles (1e999): the line of the first such token.
    std::string what = e.what();
    const auto q1 = what.find('\''), q2 = what.rfind('\'');
    long line = 0;
    if (q1 != std::string::npos && q2 > q1) {
      const auto at = text.find(what.substr(q1 + 1, q2 - q1 - 1));
      if (at != std::string::npos)
        line = 1 + static_cast<long>(std::count(
                       text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    }
    fail(path, line, "", "A NUMBER IS NOT FINITE.");
  }
  if (!doc.is_object() || doc.value("type", "") != "FeatureCollection" ||
      !doc.contains("features") || !doc["features"].is_array()) {
    fail(path, 0, "", "A GeoJSON FeatureCollection WITH AN ARRAY \"features\" IS NEEDED.");
  }
  std::vector<Target> out;
  std::set<std::string> ids;
  long fno = 0;
  for (const auto& f : doc["features"]) {
    ++fno;
    auto bad = [&](const std::string& what) { fail(path, fno, "feature", what, "FEATURE"); };
    if (!f.is_object()) bad("THE FEATURE IS NOT AN OBJECT.");
    Target t;
    t.line = fno;
    const auto props = f.contains("properties") && f["properties"].is_object()
                           ? f["properties"]
                           : nlohmann::json::object();
    const nlohmann::json* idp = nullptr;
    if (props.contains("id"))
      idp = &props["id"];
    else if (f.contains("id"))
      idp = &f["id"];
    if (idp == nullptr || idp->is_null()) bad("THE FEATURE HAS NO \"id\" PROPERTY.");
    if (idp->is_string())
      t.id = idp->get<std::string>();
    else if (idp->is_number_integer())
      t.id = std::to_string(idp->get<long long>());
    else if (idp->is_number())
      t.id = idp->dump();
    else
      bad("THE FEATURE'S \"id\" MUST BE A STRING OR A NUMBER.");
    if (t.id.empty()) bad("THE FEATURE'S \"id\" IS EMPTY.");
    if (props.contains("name") && props["name"].is_string())
      t.name = props["name"].get<std::string>();
    if (!ids.insert(t.id).second) bad("DUPLICATE TARGET id \"" + t.id + "\".");
    const auto& g = f.contains("geometry") ? f["geometry"] : nlohmann::json();
    if (!g.is_object() || !g.contains("coordinates"))
      bad("TARGET \"" + t.id + "\" HAS NO GEOMETRY.");
    const std::string type = g.value("type", "");
    std::vector<nlohmann::json> polys;
    if (type == "Polygon")
      polys.push_back(g["coordinates"]);
    else if (type == "MultiPolygon" && g["coordinates"].is_array())
      for (const auto& p : g["coordinates"]) polys.push_back(p);
    else
      bad("TARGET \"" + t.id + "\": THE GEOMETRY MUST BE A Polygon OR A MultiPolygon (GIVEN: \"" +
          type + "\").");
    for (const auto& pj : polys) {
      if (!pj.is_array() || pj.empty()) bad("TARGET \"" + t.id + "\": A POLYGON WITHOUT RINGS.");
      Polygon poly;
      for (const auto& rj : pj) {
        if (!rj.is_array()) bad("TARGET \"" + t.id + "\": A RING IS NOT AN ARRAY OF POSITIONS.");
        Ring ring;
        for (const auto& pos : rj) {
          if (!pos.is_array() || pos.size() < 2 || !pos[0].is_number() || !pos[1].is_number())
            bad("TARGET \"" + t.id + "\": A POSITION IS NOT A PAIR OF NUMBERS.");
          const double lon = pos[0].get<double>(), lat = pos[1].get<double>();
          if (!std::isfinite(lon) || !std::isfinite(lat))
            bad("TARGET \"" + t.id + "\": A POSITION IS NOT A FINITE NUMBER.");
          if (!(std::fabs(lat) <= 90.0 && std::fabs(lon) <= 360.0))
            bad("TARGET \"" + t.id +
                "\": LATITUDES MUST LIE BETWEEN -90 AND 90 DEGREES AND "
                "LONGITUDES BETWEEN -360 AND 360 DEGREES.");
          ring.push_back({lon, lat});
        }
        if (ring.size() < 4) bad("TARGET \"" + t.id + "\": A RING HAS FEWER THAN FOUR POSITIONS.");
        if (ring.front().lon_deg != ring.back().lon_deg ||
            ring.front().lat_deg != ring.back().lat_deg)
          bad("TARGET \"" + t.id +
              "\": A RING IS NOT CLOSED (ITS LAST POSITION IS NOT ITS FIRST).");
        // Longitudes made continuous (a ring across +-180 written with jumps).
        for (std::size_t i = 1; i < ring.size(); ++i) {
          double d = ring[i].lon_deg - ring[i - 1].lon_deg;
          while (d > 180.0) {
            ring[i].lon_deg -= 360.0;
            d -= 360.0;
          }
          while (d < -180.0) {
            ring[i].lon_deg += 360.0;
            d += 360.0;
          }
        }
        if (self_crossing(ring)) bad("TARGET \"" + t.id + "\": A RING CROSSES ITSELF.");
        if (!(std::fabs(signed_area(ring)) > 0))
          bad("TARGET \"" + t.id + "\": A RING HAS NO AREA.");
        if (signed_area(ring) < 0) std::reverse(ring.begin(), ring.end());
        poly.push_back(std::move(ring));
      }
      for (auto& part : split_polygon(poly)) t.polygons.push_back(std::move(part));
    }
    t.centre = plan::polygons_centroid(t.polygons);
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

std::vector<Target> read_targets(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw Error(ErrorKind::io,
                {" CANNOT OPEN THE TARGET FILE \"" + path + "\".", " EXECUTION INTERRUPTED."},
                ErrorWhere(path));
  }
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  const auto first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (first != std::string::npos && text[first] == '{') return read_geojson(path, text);
  std::istringstream lines(text);
  return read_csv(path, lines);
}

}  // namespace orvus
