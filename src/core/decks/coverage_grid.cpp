// The coverage grid: equal-area cells on latitude bands of the WGS 84 ellipsoid, and the
// cells whose centres lie inside the plan's areas.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/decks/decks_internal.hpp"
#include "core/search/search.hpp"
#include "core/sweep/sweep_internal.hpp"
#include "orvus/constants.hpp"
#include "orvus/coverage.hpp"

namespace orvus {

namespace {

constexpr double kPi = constants::pi;
constexpr double kRad = constants::deg_to_rad;
// The most cells the areas may hold: a run keeps a few hundred bytes for each (the grid, the
// points of the sweep, the figures), and writes a few hundred bytes a cell to its files.
constexpr std::size_t kMostCells = 4'000'000;

// Authalic latitude on WGS 84 (J. P. Snyder, "Map Projections: A Working Manual", USGS
// Professional Paper 1395, 1987): q of eq. 3-12, sin(beta) = q / q_p (eq. 3-11); the authalic
// radius R_q = a sqrt(q_p / 2) (eq. 3-13) gives the ellipsoid's area 4 pi R_q^2.
struct Authalic {
  double e2 = constants::wgs84_f * (2.0 - constants::wgs84_f);
  double e = std::sqrt(e2);
  double qp = q(1.0);
  double radius_km = constants::wgs84_a_m / 1000.0 * std::sqrt(qp / 2.0);

  [[nodiscard]] double q(double sin_phi) const {
    const double es = e * sin_phi;
    return (1.0 - e2) * (sin_phi / (1.0 - es * es) - std::log((1.0 - es) / (1.0 + es)) / (2.0 * e));
  }
  // Geodetic latitude (degrees) of the authalic latitude whose sine is `s`: Snyder's series
  // (eq. 3-18), then Newton's method on q (dq/dphi = 2 (1 - e^2) cos(phi) / (1 - e^2
  // sin^2(phi))^2), to 1e-15 rad.
  [[nodiscard]] double geodetic_deg(double s) const {
    if (s >= 1.0) return 90.0;
    if (s <= -1.0) return -90.0;
    const double beta = std::asin(s);
    const double e4 = e2 * e2, e6 = e4 * e2;
    double phi = beta + (e2 / 3.0 + 31.0 * e4 / 180.0 + 517.0 * e6 / 5040.0) * std::sin(2 * beta) +
                 (23.0 * e4 / 360.0 + 251.0 * e6 / 3780.0) * std::sin(4 * beta) +
                 (761.0 * e6 / 45360.0) * std::sin(6 * beta);
    for (int i = 0; i < 4 && std::fabs(phi) < kPi / 2 - 1e-6; ++i) {
      const double sp = std::sin(phi), w = 1.0 - e2 * sp * sp;
      const double step = (s * qp - q(sp)) * w * w / (2.0 * (1.0 - e2) * std::cos(phi));
      phi += step;
      if (std::fabs(step) < 1e-15) break;
    }
    return std::clamp(phi / kRad, -90.0, 90.0);
  }
};

[[noreturn]] void too_many(const Plan& plan) {
  char what[200];
  std::snprintf(what, sizeof what,
                "THE COVERAGE AREAS HOLD MORE THAN %zu CELLS OF %g KM: GIVE A LARGER "
                "\"coverage.cell_km\" OR SMALLER AREAS.",
                kMostCells, plan.coverage->cell_km);
  plan::fail(plan.path, plan.coverage->line, "coverage.cell_km", what);
}

// The grid's cells (band, column) inside one area, appended to `out`.
struct Cells {
  const CoverageGrid& grid;
  const std::vector<double>& gc_lat;  // per band: the centres' geocentric latitude (deg)
  std::vector<std::uint64_t>& out;
  const Plan& plan;
  std::size_t room;  // cells this area may still add (duplicates counted)

