// The contact search: one step after another from the UTC start to the UTC end inclusive,
// three tracking points tested against the box, a contact opened at the first in-box step
// and closed, with its best angle and summary, at the first out-of-box step after it.
//
// A step is split in two: what it computes from its time alone (`compute_step`: local
// time, propagation, Earth-fixed state, tracking points, box test) and what it does to
// the contact state and the reports (`apply_step`). The plain search runs both for every
// step; the screened search runs `compute_step` only where the box may be in view.
#include "core/search/search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/best_angle.hpp"
#include "core/geometry/coords.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/io/text.hpp"
#include "core/report_factors.hpp"
#include "core/search/step_workers.hpp"
#include "core/time/time_text.hpp"
#include "orvus/constants.hpp"
#include "orvus/error.hpp"
#include "orvus/geometry.hpp"

namespace orvus {

namespace {

// The previous smallest distance is restored only when the last in-box step lies more
// than one step back; the margin keeps rounding out of that decision.
constexpr double kRestoreMargin = 1.0e-6;  // s

}  // namespace

void to_geodetic(double lon, double lat, double radius, double& gd_lon, double& gd_lat) {
  Vec3 c{};
  spherical_to_cartesian({lon * detail::deg_to_rad_13, lat * detail::deg_to_rad_13, radius}, c);
  Vec3 g{};
  cartesian_to_geodetic(c, g);
  gd_lon = g[0] * detail::rad_to_deg_13;
  gd_lat = g[1] * detail::rad_to_deg_13;
}

// Geodetic corner (degrees) to geocentric longitude and latitude (degrees).
void corner_to_geocentric(double lon, double lat, double& gc_lon, double& gc_lat) {
  // 90 deg times the factor is a little more than pi/2: a corner at a pole would come back
  // turned by 180 deg of longitude. The latitude is held to [-pi/2, pi/2].
  Vec3 c{};
  geodetic_to_cartesian(
      {lon * detail::deg_to_rad_13,
       std::clamp(lat * detail::deg_to_rad_13, -constants::half_pi, constants::half_pi), 0.0},
      c);
  Vec3 s{};
  cartesian_to_spherical(c, s);
  gc_lon = s[0] * detail::rad_to_deg_13;
  gc_lat = s[1] * detail::rad_to_deg_13;
  // The conversion keeps the longitude but returns it in (-180, 180]: a corner at 180 E
  // could come back as -180 and a corner past 180 wrapped, leaving a box that holds nothing.
  // Put back the whole turns it lost.
  gc_lon += 360.0 * std::round((lon - gc_lon) / 360.0);
}

std::string element_set_name(const SearchParams& p, const Propagator& orbit) {
  const std::string title(trim_blanks(orbit.elements().name));
  const std::string file(trim_blanks(p.element_file));
  return "\"" + title + "\"" + (file.empty() ? "" : " OF \"" + file + "\"");
}

void state_out_of_domain(const SearchParams& p, const Propagator& orbit, const DateText& local,
                         const StateVector& state, double r_ground) {
  const std::string when = "AT LOCAL TIME " + std::string(local.data(), 23);
  const double r = std::sqrt(state[0] * state[0] + state[1] * state[1] + state[2] * state[2]);
  if (!std::isfinite(r + state[3] + state[4] + state[5])) {
    throw Error(ErrorKind::model,
                {" THE ELEMENT SET " + element_set_name(p, orbit) + " GIVES NO FINITE POSITION " +
                     when + ":",
                 " SGP8 CANNOT PROPAGATE IT (AN INCLINATION NEAR 180 DEGREES, OR A DRAG TERM B* "
                 "FAR TOO LARGE).",
                 " EXECUTION INTERRUPTED."});
  }
  char depth[32];
  std::snprintf(depth, sizeof depth, "%.1f", (r_ground - r) / 1000.0);
  throw Error(ErrorKind::model,
              {" THE SATELLITE OF THE ELEMENT SET " + element_set_name(p, orbit) + " IS " + depth +
                   " KM BELOW THE EARTH'S SURFACE " + when + ":",
               " ITS PERIGEE LIES INSIDE THE EARTH, OR IT HAS DECAYED BEFORE THIS TIME.",
               " EXECUTION INTERRUPTED."});
}

void derive_search_values(SearchParams& p) {
  corner_to_geocentric(p.lon1, p.lat1, p.gc_lon1, p.gc_lat1);
  corner_to_geocentric(p.lon2, p.lat2, p.gc_lon2, p.gc_lat2);
  p.cen_gc_lon = (p.gc_lon1 + p.gc_lon2) / 2.0;
  p.cen_gc_lat = (p.gc_lat1 + p.gc_lat2) / 2.0;
  p.cen_lon = (p.lon1 + p.lon2) / 2.0;
  p.cen_lat = (p.lat1 + p.lat2) / 2.0;
  p.alpha0 = p.alpha;
  p.alpha1 = p.alpha - p.beta / 2.0;
  p.alpha2 = p.alpha + p.beta / 2.0;
}

namespace {
// SGP8 serves near-Earth orbits: periods below 225 minutes.
constexpr double kDeepSpacePeriod = 225.0 * 60.0;  // s
}  // namespace

double horizon_angle_deg(const Propagator& orbit) {
  const double b = model_earth()[0] * constants::local_sphere_polar_ratio;
  const double apogee = orbit.mean_semi_major_axis_m() * (1.0 + orbit.elements().eccentricity);
  return std::asin(std::min(b / apogee, 1.0)) * detail::rad_to_deg_13;
}

std::string angle_text(double deg) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.4f", deg);
  return buf;
}

