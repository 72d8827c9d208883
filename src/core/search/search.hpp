// The contact search, split into the work of one step and its effect on the contact state,
// so that the plain search and the screened search share every computation.
#pragma once

#include <cmath>
#include <functional>
#include <string>

#include "core/geometry/coords.hpp"
#include "core/orbit/sgp8.hpp"
#include "core/time/eop.hpp"
#include "orvus/orbit.hpp"
#include "orvus/search.hpp"
#include "orvus/time.hpp"

namespace orvus {

// The parameters of a search, derived once: degrees, hours, seconds; times are UTC as day
// number and seconds of the day.
struct SearchParams {
  double lon1 = 0.0, lat1 = 0.0, lon2 = 0.0, lat2 = 0.0;              // geodetic corners
  double gc_lon1 = 0.0, gc_lat1 = 0.0, gc_lon2 = 0.0, gc_lat2 = 0.0;  // geocentric corners
  double cen_gc_lon = 0.0, cen_gc_lat = 0.0;                          // geocentric box centre
  double cen_lon = 0.0, cen_lat = 0.0;                                // geodetic box centre
  double utc_diff = 0.0;  // local time = UTC + utc_diff hours
  double start_day = 0.0, start_sec = 0.0, end_day = 0.0, end_sec = 0.0;
  double step = 0.0;
  double alpha = 0.0, beta = 0.0;                   // sensor
  double alpha0 = 0.0, alpha1 = 0.0, alpha2 = 0.0;  // tracking angles
  std::string element_file;                         // where the elements came from
};

// Box test on geocentric degrees, all four bounds included. A box inside [-180, 180] is
// taken as written; a box with a corner beyond +-180 crosses the antimeridian and also
// holds the points one turn east or west.
bool in_box(const SearchParams& p, double lon, double lat);

// a - b in degrees, brought into [-180, 180] by one turn where it lies beyond.
double lon_difference(double a, double b);

// Geodetic corner (degrees) to geocentric longitude and latitude (degrees), keeping the
// whole turns of longitude the corner was given.
void corner_to_geocentric(double lon, double lat, double& gc_lon, double& gc_lat);

// The search's parameters from the public description of a search; raises Error on
// arguments it cannot serve.
void search_setup(const Sensor& sensor, const Box& box, const Interval& interval, SearchParams& p);

// The box centre and the tracking angles from the corners and the sensor.
void derive_search_values(SearchParams& p);

// Geocentric ground point (degrees) at radius `radius` (m) to geodetic longitude and latitude
// (degrees), with the report's conversion factors.
void to_geodetic(double lon, double lat, double radius, double& gd_lon, double& gd_lat);

// Largest off-nadir angle (degrees) whose line of sight meets the smallest local sphere at
// the orbit's apogee: asin(b / r_apogee).
double horizon_angle_deg(const Propagator& orbit);
// An angle in degrees for a message, with four decimals as the reports print angles.
std::string angle_text(double deg);

// Raises Error when the orbit model cannot serve the element set: a period of 225 minutes
// or more (deep space), or no finite state above the ground at the first step.
void check_orbit_domain(const SearchParams& p, const Propagator& orbit);

// What one step computes from its time alone.
struct StepData {
  double local_day = 0.0, local_sec = 0.0;  // local time of the step
  DateText local_text{};
  double tsince = 0.0;   // seconds since the element-set epoch
  double r_local = 0.0;  // local Earth radius, m
  double pt[6] = {};     // geocentric lon/lat of tracking points (0), (1), (2), degrees
  double gd[6] = {};     // the same points, geodetic
  bool any_in = false;   // some point lies in the box
};

// The state of the search between steps.
struct SearchState {
  int in = 0, prev_in = 0;
  std::int32_t ncontact = 0;
  double t_lastin = -1e300;
  double mindist = 360.0, min_day = 0.0, min_sec = 0.0;
  double prev_mindist = 0.0, prev_min_day = 0.0, prev_min_sec = 0.0;
  double p0_lat = 0.0, prev_p0_lat = 0.0;
  double start_lat = 0.0;
  UtcInstant cstart_utc, cstart_local;  // first in-box step of the open contact
};

// The loop runs while the step's time is not after the end of the interval.
inline bool step_in_interval(const SearchParams& p, double cur_day, double cur_sec) {
  return cur_day + cur_sec / 86400.0 <= p.end_day + p.end_sec / 86400.0;
}

// Next step: seconds plus STEP, into the next day when strictly past 86400.
inline void advance_step(const SearchParams& p, double& cur_day, double& cur_sec) {
  cur_sec = cur_sec + p.step;
  if (cur_sec > 86400.0) {
    cur_day = cur_day + 1.0;
    cur_sec = cur_sec - 86400.0;
  }
}

// The element set for messages: its title line and the file it came from.
std::string element_set_name(const SearchParams& p, const Propagator& orbit);

// True when a propagated state (m, m/s) is finite and its radius exceeds `r_ground` (m).
inline bool state_in_domain(const StateVector& state, double r_ground) {
  const double r2 = state[0] * state[0] + state[1] * state[1] + state[2] * state[2];
  return std::isfinite(r2 + state[3] + state[4] + state[5]) && r2 > r_ground * r_ground;
}

// Raises Error for a state outside the model's domain at the step of local time `local`:
// not finite, or below the ground of radius `r_ground` (m).
[[noreturn]] void state_out_of_domain(const SearchParams& p, const Propagator& orbit,
                                      const DateText& local, const StateVector& state,
                                      double r_ground);

// Computes one step. Raises Error when the propagated state is not finite or lies below the
// local sphere.
void compute_step(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                  double cur_day, double cur_sec, StepData& s);

// The geocentric longitudes and latitudes (degrees) of the tracking points (0), (1), (2)
// seen from an Earth-fixed state (m, m/s) with its spherical coordinates `geo`, on the
// local sphere of radius `r_local` (m).
void tracking_points(const SearchParams& p, const StateVector& state_ef, const Vec6& geo,
                     double r_local, double pt[6]);

// What a step does to the contact state; contact events go to `sink`.
void apply_step(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                ContactSink& sink, double cur_day, double cur_sec, const StepData& s,
                SearchState& st);

// After the last step: a contact still open is reported as such.
void finish_search(const SearchState& st, ContactSink& sink);

// A step proven out of the box: all it does is end with IN = 0. It is never the first
// step after a contact (that one is always computed).
inline void apply_out_step(SearchState& st) {
  st.prev_in = st.in;
  st.in = 0;
}
}  // namespace orvus

