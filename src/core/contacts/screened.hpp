// The screened contact search, the one the library runs by default.
#pragma once

#include <functional>

#include "core/search/search.hpp"

namespace orvus {

// The screened search: the same reports as `contact_search`, computing exactly only the
// steps where the box may be in view (and the first step after each of them, and every step
// whose day is missing from the Earth-orientation table), on `threads` threads.
// `between_blocks`, when set, is called after each block of steps and may throw.
void screened_search(const SearchParams& p, const Propagator& orbit, const EopRows& table,
                     ContactSink& sink, int threads,
                     const std::function<void()>& between_blocks = {});

}  // namespace orvus
