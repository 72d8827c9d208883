// The pass search's internals: the slowly varying part of the sidereal time at hourly
// nodes, shared by the searches of one interval.
#pragma once

#include <vector>

#include "core/time/eop.hpp"
#include "orvus/passes.hpp"

namespace orvus::detail {

// g = GAST - ERA (IAU 2006/2000A, eraGst06a minus eraEra00 at one date used as UT1 and TT,
// as the frame transformation does): minus the equation of the origins, precession and
// nutation in right ascension. Sampled every hour from an hour before `start` to an hour past
// `start + span_s` and interpolated linearly. |g''| < 3.9e-7 rad/day^2 (largest second
// difference at 0.05 d steps over 1950-2100: 3.81e-7), so the interpolation is off by at most
// h^2/8 |g''| = 8.5e-11 rad (h = 1/24 d): 0.6 mm at 7000 km from the Earth's centre.
class SiderealNodes {
 public:
  SiderealNodes(const UtcInstant& start, double span_s);
  // g (rad) at the two-part date start.day + 2433282.5 + x (x in days, UT1 as TT).
  [[nodiscard]] double at(double x) const;
  [[nodiscard]] double origin_day() const { return day_; }

 private:
  double day_ = 0.0, x0_ = 0.0;
  std::vector<double> g_;
};

// The search of find_passes over [start, start + span_s] with nodes covering it.
std::vector<Pass> find_passes(const Propagator& orbit, const EopRows& table,
                              const SiderealNodes& nodes, const Station& station,
                              const UtcInstant& start, double span_s);

}  // namespace orvus::detail
