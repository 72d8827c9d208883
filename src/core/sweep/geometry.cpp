// The targets' geometry on the sphere: geocentric rings with great-circle edges, the exact
// tests of a point and of the swath's arc against a box or polygons, bounding boxes, and
// the area centroid and coverage of polygons on an equal-area projection.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/geometry/boost_geometry.hpp"
#include "core/geometry/equal_area.hpp"
#include "core/geometry/vec3.hpp"
#include "core/sweep/sweep_internal.hpp"
#include "orvus/analysis.hpp"
#include "orvus/constants.hpp"

namespace orvus::plan {

namespace {
constexpr double kPi = constants::pi;
constexpr double kRad = constants::deg_to_rad;

using detail::cross;
using detail::dot;
using detail::EqualArea;
using detail::norm;
using detail::scale;
using detail::wrap180;

// Whether X (on the great circle of n = A x B) lies on the short arc from A to B.
bool on_arc(const V3& a, const V3& b, const V3& n, const V3& x) {
  return dot(cross(a, x), n) >= 0.0 && dot(cross(x, b), n) >= 0.0;
}

// Whether the short arcs AB and CD cross.
bool arcs_cross(const V3& a, const V3& b, const V3& c, const V3& d) {
  const V3 n1 = cross(a, b);
  const V3 n2 = cross(c, d);
  V3 x = cross(n1, n2);
  const double len = norm(x);
  if (!(len > 1e-300) || norm(n1) == 0.0 || norm(n2) == 0.0) return false;
  x = scale(x, 1.0 / len);
  for (int k = 0; k < 2; ++k) {
    if (on_arc(a, b, n1, x) && on_arc(c, d, n2, x)) return true;
    x = scale(x, -1.0);
  }
  return false;
}

// Latitude (degrees) where the great-circle edge AB meets longitude `lon` (degrees).
double edge_lat_at(const V3& a, const V3& b, double lat_a, double lat_b, double lon) {
  const V3 n = cross(a, b);
  if (std::fabs(n[2]) < 1e-15) {  // a meridian edge, or both ends at one pole
    return std::fabs(lat_a) >= std::fabs(lat_b) ? lat_a : lat_b;
  }
  const double t = -(n[0] * std::cos(lon * kRad) + n[1] * std::sin(lon * kRad)) / n[2];
  return std::atan(t) / kRad;
}

bool in_ring(const Prepared::Ring& r, double lon, double lat) {
  bool inside = false;
  const std::size_t n = r.lon.size();
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double la = r.lon[i], lb = r.lon[i + 1];
    if ((la <= lon) == (lb <= lon)) continue;
    if (edge_lat_at(r.v[i], r.v[i + 1], r.lat[i], r.lat[i + 1], lon) < lat) inside = !inside;
  }
  return inside;
}

bool in_polys(const Prepared& t, double lon, double lat) {
  lon = wrap180(lon);
  if (lon == -180.0) lon = 180.0;
  for (const auto& poly : t.polys) {
    if (poly.empty() || !in_ring(poly[0], lon, lat)) continue;
    bool in_hole = false;
    for (std::size_t h = 1; h < poly.size() && !in_hole; ++h) in_hole = in_ring(poly[h], lon, lat);
    if (!in_hole) return true;
  }
  // Points exactly at +-180 belong to both sides.
  if (lon == 180.0) {
    for (const auto& poly : t.polys) {
      if (poly.empty() || !in_ring(poly[0], -180.0 + 1e-12, lat)) continue;
      bool in_hole = false;
      for (std::size_t h = 1; h < poly.size() && !in_hole; ++h)
        in_hole = in_ring(poly[h], -180.0 + 1e-12, lat);
      if (!in_hole) return true;
    }
  }
  return false;
}

// Whether longitude `lon` lies in the box's longitudes (turns as in_box).
bool lon_in_box(const BBox& b, double lon) {
  if (b.lon1 <= lon && lon <= b.lon2) return true;
  if (b.lon1 < -180.0 || b.lon2 > 180.0) {
    const double east = lon + 360.0, west = lon - 360.0;
    return (b.lon1 <= east && east <= b.lon2) || (b.lon1 <= west && west <= b.lon2);
  }
  return false;
}

// Whether the arc from A to B (angle `len`, in-plane unit E perpendicular to A) meets the
// box's edges.
bool arc_meets_box(const BBox& p, const V3& a, const V3& e, double len) {
  auto point_at = [&](double t) {
    return V3{a[0] * std::cos(t) + e[0] * std::sin(t), a[1] * std::cos(t) + e[1] * std::sin(t),
              a[2] * std::cos(t) + e[2] * std::sin(t)};
  };
  auto in_range = [&](double t) {
    t = std::fmod(t, 2.0 * kPi);
    if (t < 0) t += 2.0 * kPi;
    return t <= len ? t : -1.0;
  };
  // Meridian edges.
  for (const double lon : {p.lon1, p.lon2}) {
    const double c = std::cos(lon * kRad), s = std::sin(lon * kRad);
    const double ka = -s * a[0] + c * a[1];
    const double ke = -s * e[0] + c * e[1];
    const double t0 = std::atan2(-ka, ke);
    for (const double t1 : {t0, t0 + kPi}) {
      const double t = in_range(t1);
      if (t < 0) continue;
      const V3 x = point_at(t);
      if (x[0] * c + x[1] * s < 0) continue;  // the other half of the meridian plane
      const double lat = std::asin(std::clamp(x[2], -1.0, 1.0)) / kRad;
      if (p.lat1 <= lat && lat <= p.lat2) return true;
    }
  }
  // Parallel edges.
  const double r = std::hypot(a[2], e[2]);
  if (r > 0) {
    const double delta = std::atan2(e[2], a[2]);
    for (const double lat : {p.lat1, p.lat2}) {
      const double q = std::sin(lat * kRad) / r;
      if (q > 1.0 || q < -1.0) continue;
      const double w = std::acos(q);
      for (const double t1 : {delta + w, delta - w}) {
        const double t = in_range(t1);
        if (t < 0) continue;
        const V3 x = point_at(t);
        if (lon_in_box(p, std::atan2(x[1], x[0]) / kRad)) return true;
      }
    }
  }
  return false;
}

// Whether the arc crosses the box's edges.
bool arc_meets_edges(const BBox& box, const Arc& arc) {
  // A box that holds nothing (LON1 > LON2 or LAT1 > LAT2) has no edges either.
  if (!(box.lon1 <= box.lon2 && box.lat1 <= box.lat2)) return false;
  return arc.len > 0 && arc_meets_box(box, arc.a, arc.e, arc.len);
}

}  // namespace

