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
#include <string_view>

#include "core/decks/decks_internal.hpp"
#include "core/geometry/boost_geometry.hpp"
#include "core/io/text.hpp"
#include "core/io/text_input.hpp"
#include "core/sweep/sweep_internal.hpp"
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
  bool header = false, points = false, with_priority = false;
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (trim(line, " \t\r\n").empty()) continue;
    const auto f = csv_fields(line);
    if (!header) {
      std::string h;
      for (std::size_t i = 0; i < f.size(); ++i) h += (i ? "," : "") + f[i];
      // An optional last column gives the targets' priorities.
      constexpr std::string_view kPriority = ",priority";
      if (h.size() > kPriority.size() && h.ends_with(kPriority)) {
        with_priority = true;
        h.resize(h.size() - kPriority.size());
      }
      if (h == "id,name,lon,lat") {
        points = true;
      } else if (h != "id,name,lon1,lon2,lat1,lat2") {
        fail(path, n, "header",
             "THE HEADER MUST BE \"id,name,lon1,lon2,lat1,lat2\" (BOXES) OR \"id,name,lon,lat\" "
             "(POINTS), EITHER WITH AN OPTIONAL LAST COLUMN \"priority\".");
      }
      header = true;
      continue;
    }
    const std::size_t fields = points ? 4 : 6;
    if (f.size() != fields + (with_priority ? 1 : 0)) {
      fail(path, n, "",
           "A TARGET NEEDS " + std::to_string(fields + (with_priority ? 1 : 0)) + " FIELDS (" +
               (points ? "id,name,lon,lat" : "id,name,lon1,lon2,lat1,lat2") +
               (with_priority ? ",priority" : "") + "); FOUND " + std::to_string(f.size()) + ".");
    }
    Target t;
    t.id = f[0];
    t.name = f[1];
    t.line = n;
    if (t.id.empty()) fail(path, n, "id", "THE TARGET HAS NO id.");
    double v[4];
    static const char* box_names[4] = {"lon1", "lon2", "lat1", "lat2"};
    static const char* point_names[2] = {"lon", "lat"};
    const char* const* names = points ? point_names : box_names;
    for (std::size_t k = 0; k + 2 < fields; ++k) {
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
    if (points) {  // a point is the box of one position
      v[2] = v[3] = v[1];
      v[1] = v[0];
    }
    if (!(std::fabs(v[2]) <= 90.0 && std::fabs(v[3]) <= 90.0 && std::fabs(v[0]) <= 360.0 &&
          std::fabs(v[1]) <= 360.0)) {
      fail(path, n, "",
           "TARGET \"" + t.id +
               "\": LATITUDES MUST LIE BETWEEN -90 AND 90 DEGREES AND LONGITUDES "
               "BETWEEN -360 AND 360 DEGREES.");
    }
    if (!ids.insert(t.id).second) fail(path, n, "id", "DUPLICATE TARGET id \"" + t.id + "\".");
    if (with_priority && !f[fields].empty()) {
      const std::string& s = f[fields];
      char* end = nullptr;
      t.priority = std::strtod(s.c_str(), &end);
      if (end != s.c_str() + s.size() || !(t.priority > 0.0 && t.priority <= plan::kMostPriority)) {
        fail(path, n, "priority",
             "priority OF TARGET \"" + t.id + "\" MUST BE A POSITIVE FINITE NUMBER, AT MOST " +
                 plan::number_text(plan::kMostPriority) + " (GIVEN: \"" + s + "\").");
      }
    }
    if (points) {
      t.points = {{v[0], v[2]}};
    } else {
      t.box = Box{v[0], v[1], v[2], v[3]};
    }
    t.centre = {(v[0] + v[1]) / 2.0, (v[2] + v[3]) / 2.0};
    out.push_back(std::move(t));
  }
  if (!header) fail(path, 0, "header", "THE FILE IS EMPTY: NO HEADER id,name,lon1,lon2,lat1,lat2.");
  return out;
}

