// Coverage and revisit: the grid's areas against the ellipsoid's, the cells' accesses against
// their centres run as point targets and against random points of their cells, the covered
// fraction against the union of the swaths (Boost.Geometry), the revisit of a sun-synchronous
// orbit against the swath's width, and the files of orvus-plan.
#include "orvus/coverage.hpp"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/geometry/boost_geometry.hpp"
#include "core/plan/plan_internal.hpp"
#include "core/search/search.hpp"
#include "core/time/eop_table.hpp"
#include "orvus/analysis.hpp"
#include "orvus/elements.hpp"
#include "orvus/orbit.hpp"
#include "orvus/plan.hpp"
#include "test_support.hpp"

// Bytes held through operator new by every thread of this program, and their peak since it
// was last set (operator new and delete are replaced at the end of the file).
namespace alloc_count {
std::atomic<std::size_t> live{0}, peak{0};
}  // namespace alloc_count

namespace orvus {
namespace {

using test::data_path;
using test::eop;
using test::ScratchDir;

constexpr double kRad = M_PI / 180.0;

// A plan of one satellite over `deck` (CSV or GeoJSON) with `extra` TOML after it.
Plan coverage_plan(const ScratchDir& dir, const std::string& deck_name, const std::string& deck,
                   const std::string& satellite, const std::string& start, const std::string& end,
                   const std::string& extra) {
  dir.write(deck_name, deck);
  dir.write("plan.toml", "start = " + start + "\nend = " + end +
                             "\nutc_offset_hours = 0\nstep_s = 10.0\nearth_orientation = \"" +
                             data_path("finals2000A.data") + "\"\ntargets = \"" + deck_name +
                             "\"\noutput = \"out\"\n" + satellite + extra);
  return load_plan(dir.file("plan.toml"));
}

const std::string kAmazonia = "[[satellite]]\nname = \"AMAZONIA 1\"\nelements = \"" +
                              data_path("tle/amazonia1_2025.tle") +
                              "\"\nalpha_deg = 0.0\nbeta_deg = 60.0\n";
const std::string kLandsat = "[[satellite]]\nname = \"LANDSAT 8\"\nelements = \"" +
                             data_path("tle/landsat8_2024.tle") +
                             "\"\nalpha_deg = 0.0\nbeta_deg = 15.0\n";

// A polygon deck of one target.
std::string polygon_deck(const std::vector<GroundPoint>& ring) {
  std::string coords;
  for (const GroundPoint& g : ring) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s[%.6f,%.6f]", coords.empty() ? "" : ",", g.lon_deg,
                  g.lat_deg);
    coords += buf;
  }
  return "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"properties\":"
         "{\"id\":\"A\",\"name\":\"area\"},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[" +
         coords + "]]}}]}";
}

// ---- the grid ----------------------------------------------------------------------------

