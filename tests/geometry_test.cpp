// Coordinate conversions, the off-nadir ground point and the best off-nadir angle.
#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/best_angle.hpp"
#include "core/geometry/coords.hpp"
#include "core/geometry/equal_area.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/orbit/model.hpp"
#include "core/time/eop.hpp"
#include "core/time/time_text.hpp"
#include "orbit_setup.hpp"
#include "test_support.hpp"

namespace orvus {
namespace {

using test::data_path;

double norm(const Vec3& v) {
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}
Vec3 unit(const Vec3& v) {
  const double n = norm(v);
  return {v[0] / n, v[1] / n, v[2] / n};
}
double dot(const Vec3& a, const Vec3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double angle_between(const Vec3& a, const Vec3& b) {
  return std::atan2(norm(cross(a, b)), dot(a, b));
}
// Unit vector of geocentric longitude and latitude in degrees.
Vec3 direction(double lon, double lat) {
  const double k = M_PI / 180.0;
  return {std::cos(lat * k) * std::cos(lon * k), std::cos(lat * k) * std::sin(lon * k),
          std::sin(lat * k)};
}

TEST(Coordinates, ArcTangents) {
  EXPECT_EQ(angle_pm_pi(0, 0), 0.0);
  EXPECT_EQ(angle_0_2pi(0, 0), 0.0);
  EXPECT_DOUBLE_EQ(angle_pm_pi(-1, -1), -3 * M_PI / 4);
  EXPECT_DOUBLE_EQ(angle_0_2pi(-1, -1), 5 * M_PI / 4);
  EXPECT_DOUBLE_EQ(angle_pm_pi(0, -1), M_PI);
  EXPECT_DOUBLE_EQ(angle_0_2pi(0, -1), M_PI);
}

TEST(Coordinates, SphericalRoundTripAndRates) {
  const Vec3 p = {-3.0e6, 4.0e6, 5.0e6};
  Vec3 s{}, q{};
  cartesian_to_spherical(p, s);
  EXPECT_DOUBLE_EQ(s[2], std::sqrt(50.0e12));
  EXPECT_DOUBLE_EQ(s[1], std::asin(5.0 / std::sqrt(50.0)));
  spherical_to_cartesian(s, q);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(q[k], p[k], 1e-8);

  // Rates against a numerical derivative, including a position with x exactly 0.
  for (const Vec6 st : {Vec6{-3.0e6, 4.0e6, 5.0e6, 1000.0, -2000.0, 300.0},
                        Vec6{0.0, 7.0e6, 1.0e5, 500.0, 10.0, 7000.0}}) {
    Vec6 sv{};
    state_to_spherical(st, sv);
    ASSERT_TRUE(std::isfinite(sv[3]));
    const double h = 1e-3;
    Vec6 a = st, b = st;
    for (int k = 0; k < 3; ++k) {
      a[k] -= h * st[3 + k];
      b[k] += h * st[3 + k];
    }
    Vec6 sa{}, sb{};
    state_to_spherical(a, sa);
    state_to_spherical(b, sb);
    EXPECT_NEAR(sv[3], (sb[0] - sa[0]) / (2 * h), 1e-9);
    EXPECT_NEAR(sv[4], (sb[1] - sa[1]) / (2 * h), 1e-9);
    EXPECT_NEAR(sv[5], (sb[2] - sa[2]) / (2 * h), 1e-6);
  }
  Vec6 sv{};
  state_to_spherical({-1.0, -1.0, 0.0, 0, 0, 0}, sv);
  EXPECT_DOUBLE_EQ(sv[0], 5 * M_PI / 4);  // longitude in [0, 2pi)
}

TEST(Coordinates, GeodeticAgainstErfaAndRoundTrips) {
  // The same ellipsoid for ERFA: f = 1 - b/a = 1 - sqrt(1 - e^2).
  const double f = 1.0 - std::sqrt(constants::iau2009_one_minus_e2);
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0), lon(-M_PI, M_PI), lat(-M_PI / 2, M_PI / 2);
  // Points of known geodetic height from 5 km below the surface out to 40,000 km, built by
  // ERFA, in every octant.
  double worst_lat = 0.0, worst_h = 0.0;        // on or above the surface
  double worst_lat_bs = 0.0, worst_h_bs = 0.0;  // below it
  for (int i = 0; i < 40000; ++i) {
    const double h = i < 20000 ? -5e3 + 10e3 * std::fabs(u(rng))  // around the surface
                               : 3.4e7 * std::pow(std::fabs(u(rng)), 2.0);
    const double g_lon = std::fabs(lon(rng)) * ((i & 1) ? -1 : 1);
    const double g_lat = std::fabs(lat(rng)) * ((i & 2) ? -1 : 1);
    Vec3 p{};
    ASSERT_EQ(eraGd2gce(constants::iau2009_a_m, f, g_lon, g_lat, h, p.data()), 0);
    Vec3 g{};
    cartesian_to_geodetic(p, g);
    ASSERT_NEAR(g[0], g_lon, 1e-14);
    double& wl = h >= 0 ? worst_lat : worst_lat_bs;
    double& wh = h >= 0 ? worst_h : worst_h_bs;
    wl = std::max(wl, std::fabs(g[1] - g_lat));
    wh = std::max(wh, std::fabs(g[2] - h));
  }
  // Deep inside the Earth, from the centre region out: the iteration stops after its first
  // (negative) correction, so only a rough answer is expected there.
  double worst_deep_lat = 0.0;
  for (int i = 0; i < 4000; ++i) {
    Vec3 d = unit({u(rng), u(rng), u(rng)});
    for (int k = 0; k < 3; ++k) d[k] = std::fabs(d[k]) * (((i >> k) & 1) ? -1.0 : 1.0);
    const double r = 1.0e3 + 6.3e6 * (i / 4000.0);
    Vec3 p = {d[0] * r, d[1] * r, d[2] * r};
    Vec3 g{};
    cartesian_to_geodetic(p, g);
    double elong = 0, phi = 0, height = 0;
    ASSERT_EQ(eraGc2gde(constants::iau2009_a_m, f, p.data(), &elong, &phi, &height), 0);
    ASSERT_TRUE(std::isfinite(g[1]) && std::isfinite(g[2])) << r;
    EXPECT_NEAR(g[0], elong, 1e-14);
    worst_deep_lat = std::max(worst_deep_lat, std::fabs(g[1] - phi));
  }
  std::printf(
      "geodetic vs ERFA: 0 to 40,000 km %.3g rad %.3g m; 0 to -5 km %.3g rad %.3g m; "
      "inside %.3g rad\n",
      worst_lat, worst_h, worst_lat_bs, worst_h_bs, worst_deep_lat);
  // Above the surface the last correction is at most tau = 3.2e-5, which leaves an error of
  // the order of a tau^2 (millimetres) in height.
  EXPECT_LT(worst_lat, 1e-11);
  EXPECT_LT(worst_h, 2e-2);
  // Below it the single correction leaves an error growing with the square of the depth.
  EXPECT_LT(worst_lat_bs, 1e-8);
  EXPECT_LT(worst_h_bs, 10.0);

  // Round trips geodetic -> Cartesian -> geodetic.
  std::uniform_real_distribution<double> hh(0.0, 3.4e7);
  for (int i = 0; i < 20000; ++i) {
    const Vec3 g = {lon(rng), lat(rng), hh(rng)};
    Vec3 p{}, back{};
    geodetic_to_cartesian(g, p);
    cartesian_to_geodetic(p, back);
    ASSERT_NEAR(back[0], g[0], 1e-14);
    ASSERT_NEAR(back[1], g[1], 1e-11);
    ASSERT_NEAR(back[2], g[2], 2e-2);
  }
  // A point on the equator at x = a is at height 0.
  Vec3 g{};
  cartesian_to_geodetic({constants::iau2009_a_m, 0.0, 0.0}, g);
  EXPECT_EQ(g[0], 0.0);
  EXPECT_EQ(g[1], 0.0);
  EXPECT_NEAR(g[2], 0.0, 1e-6);
}

// A satellite state: position at `altitude` above a sphere of radius R in direction d,
// velocity perpendicular to it.
struct Constructed {
  Vec6 state{};
  Vec3 r{}, u{};
};

Constructed construct(const Vec3& d, const Vec3& along, double radius, double altitude) {
  Constructed c;
  const Vec3 r = {d[0] * (radius + altitude), d[1] * (radius + altitude),
                  d[2] * (radius + altitude)};
  // Velocity: the along direction made perpendicular to r, at 7.5 km/s.
  const double a = dot(along, d);
  const Vec3 v = unit({along[0] - a * d[0], along[1] - a * d[1], along[2] - a * d[2]});
  c.state = {r[0], r[1], r[2], 7500 * v[0], 7500 * v[1], 7500 * v[2]};
  c.r = r;
  c.u = unit(cross(r, v));
  return c;
}

// The equal-area projection: a box's outline (its sides finely divided) encloses on the
// plane the box's area on the unit sphere, dlon (sin lat2 - sin lat1); the inverse gives the
// position back; cos_from_centre is the dot product of the unit vectors. Centres anywhere,
// boxes across +-180 and reaching within 5 deg of the pole, centres given in radians too.
TEST(EqualArea, AreasAreTheSpheresAndTheInverseGivesThePositionBack) {
  std::mt19937_64 rng(13);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  const double k = M_PI / 180.0;
  for (int trial = 0; trial < 200; ++trial) {
    const double lon0 = -180.0 + 360.0 * u01(rng), lat0 = -75.0 + 150.0 * u01(rng);
    const detail::EqualArea proj = trial % 2 ? detail::EqualArea(lon0, lat0)
                                             : detail::EqualArea::about_radians(lon0 * k, lat0);
    const double w = 0.5 + 20.0 * u01(rng), h = 0.5 + 20.0 * u01(rng);
    const double lon1 = lon0 - w * u01(rng), lat1 = std::max(lat0 - h * u01(rng), -85.0);
    const double lon2 = lon1 + w, lat2 = std::min(lat1 + h, 85.0);
    std::vector<detail::PlanePoint> ring;
    const int n = 2000;
    for (int i = 0; i < n; ++i) ring.push_back(proj(lon1 + w * i / n, lat1));
    for (int i = 0; i < n; ++i) ring.push_back(proj(lon2, lat1 + (lat2 - lat1) * i / n));
    for (int i = 0; i < n; ++i) ring.push_back(proj(lon2 - w * i / n, lat2));
    for (int i = 0; i < n; ++i) ring.push_back(proj(lon1, lat2 - (lat2 - lat1) * i / n));
    double twice = 0.0;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
      twice += ring[j].x() * ring[i].y() - ring[i].x() * ring[j].y();
    const double sphere = w * k * (std::sin(lat2 * k) - std::sin(lat1 * k));
    EXPECT_NEAR(std::fabs(twice) / 2.0, sphere, 1e-5 * sphere) << trial;
    for (int i = 0; i < 20; ++i) {
      const double lon = lon0 + 170.0 * (u01(rng) - 0.5), lat = -89.0 + 178.0 * u01(rng);
      const double cos_c = dot(direction(lon, lat), direction(lon0, lat0));
      EXPECT_NEAR(proj.cos_from_centre(lon, lat), cos_c, 1e-12);
      if (cos_c < -0.9) continue;  // near the antipode the plane's rim compresses everything
      const GroundPoint back = proj.inverse(proj(lon, lat));
      EXPECT_NEAR(back.lat_deg, lat, 1e-9);
      EXPECT_NEAR(std::remainder(back.lon_deg - lon, 360.0) * std::cos(lat * k), 0.0, 1e-9);
      EXPECT_GT(back.lon_deg, -180.0);
      EXPECT_LE(back.lon_deg, 180.0);
    }
  }
}

TEST(OffNadir, GroundPointIsWhereTheLineOfSightMeetsTheSphere) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0), alt(400e3, 1000e3), ang(-60.0, 60.0);
  double worst = 0.0;
  for (int i = 0; i < 20000; ++i) {
    const double radius = 6.357e6 + 21e3 * std::fabs(u(rng));
    const Constructed c =
        construct(unit({u(rng), u(rng), u(rng)}), {u(rng), u(rng), u(rng)}, radius, alt(rng));
    const double alpha = i == 0 ? 0.0 : ang(rng);
    Vec3 nadir{}, normal{};
    double height = 0;
    nadir_frame(c.state, {}, radius, nadir, normal, height);
    double lon = 0, lat = 0;
    off_nadir_point(c.state, {}, radius, nadir, normal, height, alpha, lon, lat);
    // Independent: the ray from the satellite tilted by alpha from nadir towards u.
    const Vec3 rhat = unit(c.r);
    const double a = alpha * M_PI / 180.0;
    const Vec3 d = {-std::cos(a) * rhat[0] + std::sin(a) * c.u[0],
                    -std::cos(a) * rhat[1] + std::sin(a) * c.u[1],
                    -std::cos(a) * rhat[2] + std::sin(a) * c.u[2]};
    const double b = dot(c.r, d);
    const double t = -b - std::sqrt(b * b - (dot(c.r, c.r) - radius * radius));
    const Vec3 p = {c.r[0] + t * d[0], c.r[1] + t * d[1], c.r[2] + t * d[2]};
    worst = std::max(worst, angle_between(p, direction(lon, lat)));
  }
  std::printf("off-nadir point against the ray-sphere intersection: %.3g rad\n", worst);
  EXPECT_LT(worst, 1e-9);
}

