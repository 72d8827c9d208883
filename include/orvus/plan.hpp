// Planning: a deck of targets for several satellites over one interval, every imaging
// opportunity with its daylight, roll and coverage, filtered by the plan's constraints.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "orvus/earth_orientation.hpp"
#include "orvus/elements.hpp"
#include "orvus/export.hpp"
#include "orvus/passes.hpp"
#include "orvus/search.hpp"

namespace orvus {

// A polygon: its rings of geodetic degrees, the first the outer boundary, the others holes;
// each ring closed (first position = last).
using Ring = std::vector<GroundPoint>;
using Polygon = std::vector<Ring>;

// A requested place: a box as record 4 of the input file (across +-180 and up to the poles
// as there), polygons (a GeoJSON Polygon or MultiPolygon, split at +-180), points (a dam, a
// site, a ship's position) or lines (a road, a pipeline, a coastline). Exactly one of the
// four is given.
struct Target {
  std::string id, name;
  std::optional<Box> box;
  std::vector<Polygon> polygons;    // a polygon's rings, or empty
  std::vector<GroundPoint> points;  // points, or empty
  std::vector<Ring> lines;          // open lines of two positions or more, or empty
  GroundPoint centre;     // the box centre, the area centroid, the point(s)' or line(s)' middle
  long line = 0;          // line (CSV) or feature number (GeoJSON) in its file
  double priority = 1.0;  // what acquiring it is worth to a schedule (> 0, at most 1e9)
};

// Reads a deck: CSV with the header id,name,lon1,lon2,lat1,lat2 (boxes) or id,name,lon,lat
// (points), either with an optional last column priority, or a GeoJSON FeatureCollection of
// Polygon, MultiPolygon, Point, MultiPoint, LineString and MultiLineString features with a
// unique "id" property and an optional "priority" property. A priority is a positive number
// of at most 1e9 (an empty CSV field or a missing property: 1). Raises Error naming the file and
// the line or feature of a bad target.
ORVUS_API std::vector<Target> read_targets(const std::string& path);
// The same from a deck held in memory (CSV or GeoJSON text, UTF-8); `source` names it in
// messages.
ORVUS_API std::vector<Target> parse_targets(std::string text, const std::string& source);

enum class TargetRule {
  swath,   // the ground arc from point (1) to point (2) touches the target (exact)
  points,  // one of the three tracking points lies in it (for a box: orvus's own test)
};

// What a satellite can do for a schedule: its camera, how it rolls, how long it may image
// per revolution and what its recorder holds. Degrees, seconds and Gbit.
struct SatelliteAgility {
  double camera_fov_deg = 0.0;  // what the camera sees at one roll; default beta_deg
  // |roll| at most; default what keeps the camera's view inside the sensor's field,
  // |alpha| + (beta - camera_fov_deg) / 2, but at least |alpha|
  double max_roll_deg = 0.0;
  double roll_rate_deg_s = 0.0;                   // needed when the plan has [schedule]
  double settle_s = 0.0;                          // after every roll manoeuvre; default 0
  std::optional<double> max_imaging_s_per_orbit;  // per revolution; default no limit
  std::optional<double> recorder_gbit;            // default no limit (needs imaging_gbit_s)
  std::optional<double> imaging_gbit_s;           // data rate while imaging; default none
  double min_imaging_s = 1.0;  // shortest image (a point is crossed in an instant); default 1
};

struct PlanSatellite {
  std::string name;
  std::string elements_path;  // as resolved against the plan's directory
  ElementSelect select;       // "select" of the plan; without it, the name
  Sensor sensor;
  ElementSet elements;                           // the set chosen
  std::size_t set_number = 1, sets_in_file = 1;  // which set of the file it is (from 1)
  SatelliteAgility agility;
};

// The [schedule] table: present when the plan asks for an acquisition schedule.
struct ScheduleSettings {
  double time_limit_s = 60.0;  // of the solver (wall clock)
};

struct PlanConstraints {
  std::optional<double> min_sun_elevation_deg;
  std::optional<double> max_abs_best_alpha_deg;
  char pass = 0;  // 'A', 'D', or 0 for any
  double min_duration_s = 0.0;
};

// The [coverage] table: an equal-area grid of cells of about cell_km over areas (see
// orvus/coverage.hpp), each cell a point target of the swath rule.
struct PlanCoverage {
  double cell_km = 0.0;
  std::vector<std::size_t> targets;  // the areas: indices into Plan::targets (boxes, polygons)
  bool land = false;                 // region = "land": the land of the map data instead
  long line = 0;                     // the table's line in the plan
};

struct Plan {
  std::string path;                    // the plan file
  std::string start_local, end_local;  // as written, local date-times
  Interval interval;                   // UTC start and end, step, UTC offset
  std::string earth_orientation_path;  // resolved against the plan's directory
  std::string targets_path;
  std::string output_dir;
  TargetRule rule = TargetRule::swath;
  std::vector<PlanSatellite> satellites;
  PlanConstraints constraints;
  std::optional<PlanCoverage> coverage;  // the [coverage] table, when the plan has one
  std::vector<Target> targets;
  std::vector<Station> stations;             // the [[station]] tables, in the plan's order
  std::optional<ScheduleSettings> schedule;  // [schedule]
};

// Reads a plan (TOML) with its element sets and targets; paths are relative to the plan
// file. Raises Error naming the key and line of an unknown, missing, mistyped or
// out-of-range key, or the file and place of a bad element set or target.
ORVUS_API Plan load_plan(const std::string& path);

// One imaging opportunity: a contact of one satellite with one target.
struct Opportunity {
  std::size_t satellite = 0;       // index into Plan::satellites
  std::size_t target = 0;          // index into Plan::targets
  Contact contact;                 // numbered per (satellite, target) pair; steps not kept
  double sun_elevation_deg = 0.0;  // at the target's centre at the best time
  double coverage = 0.0;           // share of the target's area under the swath
  double element_age_days = 0.0;   // best time minus the elements' epoch
  std::vector<Ring> swath;         // the swath of the contact, cut at +-180
};

// What an opportunity adds to its contact: the last columns of opportunities.csv.
struct OpportunityFigures {
  double sun_elevation_deg = 0.0;  // at the target's centre at the best time
  double coverage = 0.0;           // share of the target under the swath
  double element_age_days = 0.0;   // best time minus the elements' epoch
};

// The figures of a contact of `target` (best time `best_utc`), made alike for the planner,
// the Python module's contacts and orvus-map: the Sun's elevation at the target's centre
// from `sun_fixed`, the Sun's Earth-fixed position at the best time (sun_earth_fixed, or an
// interpolation of it); the share of the target under the swath (target_coverage); the age
// of `elements` at the best time.
ORVUS_API OpportunityFigures opportunity_figures(const Target& target, const ElementSet& elements,
                                                 const UtcInstant& best_utc,
                                                 const std::vector<GroundPoint>& side1,
                                                 const std::vector<GroundPoint>& side2,
                                                 const std::array<double, 3>& sun_fixed);

// The share of `target` under a contact's swath, whose sides are the ground points (1) and
// (2) of its steps (geodetic degrees); a contact of one step (an instant) is its line. A box:
// the share of its area (box_coverage), of its length when it has no width or no height, 1
// for a box of one position; a single point: 1 (its contact is the instant the line passes
// over it); points: the share under the swath or on the line; lines: the share of their
// length; polygons: the share of their area.
ORVUS_API double target_coverage(const Target& target, const std::vector<GroundPoint>& side1,
                                 const std::vector<GroundPoint>& side2);

// Every opportunity of satellite `satellite` over the targets [first, last), before the
// constraints. Each target's contacts are complete whatever the range, so ranges can be
// computed apart (other threads, processes or machines) and joined. `progress`, when
// given, is called on the calling thread between blocks of steps with the share done (0 to
// 1); it may throw to stop the sweep (a caller's interrupt), and the exception leaves as
// thrown. Thread-safe and deterministic; it computes on the machine's threads itself. The
// opportunities come target by target (in the range's order), each target's in time order.
ORVUS_API std::vector<Opportunity> plan_opportunities(
    const Plan& plan, const EarthOrientation& eop, std::size_t satellite, std::size_t first,
    std::size_t last, const std::function<void(double)>& progress = {});

// The contacts of satellite `satellite` with target `target` step by step, as the sweep of
// plan_opportunities finds them (before the constraints), given to `sink` in time order; on
// the calling thread alone, so that a caller can spread many pairs over its own threads.
// Raises Error (kind usage) for a satellite or target the plan does not have, and as
// plan_opportunities does.
ORVUS_API void plan_contacts(const Plan& plan, const EarthOrientation& eop, std::size_t satellite,
                             std::size_t target, ContactSink& sink);

// How many opportunities each constraint removed (an opportunity counts for the first
// constraint it fails, in the order sun, roll, pass, duration).
struct PlanCounts {
  std::size_t found = 0, kept = 0;
  std::size_t by_sun = 0, by_alpha = 0, by_pass = 0, by_duration = 0;
};

// The constraints applied, sorted by start, then satellite, then target id.
ORVUS_API std::vector<Opportunity> select_opportunities(const Plan& plan,
                                                        std::vector<Opportunity> all,
                                                        PlanCounts* counts = nullptr);

// The opportunities of the whole plan on this machine: every satellite, every target, then the
// constraints; run_planner (orvus/planner.hpp) with its opportunities alone. `progress` as for
// plan_opportunities, with the share of the whole plan.
ORVUS_API std::vector<Opportunity> run_plan(const Plan& plan, const EarthOrientation& eop,
                                            PlanCounts* counts = nullptr,
                                            const std::function<void(double)>& progress = {});

// A field of the plan's CSV tables: quoted, its quotes doubled, when it holds a comma, a quote
// or a line end (RFC 4180); otherwise as it is.
ORVUS_API std::string csv_field(const std::string& s);

// "opportunities.csv" and "opportunities.geojson" of a selection.
ORVUS_API void write_opportunities_csv(const Plan& plan, const std::vector<Opportunity>& kept,
                                       std::ostream& out);
ORVUS_API void write_opportunities_geojson(const Plan& plan, const std::vector<Opportunity>& kept,
                                           std::ostream& out);

// A pass of one of the plan's satellites over one of its stations.
struct PlanPass {
  std::size_t satellite = 0;  // index into Plan::satellites
  std::size_t station = 0;    // index into Plan::stations
  Pass pass;
};

// The passes of satellite `satellite` over every station across the plan's interval, sorted
// by AOS, then station name. Raises Error when the Earth-orientation table does not cover the
// interval or the model cannot serve it.
ORVUS_API std::vector<PlanPass> plan_passes(const Plan& plan, const EarthOrientation& eop,
                                            std::size_t satellite);
// Of every satellite: sorted by AOS, then satellite, then station name.
ORVUS_API std::vector<PlanPass> plan_passes(const Plan& plan, const EarthOrientation& eop);

// "passes.csv" of a plan's passes.
ORVUS_API void write_passes_csv(const Plan& plan, const std::vector<PlanPass>& passes,
                                std::ostream& out);

// Opportunities as bytes and back, exactly (for results computed in other processes).
ORVUS_API std::string serialize_opportunities(const std::vector<Opportunity>& list);
ORVUS_API std::vector<Opportunity> deserialize_opportunities(const std::string& bytes);

}  // namespace orvus