  [[nodiscard]] double width(std::size_t band) const { return 360.0 / grid.band_cells[band]; }
  [[nodiscard]] double lon(std::size_t band, std::uint32_t col) const {
    return -180.0 + (col + 0.5) * width(band);
  }
  void add(std::size_t band, std::uint32_t col) {
    if (out.size() >= room) too_many(plan);
    out.push_back(grid.band_first_id[band] + col);
  }
  // Columns whose centres lie within [lon1, lon2] (within [-180, 180]).
  template <class F>
  void columns(std::size_t band, double lon1, double lon2, const F& f) const {
    const double w = width(band);
    const double lo = std::max(std::ceil((lon1 + 180.0) / w - 0.5), 0.0);
    const double hi = std::min(std::floor((lon2 + 180.0) / w - 0.5), grid.band_cells[band] - 1.0);
    for (double c = lo; c <= hi; c += 1.0) f(static_cast<std::uint32_t>(c));
  }

  // A box or polygons: every centre within a bounding box of the target, tested as the swath
  // rule tests a point (point_in). For polygons the test is made once between consecutive
  // crossings of the band's parallel with the edges, and at each centre within 1e-9 deg of
  // a crossing.
  void target(const plan::Prepared& t) {
    std::vector<double> xs;
    for (const plan::BBox& b : t.boxes) {
      const double lon1 = std::max(b.lon1, -180.0), lon2 = std::min(b.lon2, 180.0);
      for (std::size_t band = 0; band < gc_lat.size(); ++band) {
        const double lat = gc_lat[band];
        if (lat < b.lat1 || lat > b.lat2) continue;
        if (t.kind == plan::Prepared::Kind::box) {
          columns(band, lon1, lon2, [&](std::uint32_t c) {
            if (plan::point_in(t, lon(band, c), lat)) add(band, c);
          });
          continue;
        }
        crossings(t, lat, xs);
        std::size_t k = 0;  // the first crossing east of the centre
        bool gap_known = false, gap_in = false;
        columns(band, lon1, lon2, [&](std::uint32_t c) {
          const double x = lon(band, c);
          std::size_t k2 = k;
          while (k2 < xs.size() && xs[k2] <= x) ++k2;
          if (k2 != k) gap_known = false;
          k = k2;
          const bool near = (k < xs.size() && xs[k] - x < 1e-9) || (k > 0 && x - xs[k - 1] < 1e-9);
          bool in = false;
          if (near) {
            in = plan::point_in(t, x, lat);
          } else {
            if (!gap_known) {
              const double west = k > 0 ? xs[k - 1] : -180.0;
              const double east = k < xs.size() ? xs[k] : 180.0;
              gap_in = plan::point_in(t, 0.5 * (west + east), lat);
              gap_known = true;
            }
            in = gap_in;
          }
          if (in) add(band, c);
        });
      }
    }
  }

  // The longitudes (deg, ascending) where the polygons' great-circle edges cross the parallel
  // of geocentric latitude `lat`.
  static void crossings(const plan::Prepared& t, double lat, std::vector<double>& xs) {
    xs.clear();
    const double s = std::sin(lat * kRad), rho = std::cos(lat * kRad);
    for (const auto& poly : t.polys) {
      for (const auto& ring : poly) {
        for (std::size_t i = 0; i + 1 < ring.v.size(); ++i) {
          const plan::V3& a = ring.v[i];
          const plan::V3& b = ring.v[i + 1];
          // Ends on one side and far from it: the edge (under a half turn) bulges toward
          // the pole by less than its length.
          const double lo = std::min(ring.lat[i], ring.lat[i + 1]);
          const double hi = std::max(ring.lat[i], ring.lat[i + 1]);
          const double span = std::fabs(ring.lon[i + 1] - ring.lon[i]) + (hi - lo);
          if (lat < lo - span || lat > hi + span) continue;
          const plan::V3 m = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                              a[0] * b[1] - a[1] * b[0]};
          const double h = std::hypot(m[0], m[1]);
          if (!(h > 0.0) || !(rho > 0.0)) continue;
          const double c = -m[2] * s / (rho * h);
          if (!(std::fabs(c) <= 1.0)) continue;
          const double base = std::atan2(m[1], m[0]), d = std::acos(c);
          for (const double lam : {base + d, base - d}) {
            const plan::V3 x = {rho * std::cos(lam), rho * std::sin(lam), s};
            const auto side = [&](const plan::V3& p, const plan::V3& q) {
              return (p[1] * q[2] - p[2] * q[1]) * m[0] + (p[2] * q[0] - p[0] * q[2]) * m[1] +
                     (p[0] * q[1] - p[1] * q[0]) * m[2];
            };
            if (side(a, x) >= 0.0 && side(x, b) >= 0.0) {
              xs.push_back(std::remainder(lam / kRad, 360.0));
            }
            if (d == 0.0) break;
          }
        }
      }
    }
    std::sort(xs.begin(), xs.end());
  }

