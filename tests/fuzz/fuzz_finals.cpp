// The Earth-orientation file, and lookups in what it loaded.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/time/eop.hpp"
#include "fuzz_support.hpp"
#include "legacy/fatal.hpp"
#include "legacy/routines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvus;
  EopRows table;
  try {
    load_eop_file(table, fuzz::scratch_file(data, size));
  } catch (const Fatal&) {
    return 0;
  }
  if (table.mjd.empty()) __builtin_trap();  // an empty table is reported at load
  double probe = 0.0;
  if (size >= sizeof probe) std::memcpy(&probe, data, sizeof probe);
  const double dates[] = {table.mjd.front(), table.mjd.back() + 0.5, table.mjd.front() - 0.5,
                          probe};
  for (double date : dates) {
    double xp = 0, yp = 0, dut1 = 0;
    std::size_t row = 0;
    const bool scan = scan_eop_rows(date, table, row);
    try {
      locate_eop(date, table, xp, yp, dut1);
      if (!scan || xp != table.xp[row]) __builtin_trap();  // same row as the plain scan
    } catch (const Fatal&) {
      if (scan) __builtin_trap();
    }
    if (eop_covers(date, table) != scan) __builtin_trap();
  }
  return 0;
}