TEST(OffNadir, SymmetryAndSignConvention) {
  // Over the equator at longitude 0, moving east: r x v points north, so a positive
  // angle looks north (left of the track) and a negative one south.
  const double radius = 6378135.0;
  const Constructed c = construct({1, 0, 0}, {0, 1, 0}, radius, 700e3);
  Vec3 nadir{}, normal{};
  double height = 0;
  nadir_frame(c.state, {}, radius, nadir, normal, height);
  EXPECT_NEAR(height, 700e3, 1e-6);
  EXPECT_NEAR(normal[2], 1.0, 1e-15);
  double lon_p = 0, lat_p = 0, lon_m = 0, lat_m = 0;
  off_nadir_point(c.state, {}, radius, nadir, normal, height, 30.0, lon_p, lat_p);
  off_nadir_point(c.state, {}, radius, nadir, normal, height, -30.0, lon_m, lat_m);
  EXPECT_GT(lat_p, 0.0);
  EXPECT_LT(lat_m, 0.0);
  EXPECT_NEAR(lat_p, -lat_m, 1e-12);
  EXPECT_NEAR(lon_p, 0.0, 1e-12);
  // Hand value: gamma = asin(7078.135/6378.135 sin 30) = 33.695 deg, central angle 3.695 deg.
  EXPECT_NEAR(lat_p, std::asin(7078135.0 / 6378135.0 * 0.5) * 180 / M_PI - 30.0, 1e-9);

  // On any state, alpha and -alpha mirror each other across the orbit plane.
  const Constructed d = construct(unit({0.3, -0.5, 0.8}), {0.9, 0.2, 0.1}, radius, 500e3);
  nadir_frame(d.state, {}, radius, nadir, normal, height);
  off_nadir_point(d.state, {}, radius, nadir, normal, height, 17.0, lon_p, lat_p);
  off_nadir_point(d.state, {}, radius, nadir, normal, height, -17.0, lon_m, lat_m);
  const Vec3 wp = direction(lon_p, lat_p), wm = direction(lon_m, lat_m);
  EXPECT_NEAR(dot(wp, normal), -dot(wm, normal), 1e-12);
  const Vec3 diff = {wp[0] - wm[0], wp[1] - wm[1], wp[2] - wm[2]};
  EXPECT_NEAR(angle_between(diff, normal), 0.0, 1e-9);

  // Past the limb the line of sight misses: NaN, which no box contains.
  off_nadir_point(c.state, {}, radius, nadir, normal, height, 70.0, lon_p, lat_p);
  EXPECT_TRUE(std::isnan(lon_p));
  EXPECT_TRUE(std::isnan(lat_p));
  // Zero angle: the sub-satellite point; a longitude past 180 wraps.
  const Constructed e = construct(direction(180.0000005, 10.0), {0, 0, 1}, radius, 600e3);
  nadir_frame(e.state, {}, radius, nadir, normal, height);
  off_nadir_point(e.state, {}, radius, nadir, normal, height, 0.0, lon_p, lat_p);
  EXPECT_NEAR(lon_p, -179.9999995, 1e-9);
  EXPECT_NEAR(lat_p, 10.0, 1e-9);
}

