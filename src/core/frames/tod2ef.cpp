#include "core/frames/tod2ef.hpp"

#include <erfa.h>

#include <cmath>

#include "orvus/constants.hpp"

namespace orvus {

namespace {

using V3 = std::array<double, 3>;

// R v.
V3 about_pole(double c, double s, const double* v) {
  return {c * v[0] + s * v[1], -s * v[0] + c * v[1], v[2]};
}

// R r and R v + Rdot r, Rdot = w dR/dtheta by rows (-s w, c w, 0), (-c w, -s w, 0), (0, 0, 0).
void state_about_pole(double c, double s, const StateVector& tod, StateVector& pef) {
  const double w = constants::earth_rotation_rad_s;
  const V3 r = about_pole(c, s, tod.data());
  const V3 v = about_pole(c, s, tod.data() + 3);
  pef = {r[0],
         r[1],
         r[2],
         v[0] + ((-s * w) * tod[0] + (c * w) * tod[1]),
         v[1] + ((-c * w) * tod[0] + (-s * w) * tod[1]),
         v[2]};
}

// S W p.
V3 pole_and_locator(double x, double y, double sp, const V3& p) {
  const V3 w = {p[0] + x * p[2], p[1] - y * p[2], -x * p[0] + y * p[1] + p[2]};
  return {w[0] + sp * w[1], -sp * w[0] + w[1], w[2]};
}

}  // namespace

void mat_vec(int n, int m, const double* a, const double* x, double* y) {
  for (int i = 0; i < m; ++i) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum += a[j * n + i] * x[j];
    y[i] = sum;
  }
}

EarthAt earth_at(double date1, double date2, const EopRows& table) {
  double xp = 0.0;
  double yp = 0.0;
  double dut1 = 0.0;
  locate_eop(date1 - constants::mjd_zero_jd + date2, table, xp, yp, dut1);
  return {date1, dut1 / constants::seconds_per_day + date2, xp, yp};
}

EarthTurn::EarthTurn(double theta, const EarthAt& at)
    : c_(std::cos(theta)),
      s_(std::sin(theta)),
      x_(at.xp / 3600.0 * constants::deg_to_rad),
      y_(at.yp / 3600.0 * constants::deg_to_rad),
      sp_(eraSp00(at.date1, at.ut1)) {}

std::array<double, 3> EarthTurn::position(const double* tod) const {
  return pole_and_locator(x_, y_, sp_, about_pole(c_, s_, tod));
}

void EarthTurn::state(const StateVector& tod, StateVector& ef) const {
  StateVector pef{};
  state_about_pole(c_, s_, tod, pef);
  const V3 r = pole_and_locator(x_, y_, sp_, {pef[0], pef[1], pef[2]});
  const V3 v = pole_and_locator(x_, y_, sp_, {pef[3], pef[4], pef[5]});
  ef = {r[0], r[1], r[2], v[0], v[1], v[2]};
}

void tod_to_ef(double date1, double date2, const StateVector& tod, StateVector& ef,
               const EopRows& table) {
  const EarthAt at = earth_at(date1, date2, table);
  EarthTurn(eraGst06a(at.date1, at.ut1, at.date1, at.ut1), at).state(tod, ef);
}

void tod_to_pef(double date1, double date2, const StateVector& tod, StateVector& pef) {
  rotate_to_pef(eraGst06a(date1, date2, date1, date2), tod, pef);
}

void rotate_to_pef(double theta, const StateVector& tod, StateVector& pef) {
  state_about_pole(std::cos(theta), std::sin(theta), tod, pef);
}

}  // namespace orvus
