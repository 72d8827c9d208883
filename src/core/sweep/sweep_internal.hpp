// The sweeps' internals: targets prepared for the sweep (geocentric geometry, bounding boxes,
// search parameters), the exact in-target tests of both rules, the sweeps of both rules and
// the opportunities they find, and the checks of a plan they start with.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/frames/earth_rotation.hpp"
#include "core/search/analysis_internal.hpp"
#include "core/search/search.hpp"
#include "orvus/error.hpp"
#include "orvus/plan.hpp"

namespace orvus::plan {

using V3 = std::array<double, 3>;

// The instant so many seconds after another (orvus/time.hpp), also named plan::after.
using orvus::after;

// Unit vector of geocentric longitude and latitude (degrees).
V3 unit(double lon_deg, double lat_deg);

// A geocentric box in degrees: a target's bounding boxes lie within [-180, 180]; a box grown
// past +-180 also holds the longitudes one turn away.
struct BBox {
  double lon1 = 0, lon2 = 0, lat1 = 0, lat2 = 0;
};

// A target ready for the sweep.
struct Prepared {
  enum class Kind { box, polygons, points, lines };
  SearchParams p;  // the target's search (a box, or a point box at the centre of the others)
  Kind kind = Kind::box;
  // Rings and lines of geocentric degrees and unit vectors (edges are great-circle arcs).
  struct Ring {
    std::vector<double> lon, lat;
    std::vector<V3> v;
  };
  std::vector<std::vector<Ring>> polys;  // polygons: outer ring, then holes
  std::vector<Ring> lines;               // lines: open polylines
  std::vector<V3> points;                // points: unit vectors
  V3 centre{};                           // the geocentric centre, unit vector
  std::vector<BBox> boxes;               // conservative bounding boxes (split at +-180)
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
// A box target of a search's own parameters (its box, sensor and interval).
Prepared prepare_box(const SearchParams& p);

// Whether a geocentric point lies in the target (box: orvus's own test).
bool point_in(const Prepared& t, double lon, double lat);
// Whether the great-circle arc between two geocentric points touches the target.
bool arc_touches(const Prepared& t, double lon1, double lat1, double lon2, double lat2);

// ---- the swath rule in continuous time ----

// The sensor line at one instant: the great-circle arc from point (1) to point (2) on the
// local sphere, in the plane through the Earth's centre spanned by the radial direction and
// the cross-track direction u = (r x v)/|r x v| (Earth-fixed state). Every tracking point
// lies in that plane, at a central angle from the nadir toward u of
// theta(alpha) = asin(r sin(alpha) / R) - alpha (the triangle Earth centre, satellite,
// ground point), so the line is described by the plane and two angles.
struct SensorLine {
  double t = 0;         // seconds from the interval's start (UTC)
  UtcInstant utc{};     // the instant
  double tsince = 0;    // seconds from the elements' epoch
  V3 up{}, u{}, n{};    // radial, cross-track (r x v side), along-track forward: unit
  double r = 0, R = 0;  // satellite radius and local sphere radius, m
  double th[3] = {};    // central angles of points (0), (1), (2) from the nadir, rad
  V3 pt[3]{};           // the points themselves, unit vectors
};

// The sensor line at any instant of a satellite's sweep, from the same state, frames and Earth
// model as a step: SGP8, the Earth-fixed frame by Greenwich apparent sidereal time (IAU
// 2006/2000A), the day's UT1 - UTC, polar motion and s', and the local sphere; the sidereal
// time from the Earth-rotation model (detail::SiderealTime, within 8.5e-11 rad: under 1 mm on
// the ground), the same whatever the step. Thread-safe.
class SweepCache;
class LineModel {
 public:
  // The sidereal time's nodes from `cache` when given (made for the model otherwise).
  LineModel(const SearchParams& p, const Propagator& orbit, const EopRows& table,
            const SweepCache* cache = nullptr);
  // Raises Error where a step would: a day missing from the table, a state the model cannot
  // serve.
  SensorLine at(double t) const;
  // The UTC instant t seconds from the start.
  UtcInstant utc_at(double t) const;
  const SearchParams& params() const { return p_; }
  const EopRows& table() const { return table_; }

