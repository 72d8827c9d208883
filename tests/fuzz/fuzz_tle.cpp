// The two-line element file, through the element reader and the orbit set-up, and a propagation of
// what it accepted.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.hpp"
#include "orvus/elements.hpp"
#include "orvus/error.hpp"
#include "orvus/orbit.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvus;
  const std::string name = fuzz::scratch_file(data, size);
  std::unique_ptr<Propagator> orbit;
  try {
    orbit = std::make_unique<Propagator>(read_elements(name));
  } catch (const Error&) {
    return 0;
  }
  const double epoch_sec = orbit->elements().epoch.seconds;
  if (!(epoch_sec >= 0.0 && epoch_sec < 86400.0 * 32768)) __builtin_trap();
  for (double t : {0.0, 3600.0, -86400.0, 864000.0}) (void)orbit->state_at(t);
  return 0;
}
