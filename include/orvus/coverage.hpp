// Coverage and revisit over areas: an equal-area grid of cells over a plan's boxes and
// polygons (or the land), each cell centre a point target of the swath rule in continuous
// time under the plan's constraints; per cell its accesses and revisit gaps, per area the
// fraction imaged at least once as time goes on, for all the satellites together and for
// each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <limits>
#include <string>
#include <vector>

#include "orvus/earth_orientation.hpp"
#include "orvus/export.hpp"
#include "orvus/plan.hpp"
#include "orvus/search.hpp"

namespace orvus {

// The grid. Latitude bands of equal steps of authalic latitude on the WGS 84 ellipsoid, about
// cell_km high, each cut into n equal cells of longitude, n the band's area over cell_km^2
// rounded; the band edges then moved (in authalic latitude) so that every cell of the Earth
// has the same area, the ellipsoid's area over the number of cells (J. P. Snyder, "Map
// Projections: A Working Manual", USGS Professional Paper 1395, 1987, eqs. 3-11 to 3-18). A
// cell's point is its centre: the middle longitude and the latitude that halves its area.
struct CoverageGrid {
  double cell_km = 0.0;        // as the plan asks
  double cell_area_km2 = 0.0;  // the area of every cell
  // The bands from the south pole to the north pole: their edges (geodetic latitude,
  // degrees; one more than the bands), their cells' centre latitude, their cells, and the id
  // of their first cell. Ids number the cells of the whole Earth band after band from the
  // south, west to east from 180 W within a band: id = band_first_id[band] + column.
  std::vector<double> band_edge_deg, band_centre_deg;
  std::vector<std::uint32_t> band_cells;
  std::vector<std::uint64_t> band_first_id;

  struct Cell {
    std::uint64_t id = 0;
    std::uint32_t band = 0, column = 0;
    double lon_deg = 0.0, lat_deg = 0.0;  // the centre, geodetic
  };
  std::vector<Cell> cells;  // the cells of every area, each once, in the order of their ids

  static constexpr std::size_t kLand = std::numeric_limits<std::size_t>::max();
  struct Area {
    std::string id, name;
    std::size_t target = kLand;        // index into Plan::targets, or kLand
    std::vector<std::uint32_t> cells;  // its cells: indices into `cells`, ascending
  };
  std::vector<Area> areas;  // the plan's areas in the deck's order, or the land

