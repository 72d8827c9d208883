// The checks a sweep starts with: the satellite it runs for, and the targets its rule can see.
#include <filesystem>
#include <string>

#include "core/sweep/sweep_internal.hpp"
#include "orvus/error.hpp"

namespace orvus {

namespace plan {

void check_satellite(const Plan& plan, std::size_t satellite) {
  if (satellite >= plan.satellites.size()) {
    throw Error(ErrorKind::usage,
                {" THE PLAN HAS NO SATELLITE " + std::to_string(satellite + 1) + ".",
                 " EXECUTION INTERRUPTED."});
  }
}

void check_rule(const Plan& plan, std::size_t first, std::size_t last) {
  if (plan.rule != TargetRule::points) return;
  for (std::size_t i = first; i < last && i < plan.targets.size(); ++i) {
    const Target& t = plan.targets[i];
    if (t.points.empty() && t.lines.empty()) continue;
    fail(plan.targets_path, t.line, "rule",
         "TARGET \"" + t.id +
             "\" IS A POINT OR A LINE, WHICH THE TRACKING POINTS OF rule = \"points\" ALMOST "
             "NEVER FALL ON: GIVE rule = \"swath\".",
         std::filesystem::path(plan.targets_path).extension() == ".csv" ? "LINE" : "FEATURE");
  }
}

}  // namespace plan

}  // namespace orvus
