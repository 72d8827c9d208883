// Ground-station passes. A scan steps through the interval no faster than the elevation can
// reach the mask (a bound on its rate), so that no pass is stepped over; AOS and LOS are then
// found by root finding (TOMS 748: Alefeld, Potra and Shi, ACM TOMS 21, 1995) and the highest
// elevation by Brent's minimisation (Brent, Algorithms for Minimization without Derivatives,
// 1973), both as Boost.Math gives them.
#include "core/search/passes.hpp"

#include <algorithm>
#include <array>
#include <boost/math/tools/minima.hpp>
#include <boost/math/tools/toms748_solve.hpp>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/vec3.hpp"
#include "core/time/eop_table.hpp"
#include "orvus/constants.hpp"
#include "orvus/frames.hpp"

namespace orvus {

namespace {

using V3 = std::array<double, 3>;
constexpr double kDay = constants::seconds_per_day;

constexpr double kMinStep = 1.0;     // s: the scan's shortest step
constexpr double kFinest = 1e-3;     // s: shorter excursions above the mask are not looked for
constexpr double kRootTol = 1e-6;    // s: AOS and LOS brackets
constexpr double kMaxSample = 30.0;  // s: samples of a pass before its maximum is refined
constexpr double kMinRange = 1e5;    // m: no range bound is taken below this

using detail::dot;

// The station: Earth-fixed position (m), the ellipsoid's unit normal there (geodetic up) and
// the mask (rad).
struct Site {
  V3 pos{}, up{};
  double mask = 0.0;
};

// Geodetic to Earth-fixed on WGS 84 (NIMA TR8350.2, eq. 4-14): N = a / sqrt(1 - e^2 sin^2 lat),
// x = (N + h) cos lat cos lon, y = (N + h) cos lat sin lon, z = (N (1 - e^2) + h) sin lat;
// the normal is (cos lat cos lon, cos lat sin lon, sin lat).
Site make_site(const Station& s) {
  const double lon = s.lon_deg * constants::deg_to_rad;
  const double lat = s.lat_deg * constants::deg_to_rad;
  const double e2 = constants::wgs84_f * (2.0 - constants::wgs84_f);
  const double sl = std::sin(lat);
  const double n = constants::wgs84_a_m / std::sqrt(1.0 - e2 * sl * sl);
  Site site;
  site.up = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), sl};
  site.pos = {(n + s.alt_m) * site.up[0], (n + s.alt_m) * site.up[1],
              (n * (1.0 - e2) + s.alt_m) * sl};
  site.mask = s.min_elevation_deg * constants::deg_to_rad;
  return site;
}

// Elevation (rad) of the Earth-fixed position p (m) above the station's geodetic horizon: of
// the line of sight d = p - station, atan2(d.up, |d - (d.up) up|), the topocentric horizon
// frame's elevation (Vallado, Fundamentals of Astrodynamics and Applications, 4th ed., 2013,
// sec. 4.4.3) in a form that stays exact near the zenith.
double elevation(const V3& p, const Site& site) {
  const V3 d = {p[0] - site.pos[0], p[1] - site.pos[1], p[2] - site.pos[2]};
  const double z = dot(d, site.up);
  const V3 h = {d[0] - z * site.up[0], d[1] - z * site.up[1], d[2] - z * site.up[2]};
  return std::atan2(z, std::sqrt(dot(h, h)));
}

// The Earth-fixed position (m) of a true-of-date one at `t` (UTC), turned as tod_to_ef turns
// it, with the sidereal time of the Earth-rotation model.
V3 earth_fixed(const UtcInstant& t, const V3& tod, const EopRows& table,
               const detail::SiderealTime& sidereal) {
  const EarthAt e = earth_at(t.day + constants::mjd1950_to_jd, t.seconds / kDay, table);
  return EarthTurn(sidereal.at(e.date1, e.ut1), e).position(tod.data());
}

// Bounds on the satellite's geocentric radius (from below) and Earth-fixed speed (from above),
// m and m/s, from which the scan bounds the elevation rate.
struct Bounds {
  double r_min = 0.0, v_max = 0.0;
};

// From the mean elements: the perigee radius less 1 % (SGP8's short-period terms move the
// radius of a near-Earth orbit by some 10 km, 0.15 %), and the speed at perigee by vis-viva
// plus 2 % with the Earth's turn at the apogee radius plus 1 %. The scan checks both at every
// sample and runs again with wider bounds where one fails.
Bounds mean_bounds(const Propagator& orbit) {
  const double a = orbit.mean_semi_major_axis_m();
  const double e = orbit.elements().eccentricity;
  const double rp = a * (1.0 - e);
  const double vp = std::sqrt(constants::model_gm_m3_s2 * (2.0 / rp - 1.0 / a));
  return {0.99 * rp, 1.02 * vp + constants::earth_rotation_rad_s * 1.01 * a * (1.0 + e)};
}