// Every cell has the area of its band over its cells, and that area, integrated on the WGS 84
// ellipsoid between the band's geodetic edges (dA = a^2 (1 - e^2) cos(phi) / (1 - e^2
// sin^2(phi))^2 dphi dlambda, Simpson's rule), is the grid's cell area; the cells add up to
// the ellipsoid's published area, 510,065,621.724 km^2 (NIMA TR8350.2, table 3.5).
TEST(CoverageGrid, CellsHaveTheEllipsoidsAreaEqually) {
  ScratchDir dir;
  const Plan plan =
      coverage_plan(dir, "d.csv", "id,name,lon1,lon2,lat1,lat2\nB,,-10,10,60,89\n", kLandsat,
                    "2025-07-01T00:00:00", "2025-07-01T00:01:00", "[coverage]\ncell_km = 97\n");
  const CoverageGrid g = coverage_grid(plan);
  const double a = 6378.137, f = 1 / 298.257223563, e2 = f * (2 - f);
  auto band_area = [&](double lat1, double lat2) {
    const int n = 2000;
    double sum = 0;
    for (int i = 0; i <= n; ++i) {
      const double phi = (lat1 + (lat2 - lat1) * i / n) * kRad, s = std::sin(phi);
      const double w = (i == 0 || i == n) ? 1 : (i % 2 ? 4 : 2);
      sum += w * std::cos(phi) / std::pow(1 - e2 * s * s, 2);
    }
    return 2 * M_PI * a * a * (1 - e2) * sum * (lat2 - lat1) * kRad / (3 * n);
  };
  const std::size_t bands = g.band_cells.size();
  ASSERT_EQ(g.band_edge_deg.front(), -90.0);
  ASSERT_EQ(g.band_edge_deg.back(), 90.0);
  for (std::size_t b = 0; b < bands; b += 7) {
    EXPECT_NEAR(band_area(g.band_edge_deg[b], g.band_edge_deg[b + 1]) / g.band_cells[b],
                g.cell_area_km2, 1e-7 * g.cell_area_km2)
        << "band " << b;
    // The centre halves the cell's area.
    EXPECT_NEAR(band_area(g.band_edge_deg[b], g.band_centre_deg[b]),
                band_area(g.band_centre_deg[b], g.band_edge_deg[b + 1]), 1e-6 * g.cell_area_km2);
  }
  EXPECT_NEAR(g.cell_area_km2 * static_cast<double>(g.band_first_id.back()), 510065621.724, 1.0);
  // The box's cells: centres inside it, ids and outlines consistent.
  ASSERT_FALSE(g.cells.empty());
  for (std::size_t c = 0; c < g.cells.size(); ++c) {
    const auto& cell = g.cells[c];
    const Box b = g.bounds(c);
    EXPECT_EQ(cell.id, g.band_first_id[cell.band] + cell.column);
    EXPECT_NEAR((b.lon1 + b.lon2) / 2, cell.lon_deg, 1e-9);
    EXPECT_TRUE(cell.lon_deg >= -10 && cell.lon_deg <= 10 && cell.lat_deg >= 60 &&
                cell.lat_deg <= 89);
  }
  EXPECT_NEAR(static_cast<double>(g.cells.size()) * g.cell_area_km2,
              20.0 / 360.0 * band_area(60, 89), 3e-2 * 20.0 / 360.0 * band_area(60, 89));
}

// ---- accesses -----------------------------------------------------------------------------

std::string points_deck(const CoverageGrid& g) {
  std::string deck = "id,name,lon,lat\n";
  for (std::size_t c = 0; c < g.cells.size(); ++c) {
    char row[96];
    std::snprintf(row, sizeof row, "C%zu,,%.17g,%.17g\n", c, g.cells[c].lon_deg,
                  g.cells[c].lat_deg);
    deck += row;
  }
  return deck;
}

