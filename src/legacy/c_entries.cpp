// The entries exported by name with C linkage from liborvus.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "legacy/fatal.hpp"
#include "legacy/routines.hpp"
#include "orvus/vek_p1.h"

namespace {

// Sets up the orbit into the caller's arrays; raises orvus::Error.
void set_up(const char* file_name, TLE_ELSET* element_set, double* mean_semi_major_axis,
            double* nodal_period, double* epoch_phase, double earth[4], double sgp8_a[9],
            double sgp8_b[27]) {
  orvus::EarthConstants e{};
  orvus::Sgp8ElementBlock a{};
  orvus::Sgp8CoefficientBlock b{};
  // The name is a fixed 70-character field; a NUL ends it early for C callers.
  const std::string_view name(file_name, strnlen(file_name, 70));
  orvus::VEK_P1(name, *element_set, *mean_semi_major_axis, *nodal_period, *epoch_phase, e, a, b);
  std::memcpy(earth, e.data(), sizeof(double) * e.size());
  std::memcpy(sgp8_a, a.data(), sizeof(double) * a.size());
  std::memcpy(sgp8_b, b.data(), sizeof(double) * b.size());
}

}  // namespace

extern "C" void VEK_P1(const char file_name[70], TLE_ELSET* element_set,
                       double* mean_semi_major_axis, double* nodal_period, double* epoch_phase,
                       double earth[4], double sgp8_a[9], double sgp8_b[27]) {
  try {
    set_up(file_name, element_set, mean_semi_major_axis, nodal_period, epoch_phase, earth, sgp8_a,
           sgp8_b);
  } catch (const orvus::Error& error) {
    orvus::print_fatal(error);
    std::exit(1);
  }
}

extern "C" int orvus_set_up_orbit(const char file_name[70], TLE_ELSET* element_set,
                                  double* mean_semi_major_axis, double* nodal_period,
                                  double* epoch_phase, double earth[4], double sgp8_a[9],
                                  double sgp8_b[27], char* message, size_t message_size) {
  std::string text;
  try {
    set_up(file_name, element_set, mean_semi_major_axis, nodal_period, epoch_phase, earth, sgp8_a,
           sgp8_b);
  } catch (const orvus::Error& error) {
    for (const auto& line : error.lines()) text += line + "\n";
  } catch (const std::exception& error) {
    text = std::string(" ORVUS: ") + error.what() + "\n EXECUTION INTERRUPTED.\n";
  }
  if (message != nullptr && message_size > 0) {
    const std::size_t n = std::min(text.size(), message_size - 1);
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
  }
  return text.empty() ? 0 : 1;
}
