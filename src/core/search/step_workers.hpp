// The threads of a screened search and the block of steps they compute.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/search/search.hpp"

namespace orvus {

// Steps a search screens, computes and applies at once (at most, where a BlockPacer sizes the
// blocks): between blocks it reports its progress and the caller may stop it.
inline constexpr std::size_t kStepsPerBlock = 8192;

// How many steps the next block of a sweep takes: as many as keep a block near
// kBlockSeconds of wall time, from kMinStepsPerBlock to kStepsPerBlock. The caller's progress,
// and with it an interrupt, comes between blocks: a fixed number of steps made a block of long
// steps over thousands of targets last seconds, a whole sweep at steps of minutes. How the
// steps are cut into blocks never changes what a sweep finds.
class BlockPacer {
 public:
  static constexpr double kBlockSeconds = 0.05;
  static constexpr std::size_t kMinStepsPerBlock = 64;

  // The steps of the block that starts now.
  std::size_t start() {
    started_ = std::chrono::steady_clock::now();
    return steps_;
  }
  // After the block: the next one sized by how long this one took.
  void finish() {
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (s > kBlockSeconds) {
      const auto fit = static_cast<std::size_t>(static_cast<double>(steps_) * kBlockSeconds / s);
      steps_ = std::max(kMinStepsPerBlock, fit);
    } else if (s < kBlockSeconds / 2) {
      steps_ = std::min(kStepsPerBlock, 2 * steps_);
    }
  }
  // Whether the blocks are cut short by their work: each holds much of it.
  [[nodiscard]] bool heavy() const { return steps_ < kStepsPerBlock; }

 private:
  std::size_t steps_ = kMinStepsPerBlock;
  std::chrono::steady_clock::time_point started_;
};

// A fixed set of threads that compute the steps of one block at a time: started once for a
// search, woken for each block.
class StepWorkers {
 public:
  explicit StepWorkers(int helpers) {
    for (int i = 0; i < helpers; ++i) threads_.emplace_back([this] { run(); });
  }
  ~StepWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }
  StepWorkers(const StepWorkers&) = delete;
  StepWorkers& operator=(const StepWorkers&) = delete;

  // Runs job(i) for i in [0, n), on the helpers and the calling thread when `in_parallel`,
  // else on the calling thread; returns when done.
  template <class Job>
  void for_each(std::size_t n, const Job& job, bool in_parallel) {
    if (threads_.empty() || !in_parallel) {
      for (std::size_t i = 0; i < n; ++i) job(i);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // A job that raises (a sink that cannot write its report) must not end a helper
      // thread, which would end the process: the first error is raised here once all are done.
      job_ = [&job, this](std::size_t i) {
        try {
          job(i);
        } catch (...) {
          std::lock_guard<std::mutex> error_lock(error_mutex_);
          if (!error_) error_ = std::current_exception();
        }
      };
      count_ = n;
      next_.store(0);
      busy_ = threads_.size();
      ++generation_;
    }
    wake_.notify_all();
    work();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  void work() {
    for (std::size_t i = next_.fetch_add(1); i < count_; i = next_.fetch_add(1)) job_(i);
  }
  void run() {
    std::size_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
      }
      work();
      std::lock_guard<std::mutex> lock(mutex_);
      if (--busy_ == 0) done_.notify_one();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::function<void(std::size_t)> job_;
  std::mutex error_mutex_;
  std::exception_ptr error_;
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};
  std::size_t busy_ = 0;
  std::size_t generation_ = 0;
  bool stop_ = false;
};

// One block of steps: their times, the positions of those computed exactly (in time order),
// the results, and the error a step raised.
struct StepBlock {
  explicit StepBlock(std::size_t size)
      : days(size), secs(size), exact_index(size), data(size), failure(size) {}
  std::vector<double> days, secs;
  std::vector<std::size_t> exact_index;
  std::vector<StepData> data;
  std::vector<std::exception_ptr> failure;

  // Computes the steps at exact_index[0, n_exact), on the workers when `in_parallel`; a step
  // that raises keeps the error in `failure` and the others go on.
  void compute(StepWorkers& workers, const SearchParams& p, const Propagator& orbit,
               const EopRows& table, std::size_t n_exact, bool in_parallel);
};

}  // namespace orvus
