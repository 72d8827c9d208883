// The Sun's elevation, the box coverage of a swath, and cutting lines and rings at +-180.
#include "orvus/analysis.hpp"

#include <erfa.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/geometry/boost_geometry.hpp"
#include "core/geometry/equal_area.hpp"
#include "core/search/analysis_internal.hpp"
#include "core/time/time_text.hpp"
#include "orvus/constants.hpp"

namespace orvus {

namespace bg = boost::geometry;
using Pt = bg::model::d2::point_xy<double>;
using Polygon = bg::model::polygon<Pt>;
using MultiPolygon = bg::model::multi_polygon<Polygon>;

using detail::EqualArea;
using detail::wrap180;

std::array<double, 3> sun_earth_fixed(const UtcInstant& utc) {
  const double utc1 = utc.day + constants::mjd1950_to_jd;
  const double utc2 = utc.seconds / 86400.0;
  double tai1 = 0, tai2 = 0, tt1 = 0, tt2 = 0;
  eraUtctai(utc1, utc2, &tai1, &tai2);
  eraTaitt(tai1, tai2, &tt1, &tt2);
  // The Sun seen from the geocentre: minus the Earth's heliocentric position (AU). Light
  // time and aberration (20") are left out, and so are UT1 - UTC and polar motion: together
  // under 0.01 deg.
  double pvh[2][3], pvb[2][3];
  eraEpv00(tt1, tt2, pvh, pvb);
  double sun[3] = {-pvh[0][0] * constants::astronomical_unit_m,
                   -pvh[0][1] * constants::astronomical_unit_m,
                   -pvh[0][2] * constants::astronomical_unit_m};
  double c2t[3][3];
  eraC2t06a(tt1, tt2, utc1, utc2, 0.0, 0.0, c2t);
  std::array<double, 3> sun_fixed{};
  eraRxp(c2t, sun, sun_fixed.data());
  return sun_fixed;
}

double sun_elevation_from(const std::array<double, 3>& sun_fixed, double lon, double lat) {
  // From the site on the ellipsoid, against its vertical.
  double site[3];
  eraGd2gc(1, lon * constants::deg_to_rad, lat * constants::deg_to_rad, 0.0, site);
  double sun[3] = {sun_fixed[0], sun_fixed[1], sun_fixed[2]};
  double topo[3];
  eraPmp(sun, site, topo);
  double up[3] = {std::cos(lat * constants::deg_to_rad) * std::cos(lon * constants::deg_to_rad),
                  std::cos(lat * constants::deg_to_rad) * std::sin(lon * constants::deg_to_rad),
                  std::sin(lat * constants::deg_to_rad)};
  return std::asin(eraPdp(topo, up) / eraPm(topo)) / constants::deg_to_rad;
}

double sun_elevation_deg(const UtcInstant& utc, double lon, double lat) {
  return sun_elevation_from(sun_earth_fixed(utc), lon, lat);
}

namespace {

Polygon make_polygon(const std::vector<Pt>& ring) {
  Polygon poly;
  for (const Pt& p : ring) bg::append(poly.outer(), p);
  bg::correct(poly);
  return poly;
}

// The box [lon1, lon2] x [lat1, lat2] on the projection, its parallels densified (they are
// curves there).
Polygon box_polygon(const EqualArea& proj, double lon1, double lon2, double lat1, double lat2) {
  std::vector<Pt> box;
  const int n = 64;
  for (int i = 0; i <= n; ++i) box.push_back(proj(lon1 + (lon2 - lon1) * i / n, lat1));
  for (int i = 0; i <= n; ++i) box.push_back(proj(lon2, lat1 + (lat2 - lat1) * i / n));
  for (int i = 0; i <= n; ++i) box.push_back(proj(lon2 - (lon2 - lon1) * i / n, lat2));
  for (int i = 0; i <= n; ++i) box.push_back(proj(lon1, lat2 - (lat2 - lat1) * i / n));
  return make_polygon(box);
}

// Points of the polygons this thread has passed to unions (see analysis_internal.hpp).
thread_local std::uint64_t union_points = 0;

// Union of many polygons, merged in pairs level by level: every polygon takes part in
// about log2(n) unions instead of n, and only neighbours in time (which overlap) meet early.
MultiPolygon cascaded_union(std::vector<MultiPolygon> parts) {
  while (parts.size() > 1) {
    std::vector<MultiPolygon> next;
    next.reserve(parts.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
      union_points += bg::num_points(parts[i]) + bg::num_points(parts[i + 1]);
      MultiPolygon merged;
      bg::union_(parts[i], parts[i + 1], merged);
      next.push_back(std::move(merged));
    }
    if (parts.size() % 2 == 1) next.push_back(std::move(parts.back()));
    parts = std::move(next);
  }
  return parts.empty() ? MultiPolygon{} : parts.front();
}

// Area of `box_poly` under the quadrilaterals between consecutive steps, on `proj`. Only
// quadrilaterals that reach the box's envelope can cover part of it; with `near_only`, only
// those whose corners all lie within 90 deg of the projection's centre (farther ones are
// torn apart near the projection's rim).
double covered_by_quads(const EqualArea& proj, const Polygon& box_poly,
                        const std::vector<GroundPoint>& side1,
                        const std::vector<GroundPoint>& side2, bool near_only) {
  const auto envelope = bg::return_envelope<bg::model::box<Pt>>(box_poly);
  std::vector<MultiPolygon> quads;
  for (std::size_t i = 0; i + 1 < side1.size(); ++i) {
    const GroundPoint* corners[4] = {&side1[i], &side1[i + 1], &side2[i + 1], &side2[i]};
    bool near = true;
    for (const GroundPoint* c : corners)
      near = near && proj.cos_from_centre(c->lon_deg, c->lat_deg) > 0.0;
    if (near_only && !near) continue;
    Polygon q = make_polygon({proj(corners[0]->lon_deg, corners[0]->lat_deg),
                              proj(corners[1]->lon_deg, corners[1]->lat_deg),
                              proj(corners[2]->lon_deg, corners[2]->lat_deg),
                              proj(corners[3]->lon_deg, corners[3]->lat_deg)});
    if (!bg::is_valid(q) || !(bg::area(q) > 0.0)) continue;
    if (!bg::intersects(bg::return_envelope<bg::model::box<Pt>>(q), envelope)) continue;
    quads.push_back(MultiPolygon{q});
  }
  MultiPolygon covered;
  bg::intersection(cascaded_union(std::move(quads)), box_poly, covered);
  return bg::area(covered);
}

// ---- area of the intersection of two simple polygons ----
// By Green's theorem the area of P n Q is half the sum of x dy - y dx along the part of P's
// boundary inside Q and the part of Q's boundary inside P, both counter-clockwise. Each edge is
// cut where it meets the other boundary; a piece counts when its middle lies inside.

double cross2(const Pt& o, const Pt& a, const Pt& b) {
  return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
}

// Whether p lies inside the closed polygon `poly` (crossing number; points on the boundary
// are not decided, and the pieces tested here lie off it).
bool inside(const std::vector<Pt>& poly, const Pt& p) {
  bool in = false;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
    const Pt& a = poly[i];
    const Pt& b = poly[j];
    if ((a.y() > p.y()) != (b.y() > p.y()) &&
        p.x() < (b.x() - a.x()) * (p.y() - a.y()) / (b.y() - a.y()) + a.x())
      in = !in;
  }
  return in;
}

// Half of x dy - y dx along the parts of `edges`'s boundary inside `other` (open rings,
// counter-clockwise).
double inside_part(const std::vector<Pt>& edges, const std::vector<Pt>& other,
                   std::vector<double>& cuts) {
  double sum = 0.0;
  const std::size_t n = edges.size(), m = other.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Pt& a = edges[i];
    const Pt& b = edges[(i + 1) % n];
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    cuts.assign({0.0, 1.0});
    for (std::size_t j = 0; j < m; ++j) {
      const Pt& c = other[j];
      const Pt& d = other[(j + 1) % m];
      const double den = dx * (d.y() - c.y()) - dy * (d.x() - c.x());
      if (den == 0.0) continue;  // parallel: no single crossing
      const double t =
          ((c.x() - a.x()) * (d.y() - c.y()) - (c.y() - a.y()) * (d.x() - c.x())) / den;
      const double u = ((c.x() - a.x()) * dy - (c.y() - a.y()) * dx) / den;
      if (t > 0.0 && t < 1.0 && u >= 0.0 && u <= 1.0) cuts.push_back(t);
    }
    std::sort(cuts.begin(), cuts.end());
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
      const double t0 = cuts[k], t1 = cuts[k + 1];
      if (!(t1 > t0)) continue;
      const Pt mid(a.x() + dx * (t0 + t1) / 2.0, a.y() + dy * (t0 + t1) / 2.0);
      if (!inside(other, mid)) continue;
      const Pt p(a.x() + dx * t0, a.y() + dy * t0), q(a.x() + dx * t1, a.y() + dy * t1);
      sum += p.x() * q.y() - q.x() * p.y();
    }
  }
  return sum / 2.0;
}

