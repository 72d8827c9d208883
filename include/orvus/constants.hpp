// The constants of the system, each named for its purpose with its origin. (The factors
// that the reports have always been computed with, 2 pi written to 13 decimals and the degree
// factors derived from it, are private to the library: they serve no new computation.)
#pragma once

namespace orvus::constants {

// --- Mathematics ---------------------------------------------------------------------
inline constexpr double pi = 3.141592653589793;             // IEEE double nearest pi
inline constexpr double two_pi = 6.283185307179586;         // IEEE double nearest 2pi
inline constexpr double half_pi = 1.5707963267948966;       // IEEE double nearest pi/2
inline constexpr double deg_to_rad = 0.017453292519943295;  // pi/180, nearest double
inline constexpr double rad_to_deg = 57.29577951308232;     // 180/pi, nearest double

// --- Time -----------------------------------------------------------------------------
inline constexpr double seconds_per_day = 86400.0;
// Julian Date of 1950-01-01 0 h: day number + this = Julian Date.
inline constexpr double mjd1950_to_jd = 2433282.5;
// Julian Date of the Modified Julian Date's origin (1858-11-17 0 h): MJD = JD - this.
inline constexpr double mjd_zero_jd = 2400000.5;

// --- Earth of the orbit model (the constants the mean elements are fitted with, WGS 72,
// Spacetrack Report No. 3, 1980) ----------------------------------------------------------
inline constexpr double model_earth_radius_m = 6378135.0;         // equatorial radius a
inline constexpr double model_flattening = 1.0 / 298.257;         // f
inline constexpr double model_gm_m3_s2 = 398600800000000.0;       // GM, m^3/s^2
inline constexpr double model_rotation_rad_s = 7.2921151467e-05;  // Earth rotation rate
inline constexpr double model_j2 = 0.001082616;                   // zonal harmonics J2..J4
inline constexpr double model_j3 = -2.53881e-06;
inline constexpr double model_j4 = -1.65597e-06;
// b / a of the viewing geometry's local sphere: 1 - 1/298.257 written out to 16 digits.
inline constexpr double local_sphere_polar_ratio = 0.9966471868221031;

// --- Ellipsoid of the geodetic conversions (IAU 2009 system of astronomical constants,
// IERS Conventions 2010, Table 1.1) -----------------------------------------------------------
inline constexpr double iau2009_a_m = 6378136.6;                    // equatorial radius
inline constexpr double iau2009_one_minus_e2 = 0.9933056020041341;  // 1 - e^2
inline constexpr double iau2009_a2_m2 = 40680626488259.555;         // a^2

// --- WGS 84 (NIMA TR8350.2, 3rd edition, 2000, table 3.1): the ellipsoid of the stations'
// positions and of the coverage grid's equal areas (and of the map data's coordinates) -------
inline constexpr double wgs84_a_m = 6378137.0;
inline constexpr double wgs84_f = 1.0 / 298.257223563;

// --- Earth rotation (IERS Conventions 2010, 1.2; the nominal rate of the frame
// transformation's velocity term) ------------------------------------------------------
inline constexpr double earth_rotation_rad_s = 7.292115854681949e-5;

// --- Sun (IAU 2012 Resolution B2) ------------------------------------------------------
inline constexpr double astronomical_unit_m = 149597870700.0;

}  // namespace orvus::constants
