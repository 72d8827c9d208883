/* Calls the exported orbit set-up entry from C through the shared library. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "orvus/vek_p1.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  char name[70];
  memset(name, ' ', sizeof name);
  memcpy(name, argv[1], strlen(argv[1]) < 70 ? strlen(argv[1]) : 70);
  TLE_ELSET elset;
  double a = 0, period = 0, phase = 0, earth[4], sgp8_a[9], sgp8_b[27];
  VEK_P1(name, &elset, &a, &period, &phase, earth, sgp8_a, sgp8_b);
  int failures = 0;
  if (strncmp(elset.SATNAME, "LANDSAT 8", 9) != 0) failures++;
  if (elset.EPOCH_DAY != 27307.0) failures++;
  if (fabs(elset.EPOCH_SEC - 0.79344377 * 86400.0) > 1e-6) failures++;
  if (earth[0] != 6378135.0) failures++;
  if (fabs(a - 7080e3) > 30e3) failures++;      /* a ~ 7080 km for 14.57 rev/day */
  if (fabs(period - 5930.0) > 30.0) failures++; /* ~ 98.8 minutes */
  /* The blocks' order: XMO XNODEO OMEGAO EO XINCL XNO ELEM(7) ELEM(8) B*, and CK2 XKE SINI
     COSI ... XNODP (7th) ... */
  if (sgp8_a[5] != elset.ELEM[0]) failures++;
  if (sgp8_a[0] != elset.ELEM[5] || sgp8_a[1] != elset.ELEM[3] || sgp8_a[2] != elset.ELEM[4])
    failures++;
  if (sgp8_a[3] != elset.ELEM[1] || sgp8_a[4] != elset.ELEM[2] || sgp8_a[8] != elset.ELEM[8])
    failures++;
  if (sgp8_b[0] != 0.5 * 0.001082616) failures++;
  if (fabs(sgp8_b[2] - sin(elset.ELEM[2])) > 1e-15 || fabs(sgp8_b[3] - cos(elset.ELEM[2])) > 1e-15)
    failures++;
  if (fabs(sgp8_b[6] / elset.ELEM[0] - 1.0) > 1e-3) failures++; /* Brouwer mean motion */
  printf("VEK_P1 from C: a = %.3f m, nodal period = %.3f s, phase = %.6f, %d failure(s)\n", a,
         period, phase, failures);
  return failures == 0 ? 0 : 1;
}