  // The land: even-odd over every ring, each edge a straight line in longitude and latitude.
  void land(const std::vector<Polygon>& polys) {
    struct Edge {
      double lon1, lat1, lon2, lat2;
    };
    std::vector<Edge> edges;
    for (const Polygon& poly : polys)
      for (const Ring& ring : poly)
        for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
          if (ring[i].lat_deg == ring[i + 1].lat_deg) continue;
          edges.push_back(
              {ring[i].lon_deg, ring[i].lat_deg, ring[i + 1].lon_deg, ring[i + 1].lat_deg});
        }
    std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
      return std::min(x.lat1, x.lat2) < std::min(y.lat1, y.lat2);
    });
    std::vector<double> xs;
    for (std::size_t band = 0; band < grid.band_cells.size(); ++band) {
      const double lat = grid.band_centre_deg[band];
      xs.clear();
      for (const Edge& e : edges) {
        if (std::min(e.lat1, e.lat2) > lat) break;
        if ((e.lat1 <= lat) == (e.lat2 <= lat)) continue;
        xs.push_back(e.lon1 + (lat - e.lat1) * (e.lon2 - e.lon1) / (e.lat2 - e.lat1));
      }
      std::sort(xs.begin(), xs.end());
      for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
        for (const double shift : {-360.0, 0.0, 360.0}) {
          const double lon1 = std::max(xs[k] + shift, -180.0);
          const double lon2 = std::min(xs[k + 1] + shift, 180.0);
          if (lon1 <= lon2) columns(band, lon1, lon2, [&](std::uint32_t c) { add(band, c); });
        }
      }
    }
  }
};

}  // namespace

Box CoverageGrid::bounds(std::size_t cell) const {
  const Cell& c = cells.at(cell);
  const double w = 360.0 / band_cells[c.band];
  return {-180.0 + c.column * w, -180.0 + (c.column + 1) * w, band_edge_deg[c.band],
          band_edge_deg[c.band + 1]};
}

