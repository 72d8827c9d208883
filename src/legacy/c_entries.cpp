// The orbit set-up entry exported by name with C linkage from liborvus.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/fatal.hpp"
#include "orbit/setup.hpp"
#include "orvus/vek_p1.h"

extern "C" void VEK_P1(const char file_name[70], TLE_ELSET* element_set,
                       double* mean_semi_major_axis, double* nodal_period, double* epoch_phase,
                       double earth[4], double sgp8_a[9], double sgp8_b[27]) {
  try {
    orvus::EarthConstants e{};
    orvus::Sgp8Elements a{};
    orvus::Sgp8Coefficients b{};
    // The name is a fixed 70-character field; a NUL ends it early for C callers.
    const std::string_view name(file_name, strnlen(file_name, 70));
    orvus::VEK_P1(name, *element_set, *mean_semi_major_axis, *nodal_period, *epoch_phase, e, a, b);
    std::memcpy(earth, e.data(), sizeof(double) * e.size());
    std::memcpy(sgp8_a, a.data(), sizeof(double) * a.size());
    std::memcpy(sgp8_b, b.data(), sizeof(double) * b.size());
  } catch (const orvus::Fatal& error) {
    orvus::print_fatal(error);
    std::exit(1);
  }
}
