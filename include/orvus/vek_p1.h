/* Orbit set-up entry of liborvus, callable from C.
 *
 * VEK_P1 fixes the Earth and model constants, reads a two-line element file, initialises
 * the SGP8 model and returns the mean semi-major axis (m), the nodal period (s) and the
 * epoch phase (fraction of a revolution from the ascending node). Every argument is passed
 * by reference. On a fatal condition (file missing, checksum mismatch, field not a number)
 * it writes its message lines to standard output and ends the process with status 1.
 *
 * orvus_set_up_orbit does the same for callers that must not be ended (bindings): it returns
 * 0 on success and 1 on a fatal condition, with the message lines, each ended by a newline,
 * in `message` (cut to `message_size` - 1 characters and always NUL-terminated when
 * `message_size` > 0); nothing is printed.
 */
#ifndef ORVUS_VEK_P1_H
#define ORVUS_VEK_P1_H

#include <stddef.h>
#include <stdint.h>

#include "orvus/export.hpp"

#ifdef __cplusplus
extern "C" {
#endif

/* Element set, fields in record order. ELEM(1..9) is ELEM[0..8]:
 * mean motion (rad/s), eccentricity, inclination, node, argument of perigee,
 * mean anomaly (rad), 0.0, 0.0, B* (1/Earth radii). */
typedef struct TLE_ELSET {
  char SATNAME[50]; /* title line, blank-padded, not NUL-terminated */
  int32_t REVNUM;   /* revolution number at epoch */
  double EPOCH_DAY; /* whole days from 1950-01-01 0h UTC */
  double EPOCH_SEC; /* seconds of that day */
  double ELEM[9];
} TLE_ELSET;

/* file_name: 70 characters, blank-padded (trailing blanks ignored, not NUL-terminated). */
ORVUS_API void VEK_P1(const char file_name[70], TLE_ELSET* element_set,
                      double* mean_semi_major_axis, double* nodal_period, double* epoch_phase,
                      double earth[4], double sgp8_a[9], double sgp8_b[27]);

ORVUS_API int orvus_set_up_orbit(const char file_name[70], TLE_ELSET* element_set,
                                 double* mean_semi_major_axis, double* nodal_period,
                                 double* epoch_phase, double earth[4], double sgp8_a[9],
                                 double sgp8_b[27], char* message, size_t message_size);

#ifdef __cplusplus
}
#endif

#endif /* ORVUS_VEK_P1_H */
