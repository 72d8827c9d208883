// True-of-date to Earth-fixed transformation: Greenwich apparent sidereal time with the
// Earth-rotation term of the velocity, then polar motion and the TIO locator s'.
#pragma once

#include <array>

#include "core/orbit/sgp8.hpp"  // StateVector
#include "core/time/eop.hpp"

namespace orvus {

// 3x3 matrix stored column after column: element (i, j) at index (j - 1) * 3 + (i - 1).
using Matrix3 = std::array<double, 9>;

// Y = A X for the leading M x M block of A stored with N rows (here N = M = 3).
void mat_vec(int n, int m, const double* a, const double* x, double* y);

// date1 + date2: two-part UTC Julian Date (date1 = day number + 2433282.5, date2 = s/86400).
void tod_to_ef(double date1, double date2, const StateVector& tod, StateVector& ef,
               const EopRows& table);

// Pseudo-Earth-fixed to Earth-fixed: polar motion (xp, yp in arcseconds) and the TIO locator
// s' at the two-part UT1 Julian Date date1 + ut1_date2.
void pef_to_ef(double date1, double ut1_date2, double xp, double yp, const StateVector& pef,
               StateVector& ef);

// date1 + date2: two-part UT1 Julian Date, used as UT1 and as TT.
void tod_to_pef(double date1, double date2, const StateVector& tod, StateVector& pef);

// The same for a given sidereal angle `theta` (rad): the rotation about the pole and the
// Earth-rotation term of the velocity (m, m/s).
void rotate_to_pef(double theta, const StateVector& tod, StateVector& pef);

}  // namespace orvus
