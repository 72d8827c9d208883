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

void tod_to_ef(double date1, double date2, const StateVector& tod, StateVector& ef,
               const EopRows& table) {
  const EarthAt at = earth_at(date1, date2, table);
  EarthTurn(eraGst06a(at.date1, at.ut1, at.date1, at.ut1), at).state(tod, ef);
}

void tod_to_pef(double date1, double date2, const StateVector& tod, StateVector& pef) {
  rotate_to_pef(eraGst06a(date1, date2, date1, date2), tod, pef);
}

void rotate_to_pef(double theta, const StateVector& tod, StateVector& pef) {
  EarthTurn::state_about_pole(std::cos(theta), std::sin(theta), tod, pef);
}

}  // namespace orvus