// --- Best off-nadir angle on a real element set and the real Earth-orientation file ---

struct RealOrbit {
  ElementSet elements;
  double a = 0, p = 0, ph = 0;
  EarthConstants earth{};
  Sgp8Elements sa;
  Sgp8Coefficients sb;
  EopRows table;
  RealOrbit() {
    const test::OrbitSetup s = test::set_up_orbit(data_path("tle/landsat8_2024.tle"));
    elements = s.elements;
    a = s.mean_a;
    p = s.period;
    ph = s.phase;
    earth = s.earth;
    sa = s.a;
    sb = s.b;
    load_eop_file(table, data_path("finals2000A.data"));
  }
  // Earth-fixed state at (day, seconds).
  StateVector ef(double day, double sec) const {
    StateVector tod{}, out{};
    sgp8_propagate((day - elements.epoch.day) * 86400.0 + (sec - elements.epoch.seconds), tod,
                   earth, sa, sb);
    tod_to_ef(day + constants::mjd1950_to_jd, sec / 86400.0, tod, out, table);
    return out;
  }
  // Geocentric sub-satellite longitude and latitude in degrees.
  void ssp(double day, double sec, double& lon, double& lat) const {
    Vec6 s{};
    state_to_spherical(ef(day, sec), s);
    lon = s[0] * 180 / M_PI;
    if (lon > 180) lon -= 360;
    lat = s[1] * 180 / M_PI;
  }
};