// The cells' accesses are the contacts of their centres run as point targets (the contacts'
// best times are to the millisecond), each within 2e-5 s of the instant the exact line's plane
// passes over the centre (bisection on the line model); the constraints keep exactly the
// accesses whose Sun elevation (ERFA at the instant), |BEST ALPHA| and pass they allow.
TEST(CoverageAccesses, AreTheContactsOfTheCellCentresAsPointTargets) {
  ScratchDir dir;
  const std::string deck =
      polygon_deck({{-50, -20}, {-46, -20}, {-46, -16}, {-50, -16}, {-50, -20}});
  const Plan plan = coverage_plan(dir, "a.geojson", deck, kAmazonia, "2025-07-10T00:00:00",
                                  "2025-07-14T00:00:00", "[coverage]\ncell_km = 50\n");
  const CoverageGrid g = coverage_grid(plan);
  ASSERT_GT(g.cells.size(), 60U);
  const CoverageAccesses acc = coverage_accesses(plan, eop(), g, 0, 0, g.cells.size());
  ScratchDir pdir;
  const Plan points = coverage_plan(pdir, "p.csv", points_deck(g), kAmazonia, "2025-07-10T00:00:00",
                                    "2025-07-14T00:00:00", "");
  const auto contacts = plan_opportunities(points, eop(), 0, 0, points.targets.size());
  ASSERT_EQ(acc.cell.size(), contacts.size());
  ASSERT_EQ(acc.found, acc.cell.size());
  std::vector<std::vector<const Opportunity*>> by_cell(g.cells.size());
  for (const auto& o : contacts) by_cell[o.target].push_back(&o);
  SearchParams sp;
  search_setup(plan.satellites[0].sensor, Box{-180, 180, -90, 90}, plan.interval, sp);
  const Propagator orbit(plan.satellites[0].elements);
  const plan::LineModel model(sp, orbit, detail::eop_rows(eop()));
  double worst_root = 0.0;
  for (std::size_t i = 0; i < acc.cell.size(); ++i) {
    const auto& mine = by_cell[acc.cell[i]];
    const Opportunity* hit = nullptr;
    for (const Opportunity* o : mine)
      if (std::fabs(since_epoch(plan.interval.start, o->contact.best_utc) - acc.t[i]) < 6e-4)
        hit = o;
    ASSERT_NE(hit, nullptr) << "cell " << acc.cell[i] << " at " << acc.t[i];
    if (i % 7 != 0) continue;
    // The plane passes over the centre: bisection of n(t) . P to 1e-8 s.
    double gl = 0, gb = 0;
    corner_to_geocentric(g.cells[acc.cell[i]].lon_deg, g.cells[acc.cell[i]].lat_deg, gl, gb);
    const plan::V3 p = plan::unit(gl, gb);
    auto f = [&](double t) {
      const plan::SensorLine l = model.at(t);
      return l.n[0] * p[0] + l.n[1] * p[1] + l.n[2] * p[2];
    };
    double lo = acc.t[i] - 0.01, hi = acc.t[i] + 0.01;
    ASSERT_NE(f(lo) > 0, f(hi) > 0);
    while (hi - lo > 1e-8) ((f(0.5 * (lo + hi)) > 0) == (f(lo) > 0) ? lo : hi) = 0.5 * (lo + hi);
    worst_root = std::max(worst_root, std::fabs(lo - acc.t[i]));
  }
  EXPECT_LT(worst_root, 2e-5);
  EXPECT_GT(acc.cell.size(), 150U);

  // The constraints against the accesses they may keep.
  ScratchDir cdir;
  const Plan constrained = coverage_plan(
      cdir, "a.geojson", deck, kAmazonia, "2025-07-10T00:00:00", "2025-07-14T00:00:00",
      "[constraints]\nmin_sun_elevation_deg = -68\nmax_abs_best_alpha_deg = 22\n"
      "pass = \"A\"\n[coverage]\ncell_km = 50\n");
  const CoverageAccesses kept = coverage_accesses(constrained, eop(), g, 0, 0, g.cells.size());
  EXPECT_EQ(kept.found, acc.cell.size());
  std::size_t k = 0, by_sun = 0, by_alpha = 0, by_pass = 0;
  for (std::size_t i = 0; i < acc.cell.size(); ++i) {
    const auto& cell = g.cells[acc.cell[i]];
    const UtcInstant at{plan.interval.start.day, plan.interval.start.seconds + acc.t[i]};
    const double sun = sun_elevation_deg(normalise(at), cell.lon_deg, cell.lat_deg);
    const Opportunity* o = nullptr;
    for (const Opportunity* c : by_cell[acc.cell[i]])
      if (std::fabs(since_epoch(plan.interval.start, c->contact.best_utc) - acc.t[i]) < 6e-4) o = c;
    ASSERT_GT(std::fabs(sun + 68.0), 1e-3);
    if (sun < -68.0) {
      ++by_sun;
    } else if (std::fabs(o->contact.best_alpha_deg) > 22.0) {
      ++by_alpha;
    } else if (o->contact.pass != 'A') {
      ++by_pass;
    } else {
      ASSERT_LT(k, kept.cell.size());
      EXPECT_EQ(kept.cell[k], acc.cell[i]);
      EXPECT_EQ(kept.t[k], acc.t[i]);
      ++k;
    }
  }
  EXPECT_EQ(k, kept.cell.size());
  EXPECT_EQ(kept.by_sun, by_sun);
  EXPECT_EQ(kept.by_alpha, by_alpha);
  EXPECT_EQ(kept.by_pass, by_pass);
  EXPECT_GT(by_sun * by_alpha * by_pass * k, 0U);
}