class Scan {
 public:
  Scan(const Propagator& orbit, const EopRows& table, const detail::SiderealTime& sidereal,
       const Site& site, const UtcInstant& start, double span, const Bounds& bounds)
      : orbit_(orbit),
        table_(table),
        sidereal_(sidereal),
        site_(site),
        start_(start),
        span_(span),
        tsince0_(since_epoch(orbit.elements().epoch, start)),
        bounds_(bounds) {
    // The elevation turns no faster than the line of sight, |v| / range. Below the mask the
    // range is at least where a ray at the mask's elevation meets the sphere r_min: with S the
    // station's radius and the geocentric elevation at most the geodetic one plus the angle
    // delta between the normal and the radius, |p|^2 <= S^2 + 2 S rho sin(mask + delta) + rho^2,
    // so rho >= -S sin(th) + sqrt(r_min^2 - S^2 cos^2(th)), th = mask + delta.
    const double s = std::sqrt(dot(site.pos, site.pos));
    const double cos_delta = std::clamp(dot(site.pos, site.up) / s, -1.0, 1.0);
    const double th = std::min(site.mask + std::acos(cos_delta) + 1e-9, constants::half_pi);
    const double r = bounds.r_min;
    const double below =
        r > s ? -s * std::sin(th) + std::sqrt(r * r - s * s * std::cos(th) * std::cos(th)) : 0.0;
    rate_below_ = bounds.v_max / std::max(below, kMinRange);
    rate_any_ = bounds.v_max / std::max(r - s, kMinRange);
  }

  void run(std::vector<Pass>& out) {
    double t = 0.0;
    double ft = f(0.0);
    bool above = ft >= 0.0;
    double aos = 0.0;
    bool aos_clipped = above;
    bool fresh = false;  // the step after a crossing
    while (t < span_) {
      // No crossing before t + reach.
      const double reach = std::fabs(ft) / (above ? rate_any_ : rate_below_);
      const double t2 = std::min(t + std::max(reach, kMinStep), span_);
      const double f2 = f(t2);
      double hi = t2, fhi = f2;
      bool cross = (f2 >= 0.0) != above;
      if (!cross && !above && !fresh && reach < kMinStep) cross = hidden(t, ft, t2, f2, hi, fhi);
      fresh = false;
      if (!cross) {
        t = t2;
        ft = f2;
        continue;
      }
      double after = hi;
      const double when = root(t, ft, hi, fhi, after);
      if (above) {
        out.push_back(make_pass(aos, when, aos_clipped, false));
      } else {
        aos = when;
        aos_clipped = false;
      }
      above = !above;
      // The side of the bracket past the crossing; a return within kMinStep is not looked
      // for.
      t = after;
      ft = f(t);
      if ((ft >= 0.0) != above) ft = above ? 0.0 : -std::numeric_limits<double>::min();
      fresh = true;
    }
    if (above) out.push_back(make_pass(aos, span_, aos_clipped, true));
  }

  // Whether every sample kept within the bounds.
  [[nodiscard]] bool held() const { return r_seen_ >= bounds_.r_min && v_seen_ <= bounds_.v_max; }
  [[nodiscard]] Bounds widened() const {
    return {std::min(bounds_.r_min, 0.98 * r_seen_), std::max(bounds_.v_max, 1.02 * v_seen_)};
  }

 private:
  // Elevation minus the mask (rad) at t s after the start.
  double f(double t) {
    const UtcInstant at = after(start_, t);
    const StateVector s = orbit_.state_at(tsince0_ + t);
    const double r = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    const double v = std::sqrt(s[3] * s[3] + s[4] * s[4] + s[5] * s[5]);
    r_seen_ = std::min(r_seen_, r);
    v_seen_ = std::max(v_seen_, v + constants::earth_rotation_rad_s * r);
    return elevation(earth_fixed(at, {s[0], s[1], s[2]}, table_, sidereal_), site_) - site_.mask;
  }

