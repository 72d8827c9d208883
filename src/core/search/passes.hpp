// The pass search's internals: the search over an interval with an Earth-rotation model
// shared by the searches of that interval.
#pragma once

#include <vector>

#include "core/frames/earth_rotation.hpp"
#include "core/time/eop.hpp"
#include "orvus/passes.hpp"

namespace orvus::detail {

// The search of find_passes over [start, start + span_s], the sidereal time from `sidereal`.
std::vector<Pass> find_passes(const Propagator& orbit, const EopRows& table,
                              const SiderealTime& sidereal, const Station& station,
                              const UtcInstant& start, double span_s);

}  // namespace orvus::detail
