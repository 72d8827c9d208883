// The 29-character date-time text, and the text written back from what it read.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/time/time_text.hpp"
#include "legacy/fatal.hpp"
#include "legacy/routines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvus;
  const std::string_view text(reinterpret_cast<const char*>(data), size < 29 ? size : 29);
  double day = 0, sec = 0;
  try {
    read_date_text(text, day, sec);
  } catch (const Fatal&) {
    return 0;
  }
  if (!(sec >= 0.0 && sec <= 86400.0)) __builtin_trap();
  DateText back{};
  try {
    write_date_text(day, sec, back);
  } catch (const Fatal&) {
    __builtin_trap();  // every time the reader accepts can be written
  }
  // Years of four digits read back to the same instant.
  if (back[6] != '*' && back[6] != ' ' && back[6] != '-' && back[6] != '0') {
    double day2 = 0, sec2 = 0;
    try {
      read_date_text(text_view(back), day2, sec2);
    } catch (const Fatal&) {
      __builtin_trap();
    }
    if (day2 != day || std::fabs(sec2 - sec) > 1e-6) __builtin_trap();
  }
  return 0;
}