// Random points of a polygon, each run as a point target, against the statistics of the cell
// that holds it: the swath's edge passes between a point and its cell's centre now and then,
// so an access may come or go, and the figures agree within one revisit of the cell.
TEST(CoverageAccesses, RandomPointsOfAPolygonMatchTheirCellsWithinOneRevisit) {
  ScratchDir dir;
  const std::vector<GroundPoint> ring = {{-55, -14},   {-51.5, -15}, {-51, -11.5},
                                         {-53, -12.5}, {-54.5, -11}, {-55, -14}};
  const Plan plan =
      coverage_plan(dir, "a.geojson", polygon_deck(ring), kAmazonia, "2025-07-10T00:00:00",
                    "2025-07-22T00:00:00", "[coverage]\ncell_km = 20\n");
  const CoverageGrid g = coverage_grid(plan);
  const CoverageResult r = run_coverage(plan, eop(), g);
  // Points drawn in the polygon's box, kept where their cell is one of the grid's.
  std::mt19937 rng(24);
  std::uniform_real_distribution<double> lon(-55, -51), lat(-15, -11);
  std::string deck = "id,name,lon,lat\n";
  std::vector<std::size_t> cell_of;
  while (cell_of.size() < 60) {
    const double x = lon(rng), y = lat(rng);
    const auto b = static_cast<std::size_t>(
        std::upper_bound(g.band_edge_deg.begin(), g.band_edge_deg.end(), y) -
        g.band_edge_deg.begin() - 1);
    const auto col = static_cast<std::uint64_t>((x + 180.0) / 360.0 * g.band_cells[b]);
    const std::uint64_t id = g.band_first_id[b] + col;
    const auto it =
        std::lower_bound(g.cells.begin(), g.cells.end(), id,
                         [](const CoverageGrid::Cell& c, std::uint64_t v) { return c.id < v; });
    if (it == g.cells.end() || it->id != id) continue;
    char row[96];
    std::snprintf(row, sizeof row, "P%zu,,%.6f,%.6f\n", cell_of.size(), x, y);
    deck += row;
    cell_of.push_back(static_cast<std::size_t>(it - g.cells.begin()));
  }
  ScratchDir pdir;
  const Plan points = coverage_plan(pdir, "p.csv", deck, kAmazonia, "2025-07-10T00:00:00",
                                    "2025-07-22T00:00:00", "");
  const auto contacts = plan_opportunities(points, eop(), 0, 0, points.targets.size());
  std::size_t same = 0, point_accesses = 0, cell_accesses = 0;
  for (std::size_t p = 0; p < cell_of.size(); ++p) {
    std::vector<double> t;
    for (const auto& o : contacts)
      if (o.target == p) t.push_back(since_epoch(plan.interval.start, o.contact.best_utc));
    std::sort(t.begin(), t.end());
    const CoverageCellStats& c = r.cells[cell_of[p]];
    ASSERT_GE(c.accesses, 2U);
    ASSERT_GE(t.size(), 2U);
    double max_gap = 0;
    for (std::size_t k = 1; k < t.size(); ++k) max_gap = std::max(max_gap, t[k] - t[k - 1]);
    const double mean_gap = (t.back() - t.front()) / static_cast<double>(t.size() - 1);
    // One revisit: a pass missed or gained adds or removes one gap.
    const double revisit = std::max(mean_gap, c.mean_revisit_s);
    EXPECT_NEAR(t.front(), c.first_s, revisit) << "point " << p;
    EXPECT_NEAR(mean_gap, c.mean_revisit_s, revisit) << "point " << p;
    EXPECT_NEAR(max_gap, c.max_revisit_s, revisit) << "point " << p;
    same += t.size() == c.accesses && std::fabs(t.front() - c.first_s) < 10.0;
    point_accesses += t.size();
    cell_accesses += c.accesses;
  }
  // Most points share every pass with their cell's centre, and the accesses add up alike.
  EXPECT_GT(same, cell_of.size() * 3 / 4);
  EXPECT_NEAR(static_cast<double>(point_accesses), static_cast<double>(cell_accesses),
              0.05 * static_cast<double>(cell_accesses));
}

