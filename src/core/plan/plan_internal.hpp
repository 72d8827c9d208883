// The planner's internals: targets prepared for the sweep (geocentric geometry, bounding
// boxes, search parameters), the exact in-target tests of both rules, the sweep itself.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/search.hpp"
#include "orvus/error.hpp"
#include "orvus/plan.hpp"

namespace orvus::plan {

using V3 = std::array<double, 3>;

// Unit vector of geocentric longitude and latitude (degrees).
V3 unit(double lon_deg, double lat_deg);

// A geocentric box in degrees: a target's bounding boxes lie within [-180, 180]; a box grown
// past +-180 also holds the longitudes one turn away.
struct BBox {
  double lon1 = 0, lon2 = 0, lat1 = 0, lat2 = 0;
};

// A target ready for the sweep.
struct Prepared {
  SearchParams p;  // the target's search (a box, or a point box at the polygon's centroid)
  bool is_box = true;
  // Polygons: rings of geocentric degrees and unit vectors (edges are great-circle arcs).
  struct Ring {
    std::vector<double> lon, lat;
    std::vector<V3> v;
  };
  std::vector<std::vector<Ring>> polys;
  std::vector<BBox> boxes;  // conservative bounding boxes (split at +-180)
};

// Box tests on geocentric degrees with every bound included; a box reaching past +-180 also
// holds the longitudes one turn away (as in_box).
bool in_bbox(const BBox& b, double lon, double lat);
// The short great-circle arc between two geocentric points (degrees): its start A, the
// in-plane unit E perpendicular to A toward the end, and its angle (rad; 0 when degenerate).
struct Arc {
  double lon1 = 0, lat1 = 0, lon2 = 0, lat2 = 0;
  V3 a{}, e{};
  double len = 0;
};
Arc make_arc(double lon1, double lat1, double lon2, double lat2);
// Whether the arc meets the box (an end inside, or an edge crossed).
bool arc_meets_bbox(const BBox& b, const Arc& arc);

// How far (degrees) a tracking point computed from the cheap state of the sweep (SGP8 and
// the mean sidereal time of UTC) can lie from the exact one. The exact frame is the cheap one
// turned about the pole by the equation of the equinoxes (IAU 2006/2000A: under 17.5" over
// 1950-2100, sampled every 0.05 d; 20" taken) plus the Earth's turn in UT1 - UTC and s' (under 0.1
// mas a century), then tilted by the polar motion. A turn about the pole moves a point along its
// parallel; the tilt moves it by at most its angle.
struct FrameGap {
  double turn = 0;  // longitude, deg
  double tilt = 0;  // any direction, deg (with room for rounding and the local radius)
};

// The gap for the table's rows within the MJD range [mjd1, mjd2] (UTC) and two days around;
// infinite when no row or a value is not finite there.
FrameGap frame_gap(const EopRows& table, double mjd1, double mjd2);
// The box grown by the gap: every exact point inside `b` has its cheap point inside.
BBox near_box(const BBox& b, const FrameGap& g);

// Prepares a target for the sensor and interval of one satellite.
Prepared prepare(const Target& t, const Sensor& sensor, const Interval& interval);

// Whether a geocentric point lies in the target (box: orvus's own test).
bool point_in(const Prepared& t, double lon, double lat);
// Whether the great-circle arc between two geocentric points touches the target.
bool arc_touches(const Prepared& t, double lon1, double lat1, double lon2, double lat2);

// Geodetic polygon helpers: area centroid, coverage of a swath (side 1 forward, side 2
// back), validity.
GroundPoint polygons_centroid(const std::vector<Polygon>& polys);
double polygons_coverage(const std::vector<Polygon>& polys, const GroundPoint& centre,
                         const std::vector<GroundPoint>& side1,
                         const std::vector<GroundPoint>& side2);

// The sweep of one satellite over targets [first, last): contact events of target i go to
// sinks[i - first].
void sweep(const Plan& plan, const EarthOrientation& eop, std::size_t satellite, std::size_t first,
           std::size_t last, const std::vector<ContactSink*>& sinks,
           const std::function<void(double)>& progress, int threads = 1);

// The threads a search uses by default: the hardware's.
int default_threads();

// " ERROR IN "file", LINE n: what" as an input error.
[[noreturn]] void fail(const std::string& file, long line, const std::string& key,
                       const std::string& what, const std::string& where_word = "LINE");

std::string number_text(double v);

// A CSV field: quoted (and its quotes doubled) when it holds a comma, a quote or a line end.
std::string csv_text(const std::string& s);

}  // namespace orvus::plan