// Whether an open ring is simple: no two edges meet but neighbours at their shared vertex,
// and no neighbours fold back over each other.
bool simple_ring(const std::vector<Pt>& r) {
  const std::size_t n = r.size();
  if (n < 3) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const Pt& a = r[i];
    const Pt& b = r[(i + 1) % n];
    for (std::size_t j = i + 1; j < n; ++j) {
      const Pt& c = r[j];
      const Pt& d = r[(j + 1) % n];
      const bool next = j == i + 1, wraps = i == 0 && j == n - 1;
      if (next || wraps) {
        // Neighbours: collinear and turning back.
        const Pt& o = next ? b : a;
        const Pt& x = next ? a : b;
        const Pt& y = next ? d : c;
        if (cross2(o, x, y) == 0.0 &&
            (x.x() - o.x()) * (y.x() - o.x()) + (x.y() - o.y()) * (y.y() - o.y()) > 0.0)
          return false;
        continue;
      }
      const double d1 = cross2(a, b, c), d2 = cross2(a, b, d), d3 = cross2(c, d, a),
                   d4 = cross2(c, d, b);
      if (((d1 > 0) != (d2 > 0) || d1 == 0.0 || d2 == 0.0) &&
          ((d3 > 0) != (d4 > 0) || d3 == 0.0 || d4 == 0.0) &&
          std::max(std::min(a.x(), b.x()), std::min(c.x(), d.x())) <=
              std::min(std::max(a.x(), b.x()), std::max(c.x(), d.x())) &&
          std::max(std::min(a.y(), b.y()), std::min(c.y(), d.y())) <=
              std::min(std::max(a.y(), b.y()), std::max(c.y(), d.y())))
        return false;
    }
  }
  return true;
}