// The fraction of a polygon covered by the end of a run is the area of the union of the
// acquired swaths (each opportunity's ring of points (1) and (2), kept by the same
// constraint) clipped to the polygon, on a Lambert azimuthal equal-area projection, within
// the grid's resolution: the boundary of the covered part times the cell's size, over the
// area.
TEST(CoverageFraction, IsTheUnionOfTheAcquiredSwathsClippedToTheTarget) {
  namespace bg = boost::geometry;
  using Pt = bg::model::d2::point_xy<double>;
  using Poly = bg::model::polygon<Pt>;
  using Multi = bg::model::multi_polygon<Poly>;
  const double lon0 = -50 * kRad, lat0 = -10 * kRad, R = 6371.0;
  auto project = [&](const GroundPoint& g) {  // km, on the sphere of the Earth's mean radius
    const double lon = g.lon_deg * kRad - lon0, lat = g.lat_deg * kRad;
    const double k = std::sqrt(
        2 / (1 + std::sin(lat0) * std::sin(lat) + std::cos(lat0) * std::cos(lat) * std::cos(lon)));
    return Pt(
        R * k * std::cos(lat) * std::sin(lon),
        R * k * (std::cos(lat0) * std::sin(lat) - std::sin(lat0) * std::cos(lat) * std::cos(lon)));
  };
  const std::vector<GroundPoint> ring = {{-53, -13}, {-47, -13.5},  {-46.5, -7},
                                         {-50, -9},  {-53.5, -6.5}, {-53, -13}};
  ScratchDir dir;
  const Plan plan = coverage_plan(dir, "a.geojson", polygon_deck(ring), kLandsat,
                                  "2025-07-10T00:00:00", "2025-07-16T00:00:00",
                                  "[constraints]\npass = \"D\"\n[coverage]\ncell_km = 8\n");
  const CoverageGrid g = coverage_grid(plan);
  const CoverageResult r = run_coverage(plan, eop(), g);
  const auto kept = run_plan(plan, eop());
  ASSERT_GT(kept.size(), 2U);
  Poly target;
  for (const GroundPoint& p : ring) target.outer().push_back(project(p));
  bg::correct(target);
  Multi swaths;
  for (const Opportunity& o : kept) {
    for (const Ring& sr : o.swath) {
      Poly q;
      for (const GroundPoint& p : sr) q.outer().push_back(project(p));
      bg::correct(q);
      Multi u;
      bg::union_(swaths, q, u);
      swaths = std::move(u);
    }
  }
  Multi covered;
  bg::intersection(swaths, target, covered);
  const double expected = bg::area(covered) / bg::area(target);
  const double fraction = static_cast<double>(r.areas[0][0].first_s.size()) /
                          static_cast<double>(g.areas[0].cells.size());
  const double resolution = bg::perimeter(covered) * g.cell_km / bg::area(target);
  EXPECT_GT(expected, 0.2);
  EXPECT_LT(expected, 0.8);
  EXPECT_NEAR(fraction, expected, resolution);
}

// ---- revisit ------------------------------------------------------------------------------

// A sun-synchronous orbit (Amazonia 1, i = 98.4 deg, looking 30 deg to either side) over a band
// of cells around the whole Earth at the equator and at 70 N: the cells' mean revisit against
// the swath-width estimate. A pass across latitude phi sweeps a band of width w (the arc from
// point (1) to point (2), w = R (asin(r sin a2 / R) - a2 - asin(r sin a1 / R) + a1)) across the
// Earth-relative ground track, whose heading A' follows from the inertial heading (sin A =
// cos i / cos phi) and the Earth's turn under it; along the parallel it covers w / |cos A'|.
// Two passes an orbit, so a point is seen 2 n w / (|cos A'| 2 pi R cos phi) times a day.
TEST(CoverageRevisit, MatchesTheSwathWidthAtTheEquatorAndAt70Degrees) {
  const ElementSet el = read_elements(data_path("tle/amazonia1_2025.tle"));
  const double n = el.mean_motion;                   // rad/s
  const double a = std::cbrt(398600.8e9 / (n * n));  // m
  const double i = el.inclination;
  for (const double phi : {0.0, 70.0}) {
    ScratchDir dir;
    char box[128];
    std::snprintf(box, sizeof box, "id,name,lon1,lon2,lat1,lat2\nBAND,,-180,180,%g,%g\n", phi - 0.6,
                  phi + 0.6);
    const Plan plan = coverage_plan(dir, "d.csv", box, kAmazonia, "2025-07-10T00:00:00",
                                    "2025-08-05T00:00:00", "[coverage]\ncell_km = 60\n");
    const CoverageGrid g = coverage_grid(plan);
    const CoverageResult r = run_coverage(plan, eop(), g);
    double sum = 0;
    for (const auto& c : r.cells) sum += c.mean_revisit_s;
    const double measured_h = sum / static_cast<double>(r.cells.size()) / 3600.0;

    const double lat = phi * kRad;
    const double gc = std::atan(0.99330562 * std::tan(lat));  // geocentric latitude
    const double R = 6356752.3 + (6378137.0 - 6356752.3) * std::cos(gc);
    const double width = R * (std::asin(a * std::sin(30 * kRad) / R) - 30 * kRad) * 2;
    const double sin_a = std::cos(i) / std::cos(gc);
    const double v = R * n;
    const double north = v * std::sqrt(1 - sin_a * sin_a);
    const double east = v * sin_a - 7.2921159e-5 * R * std::cos(gc);
    const double cos_heading = north / std::hypot(north, east);
    const double per_day =
        2.0 * n * 86400.0 / (2 * M_PI) * width / cos_heading / (2 * M_PI * R * std::cos(gc));
    const double expected_h = 24.0 / per_day;
    EXPECT_NEAR(measured_h, expected_h, 0.02 * expected_h) << "latitude " << phi;
  }
}

