// Land and country borders of Natural Earth 1:50m from the embedded world-atlas TopoJSON.
#pragma once

#include <vector>

#include "outputs/map_page.hpp"

namespace orvus::page {

struct WorldOutlines {
  // Longitudes continuous along each line: within [-180, 180] but for the few that cross it.
  std::vector<Line> land;     // closed rings
  std::vector<Line> borders;  // lines shared by two countries
};

// Decoded once, on first use. TopoJSON arcs are quantized and delta-encoded: position k of an
// arc is the sum of its first k + 1 pairs, times `scale` plus `translate` (degrees).
const WorldOutlines& world_outlines();

// The land as polygons (outer ring, then holes), for measures over it: each ring continuous
// in longitude (one across +-180 runs beyond it), a ring that goes around a pole (Antarctica)
// closed along that pole. A point is land when it, or the point a turn east or west, lies
// inside an odd number of the rings. Decoded once, on first use.
const std::vector<std::vector<Line>>& land_polygons();

// The part of a closed ring inside the window (Sutherland-Hodgman; a ring wholly outside
// is empty). Longitudes are taken as they are: shift a ring by 360 deg before if needed.
Line clip_ring(const Line& ring, double lon_min, double lon_max, double lat_min, double lat_max);

// The parts of a line inside the window.
std::vector<Line> clip_line(const Line& line, double lon_min, double lon_max, double lat_min,
                            double lat_max);

}  // namespace orvus::page
