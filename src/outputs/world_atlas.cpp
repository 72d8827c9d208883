// Decoding of the world-atlas TopoJSON and clipping of its outlines to a map's window.
#include "outputs/world_atlas.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace orvus::page {

namespace {

using nlohmann::json;

// The arcs in degrees: quantized positions summed from their deltas, then scaled.
std::vector<Line> decode_arcs(const json& topo) {
  const json& t = topo.at("transform");
  const double sx = t.at("scale").at(0).get<double>(), sy = t.at("scale").at(1).get<double>();
  const double tx = t.at("translate").at(0).get<double>();
  const double ty = t.at("translate").at(1).get<double>();
  std::vector<Line> arcs;
  arcs.reserve(topo.at("arcs").size());
  for (const json& arc : topo.at("arcs")) {
    Line line;
    line.reserve(arc.size());
    long x = 0, y = 0;
    for (const json& d : arc) {
      x += d.at(0).get<long>();
      y += d.at(1).get<long>();
      line.push_back({static_cast<double>(x) * sx + tx, static_cast<double>(y) * sy + ty});
    }
    arcs.push_back(std::move(line));
  }
  return arcs;
}

// Index i is arc i; ~i is arc i reversed.
std::size_t arc_index(long i) {
  return static_cast<std::size_t>(i < 0 ? ~i : i);
}

// A ring from its arcs, each arc after the first without its first position (the last of
// the arc before).
Line ring_of(const json& indices, const std::vector<Line>& arcs) {
  Line ring;
  for (const json& j : indices) {
    const long i = j.get<long>();
    const Line& arc = arcs.at(arc_index(i));
    const std::size_t skip = ring.empty() ? 0 : 1;
    if (i >= 0) {
      ring.insert(ring.end(), arc.begin() + static_cast<long>(std::min(skip, arc.size())),
                  arc.end());
    } else {
      for (std::size_t k = arc.size(); k-- > 0;) {
        if (k + 1 == arc.size() && skip) continue;
        ring.push_back(arc[k]);
      }
    }
  }
  return ring;
}

// Calls f(rings) for every polygon of a Polygon or MultiPolygon geometry.
template <class F>
void for_each_polygon(const json& geometry, F&& f) {
  const std::string type = geometry.value("type", "");
  if (type == "Polygon") f(geometry.at("arcs"));
  if (type == "MultiPolygon") {
    for (const json& polygon : geometry.at("arcs")) f(polygon);
  }
}

// Longitudes made continuous along a line: a ring across +-180 (Chukotka, Fiji, Antarctica)
// goes on beyond it instead of jumping a turn back.
Line continuous(Line line) {
  for (std::size_t k = 1; k < line.size(); ++k) {
    const double step = line[k].lon_deg - line[k - 1].lon_deg;
    line[k].lon_deg -= 360.0 * std::round(step / 360.0);
  }
  return line;
}

WorldOutlines decode() {
  const std::string_view text = asset_countries_50m();
  const json topo = json::parse(text.begin(), text.end());
  const std::vector<Line> arcs = decode_arcs(topo);
  WorldOutlines out;
  for (const json& g : topo.at("objects").at("land").at("geometries")) {
    for_each_polygon(g, [&](const json& polygon) {
      for (const json& ring : polygon) out.land.push_back(continuous(ring_of(ring, arcs)));
    });
  }
  // An arc of two different countries is a border; an arc of one only is a coast.
  std::map<std::size_t, std::set<std::size_t>> owners;
  const json& countries = topo.at("objects").at("countries").at("geometries");
  for (std::size_t n = 0; n < countries.size(); ++n) {
    for_each_polygon(countries[n], [&](const json& polygon) {
      for (const json& ring : polygon) {
        for (const json& i : ring) owners[arc_index(i.get<long>())].insert(n);
      }
    });
  }
  for (const auto& [arc, who] : owners) {
    if (who.size() >= 2) out.borders.push_back(continuous(arcs.at(arc)));
  }
  return out;
}

double coord(const Point& p, int axis) {
  return axis == 0 ? p.lon_deg : p.lat_deg;
}

}  // namespace

const WorldOutlines& world_outlines() {
  static const WorldOutlines outlines = decode();
  return outlines;
}

