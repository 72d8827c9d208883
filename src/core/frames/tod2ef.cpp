#include "core/frames/tod2ef.hpp"

#include <erfa.h>

#include <cmath>

#include "orvus/constants.hpp"

namespace orvus {

void mat_vec(int n, int m, const double* a, const double* x, double* y) {
  for (int i = 0; i < m; ++i) {
    double sum = 0.0;
    for (int j = 0; j < m; ++j) sum += a[j * n + i] * x[j];
    y[i] = sum;
  }
}

void tod_to_pef(double date1, double date2, const StateVector& tod, StateVector& pef) {
  rotate_to_pef(eraGst06a(date1, date2, date1, date2), tod, pef);
}

void rotate_to_pef(double theta, const StateVector& tod, StateVector& pef) {
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  const double w = constants::earth_rotation_rad_s;
  // By rows R = (C, S, 0), (-S, C, 0), (0, 0, 1); Rdot = w dR/dtheta.
  const Matrix3 r = {c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0};
  const Matrix3 rdot = {-s * w, -c * w, 0.0, c * w, -s * w, 0.0, 0.0, 0.0, 0.0};
  std::array<double, 3> rv{};
  std::array<double, 3> rdotp{};
  mat_vec(3, 3, r.data(), tod.data(), pef.data());
  mat_vec(3, 3, r.data(), tod.data() + 3, rv.data());
  mat_vec(3, 3, rdot.data(), tod.data(), rdotp.data());
  for (std::size_t i = 0; i < 3; ++i) pef[3 + i] = rv[i] + rdotp[i];
}

void tod_to_ef(double date1, double date2, const StateVector& tod, StateVector& ef,
               const EopRows& table) {
  const double mjd = date1 - constants::mjd_zero_jd + date2;
  double xp = 0.0;
  double yp = 0.0;
  double dut1 = 0.0;
  locate_eop(mjd, table, xp, yp, dut1);
  const double u = dut1 / 86400.0 + date2;

  StateVector pef{};
  tod_to_pef(date1, u, tod, pef);
  pef_to_ef(date1, u, xp, yp, pef, ef);
}

void pef_to_ef(double date1, double ut1_date2, double xp, double yp, const StateVector& pef,
               StateVector& ef) {
  const double u = ut1_date2;
  const double x = xp / 3600.0 * constants::deg_to_rad;
  const double y = yp / 3600.0 * constants::deg_to_rad;
  // By rows W = (1, 0, x), (0, 1, -y), (-x, y, 1).
  const Matrix3 w = {1.0, 0.0, -x, 0.0, 1.0, y, x, -y, 1.0};
  std::array<double, 3> p1{};
  std::array<double, 3> v1{};
  mat_vec(3, 3, w.data(), pef.data(), p1.data());
  mat_vec(3, 3, w.data(), pef.data() + 3, v1.data());

  const double sp = eraSp00(date1, u);
  // By rows S = (1, s', 0), (-s', 1, 0), (0, 0, 1).
  const Matrix3 smat = {1.0, -sp, 0.0, sp, 1.0, 0.0, 0.0, 0.0, 1.0};
  mat_vec(3, 3, smat.data(), p1.data(), ef.data());
  mat_vec(3, 3, smat.data(), v1.data(), ef.data() + 3);
}

}  // namespace orvus