double signed_area(const std::vector<Pt>& r) {
  double s = 0.0;
  for (std::size_t i = 0, j = r.size() - 1; i < r.size(); j = i++)
    s += r[j].x() * r[i].y() - r[i].x() * r[j].y();
  return s / 2.0;
}

// Boxes wider or taller than this are measured in pieces of at most kPiece degrees, each on
// its own projection: one projection centred on a box of half the Earth or more squeezes
// its far edges into the rim, where the box and the swath lose their shape.
constexpr double kLargeBox = 90.0;  // deg
constexpr double kPiece = 30.0;     // deg

}  // namespace

namespace detail {

std::uint64_t coverage_union_points() {
  return union_points;
}

// The box, or its pieces, on their equal-area projections, with their areas.
struct BoxCoverage::Pieces {
  struct Piece {
    EqualArea proj;
    Polygon poly;
    double area;
    std::vector<Pt> ccw;  // the outline as an open ring, counter-clockwise
  };
  std::vector<Piece> pieces;
  bool whole = false;  // one piece: measured with the swath's ring where it is valid
};

BoxCoverage::BoxCoverage(const Box& box) {
  auto made = std::make_shared<Pieces>();
  pieces_ = made;
  const double lon1 = box.lon1, lon2 = box.lon2, lat1 = box.lat1, lat2 = box.lat2;
  if (!(lon1 < lon2 && lat1 < lat2)) return;
  if (lon2 - lon1 > kLargeBox || lat2 - lat1 > kLargeBox) {
    // Each piece's area on its equal-area projection is its area on the unit sphere.
    const int nlon = static_cast<int>(std::ceil((lon2 - lon1) / kPiece));
    const int nlat = static_cast<int>(std::ceil((lat2 - lat1) / kPiece));
    for (int i = 0; i < nlon; ++i) {
      const double a1 = lon1 + (lon2 - lon1) * i / nlon;
      const double a2 = lon1 + (lon2 - lon1) * (i + 1) / nlon;
      for (int j = 0; j < nlat; ++j) {
        const double b1 = lat1 + (lat2 - lat1) * j / nlat;
        const double b2 = lat1 + (lat2 - lat1) * (j + 1) / nlat;
        const EqualArea proj((a1 + a2) / 2.0, (b1 + b2) / 2.0);
        Polygon piece = box_polygon(proj, a1, a2, b1, b2);
        const double area = bg::area(piece);
        made->pieces.push_back({proj, std::move(piece), area, {}});
      }
    }
    return;
  }
  const EqualArea proj((lon1 + lon2) / 2.0, (lat1 + lat2) / 2.0);
  Polygon poly = box_polygon(proj, lon1, lon2, lat1, lat2);
  const double area = bg::area(poly);
  std::vector<Pt> ccw(poly.outer().begin(), poly.outer().end() - 1);
  if (signed_area(ccw) < 0.0) std::reverse(ccw.begin(), ccw.end());
  made->whole = true;
  made->pieces.push_back({proj, std::move(poly), area, std::move(ccw)});
}

double BoxCoverage::operator()(const std::vector<GroundPoint>& side1,
                               const std::vector<GroundPoint>& side2) const {
  if (pieces_->pieces.empty() || side1.size() < 2 || side1.size() != side2.size()) return 0.0;
  if (!pieces_->whole) {
    double total = 0.0;
    double covered = 0.0;
    for (const auto& p : pieces_->pieces) {
      total += p.area;
      covered += covered_by_quads(p.proj, p.poly, side1, side2, true);
    }
    return total > 0.0 ? std::clamp(covered / total, 0.0, 1.0) : 0.0;
  }
  const auto& [proj, box_poly, box_area, box_ccw] = pieces_->pieces.front();
  if (!(box_area > 0.0)) return 0.0;
  std::vector<Pt> ring;
  ring.reserve(side1.size() + side2.size());
  for (const GroundPoint& p : side1) ring.push_back(proj(p.lon_deg, p.lat_deg));
  for (auto it = side2.rbegin(); it != side2.rend(); ++it)
    ring.push_back(proj(it->lon_deg, it->lat_deg));
  // Repeated positions (a contact of one step, a line crossed at once) say nothing of area.
  ring.erase(std::unique(ring.begin(), ring.end(),
                         [](const Pt& a, const Pt& b) { return a.x() == b.x() && a.y() == b.y(); }),
             ring.end());
  while (ring.size() > 1 && ring.front().x() == ring.back().x() &&
         ring.front().y() == ring.back().y())
    ring.pop_back();
  if (ring.size() <= 64 && simple_ring(ring)) {
    const double a = signed_area(ring);
    if (!(std::fabs(a) > 0.0)) return 0.0;
    if (a < 0.0) std::reverse(ring.begin(), ring.end());
    std::vector<double> cuts;
    const double covered = inside_part(ring, box_ccw, cuts) + inside_part(box_ccw, ring, cuts);
    return std::clamp(covered / box_area, 0.0, 1.0);
  }
  const Polygon swath = make_polygon(ring);
  if (bg::is_valid(swath)) {
    MultiPolygon covered;
    bg::intersection(swath, box_poly, covered);
    return std::clamp(bg::area(covered) / box_area, 0.0, 1.0);
  }
  // A swath ring that crosses itself: the union of the quadrilaterals between steps.
  return std::clamp(covered_by_quads(proj, box_poly, side1, side2, false) / box_area, 0.0, 1.0);
}

}  // namespace detail

