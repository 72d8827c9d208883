// The values a sweep computes that depend on nothing but time, kept between the sweeps of a
// plan model (SweepCache, sweep_internal.hpp).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "core/sweep/sweep_internal.hpp"
#include "orvus/analysis.hpp"

namespace orvus {

namespace plan {

namespace {

// Intervals whose sidereal nodes are kept, and Sun positions (about a week of minutes each
// time the table is emptied; 48 bytes an entry).
constexpr std::size_t kSiderealKept = 8;
constexpr std::size_t kSunKept = 200000;

}  // namespace

std::shared_ptr<const detail::SiderealTime> SweepCache::sidereal(double first, double last) const {
  const std::pair<double, double> key{first, last};
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [k, nodes] : sidereal_)
      if (k == key) return nodes;
  }
  // Made outside the lock (its nodes are computed as first used); two threads may both make
  // one: equal.
  auto nodes =
      std::make_shared<const detail::SiderealTime>(UtcInstant{first, 0.0}, UtcInstant{last, 0.0});
  const std::lock_guard<std::mutex> lock(mutex_);
  if (sidereal_.size() >= kSiderealKept) sidereal_.erase(sidereal_.begin());
  sidereal_.emplace_back(key, nodes);
  return nodes;
}

std::array<double, 3> SweepCache::sun(double day, double minute) const {
  const auto key = static_cast<std::int64_t>(day) * 1440 + static_cast<std::int64_t>(minute);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sun_.find(key);
    if (it != sun_.end()) return it->second;
  }
  const std::array<double, 3> s = sun_earth_fixed(UtcInstant{day, minute * 60.0});
  const std::lock_guard<std::mutex> lock(mutex_);
  if (sun_.size() >= kSunKept) sun_.clear();
  sun_.emplace(key, s);
  return s;
}

}  // namespace plan

}  // namespace orvus
