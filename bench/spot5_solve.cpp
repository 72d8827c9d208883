// spot5_solve FILE [--time-limit S] [--moves N] [--seed N] [--search-only]: solves one SPOT5
// instance with the scheduler and checks the answer against every constraint of the file. The last
// line is `value V bound B seconds T`; a violated constraint ends with status 2.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "orvus/error.hpp"
#include "orvus/schedule.hpp"
#include "spot5.hpp"

int main(int argc, char** argv) {
  std::string path;
  orvus::ScheduleOptions opt;
  opt.time_limit_s = 60.0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--time-limit" && i + 1 < argc) {
      opt.time_limit_s = std::atof(argv[++i]);
    } else if (a == "--moves" && i + 1 < argc) {
      opt.search_moves = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--seed" && i + 1 < argc) {
      opt.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--search-only") {
      opt.exact = false;
    } else if (path.empty() && a.rfind("--", 0) != 0) {
      path = a;
    } else {
      std::fprintf(
          stderr,
          "usage: spot5_solve FILE [--time-limit S] [--moves N] [--seed N] [--search-only]\n");
      return 1;
    }
  }
  if (path.empty()) {
    std::fprintf(
        stderr,
        "usage: spot5_solve FILE [--time-limit S] [--moves N] [--seed N] [--search-only]\n");
    return 1;
  }
  try {
    const auto inst = spot5::read(path);
    const auto problem = spot5::to_problem(inst);
    const auto res = orvus::solve_schedule(problem, opt);
    std::vector<int> codes(inst.photos.size(), 0);
    long value = 0;
    double used = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (res.value[i] < 0) continue;
      codes[i] = inst.photos[i].values[static_cast<std::size_t>(res.value[i])];
      value += inst.photos[i].weight;
      used += inst.photos[i].consumption[static_cast<std::size_t>(res.value[i])];
    }
    std::printf("photographs %zu constraints %zu capacity %s\n", inst.photos.size(),
                inst.constraints.size(),
                inst.capacity ? std::to_string(*inst.capacity).c_str() : "none");
    if (inst.capacity) std::printf("recorder used %.6f of %.6f\n", used, *inst.capacity);
    std::printf("parts %zu cliques %zu values removed %zu search %.0f optimal %s\n", res.parts,
                res.cliques, res.values_removed, res.search_objective, res.optimal ? "yes" : "no");
    const auto bad = spot5::violations(inst, codes);
    for (const auto& b : bad) std::fprintf(stderr, "spot5_solve: %s\n", b.c_str());
    // The weights are integers: the bound rounds down to one.
    std::printf("value %ld bound %.0f seconds %.2f\n", value, std::floor(res.bound + 1e-6),
                res.seconds);
    return bad.empty() ? 0 : 2;
  } catch (const orvus::Error& e) {
    std::fprintf(stderr, "spot5_solve: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "spot5_solve: %s\n", e.what());
  }
  return 1;
}
