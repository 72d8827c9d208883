#include "core/orbit/sgp8.hpp"

#include <cmath>

#include "core/report_factors.hpp"

namespace orvus {

namespace {
constexpr double kTothrd = 0.6666666666666666;
constexpr double kRho = 0.15696615;         // reference density factor relating B to B*
constexpr double kQo = 120000.0;            // m
constexpr double kSo = 78000.0;             // m
constexpr double kDragThreshold = 0.00216;  // per day, on XNDTN
}  // namespace

double fmod2p(double x) {
  const double k = std::trunc(x / detail::two_pi_13);
  double r = x - k * detail::two_pi_13;
  if (r < 0.0) r = r + detail::two_pi_13;
  return r;
}

double actan(double s, double c) {
  if (s == 0.0 && c == 0.0) return 0.0;
  double a = std::atan2(s, c);
  if (a < 0.0) a = a + detail::two_pi_13;
  return a;
}

void sgp8_init(const Sgp8Elements& elements, const EarthConstants& earth, const ZonalHarmonics& j,
               Sgp8Coefficients& coefficients) {
  const double xno = elements.mean_motion;
  const double eo = elements.eccentricity;
  const double xincl = elements.inclination;
  const double omegao = elements.arg_perigee;
  const double bstar = elements.bstar;

  const double ck2 = 0.5 * j[0];
  const double ck4 = -0.375 * j[2];
  const double xke = std::sqrt(earth[2] / (earth[0] * earth[0] * earth[0]));
  const double qoms2t = std::pow((kQo - kSo) / earth[0], 4);
  const double s = 1.0 + kSo / earth[0];
  const double a3cof = -j[1] / ck2;

  // Mean motion and semi-major axis recovered from the element set.
  const double a1 = std::pow(xke / xno, kTothrd);
  const double cosi = std::cos(xincl);
  const double theta2 = cosi * cosi;
  const double tthmun = 3.0 * theta2 - 1.0;
  const double eosq = eo * eo;
  const double betao2 = 1.0 - eosq;
  const double betao = std::sqrt(betao2);
  const double del1 = 1.5 * ck2 * tthmun / (a1 * a1 * betao * betao2);
  const double ao =
      a1 * (1.0 - del1 * (0.3333333333333333 + del1 * (1.0 + 1.654320987654321 * del1)));
  const double delo = 1.5 * ck2 * tthmun / (ao * ao * betao * betao2);
  const double aodp = ao / (1.0 - delo);
  const double xnodp = xno / (1.0 + delo);
  const double b = 2.0 * bstar / kRho;

  // Semi-latus rectum and the trigonometric functions of the angles.
  const double po = aodp * betao2;
  const double pom2 = 1.0 / (po * po);
  const double sini = std::sin(xincl);
  const double sing = std::sin(omegao);
  const double cosg = std::cos(omegao);
  const double sinio2 = std::sin(xincl / 2.0);
  const double cosio2 = std::cos(xincl / 2.0);
  const double theta4 = theta2 * theta2;
  const double unm5th = 1.0 - 5.0 * theta2;
  const double unmth2 = 1.0 - theta2;

  // Secular rates.
  const double pardt1 = 3.0 * ck2 * pom2 * xnodp;
  const double pardt2 = pardt1 * ck2 * pom2;
  const double pardt4 = 1.25 * ck4 * pom2 * pom2 * xnodp;
  const double xmdt1 = 0.5 * pardt1 * betao * tthmun;
  const double xgdt1 = -0.5 * pardt1 * unm5th;
  const double xhdt1 = -pardt1 * cosi;
  const double xlldot =
      xnodp + xmdt1 + 0.0625 * pardt2 * betao * (13.0 - 78.0 * theta2 + 137.0 * theta4);
  const double omgdt = xgdt1 + 0.0625 * pardt2 * (7.0 - 114.0 * theta2 + 395.0 * theta4) +
                       pardt4 * (3.0 - 36.0 * theta2 + 49.0 * theta4);
  const double xnodot =
      xhdt1 + (0.5 * pardt2 * (4.0 - 19.0 * theta2) + 2.0 * pardt4 * (3.0 - 7.0 * theta2)) * cosi;

  // Drag.
  const double tsi = 1.0 / (po - s);
  const double eta = eo * s * tsi;
  const double eta2 = eta * eta;
  const double psim2 = std::fabs(1.0 / (1.0 - eta2));
  const double alpha2 = 1.0 + eosq;
  const double eeta = eo * eta;
  const double cos2g = 2.0 * cosg * cosg - 1.0;
  const double d5 = tsi * psim2;
  const double d1 = d5 / po;
  const double d2 = 12.0 + eta2 * (36.0 + 4.5 * eta2);
  const double d3 = eta2 * (15.0 + 2.5 * eta2);
  const double d4 = eta * (5.0 + 3.75 * eta2);
  const double b1 = ck2 * tthmun;
  const double b2 = -ck2 * unmth2;
  const double b3 = a3cof * sini;
  const double c0 = 0.5 * b * kRho * qoms2t * xnodp * aodp * std::pow(tsi, 4) *
                    std::pow(psim2, 3.5) / std::sqrt(alpha2);
  const double c1 = 1.5 * xnodp * alpha2 * alpha2 * c0;
  const double c4 = d1 * d3 * b2;
  const double c5 = d5 * d4 * b3;
  const double xndt =
      c1 * ((2.0 + eta2 * (3.0 + 34.0 * eosq) + 5.0 * eeta * (4.0 + eta2) + 8.5 * eosq) +
            d1 * d2 * b1 + c4 * cos2g + c5 * sing);
  const double xndtn = xndt / xnodp;

  bool isimp = false;
  double edot = 0.0;
  double pp = 0.0;
  double gamma = 0.0;
  double xnd = 0.0;
  double qq = 0.0;
  double ed = 0.0;
  double ovgpp = 0.0;

  // Little drag: mean motion and eccentricity change linearly.
  if (std::fabs(xndtn * 86400.0) < kDragThreshold) {
    isimp = true;
    edot = -kTothrd * xndtn * (1.0 - eo);
  } else {
    // Full drag: the rate of the eccentricity,
    const double d6 = eta * (30.0 + 22.5 * eta2);
    const double d7 = eta * (5.0 + 12.5 * eta2);
    const double d8 = 1.0 + eta2 * (6.75 + eta2);
    const double c8 = d1 * d7 * b2;
    const double c9 = d5 * d8 * b3;
    edot = -c0 * (eta * (4.0 + eta2 + eosq * (15.5 + 7.0 * eta2)) + eo * (5.0 + 15.0 * eta2) +
                  d1 * d6 * b1 + c8 * cos2g + c9 * sing);
    // the second derivative of the mean motion,
    const double d20 = 0.3333333333333333 * xndtn;
    const double aldtal = eo * edot / alpha2;
    const double tsdtts = 2.0 * aodp * tsi * (d20 * betao2 + eo * edot);
    const double etdt = (edot + eo * tsdtts) * tsi * s;
    const double psdtps = -eta * etdt * psim2;
    const double sin2g = 2.0 * sing * cosg;
    const double c0dtc0 = d20 + 4.0 * tsdtts - aldtal - 7.0 * psdtps;
    const double c1dtc1 = xndtn + 4.0 * aldtal + c0dtc0;
    const double d9 = eta * (6.0 + 68.0 * eosq) + eo * (20.0 + 15.0 * eta2);
    const double d10 = 5.0 * eta * (4.0 + eta2) + eo * (17.0 + 68.0 * eta2);
    const double d11 = eta * (72.0 + 18.0 * eta2);
    const double d12 = eta * (30.0 + 10.0 * eta2);
    const double d13 = 5.0 + 11.25 * eta2;
    const double d14 = tsdtts - 2.0 * psdtps;
    const double d15 = 2.0 * (d20 + eo * edot / betao2);
    const double d1dt = d1 * (d14 + d15);
    const double d2dt = etdt * d11;
    const double d3dt = etdt * d12;
    const double d4dt = etdt * d13;
    const double d5dt = d5 * d14;
    const double c4dt = b2 * (d1dt * d3 + d1 * d3dt);
    const double c5dt = b3 * (d5dt * d4 + d5 * d4dt);
    const double d16 = d9 * etdt + d10 * edot + b1 * (d1dt * d2 + d1 * d2dt) + c4dt * cos2g +
                       c5dt * sing + xgdt1 * (c5 * cosg - 2.0 * c4 * sin2g);
    const double xnddt = c1dtc1 * xndt + c1 * d16;
    // of the eccentricity,
    const double eddot =
        c0dtc0 * edot -
        c0 * ((4.0 + 3.0 * eta2 + 30.0 * eeta + eosq * (15.5 + 21.0 * eta2)) * etdt +
              (5.0 + 15.0 * eta2 + eeta * (31.0 + 14.0 * eta2)) * edot +
              b1 * (d1dt * d6 + d1 * etdt * (30.0 + 67.5 * eta2)) +
              b2 * (d1dt * d7 + d1 * etdt * (5.0 + 37.5 * eta2)) * cos2g +
              b3 * (d5dt * d8 + d5 * etdt * eta * (13.5 + 4.0 * eta2)) * sing +
              xgdt1 * (c9 * cosg - 2.0 * c8 * sin2g));
    // and the third derivative of the mean motion.
    const double d25 = edot * edot;
    const double d17 = xnddt / xnodp - xndtn * xndtn;
    const double tsddts =
        2.0 * tsdtts * (tsdtts - d20) +
        aodp * tsi * (kTothrd * betao2 * d17 - 4.0 * d20 * eo * edot + 2.0 * (d25 + eo * eddot));
    const double etddt = (eddot + 2.0 * edot * tsdtts) * tsi * s + tsddts * eta;
    const double d18 = tsddts - tsdtts * tsdtts;
    const double d19 = -psdtps * psdtps / eta2 - eta * etddt * psim2 - psdtps * psdtps;
    const double d23 = etdt * etdt;
    const double d1ddt =
        d1dt * (d14 + d15) + d1 * (d18 - 2.0 * d19 + kTothrd * d17 +
                                   2.0 * (alpha2 * d25 / betao2 + eo * eddot) / betao2);
    const double xntrdt =
        xndt * (1.3333333333333333 * d17 + 3.0 * (d25 + eo * eddot) / alpha2 -
                6.0 * aldtal * aldtal + 4.0 * d18 - 7.0 * d19) +
        c1dtc1 * xnddt +
        c1 * (c1dtc1 * d16 + d9 * etddt + d10 * eddot + d23 * (6.0 + 30.0 * eeta + 68.0 * eosq) +
              etdt * edot * (40.0 + 30.0 * eta2 + 272.0 * eeta) + d25 * (17.0 + 68.0 * eta2) +
              b1 * (d1ddt * d2 + 2.0 * d1dt * d2dt +
                    d1 * (etddt * d11 + d23 * (72.0 + 54.0 * eta2))) +
              b2 *
                  (d1ddt * d3 + 2.0 * d1dt * d3dt +
                   d1 * (etddt * d12 + d23 * (30.0 + 30.0 * eta2))) *
                  cos2g +
              b3 *
                  ((d5dt * d14 + d5 * (d18 - 2.0 * d19)) * d4 + 2.0 * d4dt * d5dt +
                   d5 * (etddt * d13 + 22.5 * eta * d23)) *
                  sing +
              xgdt1 * ((7.0 * d20 + 4.0 * eo * edot / betao2) * (c5 * cosg - 2.0 * c4 * sin2g) +
                       ((2.0 * c5dt * cosg - 4.0 * c4dt * sin2g) -
                        xgdt1 * (c5 * sing + 4.0 * c4 * cos2g))));
    // Power-law fit of mean motion and eccentricity.
    const double tmnddt = xnddt * 1.0e9;
    const double temp = tmnddt * tmnddt - xndt * 1.0e18 * xntrdt;
    pp = (temp + tmnddt * tmnddt) / temp;
    gamma = -xntrdt / (xnddt * (pp - 2.0));
    xnd = xndt / (pp * gamma);
    qq = 1.0 - eddot / (edot * gamma);
    ed = edot / (qq * gamma);
    ovgpp = 1.0 / (gamma * (pp + 1.0));
  }

  Sgp8Coefficients& c = coefficients;
  c.ck2 = ck2;
  c.ke = xke;
  c.sin_incl = sini;
  c.cos_incl = cosi;
  c.cos2_incl = theta2;
  c.three_cos2_minus_1 = tthmun;
  c.mean_motion = xnodp;
  c.sin_half_incl = sinio2;
  c.cos_half_incl = cosio2;
  c.one_minus_5cos2 = unm5th;
  c.one_minus_cos2 = unmth2;
  c.j3_over_ck2 = a3cof;
  c.mean_anomaly_rate_j2 = xmdt1;
  c.perigee_rate_j2 = xgdt1;
  c.node_rate_j2 = xhdt1;
  c.mean_anomaly_rate = xlldot;
  c.perigee_rate = omgdt;
  c.node_rate = xnodot;
  c.mean_motion_rate = xndt;
  c.simple_drag = isimp;
  c.eccentricity_rate = edot;
  c.gamma = gamma;
  c.n_power = pp;
  c.n_scale = xnd;
  c.e_power = qq;
  c.e_scale = ed;
  c.z_scale = ovgpp;
}

void sgp8_propagate(double tsince, StateVector& state, const EarthConstants& earth,
                    const Sgp8Elements& elements, const Sgp8Coefficients& coefficients) {
  const double t = tsince;
  const double xmo = elements.mean_anomaly;
  const double xnodeo = elements.raan;
  const double omegao = elements.arg_perigee;
  const double eo = elements.eccentricity;

  const Sgp8Coefficients& c = coefficients;
  const double ck2 = c.ck2;
  const double xke = c.ke;
  const double sini = c.sin_incl;
  const double cosi = c.cos_incl;
  const double theta2 = c.cos2_incl;
  const double tthmun = c.three_cos2_minus_1;
  const double xnodp = c.mean_motion;
  const double sinio2 = c.sin_half_incl;
  const double cosio2 = c.cos_half_incl;
  const double unm5th = c.one_minus_5cos2;
  const double unmth2 = c.one_minus_cos2;
  const double a3cof = c.j3_over_ck2;
  const double xmdt1 = c.mean_anomaly_rate_j2;
  const double xgdt1 = c.perigee_rate_j2;
  const double xhdt1 = c.node_rate_j2;
  const double xlldot = c.mean_anomaly_rate;
  const double omgdt = c.perigee_rate;
  const double xnodot = c.node_rate;
  const double xndt = c.mean_motion_rate;
  const double edot = c.eccentricity_rate;

  // Secular gravity.
  double xmam = fmod2p(xmo + xlldot * t);
  double omgasm = omegao + omgdt * t;
  double xnodes = xnodeo + xnodot * t;

  // Drag.
  double xn = 0.0;
  double em = 0.0;
  double z1 = 0.0;
  if (c.simple_drag) {
    xn = xnodp + xndt * t;
    em = eo + edot * t;
    z1 = 0.5 * xndt * t * t;
  } else {
    const double pp = c.n_power;
    const double gamma = c.gamma;
    const double xnd = c.n_scale;
    const double qq = c.e_power;
    const double ed = c.e_scale;
    const double ovgpp = c.z_scale;
    const double temp = 1.0 - gamma * t;
    const double temp1 = std::pow(temp, pp);
    xn = xnodp + xnd * (1.0 - temp1);
    em = eo + ed * (1.0 - std::pow(temp, qq));
    z1 = xnd * (t + ovgpp * (temp * temp1 - 1.0));
  }

  // Drag's share of the mean anomaly, perigee and node.
  const double z7 = 2.333333333333333 * z1 / xnodp;
  xmam = fmod2p(xmam + z1 + z7 * xmdt1);
  omgasm = fmod2p(omgasm + z7 * xgdt1);
  xnodes = fmod2p(xnodes + z7 * xhdt1);

  // Kepler's equation.
  double zc2 = xmam + em * std::sin(xmam) * (1.0 + em * std::cos(xmam));
  double sine = 0.0;
  double cose = 0.0;
  double zc5 = 0.0;
  for (int i = 0; i < 10; ++i) {
    sine = std::sin(zc2);
    cose = std::cos(zc2);
    zc5 = 1.0 / (1.0 - em * cose);
    const double cape = (xmam + em * sine - zc2) * zc5 + zc2;
    if (std::fabs(cape - zc2) <= 1.0e-06) break;
    zc2 = cape;
  }

  // Short-period preliminaries.
  const double am = std::pow(xke / xn, kTothrd);
  const double beta2m = 1.0 - em * em;
  const double sinos = std::sin(omgasm);
  const double cosos = std::cos(omgasm);
  const double axnm = em * cosos;
  const double aynm = em * sinos;
  const double pm = am * beta2m;
  const double g1 = 1.0 / pm;
  const double g2 = 0.5 * ck2 * g1;
  const double g3 = g2 * g1;
  const double beta = std::sqrt(beta2m);
  const double g4 = 0.25 * a3cof * sini;
  const double g5 = 0.25 * a3cof * g1;
  const double snf = beta * sine * zc5;
  const double csf = (cose - em) * zc5;
  const double fm = actan(snf, csf);
  const double snfg = snf * cosos + csf * sinos;
  const double csfg = csf * cosos - snf * sinos;
  const double sn2f2g = 2.0 * snfg * csfg;
  const double cs2f2g = 2.0 * csfg * csfg - 1.0;
  const double ecosf = em * csf;
  const double g10 = fm - xmam + em * snf;
  const double rm = pm / (1.0 + ecosf);
  const double aovr = am / rm;
  const double g13 = xn * aovr;
  const double g14 = -g13 * aovr;
  const double dr = g2 * (unmth2 * cs2f2g - 3.0 * tthmun) - g4 * snfg;
  const double diwc = 3.0 * g3 * sini * cs2f2g - g5 * aynm;
  const double di = diwc * cosi;

  // Short-period periodics.
  const double sni2du = sinio2 * (g3 * (0.5 * (1.0 - 7.0 * theta2) * sn2f2g - 3.0 * unm5th * g10) -
                                  g5 * sini * csfg * (2.0 + ecosf)) -
                        0.5 * g5 * theta2 * axnm / cosio2;
  const double xlamb =
      fm + omgasm + xnodes +
      g3 * (0.5 * (1.0 + 6.0 * cosi - 7.0 * theta2) * sn2f2g - 3.0 * (unm5th + 2.0 * cosi) * g10) +
      g5 * sini * (cosi * axnm / (1.0 + cosi) - (2.0 + ecosf) * csfg);
  const double y4 = sinio2 * snfg + csfg * sni2du + 0.5 * snfg * cosio2 * di;
  const double y5 = sinio2 * csfg - snfg * sni2du + 0.5 * csfg * cosio2 * di;
  const double r = rm + dr;
  const double rdot = xn * am * em * snf / beta + g14 * (2.0 * g2 * unmth2 * sn2f2g + g4 * csfg);
  const double rvdot = xn * am * am * beta / rm + g14 * dr + am * g13 * sini * diwc;

  // Orientation vectors.
  const double snlamb = std::sin(xlamb);
  const double cslamb = std::cos(xlamb);
  double temp = 2.0 * (y5 * snlamb - y4 * cslamb);
  const double ux = y4 * temp + cslamb;
  const double vx = y5 * temp - snlamb;
  temp = 2.0 * (y5 * cslamb + y4 * snlamb);
  const double uy = -y4 * temp + snlamb;
  const double vy = -y5 * temp + cslamb;
  temp = 2.0 * std::sqrt(1.0 - y4 * y4 - y5 * y5);
  const double uz = y4 * temp;
  const double vz = y5 * temp;

  // Position in metres, velocity in metres per second.
  const double re = earth[0];
  state[0] = r * ux * re;
  state[1] = r * uy * re;
  state[2] = r * uz * re;
  state[3] = (rdot * ux + rvdot * vx) * re;
  state[4] = (rdot * uy + rvdot * vy) * re;
  state[5] = (rdot * uz + rvdot * vz) * re;
}

}  // namespace orvus
