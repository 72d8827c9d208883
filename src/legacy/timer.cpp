#include <chrono>
#include <ctime>

#include "legacy/run.hpp"

namespace orvus {

void TIMER2(double& t) {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&secs, &local);
  const long y = local.tm_year + 1900;
  const long m = local.tm_mon + 1;
  const long d = local.tm_mday;
  const long mjd = 367 * y - (7 * ((m + 9) / 12 + y)) / 4 + (275 * m) / 9 + d - 678987;
  t = static_cast<double>(mjd) * 86400.0 + local.tm_hour * 3600.0 + local.tm_min * 60.0 +
      local.tm_sec + static_cast<double>(ms % 1000) / 1000.0;
}

}  // namespace orvus