const RealOrbit& real_orbit() {
  static const RealOrbit orbit;
  return orbit;
}

TEST(BestAngle, TargetOnTheTrackIsSeenAtNadirAtClosestApproach) {
  const RealOrbit& o = real_orbit();
  const double day = o.elements.epoch.day + 1;
  // Sub-satellite points at latitudes 6.8 N, 5.1 S, 24.9 N and 47.0 S.
  for (double t0 : {20600.0, 23600.0, 20300.0, 21500.0}) {
    double lon = 0, lat = 0;
    o.ssp(day, t0, lon, lat);
    double d = day, s = t0 + 12.0;  // the nearest contact step, 12 s off
    double best = 0, blon = 0, blat = 0;
    best_off_nadir(o.table, o.earth, o.sa, o.sb, {o.elements.epoch.day, o.elements.epoch.seconds},
                   d, s, lon, lat, best, blon, blat);
    // A fine scan of the angular distance of the sub-satellite point from the target.
    double t_min = 0, d_min = 1e300;
    for (double t = t0 - 20; t <= t0 + 20; t += 0.01) {
      double l = 0, b = 0;
      o.ssp(day, t, l, b);
      const double dist = angle_between(direction(l, b), direction(lon, lat));
      if (dist < d_min) {
        d_min = dist;
        t_min = t;
      }
    }
    EXPECT_EQ(d, day);
    EXPECT_NEAR(s, t_min, 0.1) << t0;
    // The target is placed on the sphere of the equatorial radius a and the nadir point on
    // the local sphere R*, so an on-track target is seen at the angle of their radial
    // offset: atan((a - R*) / H), zero at the equator.
    const StateVector st = o.ef(d, s);
    Vec6 geo{};
    state_to_spherical(st, geo);
    const double a = o.earth[0], b = a * 0.9966471868221031;
    const double radius = b + (a - b) * std::cos(geo[1]);
    const double h = norm({st[0], st[1], st[2]}) - radius;
    const double offset = std::atan((a - radius) / h) * 180 / M_PI;
    EXPECT_NEAR(std::fabs(best), offset, 0.05) << t0;
    if (std::fabs(lat) < 10) {
      EXPECT_NEAR(best, 0.0, 0.06) << t0;
    }
    EXPECT_NEAR(blat, lat, 0.1);
    EXPECT_NEAR(blon, lon, 0.1);
  }
}