void check_orbit_domain(const SearchParams& p, const Propagator& orbit) {
  const double xnodp = detail::sgp8_model(orbit).coefficients.mean_motion;  // rad/s
  const double period = 2.0 * constants::pi / xnodp;
  if (!(period < kDeepSpacePeriod)) {
    char minutes[32];
    std::snprintf(minutes, sizeof minutes, "%.1f", period / 60.0);
    throw Error(ErrorKind::model,
                {" THE ELEMENT SET " + element_set_name(p, orbit) + " HAS A PERIOD OF " + minutes +
                     " MINUTES:",
                 " SGP8 SERVES NEAR-EARTH ORBITS ONLY (PERIOD BELOW 225 MINUTES).",
                 " EXECUTION INTERRUPTED."},
                ErrorWhere(p.element_file, orbit.elements().name));
  }
  // The first step's state: an element set that fails at once stops here, before anything
  // is written; later steps are checked as they are computed.
  const StateVector state =
      orbit.state_at(since_epoch(orbit.elements().epoch, p.start_day, p.start_sec));
  const double b = model_earth()[0] * constants::local_sphere_polar_ratio;
  if (!state_in_domain(state, b)) {
    double day = p.start_day;
    double sec = p.start_sec + p.utc_diff * 3600.0;
    normalise(day, sec);
    DateText local{};
    write_date_text(day, sec, local);
    state_out_of_domain(p, orbit, local, state, b);
  }
}

bool in_box(const SearchParams& p, double lon, double lat) {
  if (!(p.gc_lat1 <= lat && lat <= p.gc_lat2)) return false;
  if (p.gc_lon1 <= lon && lon <= p.gc_lon2) return true;
  // A box written across the antimeridian (a corner below -180 or above 180) also holds
  // the points one turn away.
  if (p.gc_lon1 < -180.0 || p.gc_lon2 > 180.0) {
    const double east = lon + 360.0;
    const double west = lon - 360.0;
    return (p.gc_lon1 <= east && east <= p.gc_lon2) || (p.gc_lon1 <= west && west <= p.gc_lon2);
  }
  return false;
}

double lon_difference(double a, double b) {
  double d = a - b;
  if (d > 180.0) {
    d -= 360.0;
  } else if (d < -180.0) {
    d += 360.0;
  }
  return d;
}