namespace orvus {

// Screening: a cheap, conservative proof that a step's three tracking points are all out
// of the box. The sub-satellite point is placed with SGP8 and the mean sidereal time
// (without nutation, UT1 - UTC or polar motion: under 0.01 deg from the exact chain); every
// tracking point lies within the central angle `theta` of it; and it moves over the ground
// at most `omega` radians a second.
struct Screen {
  bool all_out = false;                           // the box can hold no point at all
  bool enabled = false;                           // the bounds hold for this orbit
  bool wraps = false;                             // the box crosses the antimeridian
  double lat1 = 0, lat2 = 0, lon1 = 0, lon2 = 0;  // the box, radians
  double cos_min = 0;                             // smallest cosine of latitude in the box
  double theta = 0;           // tracking points to sub-satellite point, with the error margin, rad
  double omega = 0;           // rad/s
  double r_lo = 0, r_hi = 0;  // radii between which `theta` and `omega` hold, m
  double max_skip = 0;        // longest time proven out at once, s
};

void init_screen(const SearchParams& p, const Propagator& orbit, Screen& screen);

// A lower bound of the angle on the sphere between a point (radians) and the box.
double box_distance_bound(const Screen& screen, double lon, double lat);

// The true-of-date state at (day, seconds), and whether the screening's bounds hold for it
// (its osculating orbit stays between the radii they were made for).
bool screened_state(const Propagator& orbit, const Screen& screen, double day, double seconds,
                    StateVector& tod);

// The contact search from the UTC start to the UTC end, every step computed.
// `between_blocks`, when set, is called after each block of steps and may throw.
void contact_search(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                    ContactSink& sink, const std::function<void()>& between_blocks = {});

}  // namespace orvus
