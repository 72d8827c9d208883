// The true-of-date to Earth-fixed frame.
#include <erfa.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "core/frames/earth_rotation.hpp"
#include "core/frames/tod2ef.hpp"
#include "core/time/eop.hpp"
#include "core/time/eop_table.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;
using test::fatal_lines;

// The rows of the real file, as the library loaded them.
const EopRows& real_table() {
  return detail::eop_rows(test::eop());
}

// --- True-of-date to Earth-fixed ---

TEST(EarthFixed, AgreesWithErfaCelestialToTerrestrialMatrix) {
  const EopRows& t = real_table();
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0), mjd(48700.0, 61500.0);
  double worst = 0.0;
  for (int i = 0; i < 500; ++i) {
    const double m = mjd(rng);
    const double day = std::floor(m) - 33282.0;
    const double date1 = day + constants::mjd1950_to_jd;
    const double date2 = m - std::floor(m);
    double xp = 0, yp = 0, dut1 = 0;
    locate_eop(m, t, xp, yp, dut1);
    const double u = dut1 / 86400.0 + date2;

    // A GCRS position at satellite distance, brought to true-of-date by ERFA.
    double g[3] = {unit(rng), unit(rng), unit(rng)};
    const double n = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    for (double& c : g) c *= 7.0e6 / n;
    double npb[3][3];
    eraPnm06a(date1, u, npb);
    StateVector tod{};
    eraRxp(npb, g, tod.data());

    StateVector ef{};
    tod_to_ef(date1, date2, tod, ef, t);

    double c2t[3][3];
    const double as = constants::deg_to_rad / 3600.0;
    eraC2t06a(date1, u, date1, u, xp * as, yp * as, c2t);
    double expected[3];
    eraRxp(c2t, g, expected);
    for (int k = 0; k < 3; ++k) worst = std::max(worst, std::fabs(ef[k] - expected[k]));
  }
  EXPECT_LT(worst, 1e-3);  // metres
  std::printf("true-of-date to Earth-fixed against eraC2t06a: largest difference %.3g m\n", worst);
}

// The sweeps' Earth-rotation model (hourly nodes of the equation of the equinoxes) through the
// same transform, against ERFA's celestial-to-terrestrial matrix over a month of instants:
// within its stated 8.5e-11 rad (0.6 mm at 7000 km) of the full transform and of ERFA, and off
// the full sidereal time by some interpolation error (not that sidereal time itself).
TEST(EarthFixed, TheSweepsEarthRotationModelStaysWithinItsStatedError) {
  const EopRows& t = real_table();
  const UtcInstant first{27200.0, 0.0}, last{27230.0, 0.0};  // 2024-06-21 to 2024-07-21
  const detail::SiderealTime model(first, last);
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> unit(-1.0, 1.0), day(first.day, last.day + 1.0);
  const double r = 7.0e6, stated = 8.5e-11 * r;  // m
  double to_full = 0.0, to_erfa = 0.0;
  for (int i = 0; i < 2000; ++i) {
    const double d = day(rng);
    const double date1 = std::floor(d) + constants::mjd1950_to_jd, date2 = d - std::floor(d);
    const EarthAt at = earth_at(date1, date2, t);
    double g[3] = {unit(rng), unit(rng), unit(rng)};
    const double n = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
    for (double& c : g) c *= r / n;
    double npb[3][3];
    eraPnm06a(date1, at.ut1, npb);
    StateVector tod{};
    eraRxp(npb, g, tod.data());

    const auto fast = EarthTurn(model.at(at.date1, at.ut1), at).position(tod.data());
    StateVector full{};
    tod_to_ef(date1, date2, tod, full, t);
    double c2t[3][3];
    const double as = constants::deg_to_rad / 3600.0;
    eraC2t06a(date1, at.ut1, date1, at.ut1, at.xp * as, at.yp * as, c2t);
    double erfa[3];
    eraRxp(c2t, g, erfa);
    to_full =
        std::max(to_full, std::hypot(fast[0] - full[0], fast[1] - full[1], fast[2] - full[2]));
    to_erfa =
        std::max(to_erfa, std::hypot(fast[0] - erfa[0], fast[1] - erfa[1], fast[2] - erfa[2]));
  }
  EXPECT_LT(to_full, stated);
  EXPECT_LT(to_erfa, stated + 1e-4);  // the full transform itself is within 0.03 mm of ERFA
  EXPECT_GT(to_full, 1e-6);           // the model interpolates: it is not the full transform
  std::printf("Earth-rotation model against the full transform %.3g m, against eraC2t06a %.3g m\n",
              to_full, to_erfa);
}