// ---- memory -------------------------------------------------------------------------------

// A run's memory follows its cells, not its accesses: two satellites over polar cells for 40
// days find four times the accesses of 10 days, and need little more memory (the largest of
// more blocks of the sweep), where a list of the accesses would grow with them.
TEST(CoverageMemory, FollowsTheCellsNotTheAccesses) {
  const auto run = [](const std::string& end) {
    ScratchDir dir;
    const Plan plan = coverage_plan(dir, "d.csv", "id,name,lon1,lon2,lat1,lat2\nP,,0,40,70,76\n",
                                    kAmazonia + kLandsat, "2025-07-10T00:00:00", end,
                                    "[coverage]\ncell_km = 15\n");
    const CoverageGrid g = coverage_grid(plan);
    const std::size_t base = alloc_count::live.load();
    alloc_count::peak.store(base);
    const CoverageResult r = run_coverage(plan, eop(), g);
    return std::make_pair(static_cast<double>(alloc_count::peak.load() - base),
                          static_cast<double>(r.kept));
  };
  const auto [short_peak, short_kept] = run("2025-07-20T00:00:00");
  const auto [long_peak, long_kept] = run("2025-08-19T00:00:00");
  ASSERT_GT(long_kept, 3.0 * short_kept);
  // A list of the accesses takes 12 bytes or more for each (a cell and a time; 25 in all as
  // they were kept), the figures of a cell none: 0.9 to 4 bytes an extra access here.
  EXPECT_LT(long_peak - short_peak, 8.0 * (long_kept - short_kept));
}

// ---- parts, plans and files ---------------------------------------------------------------

std::string text_of(const std::function<void(std::ostream&)>& write) {
  std::ostringstream out;
  write(out);
  return out.str();
}

// Cells split across tasks and carried as bytes give the whole run's files; parts that miss
// or repeat cells are refused.
TEST(CoverageParts, AnySplitGivesTheSameFilesAndMissingPartsAreRefused) {
  ScratchDir dir;
  const Plan plan = coverage_plan(
      dir, "d.csv", "id,name,lon1,lon2,lat1,lat2\nA,,-50,-44,-20,-14\nB,,-47,-40,-17,-12\n",
      kAmazonia + kLandsat, "2025-07-10T00:00:00", "2025-07-13T00:00:00",
      "[coverage]\ncell_km = 40\n");
  const CoverageGrid g = coverage_grid(plan);
  ASSERT_EQ(g.areas.size(), 2U);
  const CoverageResult whole = run_coverage(plan, eop(), g);
  std::vector<CoverageAccesses> parts;
  const std::size_t n = g.cells.size(), cuts[3] = {0, n / 3, n};
  for (std::size_t s = 0; s < 2; ++s)
    for (int k = 0; k < 2; ++k)
      parts.push_back(deserialize_coverage_accesses(
          serialize_coverage_accesses(coverage_accesses(plan, eop(), g, s, cuts[k], cuts[k + 1]))));
  const CoverageResult joined = coverage_statistics(plan, g, parts);
  for (const auto& w : std::vector<std::function<void(const CoverageResult&, std::ostream&)>>{
           [&](const CoverageResult&r, std::ostream&o) { write_coverage_cells_csv(plan, g, r, o); },
           [&](const CoverageResult&r, std::ostream&o) { write_coverage_csv(plan, g, r, o); },
           [&](const CoverageResult&r, std::ostream&o) {
             write_coverage_summary_csv(plan, g, r, o);
           }}) {
    EXPECT_EQ(text_of([&](std::ostream& o) { w(whole, o); }),
              text_of([&](std::ostream& o) { w(joined, o); }));
  }
  // Overlapping boxes share cells, whose figures are the same in both.
  EXPECT_GT(g.areas[0].cells.size() + g.areas[1].cells.size(), n);
  parts.pop_back();
  EXPECT_THROW(coverage_statistics(plan, g, parts), Error);
  parts.push_back(parts.front());
  EXPECT_THROW(coverage_statistics(plan, g, parts), Error);
  std::string bytes = serialize_coverage_accesses(parts[0]);
  bytes.pop_back();
  EXPECT_THROW(deserialize_coverage_accesses(bytes), Error);
}