CoverageGrid coverage_grid(const Plan& plan, const std::vector<Polygon>* land) {
  if (!plan.coverage) {
    throw Error(ErrorKind::usage, {" THE PLAN \"" + plan.path + "\" HAS NO [coverage] TABLE.",
                                   " EXECUTION INTERRUPTED."});
  }
  const PlanCoverage& pc = *plan.coverage;
  if (pc.land && land == nullptr) {
    plan::fail(plan.path, pc.line, "coverage.region",
               "\"coverage.region\" = \"land\" NEEDS THE LAND OF THE MAP DATA, WHICH THIS "
               "PROGRAM DOES NOT CARRY.");
  }
  const Authalic au;
  CoverageGrid g;
  g.cell_km = pc.cell_km;
  // Bands of one hemisphere, from the equator: nominal steps of authalic latitude, the cells
  // of each its area over cell_km^2 rounded, then the edges where the cells' areas add up.
  const auto half =
      static_cast<std::size_t>(std::max(1.0, std::round(kPi / 2.0 * au.radius_km / pc.cell_km)));
  if (half > 20000) too_many(plan);
  const double hemisphere = 2.0 * kPi * au.radius_km * au.radius_km;
  std::vector<std::uint64_t> per_band(half);
  std::uint64_t total = 0;
  for (std::size_t k = 0; k < half; ++k) {
    const double s0 = std::sin(static_cast<double>(k) * kPi / 2.0 / static_cast<double>(half));
    const double s1 = std::sin(static_cast<double>(k + 1) * kPi / 2.0 / static_cast<double>(half));
    per_band[k] = static_cast<std::uint64_t>(
        std::max(1.0, std::round(hemisphere * (s1 - s0) / (pc.cell_km * pc.cell_km))));
    total += per_band[k];
  }
  g.cell_area_km2 = hemisphere / static_cast<double>(total);
  // Sines of the authalic latitude of the northern edges, from the equator.
  std::vector<double> edge_sin(half + 1, 0.0);
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k < half; ++k) {
    sum += per_band[k];
    edge_sin[k + 1] = k + 1 == half ? 1.0 : static_cast<double>(sum) / static_cast<double>(total);
  }
  // South to north: band b < half is the mirror of northern band half - 1 - b.
  const std::size_t bands = 2 * half;
  g.band_edge_deg.resize(bands + 1);
  g.band_centre_deg.resize(bands);
  g.band_cells.resize(bands);
  g.band_first_id.resize(bands + 1);
  for (std::size_t b = 0; b <= bands; ++b) {
    const double s = b < half ? -edge_sin[half - b] : edge_sin[b - half];
    g.band_edge_deg[b] = au.geodetic_deg(s);
  }
  std::uint64_t id = 0;
  for (std::size_t b = 0; b < bands; ++b) {
    const std::size_t k = b < half ? half - 1 - b : b - half;
    const double s0 = b < half ? -edge_sin[k + 1] : edge_sin[k];
    const double s1 = b < half ? -edge_sin[k] : edge_sin[k + 1];
    g.band_centre_deg[b] = au.geodetic_deg(0.5 * (s0 + s1));
    g.band_cells[b] = static_cast<std::uint32_t>(per_band[k]);
    g.band_first_id[b] = id;
    id += per_band[k];
  }
  g.band_first_id[bands] = id;

  // The areas' cells.
  std::vector<double> gc_lat(bands);
  for (std::size_t b = 0; b < bands; ++b) {
    double lon = 0.0;
    corner_to_geocentric(0.0, g.band_centre_deg[b], lon, gc_lat[b]);
  }
  std::vector<std::vector<std::uint64_t>> area_ids;
  std::size_t counted = 0;
  if (pc.land) {
    CoverageGrid::Area a;
    a.id = "land";
    a.name = "Land (Natural Earth 1:50m)";
    g.areas.push_back(std::move(a));
    area_ids.emplace_back();
    Cells{g, gc_lat, area_ids.back(), plan, 2 * kMostCells}.land(*land);
    auto& ids = area_ids.back();
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    counted += ids.size();
    if (counted > kMostCells) too_many(plan);
  }
  for (const std::size_t i : pc.targets) {
    const Target& t = plan.targets.at(i);
    CoverageGrid::Area a;
    a.id = t.id;
    a.name = t.name;
    a.target = i;
    g.areas.push_back(std::move(a));
    area_ids.emplace_back();
    const plan::Prepared prepared = plan::prepare(t, plan.satellites.at(0).sensor, plan.interval);
    Cells{g, gc_lat, area_ids.back(), plan, 2 * (kMostCells - counted)}.target(prepared);
    auto& ids = area_ids.back();
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    counted += ids.size();
    if (counted > kMostCells) too_many(plan);
  }
  std::vector<std::uint64_t> all;
  for (const auto& ids : area_ids) all.insert(all.end(), ids.begin(), ids.end());
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  g.cells.reserve(all.size());
  std::size_t band = 0;
  for (const std::uint64_t cid : all) {
    while (g.band_first_id[band + 1] <= cid) ++band;
    CoverageGrid::Cell c;
    c.id = cid;
    c.band = static_cast<std::uint32_t>(band);
    c.column = static_cast<std::uint32_t>(cid - g.band_first_id[band]);
    c.lon_deg = -180.0 + (c.column + 0.5) * 360.0 / g.band_cells[band];
    c.lat_deg = g.band_centre_deg[band];
    g.cells.push_back(c);
  }
  for (std::size_t a = 0; a < g.areas.size(); ++a) {
    auto& cells = g.areas[a].cells;
    cells.reserve(area_ids[a].size());
    for (const std::uint64_t cid : area_ids[a]) {
      cells.push_back(
          static_cast<std::uint32_t>(std::lower_bound(all.begin(), all.end(), cid) - all.begin()));
    }
  }
  return g;
}

}  // namespace orvus
