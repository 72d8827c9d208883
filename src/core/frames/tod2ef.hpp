// True-of-date to Earth-fixed, the one transformation of the library: the rotation R about the
// pole by a sidereal angle (with the Earth-rotation term of the velocity), then the polar
// motion W and the TIO locator S (s', eraSp00), with the day's x_p, y_p and UT1 - UTC (IERS
// Conventions 2010, 5.4). tod_to_ef takes the sidereal angle as Greenwich apparent sidereal
// time (IAU 2006/2000A, eraGst06a); the sweeps take it from SiderealTime
// (earth_rotation.hpp), within 8.5e-11 rad of it.
#pragma once

#include <erfa.h>

#include <array>
#include <cmath>

#include "core/time/eop.hpp"
#include "orvus/constants.hpp"
#include "orvus/orbit.hpp"

namespace orvus {

// 3x3 matrix stored column after column: element (i, j) at index (j - 1) * 3 + (i - 1).
using Matrix3 = std::array<double, 9>;

// Y = A X for the leading M x M block of A stored with N rows (here N = M = 3).
void mat_vec(int n, int m, const double* a, const double* x, double* y);

// UT1 and the pole at the UTC two-part Julian Date date1 + date2 (date1 = day number +
// 2433282.5, date2 = s/86400), from the table's row for the UTC day (locate_eop, which stops
// when the table lacks the day): UT1 = date1 + ut1 (days); x_p, y_p in arcseconds.
struct EarthAt {
  double date1 = 0.0, ut1 = 0.0, xp = 0.0, yp = 0.0;
};
inline EarthAt earth_at(double date1, double date2, const EopRows& table) {
  double xp = 0.0;
  double yp = 0.0;
  double dut1 = 0.0;
  locate_eop(date1 - constants::mjd_zero_jd + date2, table, xp, yp, dut1);
  return {date1, dut1 / constants::seconds_per_day + date2, xp, yp};
}

// The rotations at one instant, by rows: R = (c, s, 0), (-s, c, 0), (0, 0, 1) with c, s the
// cosine and sine of the sidereal angle; W = (1, 0, x), (0, 1, -y), (-x, y, 1) with the pole
// x_p, y_p in radians; S = (1, s', 0), (-s', 1, 0), (0, 0, 1). Earth-fixed = S W R true-of-date.
// Inline: the sweeps turn a state at every instant they look at.
class EarthTurn {
 public:
  // `theta`: the sidereal angle (rad); s' at date1 + ut1 (UT1, also taken as TT).
  EarthTurn(double theta, const EarthAt& at)
      : c_(std::cos(theta)),
        s_(std::sin(theta)),
        x_(at.xp / 3600.0 * constants::deg_to_rad),
        y_(at.yp / 3600.0 * constants::deg_to_rad),
        sp_(eraSp00(at.date1, at.ut1)) {}
  // The Earth-fixed position (m) of a true-of-date one.
  [[nodiscard]] std::array<double, 3> position(const double* tod) const {
    return pole_and_locator(about_pole(tod));
  }
  // The Earth-fixed state (m, m/s) of a true-of-date one; the velocity gains the
  // Earth-rotation term w dR/dtheta r (w the nominal rate, constants::earth_rotation_rad_s).
  void state(const StateVector& tod, StateVector& ef) const {
    StateVector pef{};
    state_about_pole(c_, s_, tod, pef);
    const std::array<double, 3> r = pole_and_locator({pef[0], pef[1], pef[2]});
    const std::array<double, 3> v = pole_and_locator({pef[3], pef[4], pef[5]});
    ef = {r[0], r[1], r[2], v[0], v[1], v[2]};
  }

  // R r and R v + Rdot r, Rdot = w dR/dtheta by rows (-s w, c w, 0), (-c w, -s w, 0),
  // (0, 0, 0), for the cosine c and sine s of the angle.
  static void state_about_pole(double c, double s, const StateVector& tod, StateVector& pef) {
    const double w = constants::earth_rotation_rad_s;
    const std::array<double, 3> r = about_pole(c, s, tod.data());
    const std::array<double, 3> v = about_pole(c, s, tod.data() + 3);
    pef = {r[0],
           r[1],
           r[2],
           v[0] + ((-s * w) * tod[0] + (c * w) * tod[1]),
           v[1] + ((-c * w) * tod[0] + (-s * w) * tod[1]),
           v[2]};
  }

 private:
  static std::array<double, 3> about_pole(double c, double s, const double* v) {
    return {c * v[0] + s * v[1], -s * v[0] + c * v[1], v[2]};
  }
  [[nodiscard]] std::array<double, 3> about_pole(const double* v) const {
    return about_pole(c_, s_, v);
  }
  // S W p.
  [[nodiscard]] std::array<double, 3> pole_and_locator(const std::array<double, 3>& p) const {
    const std::array<double, 3> w = {p[0] + x_ * p[2], p[1] - y_ * p[2],
                                     -x_ * p[0] + y_ * p[1] + p[2]};
    return {w[0] + sp_ * w[1], -sp_ * w[0] + w[1], w[2]};
  }

  double c_ = 1.0, s_ = 0.0, x_ = 0.0, y_ = 0.0, sp_ = 0.0;
};

// date1 + date2: two-part UTC Julian Date (date1 = day number + 2433282.5, date2 = s/86400).
void tod_to_ef(double date1, double date2, const StateVector& tod, StateVector& ef,
               const EopRows& table);

// R alone (the pseudo-Earth-fixed state), at date1 + date2 taken as UT1 and as TT.
void tod_to_pef(double date1, double date2, const StateVector& tod, StateVector& pef);

// R alone for a given sidereal angle `theta` (rad), with the Earth-rotation term of the
// velocity (m, m/s).
void rotate_to_pef(double theta, const StateVector& tod, StateVector& pef);

}  // namespace orvus