// reached_P_utc is the first instant by which at least P % of the area's cells are imaged:
// the earliest first access t for which 100 times the cells first imaged by t reaches P times
// the area's cells. On an area of an odd number of cells no P % is a whole number of cells,
// and the cells' first accesses differ around each threshold: a cell too few or too many
// gives another time.
TEST(CoverageSummary, ReachedTimesAreWhenThePercentOfTheCellsIsFirstImaged) {
  ScratchDir dir;
  const Plan plan =
      coverage_plan(dir, "d.csv", "id,name,lon1,lon2,lat1,lat2\nA,,-50,-47,-20,-17\n", kAmazonia,
                    "2025-07-10T00:00:00", "2025-07-16T00:00:00", "[coverage]\ncell_km = 23\n");
  const CoverageGrid g = coverage_grid(plan);
  const std::size_t n = g.areas[0].cells.size();
  ASSERT_EQ(n % 2, 1U);
  const CoverageResult r = run_coverage(plan, eop(), g);
  const auto rows = [](const std::string& text) {
    std::vector<std::vector<std::string>> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      out.emplace_back();
      std::istringstream fields(line + ",");
      for (std::string f; std::getline(fields, f, ',');) out.back().push_back(f);
    }
    return out;
  };
  std::vector<std::string> first;  // the cells' first accesses, as written
  for (const auto& row :
       rows(text_of([&](std::ostream& o) { write_coverage_cells_csv(plan, g, r, o); })))
    if (row[0] == "A" && !row[6].empty()) first.push_back(row[6]);
  std::sort(first.begin(), first.end());
  ASSERT_GT(first.size() * 100, 99 * n);
  const auto summary =
      rows(text_of([&](std::ostream& o) { write_coverage_summary_csv(plan, g, r, o); }));
  ASSERT_EQ(summary.size(), 3U);  // the header, all, the satellite
  for (std::size_t row = 1; row < summary.size(); ++row) {
    for (const auto& [percent, column] : {std::pair{50, 7}, {90, 8}, {99, 9}, {100, 10}}) {
      std::size_t k = 0;
      while (k < first.size() && (k + 1) * 100 < static_cast<std::size_t>(percent) * n) ++k;
      const bool reached = k < first.size();
      EXPECT_EQ(summary[row][column], reached ? first[k] : "") << percent << " %";
      if (!reached) continue;
      ASSERT_GT(k, 0U);
      ASSERT_NE(first[k], first[k - 1]) << percent << " %: choose another area";
      if (k + 1 < first.size()) {
        ASSERT_NE(first[k], first[k + 1]) << percent << " %: choose another area";
      }
    }
  }
}

TEST(CoveragePlan, BadTablesStopNamingKeyAndLine) {
  const std::string deck = "id,name,lon1,lon2,lat1,lat2\nA,,-50,-44,-20,-14\nB,,-47,-40,-17,-12\n";
  const std::pair<std::string, std::string> cases[] = {
      {"[coverage]\ncell_km = 0.5\n", "LINE 14: \"coverage.cell_km\" MUST LIE BETWEEN 1 AND 1000"},
      {"[coverage]\nregion = \"land\"\n", "LINE 13: MISSING KEY \"coverage.cell_km\""},
      {"[coverage]\ncell_km = 5\nsize = 3\n", "LINE 15: UNKNOWN KEY \"coverage.size\""},
      {"[coverage]\ncell_km = 5\nregion = \"sea\"\n", "\"coverage.region\" MUST BE \"land\""},
      {"[coverage]\ncell_km = 5\nregion = \"land\"\ntargets = [\"A\"]\n",
       "\"coverage.region\" AND \"coverage.targets\" EXCLUDE EACH OTHER"},
      {"[coverage]\ncell_km = 5\ntargets = [\"A\", \"C\"]\n",
       "LINE 15: \"coverage.targets\" NAMES NO TARGET OF THE DECK (\"C\")"},
      {"[coverage]\ncell_km = 5\ntargets = [\"B\", \"B\"]\n", "NAMES TARGET \"B\" TWICE"},
      {"[coverage]\ncell_km = 5\ntargets = []\n", "MUST BE AN ARRAY OF ONE OR MORE TARGET IDS"},
      {"[[coverage]]\ncell_km = 5\n", "LINE 13: \"coverage\" MUST BE A TABLE [coverage]"},
  };
  for (const auto& [extra, message] : cases) {
    ScratchDir dir;
    std::string text;
    try {
      coverage_plan(dir, "d.csv", deck, kLandsat, "2025-07-10T00:00:00", "2025-07-11T00:00:00",
                    extra);
    } catch (const Error& e) {
      for (const auto& l : e.lines()) text += l;
    }
    EXPECT_NE(text.find(message), std::string::npos) << extra << " gave: " << text;
  }
  // Points are not areas; a grid too fine for its areas stops before the sweep.
  ScratchDir dir;
  const std::string points = "id,name,lon,lat\nP,,-47,-15\n";
  EXPECT_THROW(coverage_plan(dir, "p.csv", points, kLandsat, "2025-07-10T00:00:00",
                             "2025-07-11T00:00:00", "[coverage]\ncell_km = 5\n"),
               Error);
  const Plan huge =
      coverage_plan(dir, "d.csv", "id,name,lon1,lon2,lat1,lat2\nW,,-180,180,-90,90\n", kLandsat,
                    "2025-07-10T00:00:00", "2025-07-11T00:00:00", "[coverage]\ncell_km = 5\n");
  EXPECT_THROW(coverage_grid(huge), Error);
}

