#include "legacy/routines.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/elements/elements_internal.hpp"
#include "core/elements/two_line_file.hpp"
#include "core/geometry/vec3.hpp"
#include "core/io/text.hpp"
#include "orvus/constants.hpp"
#include "orvus/orbit.hpp"

namespace orvus {

Error program_error(const Error& error, const char* routine) {
  std::vector<std::string> lines = error.lines();
  if (lines.empty()) return error;
  const std::string_view first = lines[0];
  if (error.kind() == ErrorKind::time && routine != nullptr &&
      !first.starts_with(" MESSAGE FROM ")) {
    lines.insert(lines.begin(), std::string(" MESSAGE FROM ") + routine + " SUBROUTINE: ");
  } else if (first.starts_with(elements::kTwoLineLabel)) {
    const std::string_view rest = first.substr(elements::kTwoLineLabel.size());
    // The checksum messages carry the routine's name in the singular.
    lines[0] =
        (rest.starts_with("Check sum") ? " READ_2LINE: " : " READ_2LINES: ") + std::string(rest);
  } else if (error.kind() == ErrorKind::earth_orientation && first.starts_with(kNoEopDataLead) &&
             first.ends_with('.')) {
    const std::string_view mjd =
        first.substr(kNoEopDataLead.size(), first.size() - kNoEopDataLead.size() - 1);
    lines = {"ERRO NA SUBROTINA LOCATE_IERS_DATA: ",
             "TEMPO JULIANO MODIFICADO " + std::string(mjd) + " NAO LOCALIZADO",
             "EXECUCAO INTERROMPIDA!"};
  } else {
    return error;
  }
  return Error(error.kind(), std::move(lines), error.where());
}

namespace {

// Runs `f`, raising its errors in the program's words.
template <class F>
decltype(auto) as_routine(const char* routine, F&& f) {
  try {
    return std::forward<F>(f)();
  } catch (const Error& error) {
    throw program_error(error, routine);
  }
}

Sgp8Elements elements_of(const double (&elem)[9]) {
  Sgp8Elements e;
  e.mean_motion = elem[0];
  e.eccentricity = elem[1];
  e.inclination = elem[2];
  e.raan = elem[3];
  e.arg_perigee = elem[4];
  e.mean_anomaly = elem[5];
  e.bstar = elem[8];
  return e;
}

}  // namespace

void to_blocks(const Sgp8Elements& e, const Sgp8Coefficients& c, Sgp8ElementBlock& sgp8_a,
               Sgp8CoefficientBlock& sgp8_b, double elem7, double elem8) {
  sgp8_a = {e.mean_anomaly, e.raan, e.arg_perigee, e.eccentricity, e.inclination,
            e.mean_motion,  elem7,  elem8,         e.bstar};
  sgp8_b = {c.ck2,
            c.ke,
            c.sin_incl,
            c.cos_incl,
            c.cos2_incl,
            c.three_cos2_minus_1,
            c.mean_motion,
            c.sin_half_incl,
            c.cos_half_incl,
            c.one_minus_5cos2,
            c.one_minus_cos2,
            c.j3_over_ck2,
            c.mean_anomaly_rate_j2,
            c.perigee_rate_j2,
            c.node_rate_j2,
            c.mean_anomaly_rate,
            c.perigee_rate,
            c.node_rate,
            c.mean_motion_rate,
            c.simple_drag ? 1.0 : 0.0,
            c.eccentricity_rate,
            c.n_power,
            c.gamma,
            c.n_scale,
            c.e_power,
            c.e_scale,
            c.z_scale};
}

detail::Sgp8Model from_blocks(const Sgp8ElementBlock& a, const Sgp8CoefficientBlock& b) {
  detail::Sgp8Model m;
  m.elements = {a[0], a[1], a[2], a[3], a[4], a[5], a[8]};
  Sgp8Coefficients& c = m.coefficients;
  c.ck2 = b[0];
  c.ke = b[1];
  c.sin_incl = b[2];
  c.cos_incl = b[3];
  c.cos2_incl = b[4];
  c.three_cos2_minus_1 = b[5];
  c.mean_motion = b[6];
  c.sin_half_incl = b[7];
  c.cos_half_incl = b[8];
  c.one_minus_5cos2 = b[9];
  c.one_minus_cos2 = b[10];
  c.j3_over_ck2 = b[11];
  c.mean_anomaly_rate_j2 = b[12];
  c.perigee_rate_j2 = b[13];
  c.node_rate_j2 = b[14];
  c.mean_anomaly_rate = b[15];
  c.perigee_rate = b[16];
  c.node_rate = b[17];
  c.mean_motion_rate = b[18];
  c.simple_drag = b[19] != 0.0;  // ISIMP equal to 0.0 takes the full-drag branch
  c.eccentricity_rate = b[20];
  c.n_power = b[21];
  c.gamma = b[22];
  c.n_scale = b[23];
  c.e_power = b[24];
  c.e_scale = b[25];
  c.z_scale = b[26];
  return m;
}

TLE_ELSET to_tle_elset(const ElementSet& e) {
  TLE_ELSET t{};
  std::fill(std::begin(t.SATNAME), std::end(t.SATNAME), ' ');
  std::copy_n(e.name.data(), std::min(e.name.size(), sizeof t.SATNAME), t.SATNAME);
  t.REVNUM = e.revolution_number;
  t.EPOCH_DAY = e.epoch.day;
  t.EPOCH_SEC = e.epoch.seconds;
  const double elem[9] = {e.mean_motion, e.eccentricity, e.inclination, e.raan,
                          e.arg_perigee, e.mean_anomaly, 0.0,           0.0,
                          e.bstar};
  std::copy(std::begin(elem), std::end(elem), t.ELEM);
  return t;
}

ElementSet from_tle_elset(const TLE_ELSET& t) {
  ElementSet e;
  e.name.assign(t.SATNAME, sizeof t.SATNAME);
  e.name.resize(e.name.find_last_not_of(' ') + 1);
  e.revolution_number = t.REVNUM;
  e.epoch = {t.EPOCH_DAY, t.EPOCH_SEC};
  e.mean_motion = t.ELEM[0];
  e.eccentricity = t.ELEM[1];
  e.inclination = t.ELEM[2];
  e.raan = t.ELEM[3];
  e.arg_perigee = t.ELEM[4];
  e.mean_anomaly = t.ELEM[5];
  e.bstar = t.ELEM[8];
  return e;
}

std::int16_t READ_2LINES(std::int16_t /*unit*/, std::string_view file_name, TLE_ELSET& elset) {
  elset = as_routine(nullptr, [&] { return to_tle_elset(read_two_line_file(file_name)); });
  return 0;
}
std::int16_t COMP_CHECKSUM_2LINES(std::string_view line) {
  return two_line_checksum(line);
}
void NORAD_CONST_V2_1(MathConstants& math, EarthConstants& earth, ZonalHarmonics& j) {
  model_constants(math, earth, j);
}
double MEAN_A_V2_1(const double (&elem)[9], const EarthConstants& earth, const ZonalHarmonics& j) {
  return mean_semi_major_axis(elements_of(elem), earth, j);
}
double PERNOD_V2_1(double a, double incl, const EarthConstants& earth, const ZonalHarmonics& j) {
  return nodal_period(a, incl, earth, j);
}

void VEK_P1(std::string_view file_name, TLE_ELSET& elset, double& mean_a, double& period,
            double& epoch_phase, EarthConstants& earth, Sgp8ElementBlock& sgp8_a,
            Sgp8CoefficientBlock& sgp8_b) {
  MathConstants math{};
  ZonalHarmonics j{};
  model_constants(math, earth, j);
  const std::string file(trim_blanks(file_name.substr(0, 70)));
  const Propagator orbit(as_routine(nullptr, [&] { return read_elements(file); }));
  elset = to_tle_elset(orbit.elements());
  const detail::Sgp8Model& model = detail::sgp8_model(orbit);
  to_blocks(model.elements, model.coefficients, sgp8_a, sgp8_b);
  mean_a = orbit.mean_semi_major_axis_m();
  period = orbit.nodal_period_s();
  epoch_phase = orbit.epoch_phase();
}

void SGP8_V2_2(const double (&elem)[9], const EarthConstants& earth, const ZonalHarmonics& j,
               Sgp8ElementBlock& sgp8_a, Sgp8CoefficientBlock& sgp8_b) {
  const Sgp8Elements elements = elements_of(elem);
  Sgp8Coefficients coefficients;
  sgp8_init(elements, earth, j, coefficients);
  to_blocks(elements, coefficients, sgp8_a, sgp8_b, elem[6], elem[7]);
}
void SGP8PR_V2_2(double tsince, StateVector& state, const EarthConstants& earth,
                 const Sgp8ElementBlock& sgp8_a, const Sgp8CoefficientBlock& sgp8_b) {
  const detail::Sgp8Model model = from_blocks(sgp8_a, sgp8_b);
  sgp8_propagate(tsince, state, earth, model.elements, model.coefficients);
}
double FMOD2P_V2_2(double x) {
  return fmod2p(x);
}
double ACTAN_V2_2(double s, double c) {
  return actan(s, c);
}

void INSTDJM3(std::string_view text, double& day, double& seconds, const FieldSource& source) {
  as_routine("INSTDJM3", [&] { read_date_text(text, day, seconds, source); });
}
void INSTHOR3(double day, double seconds, DateText& text) {
  as_routine("INSTHOR3", [&] { write_date_text(day, seconds, text); });
}
void READ_IERS_DATA(IersTable& table, const std::string& file_name) {
  load_eop_file(table, file_name);
}
void LOCATE_IERS_DATA(double date, const IersTable& table, double& xp, double& yp, double& dut1) {
  as_routine(nullptr, [&] { locate_eop(date, table, xp, yp, dut1); });
}
void MV(int n, int m, const double* a, const double* x, double* y) {
  mat_vec(n, m, a, x, y);
}
void TOD2EFV4(double date1, double date2, const StateVector& tod, StateVector& ef,
              const IersTable& table) {
  as_routine(nullptr, [&] { tod_to_ef(date1, date2, tod, ef, table); });
}
void TOD2PEFV4(double date1, double date2, const StateVector& tod, StateVector& pef) {
  tod_to_pef(date1, date2, tod, pef);
}

double TANGEN(double y, double x) {
  return angle_pm_pi(y, x);
}
double TANGEN_IAU2009(double y, double x) {
  return angle_0_2pi(y, x);
}
void GCGSP(const Vec3& position, Vec3& spherical) {
  cartesian_to_spherical(position, spherical);
}
void GSGCP(const Vec3& spherical, Vec3& position) {
  spherical_to_cartesian(spherical, position);
}
void GCGSV_IAU2009(const Vec6& state, Vec6& spherical) {
  state_to_spherical(state, spherical);
}
void GCGDP_IAU2009(const Vec3& position, Vec3& geodetic) {
  cartesian_to_geodetic(position, geodetic);
}
void GDGCP_IAU2009(const Vec3& geodetic, Vec3& position) {
  geodetic_to_cartesian(geodetic, position);
}
void VECTOR_PRODUCT(const Vec3& a, const Vec3& b, Vec3& c) {
  c = detail::cross(a, b);
}
void LOLA_NADIR_AUX2(const Vec6& state, const Vec6& spherical, double radius, Vec3& nadir,
                     Vec3& normal, double& height) {
  nadir_frame(state, spherical, radius, nadir, normal, height);
}
void LOLA2(const Vec6& state, const Vec6& spherical, double radius, const Vec3& nadir,
           const Vec3& normal, double height, double alpha, double& lon, double& lat) {
  off_nadir_point(state, spherical, radius, nadir, normal, height, alpha, lon, lat);
}
double DDOT(int n, const double* x, int incx, const double* y, int incy) {
  return ddot(n, x, incx, y, incy);
}
void ALPHAOTIM4(const IersTable& table, const EarthConstants& earth, const Sgp8ElementBlock& sgp8_a,
                const Sgp8CoefficientBlock& sgp8_b, const TLE_ELSET& elset, double& day,
                double& seconds, double /*utc_diff*/, double /*step*/, double target_lon,
                double target_lat, double /*beta*/, double& best_alpha, double& lon, double& lat) {
  const detail::Sgp8Model model = from_blocks(sgp8_a, sgp8_b);
  as_routine(nullptr, [&] {
    best_off_nadir(table, earth, model.elements, model.coefficients,
                   {elset.EPOCH_DAY, elset.EPOCH_SEC}, day, seconds, target_lon, target_lat,
                   best_alpha, lon, lat);
  });
}

}  // namespace orvus
