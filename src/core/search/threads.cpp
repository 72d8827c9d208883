#include "orvus/threads.hpp"

#include <algorithm>
#include <atomic>
#include <thread>

#include "core/search/step_workers.hpp"

namespace orvus {

int machine_threads() {
  const unsigned hw = std::thread::hardware_concurrency();
  return hw == 0 ? 1 : static_cast<int>(std::min(hw, 64U));
}

void parallel_for(std::size_t n, const std::function<void(std::size_t)>& job, int threads) {
  if (n == 0) return;
  const int helpers = static_cast<int>(std::min<std::size_t>(n, std::max(threads, 1))) - 1;
  StepWorkers workers(helpers);
  std::atomic<bool> stop{false};
  workers.for_each(
      n,
      [&](std::size_t i) {
        if (stop.load(std::memory_order_relaxed)) return;
        try {
          job(i);
        } catch (...) {
          stop.store(true, std::memory_order_relaxed);
          throw;
        }
      },
      helpers > 0);
}

}  // namespace orvus