  // With f < 0 at a and b: a point in between where f >= 0, when the bound on the rate leaves
  // room for a rise to the mask and back (|f(a)| + |f(b)| <= rate (b - a)), found by halving
  // down to kFinest, earliest first.
  bool hidden(double a, double fa, double b, double fb, double& c, double& fc) {
    if (-fa - fb > rate_below_ * (b - a) || b - a < kFinest) return false;
    const double m = 0.5 * (a + b);
    const double fm = f(m);
    if (fm >= 0.0) {
      c = m;
      fc = fm;
      return true;
    }
    return hidden(a, fa, m, fm, c, fc) || hidden(m, fm, b, fb, c, fc);
  }

  // The crossing between lo and hi (f of opposite signs there), to kRootTol; `after` is the
  // bracket's end on hi's side.
  double root(double lo, double flo, double hi, double fhi, double& after) {
    std::uintmax_t iterations = 200;
    const auto r = boost::math::tools::toms748_solve(
        [this](double x) { return f(x); }, lo, hi, flo, fhi,
        [](double a, double b) { return std::fabs(b - a) <= kRootTol; }, iterations);
    after = r.second;
    return 0.5 * (r.first + r.second);
  }

  Pass make_pass(double aos, double los, bool aos_clipped, bool los_clipped) {
    Pass p;
    p.aos_utc = after(start_, aos);
    p.los_utc = after(start_, los);
    p.duration_s = los - aos;
    p.aos_clipped = aos_clipped;
    p.los_clipped = los_clipped;
    // Samples at most kMaxSample apart, then Brent's search between the best one's neighbours.
    const int n = std::clamp(static_cast<int>(std::ceil((los - aos) / kMaxSample)), 2, 10000);
    const double h = (los - aos) / n;
    int best = 0;
    double best_f = -std::numeric_limits<double>::infinity();
    for (int k = 0; k <= n; ++k) {
      const double v = f(k == n ? los : aos + h * k);
      if (v > best_f) {
        best_f = v;
        best = k;
      }
    }
    double best_t = best == n ? los : aos + h * best;
    const double lo = aos + h * std::max(best - 1, 0);
    const double hi = best + 1 >= n ? los : aos + h * (best + 1);
    if (hi > lo) {
      std::uintmax_t iterations = 200;
      const auto m = boost::math::tools::brent_find_minima(
          [&](double x) { return -f(lo + x); }, 0.0, hi - lo,
          std::numeric_limits<double>::digits / 2, iterations);
      if (-m.second > best_f) {
        best_f = -m.second;
        best_t = lo + m.first;
      }
    }
    p.max_utc = after(start_, best_t);
    p.max_elevation_deg = (best_f + site_.mask) * constants::rad_to_deg;
    return p;
  }

  const Propagator& orbit_;
  const EopRows& table_;
  const detail::SiderealTime& sidereal_;
  Site site_;
  UtcInstant start_;
  double span_, tsince0_;
  Bounds bounds_;
  double rate_below_ = 0.0, rate_any_ = 0.0;  // rad/s
  double r_seen_ = std::numeric_limits<double>::infinity(), v_seen_ = 0.0;
};

}  // namespace

namespace detail {

std::vector<Pass> find_passes(const Propagator& orbit, const EopRows& table,
                              const SiderealTime& sidereal, const Station& station,
                              const UtcInstant& start, double span_s) {
  std::vector<Pass> out;
  if (!(span_s >= 0.0)) return out;
  const Site site = make_site(station);
  Bounds bounds = mean_bounds(orbit);
  for (int attempt = 0; attempt < 4; ++attempt) {
    out.clear();
    Scan scan(orbit, table, sidereal, site, start, span_s, bounds);
    scan.run(out);
    if (scan.held()) break;
    bounds = scan.widened();
  }
  return out;
}

}  // namespace detail

double station_elevation_deg(const Propagator& orbit, const EarthOrientation& eop,
                             const Station& station, const UtcInstant& utc) {
  const StateVector ef = tod_to_earth_fixed(utc, orbit.state_at(utc), eop);
  return elevation({ef[0], ef[1], ef[2]}, make_site(station)) * constants::rad_to_deg;
}

std::vector<Pass> find_passes(const Propagator& orbit, const EarthOrientation& eop,
                              const Station& station, const UtcInstant& start,
                              const UtcInstant& end) {
  const double span = since_epoch(start, end);
  if (!(span >= 0.0)) return {};
  // A day the table lacks stops here, before the search.
  (void)eop.at(utc_mjd(start));
  (void)eop.at(utc_mjd(end));
  const detail::SiderealTime sidereal(start, end);
  return detail::find_passes(orbit, detail::eop_rows(eop), sidereal, station, start, span);
}

}  // namespace orvus