namespace bg = boost::geometry;
using Pt = bg::model::d2::point_xy<double>;
using BPoly = bg::model::polygon<Pt, false>;  // counter-clockwise outer rings
using BMulti = bg::model::multi_polygon<BPoly>;

double signed_area(const Ring& r) {
  double s = 0;
  for (std::size_t i = 0; i + 1 < r.size(); ++i)
    s += r[i].lon_deg * r[i + 1].lat_deg - r[i + 1].lon_deg * r[i].lat_deg;
  return s / 2.0;
}

// Why a polygon (or the polygons of one feature) is not a valid simple feature, on longitude
// and latitude as written (each ring's longitudes made continuous); empty when it is valid.
// Boost.Geometry's is_valid (OGC Simple Features rules) finds it in O(n log n).
std::string invalid_reason(const std::vector<Polygon>& polys) {
  BMulti mp;
  for (const Polygon& poly : polys) {
    BPoly bp;
    for (std::size_t r = 0; r < poly.size(); ++r) {
      auto& ring = r == 0 ? bp.outer() : bp.inners().emplace_back();
      for (const GroundPoint& g : poly[r]) ring.push_back(Pt(g.lon_deg, g.lat_deg));
    }
    bg::correct(bp);  // orientation is not asked of the deck
    mp.push_back(std::move(bp));
  }
  std::string message;
  bg::validity_failure_type failure = bg::no_failure;
  if (mp.size() == 1) {
    if (bg::is_valid(mp.front(), failure)) return {};
    bg::is_valid(mp.front(), message);
  } else {
    if (bg::is_valid(mp, failure)) return {};
    bg::is_valid(mp, message);
  }
  // Where Boost.Geometry names a point, say it.
  std::string at;
  const auto open = message.find("found at (");
  if (open != std::string::npos) {
    const auto close = message.find(')', open);
    if (close != std::string::npos) at = " AT " + message.substr(open + 9, close - open - 8);
  }
  if (failure == bg::failure_wrong_orientation) {
    // A ring whose parts wind both ways (a figure of eight) has no one orientation to take.
    for (const BPoly& bp : mp) {
      if (bg::intersects(bp.outer())) return "A RING CROSSES ITSELF OR ANOTHER RING.";
      for (const auto& in : bp.inners())
        if (bg::intersects(in)) return "A RING CROSSES ITSELF OR ANOTHER RING.";
    }
    return "A RING HAS NO AREA.";
  }
  switch (failure) {
    case bg::failure_few_points:
      return "A RING HAS FEWER THAN FOUR DISTINCT POSITIONS.";
    case bg::failure_wrong_topological_dimension:
      return "A RING HAS NO AREA.";
    case bg::failure_spikes:
      return "A RING TURNS BACK ON ITSELF (A SPIKE)" + at + ".";
    case bg::failure_self_intersections:
      return "A RING CROSSES ITSELF OR ANOTHER RING" + at + ".";
    case bg::failure_interior_rings_outside:
      return "A HOLE LIES OUTSIDE ITS OUTER RING.";
    case bg::failure_nested_interior_rings:
      return "A HOLE LIES INSIDE ANOTHER HOLE.";
    case bg::failure_disconnected_interior:
      return "THE HOLES CUT THE POLYGON'S INTERIOR APART.";
    case bg::failure_intersecting_interiors:
      return "TWO POLYGONS OF THE MultiPolygon OVERLAP.";
    default:
      return "NOT A VALID POLYGON (" + message + ").";
  }
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
    if (props.contains("priority") && !props["priority"].is_null()) {
      const auto& p = props["priority"];
      t.priority = p.is_number() ? p.get<double>() : 0.0;
      if (!(t.priority > 0.0 && t.priority <= plan::kMostPriority))
        bad("THE FEATURE'S \"priority\" MUST BE A POSITIVE FINITE NUMBER, AT MOST " +
            plan::number_text(plan::kMostPriority) + " (GIVEN: " + p.dump() + ").");
    }
    if (!ids.insert(t.id).second) bad("DUPLICATE TARGET id \"" + t.id + "\".");
    const auto& g = f.contains("geometry") ? f["geometry"] : nlohmann::json();
    if (!g.is_object() || !g.contains("coordinates"))
      bad("TARGET \"" + t.id + "\" HAS NO GEOMETRY.");
    const std::string type = g.value("type", "");
    const nlohmann::json& coords = g["coordinates"];
    // A position: longitude and latitude in range.
    auto position = [&](const nlohmann::json& pos) {
      if (!pos.is_array() || pos.size() < 2 || !pos[0].is_number() || !pos[1].is_number())
        bad("TARGET \"" + t.id + "\": A POSITION IS NOT A PAIR OF NUMBERS.");
      const double lon = pos[0].get<double>(), lat = pos[1].get<double>();
      if (!std::isfinite(lon) || !std::isfinite(lat))
        bad("TARGET \"" + t.id + "\": A POSITION IS NOT A FINITE NUMBER.");
      if (!(std::fabs(lat) <= 90.0 && std::fabs(lon) <= 360.0))
        bad("TARGET \"" + t.id +
            "\": LATITUDES MUST LIE BETWEEN -90 AND 90 DEGREES AND "
            "LONGITUDES BETWEEN -360 AND 360 DEGREES.");
      return GroundPoint{lon, lat};
    };
    if (type == "Point" || type == "MultiPoint" || type == "LineString" ||
        type == "MultiLineString") {
      const bool multi = type.rfind("Multi", 0) == 0;
      const bool line = type.find("Line") != std::string::npos;
      if (!coords.is_array() || (multi && coords.empty()))
        bad("TARGET \"" + t.id + "\": THE " + type + " HOLDS NO POSITION.");
      std::vector<nlohmann::json> parts;
      if (multi) {
        for (const auto& p : coords) parts.push_back(p);
      } else {
        parts.push_back(coords);
      }
      for (const auto& part : parts) {
        if (!line) {
          t.points.push_back(position(part));
          continue;
        }
        if (!part.is_array() || part.size() < 2)
          bad("TARGET \"" + t.id + "\": A LINE HAS FEWER THAN TWO POSITIONS.");
        Ring l;
        for (const auto& pos : part) l.push_back(position(pos));
        t.lines.push_back(std::move(l));
      }
      t.centre = plan::points_centre(t.lines.empty() ? std::vector<Ring>{t.points} : t.lines,
                                     !t.lines.empty());
      out.push_back(std::move(t));
      continue;
    }
    std::vector<nlohmann::json> polys;
    if (type == "Polygon")
      polys.push_back(coords);
    else if (type == "MultiPolygon" && coords.is_array())
      for (const auto& p : coords) polys.push_back(p);
    else
      bad("TARGET \"" + t.id +
          "\": THE GEOMETRY MUST BE A Polygon, MultiPolygon, Point, MultiPoint, LineString OR "
          "MultiLineString (GIVEN: \"" +
          type + "\").");
    if (polys.empty()) bad("TARGET \"" + t.id + "\": THE MultiPolygon HOLDS NO POLYGON.");
    std::vector<Polygon> written;  // as written, each ring's longitudes made continuous
    bool whole_turn = false;       // an edge from -180 to 180 along a parallel
    for (const auto& pj : polys) {
      if (!pj.is_array() || pj.empty()) bad("TARGET \"" + t.id + "\": A POLYGON WITHOUT RINGS.");
      Polygon poly;
      for (const auto& rj : pj) {
        if (!rj.is_array()) bad("TARGET \"" + t.id + "\": A RING IS NOT AN ARRAY OF POSITIONS.");
        Ring ring;
        for (const auto& pos : rj) ring.push_back(position(pos));
        if (ring.size() < 4) bad("TARGET \"" + t.id + "\": A RING HAS FEWER THAN FOUR POSITIONS.");
        if (ring.front().lon_deg != ring.back().lon_deg ||
            ring.front().lat_deg != ring.back().lat_deg)
          bad("TARGET \"" + t.id +
              "\": A RING IS NOT CLOSED (ITS LAST POSITION IS NOT ITS FIRST).");
        // Longitudes made continuous: a ring across +-180 may be written with jumps. An edge
        // between -180 and 180 is kept as written: it runs along a parallel through every
        // longitude, as RFC 7946 writes the edge of a polar cap.
        double prev = ring[0].lon_deg;
        for (std::size_t i = 1; i < ring.size(); ++i) {
          const double raw = ring[i].lon_deg;
          double d = raw - prev;
          if (std::fabs(raw) == 180.0 && prev == -raw) {
            whole_turn = true;
          } else {
            while (d > 180.0) d -= 360.0;
            while (d < -180.0) d += 360.0;
          }
          prev = raw;
          ring[i].lon_deg = ring[i - 1].lon_deg + d;
        }
        if (ring.back().lon_deg != ring.front().lon_deg) {
          bad("TARGET \"" + t.id +
              "\": A RING GOES AROUND A POLE. WRITE A POLAR CAP AS A BOX FROM -180 TO 180, "
              "E.G. [[-180,80],[180,80],[180,90],[-180,90],[-180,80]].");
        }
        poly.push_back(std::move(ring));
      }
      written.push_back(std::move(poly));
    }
    if (whole_turn) {
      // A ring along parallels through every longitude, and along -180 and 180: the box from
      // -180 to 180 between its latitudes (a polar cap or a band), read as the CSV box.
      const Ring& r = written[0][0];
      double lat1 = 90.0, lat2 = -90.0, lon1 = 360.0, lon2 = -360.0;
      for (const auto& g : r) {
        lat1 = std::min(lat1, g.lat_deg);
        lat2 = std::max(lat2, g.lat_deg);
        lon1 = std::min(lon1, g.lon_deg);
        lon2 = std::max(lon2, g.lon_deg);
      }
      bool on_edges = written.size() == 1 && written[0].size() == 1 && lon1 == -180.0 &&
                      lon2 == 180.0 && lat1 < lat2;
      for (const auto& g : r)
        on_edges =
            on_edges && (g.lat_deg == lat1 || g.lat_deg == lat2 || std::fabs(g.lon_deg) == 180.0);
      if (!on_edges) {
        bad("TARGET \"" + t.id +
            "\": AN EDGE FROM -180 TO 180 IS TAKEN ONLY AS THE EDGE OF A BOX FROM -180 TO 180 "
            "(A POLAR CAP OR A BAND OF LATITUDES), WRITTEN AS A Polygon OF ONE RING.");
      }
      t.box = Box{-180.0, 180.0, lat1, lat2};
      t.centre = {0.0, (lat1 + lat2) / 2.0};
      out.push_back(std::move(t));
      continue;
    }
    if (const std::string why = invalid_reason(written); !why.empty())
      bad("TARGET \"" + t.id + "\": " + why);
    for (Polygon& poly : written) {
      for (Ring& ring : poly)
        if (signed_area(ring) < 0) std::reverse(ring.begin(), ring.end());
      for (auto& part : split_polygon(poly)) t.polygons.push_back(std::move(part));
    }
    t.centre = plan::polygons_centroid(t.polygons);
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

std::vector<Target> read_targets(const std::string& path) {
  std::string text;
  const FileRead got = read_regular_file(path, kMaxFileBytes, text);
  if (got == FileRead::cannot_open) {
    throw Error(ErrorKind::io,
                {" CANNOT OPEN THE TARGET FILE \"" + path + "\".", " EXECUTION INTERRUPTED."},
                ErrorWhere(path));
  }
  if (got == FileRead::too_large) {
    fail(path, 0, "",
         "THE TARGET FILE IS LARGER THAN " + std::to_string(kMaxFileBytes >> 20) + " MB.");
  }
  return parse_targets(std::move(text), path);
}

std::vector<Target> parse_targets(std::string text, const std::string& source) {
  require_utf8(source, text);
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && text[first] == '{') return read_geojson(source, text);
  require_line_length(source, text);
  std::istringstream lines(text);
  return read_csv(source, lines);
}

}  // namespace orvus