// orvus-plan writes the four files with the others, over the land too, and a run of a plan
// without [coverage] takes earlier ones away.
TEST(CoverageFiles, OrvusPlanWritesThemAndALaterRunWithoutCoverageRemovesThem) {
  ScratchDir dir;
  coverage_plan(dir, "d.csv", "id,name,lon1,lon2,lat1,lat2\nA,,-50,-44,-20,-14\n", kLandsat,
                "2025-07-10T00:00:00", "2025-07-12T00:00:00",
                "[coverage]\ncell_km = 400\nregion = \"land\"\n");
  const std::string command =
      "'" + std::string(ORVUS_PLAN_BINARY) + "' '" + dir.file("plan.toml") + "'";
  const auto r = test::run_command(command);
  ASSERT_EQ(r.status, 0) << r.output;
  const auto cells = test::read_lines(dir.file("out/coverage_cells.csv"));
  ASSERT_GT(cells.size(), 800U);  // the land is 29 % of the Earth's 3,200 cells of 400 km
  EXPECT_LT(cells.size(), 1100U);
  EXPECT_EQ(cells[0],
            "target_id,cell_id,lon,lat,area_km2,accesses,first_access_utc,mean_revisit_h,"
            "max_revisit_h,start_gap_h,end_gap_h");
  EXPECT_EQ(cells[1].rfind("land,", 0), 0U);
  for (const char* f : {"coverage_cells.geojson", "coverage.csv", "coverage_summary.csv"})
    EXPECT_TRUE(std::filesystem::exists(dir.file(std::string("out/") + f))) << f;
  EXPECT_NE(r.output.find("ORVUS-PLAN: COVERAGE:"), std::string::npos) << r.output;
  EXPECT_NE(test::read_file(dir.file("out/opportunities.html")).find("\"coverage\":"),
            std::string::npos);
  coverage_plan(dir, "d.csv", "id,name,lon1,lon2,lat1,lat2\nA,,-50,-44,-20,-14\n", kLandsat,
                "2025-07-10T00:00:00", "2025-07-12T00:00:00", "");
  ASSERT_EQ(test::run_command(command).status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out/coverage_cells.csv")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out/coverage_summary.csv")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("out/opportunities.csv")));
}

}  // namespace
}  // namespace orvus

// Counted allocation for CoverageMemory: malloc, with the block's usable size added to the
// live bytes (and the peak) and taken off on release.
namespace {
void* counted(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  const std::size_t now =
      alloc_count::live.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
  std::size_t seen = alloc_count::peak.load();
  while (now > seen && !alloc_count::peak.compare_exchange_weak(seen, now)) {
  }
  return p;
}
void uncounted(void* p) noexcept {
  if (p == nullptr) return;
  alloc_count::live.fetch_sub(malloc_usable_size(p));
  std::free(p);
}
}  // namespace

void* operator new(std::size_t n) {
  return counted(n);
}
void* operator new[](std::size_t n) {
  return counted(n);
}
void operator delete(void* p) noexcept {
  uncounted(p);
}
void operator delete[](void* p) noexcept {
  uncounted(p);
}
void operator delete(void* p, std::size_t) noexcept {
  uncounted(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  uncounted(p);
}
// The nothrow forms too (std::stable_sort's buffer): every block this program frees through
// the replaced delete came from the replaced new.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return counted(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
  return operator new(n, t);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  uncounted(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  uncounted(p);
}
