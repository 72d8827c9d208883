// The Earth's rotation as the sweeps take it, many times a second of the interval: the
// Greenwich apparent sidereal time (IAU 2006/2000A) as GMST (mean_sidereal_time) plus the
// equation of the equinoxes ee = GAST - GMST (eraGst06a - eraGmst06) taken at whole hours of
// UT1 and interpolated linearly between them. |ee''| < 3.9e-7 rad/day^2 (largest second
// difference at 0.05 d steps over 1950-2100: 3.81e-7), so the angle is off by at most
// h^2/8 |ee''| = 8.5e-11 rad (h = 1/24 d): 0.6 mm at 7000 km from the Earth's centre, the
// same whatever the instants asked for.
#pragma once

#include <erfa.h>
#include <erfam.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <memory>

#include "orvus/constants.hpp"
#include "orvus/time.hpp"

namespace orvus::detail {

// fmod(x, 1.0): x - floor(x) is that double, exactly, for 0 <= x < 2^52.
inline double day_fraction(double x) {
  return x >= 0.0 && x < 4503599627370496.0 ? x - std::floor(x) : std::fmod(x, 1.0);
}

// GMST (rad, [0, 2pi)) at the two-part date date1 + ut1 (UT1, also taken as TT): the Earth
// rotation angle 2pi (UT1 fraction of the day + 0.7790572732640 + 0.00273781191135448 Tu),
// Tu = UT1 - 2451545.0, plus the polynomial in TT Julian centuries (IERS Conventions 2010,
// eqs. 5.15 and 5.32). The operations and their order are eraEra00's and eraGmst06's (ERFA
// 2.0), so that the double is theirs; two of their three reductions by fmod are made exactly
// without it (x - floor(x), and one turn subtracted), for speed: the sweeps ask at every
// instant they look at.
inline double mean_sidereal_time(double date1, double ut1) {
  const double d1 = date1 < ut1 ? date1 : ut1, d2 = date1 < ut1 ? ut1 : date1;
  const double t = d1 + (d2 - ERFA_DJ00);
  const double f = day_fraction(d1) + day_fraction(d2);
  double era = std::fmod(ERFA_D2PI * (f + 0.7790572732640 + 0.00273781191135448 * t), ERFA_D2PI);
  if (era < 0.0) era += ERFA_D2PI;
  const double c = ((date1 - ERFA_DJ00) + ut1) / ERFA_DJC;
  const double g =
      era +
      (0.014506 + (4612.156534 +
                   (1.3915817 + (-0.00000044 + (-0.000029956 + (-0.0000000368) * c) * c) * c) * c) *
                      c) *
          ERFA_DAS2R;
  // eraAnp(g): within a turn of [0, 2pi), fmod would give g itself or g - 2pi (exact).
  if (g < 0.0) return g <= -ERFA_D2PI ? eraAnp(g) : g + ERFA_D2PI;
  return g < ERFA_D2PI ? g : (g < 2.0 * ERFA_D2PI ? g - ERFA_D2PI : eraAnp(g));
}

class SiderealTime {
 public:
  // Nodes from two days before the UTC day of `first` to four days after that of `last`,
  // each computed when first needed (thread-safe); outside them ee is computed at the instant.
  SiderealTime(const UtcInstant& first, const UtcInstant& last);
  // GAST (rad, not reduced to one turn) at the two-part date date1 + ut1 (UT1, also taken as
  // TT), the sidereal angle of EarthTurn (tod2ef.hpp).
  [[nodiscard]] double at(double date1, double ut1) const {
    return mean_sidereal_time(date1, ut1) + equinoxes(date1 - constants::mjd_zero_jd + ut1);
  }

 private:
  [[nodiscard]] double equinoxes(double ut1_mjd) const {
    const double s = (ut1_mjd - node0_) * 24.0;
    const double k = std::floor(s);
    if (!(k >= 0.0 && k + 1.0 < static_cast<double>(nodes_))) return beyond_nodes(ut1_mjd);
    const auto i = static_cast<std::size_t>(k);
    const double e0 = node(i), e1 = node(i + 1);
    return e0 + (e1 - e0) * (s - k);
  }
  [[nodiscard]] double node(std::size_t i) const {
    const double e = ee_[i].load(std::memory_order_relaxed);
    return std::isnan(e) ? first_use(i) : e;
  }
  [[nodiscard]] double first_use(std::size_t i) const;
  [[nodiscard]] static double beyond_nodes(double ut1_mjd);

  double node0_ = 0.0;  // UT1 MJD of the first node
  std::size_t nodes_ = 0;
  std::unique_ptr<std::atomic<double>[]> ee_;  // NaN until computed
};

}  // namespace orvus::detail
