// The contact search: one step after another from the UTC start to the UTC end inclusive,
// three tracking points tested against the box, a contact opened at the first in-box step
// and closed, with its best angle and summary, at the first out-of-box step after it.
#include <cmath>

#include "frames/tod2ef.hpp"
#include "geometry/best_angle.hpp"
#include "geometry/coords.hpp"
#include "geometry/off_nadir.hpp"
#include "run/run.hpp"

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

bool in_box(const RunParams& p, double lon, double lat) {
  return p.GC_LAT1 <= lat && lat <= p.GC_LAT2 && p.GC_LON1 <= lon && lon <= p.GC_LON2;
}

void contact_search(const RunParams& p, const Orbit& orbit, const IersTable& table,
                    const ReportFiles& files) {
  const TLE_ELSET& elset = orbit.elset;
  const double re = orbit.earth[0];
  const double rp = re * kPolarRatio;

  double cur_day = p.START_DAY;
  double cur_sec = p.START_SEC;
  double tsince = 0.0;
  StateVector state_tod{};
  StateVector state_ef{};
  Vec6 geo{};
  double r_local = 0.0;
  Vec3 nadir{};
  Vec3 normal{};
  double height = 0.0;
  double pt[6] = {};  // geocentric lon/lat of points (0), (1), (2)
  double gd[6] = {};  // the same, geodetic
  int in = 0;
  int prev_in = 0;
  std::int32_t ncontact = 0;
  double t_lastin = -1e300;
  double mindist = 360.0;
  double min_day = 0.0;
  double min_sec = 0.0;
  double prev_mindist = 0.0;
  double prev_min_day = 0.0;
  double prev_min_sec = 0.0;
  double prev_p0_lat = 0.0;
  double start_lat = 0.0;
  double end_lat = 0.0;
  double cstart_day = 0.0;
  double cstart_sec = 0.0;
  DateText cstart_text{};
  DateText cend_text{};
  DateText best_text{};
  DateText utc_text{};
  DateText local_text{};

  while (cur_day + cur_sec / 86400.0 <= p.END_DAY + p.END_SEC / 86400.0) {
    // 1. Local time of the step.
    double local_day = cur_day;
    double local_sec = cur_sec + p.UTC_DIFF * 3600.0;
    correct_day(local_day, local_sec);
    INSTHOR3(local_day, local_sec, local_text);

    // 2-3. Propagate, transform, sub-satellite point.
    tsince = (cur_day - elset.EPOCH_DAY) * 86400.0 + (cur_sec - elset.EPOCH_SEC);
    SGP8PR_V2_2(tsince, state_tod, orbit.earth, orbit.sgp8_a, orbit.sgp8_b);
    TOD2EFV4(cur_day + kMjd1950ToJd, cur_sec / 86400.0, state_tod, state_ef, table);
    GCGSV_IAU2009(state_ef, geo);
    double ssp_lon = geo[0] * kRadToDegRun;
    if (ssp_lon > 180.0) ssp_lon -= 360.0;
    const double ssp_lat = geo[1] * kRadToDegRun;

    // 4-5. Local Earth radius and the nadir frame.
    r_local = rp + (re - rp) * std::cos(geo[1]);
    LOLA_NADIR_AUX2(state_ef, geo, r_local, nadir, normal, height);

    // 6-8. The three tracking points.
    prev_p0_lat = pt[1];
    if (p.ALPHA0 == 0.0) {
      pt[0] = ssp_lon;
      pt[1] = ssp_lat;
    } else {
      LOLA2(state_ef, geo, r_local, nadir, normal, height, p.ALPHA0, pt[0], pt[1]);
    }
    if (p.ALPHA1 == p.ALPHA0) {
      pt[2] = pt[0];
      pt[3] = pt[1];
    } else {
      LOLA2(state_ef, geo, r_local, nadir, normal, height, p.ALPHA1, pt[2], pt[3]);
    }
    if (p.ALPHA2 == p.ALPHA0) {
      pt[4] = pt[0];
      pt[5] = pt[1];
    } else {
      LOLA2(state_ef, geo, r_local, nadir, normal, height, p.ALPHA2, pt[4], pt[5]);
    }
    for (std::size_t k = 0; k < 6; k += 2) to_geodetic(pt[k], pt[k + 1], r_local, gd[k], gd[k + 1]);

    // 9-11. Box test.
    prev_in = in;
    for (std::size_t k = 0; k < 6; k += 2) {
      if (in_box(p, pt[k], pt[k + 1])) t_lastin = tsince;
    }
    if (t_lastin == tsince) {
      in = 1;
      const double d = std::sqrt((pt[1] - p.CEN_GC_LAT) * (pt[1] - p.CEN_GC_LAT) +
                                 (pt[0] - p.CEN_GC_LON) * (pt[0] - p.CEN_GC_LON));
      if (d < mindist) {
        prev_mindist = mindist;
        prev_min_day = min_day;
        prev_min_sec = min_sec;
        mindist = d;
        min_day = cur_day;
        min_sec = cur_sec;
      }
      INSTHOR3(cur_day, cur_sec, utc_text);
    } else {
      in = 0;
    }

    // 12. End of a contact.
    if (prev_in == 1 && in == 0) {
      INSTHOR3(cur_day, cur_sec, utc_text);
      double cend_day = local_day;
      double cend_sec = local_sec - p.STEP;
      if (cend_sec < 0.0) {
        cend_day -= 1.0;
        cend_sec += 86400.0;
      }
      INSTHOR3(cend_day, cend_sec, cend_text);
      const double duration =
          ((cend_day - cstart_day) + (cend_sec - cstart_sec) / 86400.0) * 86400.0;
      end_lat = prev_p0_lat;
      if (tsince - t_lastin > p.STEP + kRestoreMargin) {
        mindist = prev_mindist;
        min_day = prev_min_day;
        min_sec = prev_min_sec;
      }
      double best_alpha = 0.0;
      double bgc_lon = 0.0;
      double bgc_lat = 0.0;
      ALPHAOTIM4(table, orbit.earth, orbit.sgp8_a, orbit.sgp8_b, elset, min_day, min_sec,
                 p.UTC_DIFF, p.STEP, p.CEN_GC_LON, p.CEN_GC_LAT, p.BETA, best_alpha, bgc_lon,
                 bgc_lat);
      double best_lon = 0.0;
      double best_lat = 0.0;
      to_geodetic(bgc_lon, bgc_lat, r_local, best_lon, best_lat);
      mindist = std::sqrt((best_lat - p.CEN_LAT) * (best_lat - p.CEN_LAT) +
                          (best_lon - p.CEN_LON) * (best_lon - p.CEN_LON));
      double best_day = min_day;
      double best_sec = min_sec + p.UTC_DIFF * 3600.0;
      correct_day(best_day, best_sec);
      INSTHOR3(best_day, best_sec, best_text);
      write_best_alpha(files.out1.get(), best_alpha, best_text, best_lon, best_lat);
      const char pass = end_lat > start_lat ? 'A' : 'D';
      if (pass == 'D') {
        write_summary(files.out3.get(), ncontact, cstart_text, cend_text, duration, best_text,
                      best_alpha, mindist, pass);
      }
      write_summary(files.out2.get(), ncontact, cstart_text, cend_text, duration, best_text,
                    best_alpha, mindist, pass);
      mindist = 360.0;
      min_day = 0.0;
      min_sec = 0.0;
    }

    // 13. Start of a contact.
    if (in == 1 && prev_in == 0) {
      ++ncontact;
      write_contact_heading(files.out1.get(), ncontact);
      cstart_day = local_day;
      cstart_sec = local_sec;
      cstart_text = local_text;
      start_lat = pt[1];
    }

    // 14. The step's line.
    if (in == 1) write_step_line(files.out1.get(), local_text, gd);

    // 15. Advance.
    cur_sec = cur_sec + p.STEP;
    if (cur_sec > 86400.0) {
      cur_day = cur_day + 1.0;
      cur_sec = cur_sec - 86400.0;
    }
  }
}

}  // namespace orvus
