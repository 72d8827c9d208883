// The contact search: one step after another from the UTC start to the UTC end inclusive,
// three tracking points tested against the box, a contact opened at the first in-box step
// and closed, with its best angle and summary, at the first out-of-box step after it.
//
// A step is split in two: what it computes from its time alone (`compute_step`: local
// time, propagation, Earth-fixed state, tracking points, box test) and what it does to
// the contact state and the reports (`apply_step`). The plain search runs both for every
// step; the screened search runs `compute_step` only where the box may be in view.
#include "run/search.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "common/fatal.hpp"
#include "frames/tod2ef.hpp"
#include "geometry/best_angle.hpp"
#include "geometry/coords.hpp"
#include "geometry/off_nadir.hpp"

namespace orvus {

namespace {

constexpr double kPolarRatio = 0.9966471868221031;  // 1 - 1/298.257
// The previous smallest distance is restored only when the last in-box step lies more
// than one step back; the margin keeps rounding out of that decision.
constexpr double kRestoreMargin = 1.0e-6;  // s

// Geocentric ground point (degrees) at radius R to geodetic longitude and latitude (degrees).
void to_geodetic(double lon, double lat, double radius, double& gd_lon, double& gd_lat) {
  Vec3 c{};
  GSGCP({lon * kDegToRadRun, lat * kDegToRadRun, radius}, c);
  Vec3 g{};
  GCGDP_IAU2009(c, g);
  gd_lon = g[0] * kRadToDegRun;
  gd_lat = g[1] * kRadToDegRun;
}

}  // namespace

std::string element_set_name(const RunParams& p, const Orbit& orbit) {
  std::string title(orbit.elset.SATNAME, sizeof orbit.elset.SATNAME);
  title.resize(title.find_last_not_of(' ') == std::string::npos ? 0
                                                                : title.find_last_not_of(' ') + 1);
  std::string file = p.TLE_FILE;
  file.resize(file.find_last_not_of(' ') == std::string::npos ? 0 : file.find_last_not_of(' ') + 1);
  return "\"" + title + "\" OF \"" + file + "\"";
}

void state_out_of_domain(const RunParams& p, const Orbit& orbit, const DateText& local,
                         const StateVector& state, double r_ground) {
  const std::string when = "AT LOCAL TIME " + std::string(local.data(), 23);
  const double r = std::sqrt(state[0] * state[0] + state[1] * state[1] + state[2] * state[2]);
  if (!std::isfinite(r + state[3] + state[4] + state[5])) {
    throw Fatal{" THE ELEMENT SET " + element_set_name(p, orbit) + " GIVES NO FINITE POSITION " +
                    when + ":",
                " SGP8 CANNOT PROPAGATE IT (AN INCLINATION NEAR 180 DEGREES, OR A DRAG TERM B* "
                "FAR TOO LARGE).",
                " EXECUTION INTERRUPTED."};
  }
  char depth[32];
  std::snprintf(depth, sizeof depth, "%.1f", (r_ground - r) / 1000.0);
  throw Fatal{" THE SATELLITE OF THE ELEMENT SET " + element_set_name(p, orbit) + " IS " + depth +
                  " KM BELOW THE EARTH'S SURFACE " + when + ":",
              " ITS PERIGEE LIES INSIDE THE EARTH, OR IT HAS DECAYED BEFORE THIS TIME.",
              " EXECUTION INTERRUPTED."};
}

bool in_box(const RunParams& p, double lon, double lat) {
  return p.GC_LAT1 <= lat && lat <= p.GC_LAT2 && p.GC_LON1 <= lon && lon <= p.GC_LON2;
}

void compute_step(const RunParams& p, const Orbit& orbit, const IersTable& table, double cur_day,
                  double cur_sec, StepData& s) {
  const TLE_ELSET& elset = orbit.elset;
  const double re = orbit.earth[0];
  const double rp = re * kPolarRatio;

  // 1. Local time of the step.
  s.local_day = cur_day;
  s.local_sec = cur_sec + p.UTC_DIFF * 3600.0;
  correct_day(s.local_day, s.local_sec);
  INSTHOR3(s.local_day, s.local_sec, s.local_text);

  // 2-3. Propagate, transform, sub-satellite point.
  s.tsince = (cur_day - elset.EPOCH_DAY) * 86400.0 + (cur_sec - elset.EPOCH_SEC);
  StateVector state_tod{};
  StateVector state_ef{};
  SGP8PR_V2_2(s.tsince, state_tod, orbit.earth, orbit.sgp8_a, orbit.sgp8_b);
  TOD2EFV4(cur_day + kMjd1950ToJd, cur_sec / 86400.0, state_tod, state_ef, table);
  Vec6 geo{};
  GCGSV_IAU2009(state_ef, geo);
  double ssp_lon = geo[0] * kRadToDegRun;
  if (ssp_lon > 180.0) ssp_lon -= 360.0;
  const double ssp_lat = geo[1] * kRadToDegRun;

  // 4-5. Local Earth radius and the nadir frame.
  s.r_local = rp + (re - rp) * std::cos(geo[1]);
  if (!state_in_domain(state_tod, s.r_local)) {
    state_out_of_domain(p, orbit, s.local_text, state_tod, s.r_local);
  }
  Vec3 nadir{};
  Vec3 normal{};
  double height = 0.0;
  LOLA_NADIR_AUX2(state_ef, geo, s.r_local, nadir, normal, height);

  // 7-8. The three tracking points, geocentric and geodetic.
  double* pt = s.pt;
  if (p.ALPHA0 == 0.0) {
    pt[0] = ssp_lon;
    pt[1] = ssp_lat;
  } else {
    LOLA2(state_ef, geo, s.r_local, nadir, normal, height, p.ALPHA0, pt[0], pt[1]);
  }
  if (p.ALPHA1 == p.ALPHA0) {
    pt[2] = pt[0];
    pt[3] = pt[1];
  } else {
    LOLA2(state_ef, geo, s.r_local, nadir, normal, height, p.ALPHA1, pt[2], pt[3]);
  }
  if (p.ALPHA2 == p.ALPHA0) {
    pt[4] = pt[0];
    pt[5] = pt[1];
  } else {
    LOLA2(state_ef, geo, s.r_local, nadir, normal, height, p.ALPHA2, pt[4], pt[5]);
  }
  for (std::size_t k = 0; k < 6; k += 2) {
    to_geodetic(pt[k], pt[k + 1], s.r_local, s.gd[k], s.gd[k + 1]);
  }

  // 10. Box test of the three points.
  s.any_in = false;
  for (std::size_t k = 0; k < 6; k += 2) {
    if (in_box(p, pt[k], pt[k + 1])) s.any_in = true;
  }
}

void apply_step(const RunParams& p, const Orbit& orbit, const IersTable& table,
                const ReportFiles& files, double cur_day, double cur_sec, const StepData& s,
                SearchState& st) {
  // 6.
  st.prev_p0_lat = st.p0_lat;
  st.p0_lat = s.pt[1];

  // 9-11.
  st.prev_in = st.in;
  if (s.any_in) st.t_lastin = s.tsince;
  if (st.t_lastin == s.tsince) {
    st.in = 1;
    const double d = std::sqrt((s.pt[1] - p.CEN_GC_LAT) * (s.pt[1] - p.CEN_GC_LAT) +
                               (s.pt[0] - p.CEN_GC_LON) * (s.pt[0] - p.CEN_GC_LON));
    if (d < st.mindist) {
      st.prev_mindist = st.mindist;
      st.prev_min_day = st.min_day;
      st.prev_min_sec = st.min_sec;
      st.mindist = d;
      st.min_day = cur_day;
      st.min_sec = cur_sec;
    }
    INSTHOR3(cur_day, cur_sec, st.utc_text);
  } else {
    st.in = 0;
  }

  // 12. End of a contact.
  if (st.prev_in == 1 && st.in == 0) {
    INSTHOR3(cur_day, cur_sec, st.utc_text);
    double cend_day = s.local_day;
    double cend_sec = s.local_sec - p.STEP;
    if (cend_sec < 0.0) {
      cend_day -= 1.0;
      cend_sec += 86400.0;
    }
    DateText cend_text{};
    INSTHOR3(cend_day, cend_sec, cend_text);
    const double duration =
        ((cend_day - st.cstart_day) + (cend_sec - st.cstart_sec) / 86400.0) * 86400.0;
    const double end_lat = st.prev_p0_lat;
    if (s.tsince - st.t_lastin > p.STEP + kRestoreMargin) {
      st.mindist = st.prev_mindist;
      st.min_day = st.prev_min_day;
      st.min_sec = st.prev_min_sec;
    }
    double best_alpha = 0.0;
    double bgc_lon = 0.0;
    double bgc_lat = 0.0;
    ALPHAOTIM4(table, orbit.earth, orbit.sgp8_a, orbit.sgp8_b, orbit.elset, st.min_day, st.min_sec,
               p.UTC_DIFF, p.STEP, p.CEN_GC_LON, p.CEN_GC_LAT, p.BETA, best_alpha, bgc_lon,
               bgc_lat);
    double best_lon = 0.0;
    double best_lat = 0.0;
    to_geodetic(bgc_lon, bgc_lat, s.r_local, best_lon, best_lat);
    st.mindist = std::sqrt((best_lat - p.CEN_LAT) * (best_lat - p.CEN_LAT) +
                           (best_lon - p.CEN_LON) * (best_lon - p.CEN_LON));
    double best_day = st.min_day;
    double best_sec = st.min_sec + p.UTC_DIFF * 3600.0;
    correct_day(best_day, best_sec);
    DateText best_text{};
    INSTHOR3(best_day, best_sec, best_text);
    write_best_alpha(files.out1.get(), best_alpha, best_text, best_lon, best_lat);
    const char pass = end_lat > st.start_lat ? 'A' : 'D';
    if (pass == 'D') {
      write_summary(files.out3.get(), st.ncontact, st.cstart_text, cend_text, duration, best_text,
                    best_alpha, st.mindist, pass);
    }
    write_summary(files.out2.get(), st.ncontact, st.cstart_text, cend_text, duration, best_text,
                  best_alpha, st.mindist, pass);
    st.mindist = 360.0;
    st.min_day = 0.0;
    st.min_sec = 0.0;
  }

  // 13. Start of a contact.
  if (st.in == 1 && st.prev_in == 0) {
    ++st.ncontact;
    write_contact_heading(files.out1.get(), st.ncontact);
    st.cstart_day = s.local_day;
    st.cstart_sec = s.local_sec;
    st.cstart_text = s.local_text;
    st.start_lat = s.pt[1];
  }

  // 14. The step's line.
  if (st.in == 1) write_step_line(files.out1.get(), s.local_text, s.gd);
}

void contact_search(const RunParams& p, const Orbit& orbit, const IersTable& table,
                    const ReportFiles& files) {
  SearchState st;
  StepData s;
  double cur_day = p.START_DAY;
  double cur_sec = p.START_SEC;
  while (step_in_interval(p, cur_day, cur_sec)) {
    compute_step(p, orbit, table, cur_day, cur_sec, s);
    apply_step(p, orbit, table, files, cur_day, cur_sec, s, st);
    check_report_streams(files);
    advance_step(p, cur_day, cur_sec);
  }
}

}  // namespace orvus
