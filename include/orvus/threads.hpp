// Work spread over the machine's threads. Every parallel part of the library (the sweeps'
// blocks of steps, the planner's work on each contact, the schedule's candidates) and of the
// commands runs on the one pool of step workers behind this.
#pragma once

#include <cstddef>
#include <functional>

#include "orvus/export.hpp"

namespace orvus {

// The threads a search uses by default: the hardware's, 1 when unknown, at most 64.
ORVUS_API int machine_threads();

// Runs job(i) for every i in [0, n) on up to `threads` threads, the caller's among them, and
// returns when every job started is done. The first error a job raises is raised here; once
// one has raised, the jobs not yet started are skipped.
ORVUS_API void parallel_for(std::size_t n, const std::function<void(std::size_t)>& job,
                            int threads);

}  // namespace orvus