 private:
  SearchParams p_;
  const Propagator& orbit_;
  const EopRows& table_;
  std::shared_ptr<const detail::SiderealTime> sidereal_;
};

// The continuous contacts of one satellite with targets [first, last) under the swath rule:
// the sweep that `sweep` runs for that rule.
void sweep_swath(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                 std::size_t first, std::size_t last, const std::vector<ContactSink*>& sinks,
                 const std::function<void(double)>& progress, int threads,
                 const SweepCache* cache = nullptr);

// The ground the sensor's field of satellite `satellite` sweeps over `interval`: its line at
// both ends and at `pieces` - 1 instants between, the sides' geodetic points as a contact's
// steps give them, as a ring cut at +-180.
std::vector<Ring> field_swath(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                              const Interval& interval, int pieces,
                              const SweepCache* cache = nullptr);

// Whether the sensor line touches the target at its instant (exact).
bool line_touches(const Prepared& t, const SensorLine& line);

// ---- many point targets at once: the cells of a coverage grid ----

// Points on latitude bands, each band's points on equally spaced longitudes: a band's
// columns are centred at -180 + (column + 0.5) * width degrees.
struct BandPoints {
  std::vector<double> lat;             // per band: its points' geocentric latitude (deg), ascending
  std::vector<double> width;           // per band: the columns' width (deg)
  std::vector<std::uint32_t> columns;  // per band: how many columns it has
  std::vector<std::size_t> begin;      // per band and one more: its points [begin[b], begin[b + 1])
  std::vector<std::uint32_t> column;   // per point, ascending within its band
  std::vector<V3> unit;                // per point: geocentric unit vector
};

// The sensor line passing over a point within its arc: the point (index into BandPoints),
// the instant (s from the interval's start), BEST ALPHA (the signed off-nadir angle of the
// point then, as a point target's contact gives it) and the pass.
struct PointCrossing {
  std::uint32_t point = 0;
  double t = 0.0;
  double alpha_deg = 0.0;
  char pass = 'D';
};

// Steps of the sweep of many points (s): the line between two steps is taken as the
// quadratic through its states at both ends and the middle, within 3e-11 rad of the exact
// line (the plane turns at the orbit's rate, 1.2e-3 rad/s: the third-order term is
// (1.2e-3 * 5 s)^3 / 6) and so each crossing within 1e-7 s; tested.
inline constexpr double kPointStep = 10.0;

// Every crossing of the points by the sensor line of satellite `satellite` over the plan's
// interval, in the swath rule's sense (the plane of the line passes over the point while it
// lies on the arc from point (1) to point (2)). The crossings go to `found` block after block
// in time order (within a block in no particular order); `found` may throw to stop the sweep.
void sweep_crossings(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                     const BandPoints& points,
                     const std::function<void(const std::vector<PointCrossing>&)>& found,
                     const std::function<void(double)>& progress, int threads);

// Largest second derivative (1/s^2) of any event function of the swath rule (a unit vector of
// the line dotted with a fixed vector, or |n_xy|^2): an event function whose two values on a
// step of length h both lie farther than kEventCurvature h^2 / 8 from zero on the same side
// has no root on it. Low Earth orbits reach about 3e-6; tested.
inline constexpr double kEventCurvature = 2.0e-5;

// Geodetic polygon helpers: area centroid, coverage of a swath (side 1 forward, side 2
// back), validity.
GroundPoint polygons_centroid(const std::vector<Polygon>& polys);
// The middle of points (their mean direction), or of lines (the mean of their edges' middles
// by length); a single point is itself.
GroundPoint points_centre(const std::vector<Ring>& chains, bool lines);
// The share of the points under a contact's swath or on its line (within a metre).
double points_coverage(const std::vector<GroundPoint>& points, const GroundPoint& centre,
                       const std::vector<GroundPoint>& side1,
                       const std::vector<GroundPoint>& side2);
// The share of the lines' length under a contact's swath (equal-area projection).
double lines_coverage(const std::vector<Ring>& lines, const GroundPoint& centre,
                      const std::vector<GroundPoint>& side1, const std::vector<GroundPoint>& side2);
double polygons_coverage(const std::vector<Polygon>& polys, const GroundPoint& centre,
                         const std::vector<GroundPoint>& side1,
                         const std::vector<GroundPoint>& side2);

// target_coverage and opportunity_figures with a box target's outline made once (`box`, its
// BoxCoverage; null: made for the call).
double target_coverage(const Target& t, const detail::BoxCoverage* box,
                       const std::vector<GroundPoint>& side1,
                       const std::vector<GroundPoint>& side2);
OpportunityFigures opportunity_figures(const Target& t, const detail::BoxCoverage* box,
                                       const ElementSet& elements, const UtcInstant& best_utc,
                                       const std::vector<GroundPoint>& side1,
                                       const std::vector<GroundPoint>& side2,
                                       const std::array<double, 3>& sun_fixed);

// The sweep of one satellite over targets [first, last): contact events of target i go to
// sinks[i - first].
void sweep(const Plan& plan, const EarthOrientation& eop, std::size_t satellite, std::size_t first,
           std::size_t last, const std::vector<ContactSink*>& sinks,
           const std::function<void(double)>& progress, int threads = 1,
           const SweepCache* cache = nullptr);

// Values a sweep computes that depend on nothing but time, kept between the sweeps of a
// PlanModel: the sidereal time's nodes of an interval's days and the Sun at whole minutes.
// A value taken from here is the one the sweep would compute. Thread-safe.
class SweepCache {
 public:
  // The sidereal time of a sweep from UTC day `first` to day `last` (days since 1950), as
  // LineModel makes it.
  std::shared_ptr<const detail::SiderealTime> sidereal(double first, double last) const;
  // The Sun's Earth-fixed position at minute `minute` of UTC day `day` (sun_earth_fixed).
  std::array<double, 3> sun(double day, double minute) const;

 private:
  mutable std::mutex mutex_;
  // By (first, last) day, the most recent last; a few intervals' worth.
  mutable std::vector<
      std::pair<std::pair<double, double>, std::shared_ptr<const detail::SiderealTime>>>
      sidereal_;
  mutable std::unordered_map<std::int64_t, std::array<double, 3>> sun_;
};

// plan_opportunities on `threads` threads (1: the calling thread alone), with the values of
// `cache` when given.
std::vector<Opportunity> opportunities(const Plan& plan, const EarthOrientation& eop,
                                       std::size_t satellite, std::size_t first, std::size_t last,
                                       const std::function<void(double)>& progress, int threads,
                                       const SweepCache* cache = nullptr);

// Raises a usage Error when the plan has no satellite numbered `satellite` (from 0).
void check_satellite(const Plan& plan, std::size_t satellite);

// Raises Error naming the first of targets [first, last) that the plan's rule cannot see: the
// points rule never sees a point or a line.
void check_rule(const Plan& plan, std::size_t first, std::size_t last);

// " ERROR IN "file", LINE n: what" as an input error.
[[noreturn]] void fail(const std::string& file, long line, const std::string& key,
                       const std::string& what, const std::string& where_word = "LINE");

// A number for a message: as %g, with more digits only where %g would not read back the same.
std::string number_text(double v);

}  // namespace orvus::plan
