// The input file "ORVUS_IN.TXT": nine records, text and free-form numbers, with the
// conversions of the box and the interval.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.hpp"
#include "legacy/fatal.hpp"
#include "legacy/routines.hpp"
#include "legacy/run.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvus;
  TextInput in;
  if (!open_text(in, fuzz::scratch_file(data, size))) return 0;
  RunParams p;
  try {
    read_run_params(in, p);
  } catch (const Fatal&) {
    return 0;  // bad input stops the run with a message: expected
  }
  // A run that reads its input has a usable step, angles and interval.
  if (!(p.STEP > 0.0 && p.STEP <= 86400.0)) __builtin_trap();
  if (!(p.START_SEC >= 0.0 && p.START_SEC <= 86400.0)) __builtin_trap();
  if (!(p.END_SEC >= 0.0 && p.END_SEC <= 86400.0)) __builtin_trap();
  return 0;
}