TEST(BestAngle, TargetsEitherSideGiveOppositeSigns) {
  const RealOrbit& o = real_orbit();
  const double day = o.elements.epoch.day + 1;
  const double t0 = 20600.0;  // latitude 6.8 N
  const StateVector st = o.ef(day, t0);
  Vec6 geo{};
  state_to_spherical(st, geo);
  const double a = o.earth[0], b = a * 0.9966471868221031;
  const double radius = b + (a - b) * std::cos(geo[1]);
  Vec3 nadir{}, normal{};
  double height = 0;
  nadir_frame(st, geo, radius, nadir, normal, height);
  for (double alpha : {-25.0, -8.0, 8.0, 25.0}) {
    double lon = 0, lat = 0;
    off_nadir_point(st, geo, radius, nadir, normal, height, alpha, lon, lat);
    double d = day, s = t0 - 5.0;
    double best = 0, blon = 0, blat = 0;
    best_off_nadir(o.table, o.earth, o.sa, o.sb, {o.elements.epoch.day, o.elements.epoch.seconds},
                   d, s, lon, lat, best, blon, blat);
    EXPECT_GT(best * alpha, 0.0) << alpha;  // same side as the angle that put it there
    // atan(cross-track distance / height) at the abeam instant.
    const double cross_track = angle_between({st[0], st[1], st[2]}, direction(lon, lat)) * a;
    const double flat = std::atan(cross_track / height) * 180 / M_PI;
    EXPECT_NEAR(std::fabs(best), flat, 0.02 * flat) << alpha;
    // Abeam at the instant the point was seen, up to the distortion of treating longitude
    // and latitude as plane coordinates.
    EXPECT_NEAR(s, t0, 0.1 * std::fabs(alpha)) << alpha;
  }
}

