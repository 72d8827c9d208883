// The routines of the program under their own names and argument lists, each a thin
// wrapper over the core library: what the exported C entry, the program and the tests of
// the routines call.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/frames/tod2ef.hpp"
#include "core/geometry/best_angle.hpp"
#include "core/geometry/coords.hpp"
#include "core/geometry/off_nadir.hpp"
#include "core/io/fixed_field.hpp"
#include "core/orbit/model.hpp"
#include "core/orbit/sgp8.hpp"
#include "core/time/eop.hpp"
#include "core/time/time_text.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"
#include "orvus/vek_p1.h"

namespace orvus {

// The SGP8 blocks of the routines' interfaces, table positions from 1 at index 0.
// Element block: XMO, XNODEO, OMEGAO, EO, XINCL, XNO, ELEM(7), ELEM(8), B*.
// Coefficient block: CK2 XKE SINI COSI THETA2 TTHMUN XNODP SINIO2 COSIO2 UNM5TH UNMTH2 A3COF
// XMDT1 XGDT1 XHDT1 XLLDOT OMGDT XNODOT XNDT ISIMP EDOT PP GAMMA XND QQ ED OVGPP.
using Sgp8ElementBlock = std::array<double, 9>;
using Sgp8CoefficientBlock = std::array<double, 27>;

// The model's named values in the blocks' order, and back. `elem7` and `elem8` are carried
// unchanged into the element block.
void to_blocks(const Sgp8Elements& elements, const Sgp8Coefficients& coefficients,
               Sgp8ElementBlock& sgp8_a, Sgp8CoefficientBlock& sgp8_b, double elem7 = 0.0,
               double elem8 = 0.0);
detail::Sgp8Model from_blocks(const Sgp8ElementBlock& sgp8_a, const Sgp8CoefficientBlock& sgp8_b);

// The program's words for an error of the library met inside its routines: the routine's
// header line before a date-time error (`routine` "INSTDJM3" or "INSTHOR3"), the element
// reader's routine name in place of the library's two-line label, and the Earth-orientation
// lookup's own three lines for a date the table does not cover. Other errors pass unchanged.
Error program_error(const Error& error, const char* routine = nullptr);

// --- Element set and orbit set-up ------------------------------------------------------
// Reads the element file (a 70-character field used up to its last non-blank) into the
// element-set record. `unit` is kept for the record. Returns 0; every failure raises Error.
std::int16_t READ_2LINES(std::int16_t unit, std::string_view file_name, TLE_ELSET& elset);
std::int16_t COMP_CHECKSUM_2LINES(std::string_view line);
void NORAD_CONST_V2_1(MathConstants& math, EarthConstants& earth, ZonalHarmonics& j);
double MEAN_A_V2_1(const double (&elem)[9], const EarthConstants& earth, const ZonalHarmonics& j);
double PERNOD_V2_1(double a, double incl, const EarthConstants& earth, const ZonalHarmonics& j);
// Sets up the orbit from the element file `file_name`: constants, element set, SGP8 blocks,
// mean semi-major axis (m), nodal period (s) and epoch phase.
void VEK_P1(std::string_view file_name, TLE_ELSET& elset, double& mean_a, double& nodal_period,
            double& epoch_phase, EarthConstants& earth, Sgp8ElementBlock& sgp8_a,
            Sgp8CoefficientBlock& sgp8_b);
void SGP8_V2_2(const double (&elem)[9], const EarthConstants& earth, const ZonalHarmonics& j,
               Sgp8ElementBlock& sgp8_a, Sgp8CoefficientBlock& sgp8_b);
void SGP8PR_V2_2(double tsince, StateVector& state, const EarthConstants& earth,
                 const Sgp8ElementBlock& sgp8_a, const Sgp8CoefficientBlock& sgp8_b);
double FMOD2P_V2_2(double x);
double ACTAN_V2_2(double s, double c);

// --- Time and frames ---------------------------------------------------------------------
void INSTDJM3(std::string_view text, double& day, double& seconds,
              const FieldSource& source = {"DATE-TIME TEXT", 0});
void INSTHOR3(double day, double seconds, DateText& text);

using IersTable = EopRows;
inline constexpr const char* kIersFileName = "finals2000A.data";
void READ_IERS_DATA(IersTable& table, const std::string& file_name = kIersFileName);
void LOCATE_IERS_DATA(double date, const IersTable& table, double& xp, double& yp, double& dut1);
void MV(int n, int m, const double* a, const double* x, double* y);
void TOD2EFV4(double date1, double date2, const StateVector& tod, StateVector& ef,
              const IersTable& table);
void TOD2PEFV4(double date1, double date2, const StateVector& tod, StateVector& pef);

// --- Geodesy and viewing geometry ------------------------------------------------------------
double TANGEN(double y, double x);
double TANGEN_IAU2009(double y, double x);
void GCGSP(const Vec3& position, Vec3& spherical);
void GSGCP(const Vec3& spherical, Vec3& position);
void GCGSV_IAU2009(const Vec6& state, Vec6& spherical);
void GCGDP_IAU2009(const Vec3& position, Vec3& geodetic);
void GDGCP_IAU2009(const Vec3& geodetic, Vec3& position);
void VECTOR_PRODUCT(const Vec3& a, const Vec3& b, Vec3& c);
void LOLA_NADIR_AUX2(const Vec6& state, const Vec6& spherical, double radius, Vec3& nadir,
                     Vec3& normal, double& height);
void LOLA2(const Vec6& state, const Vec6& spherical, double radius, const Vec3& nadir,
           const Vec3& normal, double height, double alpha, double& lon, double& lat);
double DDOT(int n, const double* x, int incx, const double* y, int incy);
// `utc_diff`, `step` and `beta` are not used.
void ALPHAOTIM4(const IersTable& table, const EarthConstants& earth, const Sgp8ElementBlock& sgp8_a,
                const Sgp8CoefficientBlock& sgp8_b, const TLE_ELSET& elset, double& day,
                double& seconds, double utc_diff, double step, double target_lon, double target_lat,
                double beta, double& best_alpha, double& lon, double& lat);

// The element-set record of an element set, and back.
TLE_ELSET to_tle_elset(const ElementSet& e);
ElementSet from_tle_elset(const TLE_ELSET& t);

}  // namespace orvus