// The model's mean sidereal time is ERFA's to the bit (the sweeps' results depend on it), also
// on dates split otherwise than a day number and a fraction.
TEST(EarthFixed, TheModelsMeanSiderealTimeIsErfasDouble) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> day(0.0, 60000.0), fraction(-0.01, 1.01);
  for (int i = 0; i < 200000; ++i) {
    const double d = std::floor(day(rng)), u = fraction(rng);
    for (const auto& [d1, d2] : {std::pair{d + 2433282.5, u}, std::pair{d + 2433282.5 + u, 0.0},
                                 std::pair{u, d + 2433282.5}, std::pair{2451545.0, u - 0.5}}) {
      ASSERT_EQ(detail::mean_sidereal_time(d1, d2), eraGmst06(d1, d2, d1, d2)) << d1 << " " << d2;
    }
  }
}

TEST(EarthFixed, VelocityCarriesTheEarthRotation) {
  const EopRows& t = real_table();
  const double date1 = 26946.0 + constants::mjd1950_to_jd;
  const StateVector tod = {4.0e6, -5.0e6, 3.0e6, 0.0, 0.0, 0.0};  // at rest in true-of-date
  const double h = 1.0 / 86400.0;                                 // one second
  StateVector a{}, b{}, c{};
  tod_to_ef(date1, 0.4 - h, tod, a, t);
  tod_to_ef(date1, 0.4, tod, b, t);
  tod_to_ef(date1, 0.4 + h, tod, c, t);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[3 + k], (c[k] - a[k]) / 2.0, 1e-4) << k;
  // And a true-of-date velocity is carried through the same rotation.
  StateVector moving = tod;
  moving[3] = 1000.0;
  StateVector m{};
  tod_to_ef(date1, 0.4, moving, m, t);
  const double dv =
      std::sqrt(std::pow(m[3] - b[3], 2) + std::pow(m[4] - b[4], 2) + std::pow(m[5] - b[5], 2));
  EXPECT_NEAR(dv, 1000.0, 1e-9);
}

TEST(EarthFixed, WithoutPolarMotionOnlyTheTioLocatorRemains) {
  const StateVector tod = {7.0e6, 1.0e5, -2.0e5, 10.0, 7000.0, 100.0};
  const double date1 = 2460228.5;
  const double date2 = 0.3;
  StateVector pef{};
  tod_to_pef(date1, date2, tod, pef);
  // A table with one zero row for the day: x_p = y_p = 0, UT1 = UTC.
  EopRows zero;
  zero.mjd = {60228.0};
  zero.xp = {0.0};
  zero.yp = {0.0};
  zero.dut1 = {0.0};
  zero.daily = true;
  StateVector ef{};
  tod_to_ef(date1, date2, tod, ef, zero);
  const double sp = eraSp00(date1, date2);
  EXPECT_NEAR(ef[0], pef[0] + sp * pef[1], 1e-9);
  EXPECT_NEAR(ef[1], pef[1] - sp * pef[0], 1e-9);
  EXPECT_EQ(ef[2], pef[2]);
  // A date without its day in the table stops before any rotation.
  EXPECT_FALSE(fatal_lines([&] { tod_to_ef(date1 + 2, date2, tod, ef, zero); }).empty());
}

TEST(EarthFixed, MatrixVectorProduct) {
  // Column-major storage: element (i, j) at (j - 1) * 3 + (i - 1).
  const double a[9] = {1, 4, 7, 2, 5, 8, 3, 6, 9};  // rows (1 2 3) (4 5 6) (7 8 9)
  const double x[3] = {1, 0, -1};
  double y[3];
  mat_vec(3, 3, a, x, y);
  EXPECT_EQ(y[0], -2.0);
  EXPECT_EQ(y[1], -2.0);
  EXPECT_EQ(y[2], -2.0);
}

}  // namespace
}  // namespace orvus