V3 unit(double lon_deg, double lat_deg) {
  const double cl = std::cos(lat_deg * kRad);
  return {cl * std::cos(lon_deg * kRad), cl * std::sin(lon_deg * kRad), std::sin(lat_deg * kRad)};
}

std::string number_text(double v) {
  char buf[64];
  for (int digits = 6; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    if (!std::isfinite(v) || std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

void fail(const std::string& file, long line, const std::string& key, const std::string& what,
          const std::string& where_word) {
  std::string head = " ERROR IN \"" + file + "\"";
  if (line > 0) head += ", " + where_word + " " + std::to_string(line);
  throw Error(ErrorKind::input, {head + ": " + what, " EXECUTION INTERRUPTED."},
              ErrorWhere(file, key, line));
}

bool in_bbox(const BBox& b, double lon, double lat) {
  return b.lat1 <= lat && lat <= b.lat2 && lon_in_box(b, lon);
}

Arc make_arc(double lon1, double lat1, double lon2, double lat2) {
  Arc arc;
  arc.lon1 = lon1;
  arc.lat1 = lat1;
  arc.lon2 = lon2;
  arc.lat2 = lat2;
  arc.a = unit(lon1, lat1);
  const V3 b = unit(lon2, lat2);
  const double len = std::atan2(norm(cross(arc.a, b)), dot(arc.a, b));
  if (!(len > 0)) return arc;
  const V3& a = arc.a;
  const V3 e = {b[0] - a[0] * dot(a, b), b[1] - a[1] * dot(a, b), b[2] - a[2] * dot(a, b)};
  const double ne = norm(e);
  if (!(ne > 0)) return arc;
  arc.e = scale(e, 1.0 / ne);
  arc.len = len;
  return arc;
}

bool arc_meets_bbox(const BBox& b, const Arc& arc) {
  return in_bbox(b, arc.lon1, arc.lat1) || in_bbox(b, arc.lon2, arc.lat2) ||
         arc_meets_edges(b, arc);
}

bool point_in(const Prepared& t, double lon, double lat) {
  switch (t.kind) {
    case Prepared::Kind::box:
      return in_box(t.p, lon, lat);
    case Prepared::Kind::polygons:
      return in_polys(t, lon, lat);
    default:  // points and lines have no area
      return false;
  }
}

namespace {

// Whether the arc AB (unit vectors, with its lon/lat in degrees) touches the target: an end
// inside it, or the arc crossing one of its edges.
bool arc_touches_target(const Prepared& t, const V3& a, const V3& b, double lon1, double lat1,
                        double lon2, double lat2) {
  if (point_in(t, lon1, lat1) || point_in(t, lon2, lat2)) return true;
  if (t.kind == Prepared::Kind::box) {
    return arc_meets_edges(BBox{t.p.gc_lon1, t.p.gc_lon2, t.p.gc_lat1, t.p.gc_lat2},
                           make_arc(lon1, lat1, lon2, lat2));
  }
  auto crosses = [&](const Prepared::Ring& ring) {
    for (std::size_t i = 0; i + 1 < ring.v.size(); ++i)
      if (arcs_cross(a, b, ring.v[i], ring.v[i + 1])) return true;
    return false;
  };
  for (const auto& poly : t.polys)
    for (const auto& ring : poly)
      if (crosses(ring)) return true;
  for (const auto& line : t.lines)
    if (crosses(line)) return true;
  return false;
}

double lon_of(const V3& v) {
  return std::atan2(v[1], v[0]) / kRad;
}
double lat_of(const V3& v) {
  return std::asin(std::clamp(v[2], -1.0, 1.0)) / kRad;
}

}  // namespace

bool arc_touches(const Prepared& t, double lon1, double lat1, double lon2, double lat2) {
  return arc_touches_target(t, unit(lon1, lat1), unit(lon2, lat2), lon1, lat1, lon2, lat2);
}

bool line_touches(const Prepared& t, const SensorLine& line) {
  const V3& a = line.pt[1];
  const V3& b = line.pt[2];
  return arc_touches_target(t, a, b, lon_of(a), lat_of(a), lon_of(b), lat_of(b));
}

Prepared prepare_box(const SearchParams& p) {
  Prepared out;
  out.p = p;
  out.kind = Prepared::Kind::box;
  out.centre = unit(p.cen_gc_lon, p.cen_gc_lat);
  const double lat1 = std::max(p.gc_lat1, -90.0), lat2 = std::min(p.gc_lat2, 90.0);
  if (p.gc_lon1 <= p.gc_lon2 && lat1 <= lat2) {
    if (p.gc_lon2 - p.gc_lon1 >= 360.0) {
      out.boxes.push_back({-180, 180, lat1, lat2});
    } else {
      for (int k = -2; k <= 2; ++k) {
        const double a = std::max(p.gc_lon1 + 360.0 * k, -180.0);
        const double b = std::min(p.gc_lon2 + 360.0 * k, 180.0);
        if (a <= b) out.boxes.push_back({a, b, lat1, lat2});
      }
    }
  }
  return out;
}

Prepared prepare(const Target& t, const Sensor& sensor, const Interval& interval) {
  Prepared out;
  if (t.box) {
    search_setup(sensor, *t.box, interval, out.p);
    return prepare_box(out.p);
  }
  // Polygons, points and lines: the search of a point box at the centre (for the best
  // angle and distance under the points rule).
  search_setup(sensor, Box{t.centre.lon_deg, t.centre.lon_deg, t.centre.lat_deg, t.centre.lat_deg},
               interval, out.p);
  out.centre = unit(out.p.cen_gc_lon, out.p.cen_gc_lat);
  // A position made geocentric, and the bounding box grown to hold it.
  auto geocentric = [](const GroundPoint& g, BBox& bb, double& lon, double& lat) {
    corner_to_geocentric(g.lon_deg, g.lat_deg, lon, lat);
    lon = std::clamp(lon, -180.0, 180.0);
    if (std::fabs(g.lon_deg) == 180.0) lon = g.lon_deg;
    bb.lon1 = std::min(bb.lon1, lon);
    bb.lon2 = std::max(bb.lon2, lon);
    bb.lat1 = std::min(bb.lat1, lat);
    bb.lat2 = std::max(bb.lat2, lat);
  };
  // A ring or line of positions, its bounding box grown to its great-circle edges, which
  // bulge toward the poles.
  auto chain = [&](const Ring& ring, BBox& bb) {
    Prepared::Ring r;
    for (const GroundPoint& g : ring) {
      double lon = 0, lat = 0;
      geocentric(g, bb, lon, lat);
      r.lon.push_back(lon);
      r.lat.push_back(lat);
      r.v.push_back(unit(lon, lat));
    }
    for (std::size_t i = 0; i + 1 < r.v.size(); ++i) {
      const V3 n = cross(r.v[i], r.v[i + 1]);
      const double nn = norm(n);
      if (!(nn > 0)) continue;
      const V3 u = scale(n, 1.0 / nn);
      V3 top = {-u[2] * u[0], -u[2] * u[1], 1.0 - u[2] * u[2]};
      const double nt = norm(top);
      if (!(nt > 0)) continue;
      top = scale(top, 1.0 / nt);
      for (const double sgn : {1.0, -1.0}) {
        const V3 x = scale(top, sgn);
        if (on_arc(r.v[i], r.v[i + 1], n, x)) {
          const double lat = std::asin(std::clamp(x[2], -1.0, 1.0)) / kRad;
          bb.lat1 = std::min(bb.lat1, lat);
          bb.lat2 = std::max(bb.lat2, lat);
        }
      }
    }
    return r;
  };
  // Boxes of a chain or point set reaching across +-180 (a line written with a jump of
  // longitude), split there; the latitudes kept within the poles.
  auto add_boxes = [&](BBox bb, bool crosses) {
    bb.lat1 = std::max(bb.lat1 - 1e-9, -90.0);
    bb.lat2 = std::min(bb.lat2 + 1e-9, 90.0);
    if (crosses) {
      out.boxes.push_back({-180.0, 180.0, bb.lat1, bb.lat2});
    } else {
      out.boxes.push_back(bb);
    }
  };
  if (!t.points.empty()) {
    out.kind = Prepared::Kind::points;
    for (const GroundPoint& g : t.points) {
      BBox bb{1e9, -1e9, 1e9, -1e9};
      double lon = 0, lat = 0;
      geocentric(g, bb, lon, lat);
      out.points.push_back(unit(lon, lat));
      add_boxes(bb, false);
    }
    return out;
  }
  if (!t.lines.empty()) {
    out.kind = Prepared::Kind::lines;
    for (const Ring& line : t.lines) {
      BBox bb{1e9, -1e9, 1e9, -1e9};
      out.lines.push_back(chain(line, bb));
      bool crosses = false;
      for (std::size_t i = 0; i + 1 < line.size(); ++i)
        crosses = crosses || std::fabs(line[i + 1].lon_deg - line[i].lon_deg) > 180.0;
      add_boxes(bb, crosses);
    }
    return out;
  }
  out.kind = Prepared::Kind::polygons;
  for (const Polygon& poly : t.polygons) {
    std::vector<Prepared::Ring> rings;
    BBox bb{1e9, -1e9, 1e9, -1e9};
    for (const Ring& ring : poly) rings.push_back(chain(ring, bb));
    // A ring around a pole reaches it.
    if (!rings.empty()) {
      const auto& r0 = rings[0];
      if (in_ring(r0, 0.0, 90.0 - 1e-12) || in_ring(r0, 179.0, 90.0 - 1e-12)) bb.lat2 = 90.0;
      if (bb.lat1 <= -89.0) bb.lat1 = -90.0;
    }
    bb.lat1 = std::max(bb.lat1 - 1e-9, -90.0);
    bb.lat2 = std::min(bb.lat2 + 1e-9, 90.0);
    out.boxes.push_back(bb);
    out.polys.push_back(std::move(rings));
  }
  return out;
}

// ---- polygons on an equal-area projection ----

namespace {
namespace bg = boost::geometry;
using Pt = bg::model::d2::point_xy<double>;
using BPoly = bg::model::polygon<Pt>;
using BMulti = bg::model::multi_polygon<BPoly>;

// The projection about a target's centre, its longitude taken in radians as the planner's
// measures have always taken it.
EqualArea projection(double lon, double lat) {
  return EqualArea::about_radians(lon * kRad, lat);
}

// The polygons on the projection. Parts that were split at +-180 meet again along it there:
// they are joined (a multi-polygon whose parts share an edge is not valid, and the overlay
// routines then miss areas), the others are kept as they are.
BMulti project(const EqualArea& proj, const std::vector<Polygon>& polys) {
  BMulti out, seam;
  for (const Polygon& poly : polys) {
    BPoly bp;
    for (std::size_t r = 0; r < poly.size(); ++r) {
      std::vector<Pt> pts;
      for (const GroundPoint& g : poly[r]) pts.push_back(proj(g.lon_deg, g.lat_deg));
      if (r == 0) {
        bp.outer().assign(pts.begin(), pts.end());
      } else {
        bp.inners().emplace_back(pts.begin(), pts.end());
      }
    }
    bg::correct(bp);
    bool at_seam = false;
    for (const GroundPoint& g : poly.empty() ? Ring{} : poly[0])
      at_seam = at_seam || std::fabs(g.lon_deg) == 180.0;
    if (at_seam && !seam.empty()) {
      BMulti joined;
      bg::union_(seam, bp, joined);
      seam = std::move(joined);
    } else {
      (at_seam ? seam : out).push_back(std::move(bp));
    }
  }
  for (BPoly& bp : seam) out.push_back(std::move(bp));
  return out;
}

GroundPoint bbox_centre(const std::vector<Polygon>& polys) {
  double lo = 1e9, hi = -1e9, la = 1e9, lb = -1e9;
  for (const auto& p : polys)
    for (const auto& g : p.empty() ? Ring{} : p[0]) {
      lo = std::min(lo, g.lon_deg);
      hi = std::max(hi, g.lon_deg);
      la = std::min(la, g.lat_deg);
      lb = std::max(lb, g.lat_deg);
    }
  if (lo > hi) return {};
  // Parts on both sides of +-180: centre across it.
  if (hi - lo > 180.0) {
    double s = 0;
    int n = 0;
    for (const auto& p : polys)
      for (const auto& g : p.empty() ? Ring{} : p[0]) {
        s += g.lon_deg < 0 ? g.lon_deg + 360.0 : g.lon_deg;
        ++n;
      }
    return {wrap180(s / n), (la + lb) / 2.0};
  }
  return {(lo + hi) / 2.0, (la + lb) / 2.0};
}
}  // namespace

GroundPoint points_centre(const std::vector<Ring>& chains, bool lines) {
  if (!lines && chains.size() == 1 && chains[0].size() == 1) return chains[0][0];
  // The mean of the unit vectors: of the points, or of the edges' middles by their lengths.
  V3 sum{};
  for (const Ring& c : chains) {
    if (!lines) {
      for (const GroundPoint& g : c) {
        const V3 v = unit(g.lon_deg, g.lat_deg);
        for (int i = 0; i < 3; ++i) sum[i] += v[i];
      }
      continue;
    }
    for (std::size_t i = 0; i + 1 < c.size(); ++i) {
      const V3 a = unit(c[i].lon_deg, c[i].lat_deg), b = unit(c[i + 1].lon_deg, c[i + 1].lat_deg);
      const double len = std::atan2(norm(cross(a, b)), dot(a, b));
      const V3 m = {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
      const double mn = norm(m);
      if (!(mn > 0)) continue;
      for (int k = 0; k < 3; ++k) sum[k] += m[k] / mn * len;
    }
  }
  const double sn = norm(sum);
  if (!(sn > 0)) return chains.empty() || chains[0].empty() ? GroundPoint{} : chains[0][0];
  return {std::atan2(sum[1], sum[0]) / kRad, std::asin(std::clamp(sum[2] / sn, -1.0, 1.0)) / kRad};
}

GroundPoint polygons_centroid(const std::vector<Polygon>& polys) {
  const GroundPoint c0 = bbox_centre(polys);
  const EqualArea proj = projection(c0.lon_deg, c0.lat_deg);
  const BMulti mp = project(proj, polys);
  if (!(bg::area(mp) > 0)) return c0;
  Pt c(0.0, 0.0);
  bg::centroid(mp, c);
  return proj.inverse(c);
}

namespace {

// The swath of a contact (points (1) forward, points (2) back) on the projection: one ring,
// or where it crosses itself the union of the quadrilaterals between its steps.
BMulti swath_of(const EqualArea& proj, const std::vector<GroundPoint>& side1,
                const std::vector<GroundPoint>& side2) {
  BMulti swath;
  {
    BPoly s;
    for (const auto& g : side1) s.outer().push_back(proj(g.lon_deg, g.lat_deg));
    for (auto it = side2.rbegin(); it != side2.rend(); ++it)
      s.outer().push_back(proj(it->lon_deg, it->lat_deg));
    s.outer().push_back(s.outer().front());
    bg::correct(s);
    if (bg::is_valid(s)) {
      swath.push_back(s);
    } else {
      // A ring that crosses itself: the union of the quadrilaterals between steps.
      for (std::size_t i = 0; i + 1 < side1.size(); ++i) {
        BPoly q;
        q.outer() = {proj(side1[i].lon_deg, side1[i].lat_deg),
                     proj(side1[i + 1].lon_deg, side1[i + 1].lat_deg),
                     proj(side2[i + 1].lon_deg, side2[i + 1].lat_deg),
                     proj(side2[i].lon_deg, side2[i].lat_deg),
                     proj(side1[i].lon_deg, side1[i].lat_deg)};
        bg::correct(q);
        if (!bg::is_valid(q)) continue;
        BMulti u;
        bg::union_(swath, q, u);
        swath = std::move(u);
      }
    }
  }
  return swath;
}

}  // namespace

double polygons_coverage(const std::vector<Polygon>& polys, const GroundPoint& centre,
                         const std::vector<GroundPoint>& side1,
                         const std::vector<GroundPoint>& side2) {
  if (side1.size() < 2 || side1.size() != side2.size()) return 0.0;
  const EqualArea proj = projection(centre.lon_deg, centre.lat_deg);
  const BMulti target = project(proj, polys);
  const double area = bg::area(target);
  if (!(area > 0)) return 0.0;
  const BMulti swath = swath_of(proj, side1, side2);
  BMulti covered;
  bg::intersection(swath, target, covered);
  return std::clamp(bg::area(covered) / area, 0.0, 1.0);
}

double lines_coverage(const std::vector<Ring>& lines, const GroundPoint& centre,
                      const std::vector<GroundPoint>& side1,
                      const std::vector<GroundPoint>& side2) {
  if (side1.size() < 2 || side1.size() != side2.size()) return 0.0;
  const EqualArea proj = projection(centre.lon_deg, centre.lat_deg);
  bg::model::multi_linestring<bg::model::linestring<Pt>> target;
  for (const Ring& l : lines) {
    auto& ls = target.emplace_back();
    for (const GroundPoint& g : l) ls.push_back(proj(g.lon_deg, g.lat_deg));
  }
  const double length = static_cast<double>(bg::length(target));
  if (!(length > 0)) return 0.0;
  bg::model::multi_linestring<bg::model::linestring<Pt>> covered;
  bg::intersection(target, swath_of(proj, side1, side2), covered);
  return std::clamp(static_cast<double>(bg::length(covered)) / length, 0.0, 1.0);
}

double points_coverage(const std::vector<GroundPoint>& points, const GroundPoint& centre,
                       const std::vector<GroundPoint>& side1,
                       const std::vector<GroundPoint>& side2) {
  if (points.empty() || side1.empty() || side1.size() != side2.size()) return 0.0;
  const EqualArea proj = projection(centre.lon_deg, centre.lat_deg);
  const BMulti swath = side1.size() >= 2 ? swath_of(proj, side1, side2) : BMulti{};
  // The swath's outline: a contact of an instant has no area, only its line.
  bg::model::linestring<Pt> outline;
  for (const auto& g : side1) outline.push_back(proj(g.lon_deg, g.lat_deg));
  for (auto it = side2.rbegin(); it != side2.rend(); ++it)
    outline.push_back(proj(it->lon_deg, it->lat_deg));
  std::size_t seen = 0;
  for (const GroundPoint& g : points) {
    const Pt q = proj(g.lon_deg, g.lat_deg);
    // 1e-7 of the unit sphere: under a metre.
    if ((!swath.empty() && bg::covered_by(q, swath)) || bg::distance(q, outline) <= 1e-7) ++seen;
  }
  return static_cast<double>(seen) / static_cast<double>(points.size());
}

}  // namespace orvus::plan