double box_coverage(const Box& box, const std::vector<GroundPoint>& side1,
                    const std::vector<GroundPoint>& side2) {
  return detail::BoxCoverage(box)(side1, side2);
}

std::vector<std::vector<GroundPoint>> split_line(const std::vector<GroundPoint>& line) {
  std::vector<std::vector<GroundPoint>> parts;
  if (line.empty()) return parts;
  parts.push_back({{wrap180(line[0].lon_deg), line[0].lat_deg}});
  for (std::size_t i = 1; i < line.size(); ++i) {
    const double a = wrap180(line[i - 1].lon_deg);
    const double b = wrap180(line[i].lon_deg);
    const double step = wrap180(b - a);
    if (std::fabs(a + step) > 180.0) {  // crosses +-180 on the way from a to b
      const double edge = a + step > 0 ? 180.0 : -180.0;
      const double f = (edge - a) / step;
      const double lat = line[i - 1].lat_deg + f * (line[i].lat_deg - line[i - 1].lat_deg);
      parts.back().push_back({edge, lat});
      parts.push_back({{-edge, lat}});
    }
    parts.back().push_back({b, line[i].lat_deg});
  }
  return parts;
}

std::vector<std::vector<GroundPoint>> split_ring(const std::vector<GroundPoint>& ring) {
  std::vector<std::vector<GroundPoint>> parts;
  if (ring.size() < 3) return parts;
  // A ring that does not cross +-180 stays as it is, counter-clockwise as RFC 7946 asks.
  bool crosses = std::fabs(ring[0].lon_deg) > 180.0;
  double twice_area = 0.0;
  for (std::size_t i = 1; i < ring.size(); ++i) {
    crosses = crosses || std::fabs(ring[i].lon_deg) > 180.0 ||
              std::fabs(ring[i].lon_deg - ring[i - 1].lon_deg) > 180.0;
    twice_area += ring[i - 1].lon_deg * ring[i].lat_deg - ring[i].lon_deg * ring[i - 1].lat_deg;
  }
  if (!crosses) {
    parts.push_back(ring);
    if (twice_area < 0.0) std::reverse(parts.back().begin(), parts.back().end());
    return parts;
  }
  // Unwrap the ring so that its longitudes run on without jumps, then cut it into the
  // windows [-540, -180], [-180, 180] and [180, 540] and bring each part back.
  Polygon poly;
  double lon = wrap180(ring[0].lon_deg);
  bg::append(poly.outer(), Pt(lon, ring[0].lat_deg));
  for (std::size_t i = 1; i < ring.size(); ++i) {
    lon += wrap180(ring[i].lon_deg - ring[i - 1].lon_deg);
    bg::append(poly.outer(), Pt(lon, ring[i].lat_deg));
  }
  bg::correct(poly);
  for (const double shift : {-360.0, 0.0, 360.0}) {
    const bg::model::box<Pt> window(Pt(-180.0 + shift, -90.0), Pt(180.0 + shift, 90.0));
    MultiPolygon clipped;
    if (bg::is_valid(poly)) {
      bg::intersection(poly, window, clipped);
    } else if (shift == 0.0) {  // nothing to cut reliably: keep it as it is, wrapped
      std::vector<GroundPoint> whole;
      for (const Pt& p : poly.outer()) whole.push_back({wrap180(p.x()), p.y()});
      parts.push_back(whole);
      continue;
    }
    for (const Polygon& part : clipped) {
      std::vector<GroundPoint> out;
      for (const Pt& p : part.outer()) out.push_back({p.x() - shift, p.y()});
      // Counter-clockwise exterior ring, as RFC 7946 asks.
      std::reverse(out.begin(), out.end());
      parts.push_back(out);
    }
  }
  return parts;
}

}  // namespace orvus