const std::vector<std::vector<Line>>& land_polygons() {
  static const std::vector<std::vector<Line>> polygons = [] {
    const std::string_view text = asset_countries_50m();
    const json topo = json::parse(text.begin(), text.end());
    const std::vector<Line> arcs = decode_arcs(topo);
    std::vector<std::vector<Line>> out;
    for (const json& g : topo.at("objects").at("land").at("geometries")) {
      for_each_polygon(g, [&](const json& polygon) {
        std::vector<Line> rings;
        for (const json& r : polygon) {
          Line ring = continuous(ring_of(r, arcs));
          if (ring.size() < 2) continue;
          // Around a pole the ring ends a turn from where it began: closed along the pole on
          // its side.
          const double turn = ring.back().lon_deg - ring.front().lon_deg;
          if (std::fabs(turn) > 180.0) {
            double mean = 0.0;
            for (const Point& p : ring) mean += p.lat_deg;
            const double pole = mean < 0.0 ? -90.0 : 90.0;
            const Point first = ring.front();
            ring.push_back({ring.back().lon_deg, pole});
            ring.push_back({first.lon_deg, pole});
            ring.push_back(first);
          }
          rings.push_back(std::move(ring));
        }
        if (!rings.empty()) out.push_back(std::move(rings));
      });
    }
    return out;
  }();
  return polygons;
}

Line clip_ring(const Line& ring, double lon_min, double lon_max, double lat_min, double lat_max) {
  Line in = ring;
  if (in.size() > 1 && in.front().lon_deg == in.back().lon_deg &&
      in.front().lat_deg == in.back().lat_deg)
    in.pop_back();
  // The four edges of the window: axis, limit, and whether the inside lies above it.
  const struct {
    int axis;
    double limit;
    bool above;
  } edges[] = {{0, lon_min, true}, {0, lon_max, false}, {1, lat_min, true}, {1, lat_max, false}};
  for (const auto& e : edges) {
    Line out;
    const auto inside = [&](const Point& p) {
      return e.above ? coord(p, e.axis) >= e.limit : coord(p, e.axis) <= e.limit;
    };
    const auto cross = [&](const Point& a, const Point& b) {
      const double t = (e.limit - coord(a, e.axis)) / (coord(b, e.axis) - coord(a, e.axis));
      Point p{a.lon_deg + t * (b.lon_deg - a.lon_deg), a.lat_deg + t * (b.lat_deg - a.lat_deg)};
      (e.axis == 0 ? p.lon_deg : p.lat_deg) = e.limit;
      return p;
    };
    for (std::size_t i = 0; i < in.size(); ++i) {
      const Point& a = in[(i + in.size() - 1) % in.size()];
      const Point& b = in[i];
      if (inside(b)) {
        if (!inside(a)) out.push_back(cross(a, b));
        out.push_back(b);
      } else if (inside(a)) {
        out.push_back(cross(a, b));
      }
    }
    in = std::move(out);
  }
  if (in.size() < 3) return {};
  in.push_back(in.front());
  return in;
}

std::vector<Line> clip_line(const Line& line, double lon_min, double lon_max, double lat_min,
                            double lat_max) {
  std::vector<Line> parts;
  Line current;
  for (std::size_t i = 1; i < line.size(); ++i) {
    // Liang-Barsky: the segment's parameters t0 <= t <= t1 inside the window.
    const Point a = line[i - 1], b = line[i];
    const double dx = b.lon_deg - a.lon_deg, dy = b.lat_deg - a.lat_deg;
    double t0 = 0.0, t1 = 1.0;
    bool visible = true;
    for (const auto& [p, q] :
         {std::pair{-dx, a.lon_deg - lon_min}, std::pair{dx, lon_max - a.lon_deg},
          std::pair{-dy, a.lat_deg - lat_min}, std::pair{dy, lat_max - a.lat_deg}}) {
      if (p == 0.0) {
        if (q < 0.0) visible = false;
      } else if (p < 0.0) {
        t0 = std::max(t0, q / p);
      } else {
        t1 = std::min(t1, q / p);
      }
    }
    if (!visible || t0 > t1) {
      if (current.size() >= 2) parts.push_back(std::move(current));
      current.clear();
      continue;
    }
    const Point p0{a.lon_deg + t0 * dx, a.lat_deg + t0 * dy};
    const Point p1{a.lon_deg + t1 * dx, a.lat_deg + t1 * dy};
    if (current.empty() || t0 > 0.0) {
      if (current.size() >= 2) parts.push_back(std::move(current));
      current = {p0};
    }
    current.push_back(p1);
    if (t1 < 1.0) {
      parts.push_back(std::move(current));
      current.clear();
    }
  }
  if (current.size() >= 2) parts.push_back(std::move(current));
  return parts;
}

}  // namespace orvus::page