void compute_step(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                  double cur_day, double cur_sec, StepData& s) {
  // Local time of the step.
  s.local_day = cur_day;
  s.local_sec = cur_sec + p.utc_diff * 3600.0;
  normalise(s.local_day, s.local_sec);
  write_date_text(s.local_day, s.local_sec, s.local_text);

  // Propagate, transform, sub-satellite point.
  s.tsince = since_epoch(orbit.elements().epoch, cur_day, cur_sec);
  const StateVector state_tod = orbit.state_at(s.tsince);
  StateVector state_ef{};
  tod_to_ef(cur_day + constants::mjd1950_to_jd, cur_sec / 86400.0, state_tod, state_ef, table);
  Vec6 geo{};
  state_to_spherical(state_ef, geo);

  // Local Earth radius.
  s.r_local = local_radius(geo[1]);
  if (!state_in_domain(state_tod, s.r_local)) {
    state_out_of_domain(p, orbit, s.local_text, state_tod, s.r_local);
  }

  // The three tracking points, geocentric and geodetic.
  tracking_points(p, state_ef, geo, s.r_local, s.pt);
  const double* pt = s.pt;
  for (std::size_t k = 0; k < 6; k += 2) {
    to_geodetic(pt[k], pt[k + 1], s.r_local, s.gd[k], s.gd[k + 1]);
  }

  // Box test of the three points.
  s.any_in = false;
  for (std::size_t k = 0; k < 6; k += 2) {
    if (in_box(p, pt[k], pt[k + 1])) s.any_in = true;
  }
}

void tracking_points(const SearchParams& p, const StateVector& state_ef, const Vec6& geo,
                     double r_local, double pt[6]) {
  double ssp_lon = geo[0] * detail::rad_to_deg_13;
  if (ssp_lon > 180.0) ssp_lon -= 360.0;
  const double ssp_lat = geo[1] * detail::rad_to_deg_13;
  Vec3 nadir{};
  Vec3 normal{};
  double height = 0.0;
  nadir_frame(state_ef, geo, r_local, nadir, normal, height);
  if (p.alpha0 == 0.0) {
    pt[0] = ssp_lon;
    pt[1] = ssp_lat;
  } else {
    off_nadir_point(state_ef, geo, r_local, nadir, normal, height, p.alpha0, pt[0], pt[1]);
  }
  if (p.alpha1 == p.alpha0) {
    pt[2] = pt[0];
    pt[3] = pt[1];
  } else {
    off_nadir_point(state_ef, geo, r_local, nadir, normal, height, p.alpha1, pt[2], pt[3]);
  }
  if (p.alpha2 == p.alpha0) {
    pt[4] = pt[0];
    pt[5] = pt[1];
  } else {
    off_nadir_point(state_ef, geo, r_local, nadir, normal, height, p.alpha2, pt[4], pt[5]);
  }
}

namespace {

ContactStep contact_step_of(double cur_day, double cur_sec, const StepData& s) {
  ContactStep c;
  c.utc = {cur_day, cur_sec};
  c.local = {s.local_day, s.local_sec};
  c.tsince_s = s.tsince;
  c.radius_m = s.r_local;
  for (std::size_t k = 0; k < 3; ++k) {
    c.geocentric[k] = {s.pt[2 * k], s.pt[2 * k + 1]};
    c.geodetic[k] = {s.gd[2 * k], s.gd[2 * k + 1]};
  }
  return c;
}

}  // namespace