TEST(BestAngle, DegenerateInputsAndMidnight) {
  const RealOrbit& o = real_orbit();
  const double day = o.elements.epoch.day + 1;
  // Target exactly under the point 30 s before: the projection is zero, the best time t - 30.
  double lon = 0, lat = 0;
  o.ssp(day, 50000.0 - 30.0, lon, lat);
  double d = day, s = 50000.0, best = 0, blon = 0, blat = 0;
  best_off_nadir(o.table, o.earth, o.sa, o.sb, {o.elements.epoch.day, o.elements.epoch.seconds}, d,
                 s, lon, lat, best, blon, blat);
  EXPECT_EQ(d, day);
  EXPECT_NEAR(s, 50000.0 - 30.0, 1e-6);
  EXPECT_TRUE(std::isfinite(best));
  EXPECT_LT(std::fabs(best), 0.5);

  // Input seconds 10: the first sub-satellite point lies on the previous day; the result
  // agrees with the same search started 30 s later.
  o.ssp(day, 15.0, lon, lat);
  double d1 = day, s1 = 10.0, d2 = day, s2 = 40.0, b1 = 0, b2 = 0;
  best_off_nadir(o.table, o.earth, o.sa, o.sb, {o.elements.epoch.day, o.elements.epoch.seconds}, d1,
                 s1, lon, lat, b1, blon, blat);
  best_off_nadir(o.table, o.earth, o.sa, o.sb, {o.elements.epoch.day, o.elements.epoch.seconds}, d2,
                 s2, lon, lat, b2, blon, blat);
  EXPECT_EQ(d1, day);
  EXPECT_NEAR(s1, 15.0, 0.2);
  EXPECT_NEAR(s1, s2, 0.2);
  // Before midnight, the best time wraps back to the previous day.
  o.ssp(day - 1, 86395.0, lon, lat);
  double d3 = day, s3 = 5.0;
  best_off_nadir(o.table, o.earth, o.sa, o.sb, {o.elements.epoch.day, o.elements.epoch.seconds}, d3,
                 s3, lon, lat, b1, blon, blat);
  EXPECT_EQ(d3, day - 1);
  EXPECT_NEAR(s3, 86395.0, 0.2);

  const double x[6] = {1, 2, 3, 4, 5, 6}, y[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(ddot(3, x, 1, y, 1), 6.0);
  EXPECT_EQ(ddot(3, x, 2, y, 1), 9.0);
}

}  // namespace
}  // namespace orvus
