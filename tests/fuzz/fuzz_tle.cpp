// The two-line element file, through the orbit set-up entry, and a propagation of what
// it accepted.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/model.hpp"
#include "fuzz_support.hpp"
#include "legacy/fatal.hpp"
#include "legacy/routines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvus;
  std::string name = fuzz::scratch_file(data, size);
  name.resize(70, ' ');
  TLE_ELSET elset{};
  double a = 0, period = 0, phase = 0;
  EarthConstants earth{};
  Sgp8ElementBlock sa{};
  Sgp8CoefficientBlock sb{};
  try {
    VEK_P1(name, elset, a, period, phase, earth, sa, sb);
  } catch (const Fatal&) {
    return 0;
  }
  if (!(elset.EPOCH_SEC >= 0.0 && elset.EPOCH_SEC < 86400.0 * 32768)) __builtin_trap();
  StateVector st{};
  for (double t : {0.0, 3600.0, -86400.0, 864000.0}) SGP8PR_V2_2(t, st, earth, sa, sb);
  return 0;
}