void apply_step(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                ContactSink& sink, double cur_day, double cur_sec, const StepData& s,
                SearchState& st) {
  // Latitude of point 0, kept a step to tell the pass direction at the end.
  st.prev_p0_lat = st.p0_lat;
  st.p0_lat = s.pt[1];

  // In or out, and the step nearest the box centre so far.
  st.prev_in = st.in;
  if (s.any_in) st.t_lastin = s.tsince;
  if (st.t_lastin == s.tsince) {
    st.in = 1;
    const double dlon = lon_difference(s.pt[0], p.cen_gc_lon);
    const double d = std::sqrt((s.pt[1] - p.cen_gc_lat) * (s.pt[1] - p.cen_gc_lat) + dlon * dlon);
    if (d < st.mindist) {
      st.prev_mindist = st.mindist;
      st.prev_min_day = st.min_day;
      st.prev_min_sec = st.min_sec;
      st.mindist = d;
      st.min_day = cur_day;
      st.min_sec = cur_sec;
    }
  } else {
    st.in = 0;
  }

  // End of a contact: it ended at the previous step, its last in-box step.
  if (st.prev_in == 1 && st.in == 0) {
    Contact c;
    c.number = st.ncontact;
    c.closed = true;
    c.start_utc = st.cstart_utc;
    c.start_local = st.cstart_local;
    c.end_utc = {cur_day, cur_sec - p.step};
    if (c.end_utc.seconds < 0.0) c.end_utc = {cur_day - 1.0, c.end_utc.seconds + 86400.0};
    c.end_local = {s.local_day, s.local_sec - p.step};
    if (c.end_local.seconds < 0.0) {
      c.end_local.day -= 1.0;
      c.end_local.seconds += 86400.0;
    }
    c.duration_s = ((c.end_local.day - c.start_local.day) +
                    (c.end_local.seconds - c.start_local.seconds) / 86400.0) *
                   86400.0;
    const double end_lat = st.prev_p0_lat;
    if (s.tsince - st.t_lastin > p.step + kRestoreMargin) {
      st.mindist = st.prev_mindist;
      st.min_day = st.prev_min_day;
      st.min_sec = st.prev_min_sec;
    }
    const detail::Sgp8Model& model = detail::sgp8_model(orbit);
    best_off_nadir(table, model_earth(), model.elements, model.coefficients, orbit.elements().epoch,
                   st.min_day, st.min_sec, p.cen_gc_lon, p.cen_gc_lat, c.best_alpha_deg,
                   c.best_geocentric.lon_deg, c.best_geocentric.lat_deg);
    to_geodetic(c.best_geocentric.lon_deg, c.best_geocentric.lat_deg, s.r_local,
                c.best_geodetic.lon_deg, c.best_geodetic.lat_deg);
    const double best_dlon = lon_difference(c.best_geodetic.lon_deg, p.cen_lon);
    c.distance_deg =
        std::sqrt((c.best_geodetic.lat_deg - p.cen_lat) * (c.best_geodetic.lat_deg - p.cen_lat) +
                  best_dlon * best_dlon);
    c.best_utc = {st.min_day, st.min_sec};
    c.best_local = {st.min_day, st.min_sec + p.utc_diff * 3600.0};
    normalise(c.best_local.day, c.best_local.seconds);
    c.pass = end_lat > st.start_lat ? 'A' : 'D';
    sink.contact_end(c);
    st.mindist = 360.0;
    st.min_day = 0.0;
    st.min_sec = 0.0;
  }

  // Start of a contact.
  if (st.in == 1 && st.prev_in == 0) {
    ++st.ncontact;
    st.cstart_utc = {cur_day, cur_sec};
    st.cstart_local = {s.local_day, s.local_sec};
    st.start_lat = s.pt[1];
    sink.contact_start(st.ncontact, contact_step_of(cur_day, cur_sec, s));
  }

  // The step's line.
  if (st.in == 1) sink.contact_step(st.ncontact, contact_step_of(cur_day, cur_sec, s));
}

void finish_search(const SearchState& st, ContactSink& sink) {
  if (st.in == 1) sink.open_at_end(st.ncontact);
}

void contact_search(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                    ContactSink& sink, const std::function<void()>& between_blocks) {
  constexpr auto kBlock = static_cast<long>(kStepsPerBlock);  // steps between `between_blocks`
  SearchState st;
  StepData s;
  double cur_day = p.start_day;
  double cur_sec = p.start_sec;
  while (step_in_interval(p, cur_day, cur_sec)) {
    for (long k = 0; k < kBlock && step_in_interval(p, cur_day, cur_sec); ++k) {
      compute_step(p, orbit, table, cur_day, cur_sec, s);
      apply_step(p, orbit, table, sink, cur_day, cur_sec, s, st);
      advance_step(p, cur_day, cur_sec);
    }
    if (between_blocks) between_blocks();
  }
  finish_search(st, sink);
}

}  // namespace orvus
