#include "core/frames/earth_rotation.hpp"

#include <algorithm>
#include <limits>

namespace orvus::detail {

namespace {

// GAST - GMST (rad, within half a turn of zero) at the two-part date d1 + d2, UT1 taken as TT
// as in the transform.
double equation_of_the_equinoxes(double d1, double d2) {
  return std::remainder(eraGst06a(d1, d2, d1, d2) - eraGmst06(d1, d2, d1, d2), constants::two_pi);
}

}  // namespace

SiderealTime::SiderealTime(const UtcInstant& first, const UtcInstant& last) {
  const double mjd0 = utc_mjd(first.day, 0.0);
  const double mjd1 = utc_mjd(last.day, 0.0);
  node0_ = std::floor(mjd0) - 2.0;
  const double days = std::max(mjd1 - node0_, 0.0) + 4.0;
  nodes_ = static_cast<std::size_t>(days * 24.0) + 2;
  ee_ = std::make_unique<std::atomic<double>[]>(nodes_);
  for (std::size_t i = 0; i < nodes_; ++i)
    ee_[i].store(std::numeric_limits<double>::quiet_NaN(), std::memory_order_relaxed);
}

double SiderealTime::first_use(std::size_t i) const {
  // Node i at the two-part date node0 + i/24. Two threads may both compute it: the same value.
  const double e =
      equation_of_the_equinoxes(constants::mjd_zero_jd + node0_, static_cast<double>(i) / 24.0);
  ee_[i].store(e, std::memory_order_relaxed);
  return e;
}

double SiderealTime::beyond_nodes(double ut1_mjd) {
  return equation_of_the_equinoxes(constants::mjd_zero_jd + std::floor(ut1_mjd),
                                   ut1_mjd - std::floor(ut1_mjd));
}

}  // namespace orvus::detail