  // The cell's outline: longitudes lon1 to lon2 and latitudes lat1 to lat2 (degrees).
  [[nodiscard]] Box bounds(std::size_t cell) const;
};

// The grid over the plan's [coverage] areas: the cells whose centre lies inside each box or
// polygon (as the swath rule tests a point: geocentric, great-circle edges). For region =
// "land", `land` gives the land: polygons of geodetic degrees whose rings may run beyond
// +-180 where they cross it and are closed along the pole they go around; a centre is land
// when it, or the point a turn east or west, lies inside an odd number of their rings.
// Raises Error when the plan has no [coverage] table, when it asks for the land and none is
// given, or when the areas hold more than 4,000,000 cells (naming "coverage.cell_km").
ORVUS_API CoverageGrid coverage_grid(const Plan& plan, const std::vector<Polygon>* land = nullptr);

// The accesses of satellite `satellite` to the grid's cells [first, last): the instants the
// sensor line passes over a cell's centre within its arc (as a point target's contacts),
// those the plan's constraints keep (Sun elevation at the cell, |BEST ALPHA|, pass; a
// point's access lasts an instant, so min_duration_s does not apply). Sorted by cell, then
// time. Thread-safe; it computes on the machine's threads. `progress` as for
// plan_opportunities.
struct CoverageAccesses {
  std::size_t satellite = 0;
  std::size_t first = 0, last = 0;  // the cells swept
  std::vector<std::uint32_t> cell;  // per access: index into CoverageGrid::cells
  std::vector<double> t;            // per access: seconds from the plan's start (UTC)
  // Accesses found, and removed by each constraint (the first it fails: Sun, roll, pass).
  std::size_t found = 0, by_sun = 0, by_alpha = 0, by_pass = 0;
};
ORVUS_API CoverageAccesses coverage_accesses(const Plan& plan, const EarthOrientation& eop,
                                             const CoverageGrid& grid, std::size_t satellite,
                                             std::size_t first, std::size_t last,
                                             const std::function<void(double)>& progress = {});

// Per cell, by every satellite together. Times in seconds from the plan's start; NaN where
// there is none (no access; a revisit needs two).
struct CoverageCellStats {
  std::uint32_t accesses = 0;
  double first_s = std::numeric_limits<double>::quiet_NaN();
  double last_s = std::numeric_limits<double>::quiet_NaN();
  double mean_revisit_s = std::numeric_limits<double>::quiet_NaN();  // mean gap between accesses
  double max_revisit_s = std::numeric_limits<double>::quiet_NaN();   // longest such gap
};

// One area seen by every satellite together (satellite = kAll) or by one.
struct CoverageSeries {
  static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
  std::size_t satellite = kAll;
  std::uint64_t accesses = 0;     // accesses to the area's cells
  std::uint32_t first_cells = 0;  // cells this satellite imaged first of all (ties: the
                                  // satellite earlier in the plan); for kAll, those covered
  std::vector<double> first_s;    // first-access time of every cell covered, ascending
};

struct CoverageResult {
  double span_s = 0.0;                             // the plan's interval
  std::vector<CoverageCellStats> cells;            // per grid cell
  std::vector<std::vector<CoverageSeries>> areas;  // per area: kAll, then each satellite
  std::size_t found = 0, kept = 0, by_sun = 0, by_alpha = 0, by_pass = 0;
};

// The statistics of accesses computed apart (any split of the cells, per satellite): the
// same whatever the split. Raises Error unless the parts of each satellite cover every cell
// of the grid exactly once.
ORVUS_API CoverageResult coverage_statistics(const Plan& plan, const CoverageGrid& grid,
                                             const std::vector<CoverageAccesses>& parts);

// Every satellite over every cell on this machine: the satellites' sweeps run at once and their
// accesses go to each cell's figures in time order as they come, never kept in a list, so the
// memory follows the cells (a few hundred bytes a cell), not the accesses. The same figures as
// coverage_statistics over any parts. `progress`, on the calling thread, with the share of the
// whole.
ORVUS_API CoverageResult run_coverage(const Plan& plan, const EarthOrientation& eop,
                                      const CoverageGrid& grid,
                                      const std::function<void(double)>& progress = {});

// The time (s from the start) the series covers `percent` of the area's cells, or NaN.
ORVUS_API double coverage_reached_s(const CoverageSeries& series, std::size_t cells, int percent);

// The files: coverage_cells.csv
// (target_id,cell_id,lon,lat,area_km2,accesses,first_access_utc,mean_revisit_h,max_revisit_h,
// start_gap_h,end_gap_h), coverage_cells.geojson (each row as a cell polygon), coverage.csv
// (per area and series, the covered fraction as it grows) and coverage_summary.csv (per area
// and series, the fraction covered and when it reached 50, 90, 99 and 100 %).
ORVUS_API void write_coverage_cells_csv(const Plan& plan, const CoverageGrid& grid,
                                        const CoverageResult& result, std::ostream& out);
ORVUS_API void write_coverage_cells_geojson(const Plan& plan, const CoverageGrid& grid,
                                            const CoverageResult& result, std::ostream& out);
ORVUS_API void write_coverage_csv(const Plan& plan, const CoverageGrid& grid,
                                  const CoverageResult& result, std::ostream& out);
ORVUS_API void write_coverage_summary_csv(const Plan& plan, const CoverageGrid& grid,
                                          const CoverageResult& result, std::ostream& out);

// Accesses as bytes and back, exactly (for parts computed in other processes).
ORVUS_API std::string serialize_coverage_accesses(const CoverageAccesses& part);
ORVUS_API CoverageAccesses deserialize_coverage_accesses(const std::string& bytes);

}  // namespace orvus
