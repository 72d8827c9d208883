// The SGP8 analytical model (Hoots & Roehrich, Spacetrack Report No. 3, 1980) in metres and
// seconds: set up once from an element set, then the state at any time since its epoch.
#pragma once

#include <array>
#include <memory>

#include "orvus/elements.hpp"
#include "orvus/export.hpp"
#include "orvus/time.hpp"

namespace orvus {

namespace detail {
struct Sgp8Model;
struct PropagatorAccess;
}  // namespace detail

// Position (m) and velocity (m/s), x y z vx vy vz.
using StateVector = std::array<double, 6>;

class ORVUS_API Propagator {
 public:
  // Raises Error (kind model) for elements the model cannot serve.
  explicit Propagator(const ElementSet& elements);

  // True-of-date state at `tsince_s` seconds from the epoch.
  [[nodiscard]] StateVector state_at(double tsince_s) const;
  [[nodiscard]] StateVector state_at(const UtcInstant& utc) const {
    return state_at(since_epoch(elements_.epoch, utc));
  }

  [[nodiscard]] const ElementSet& elements() const { return elements_; }
  [[nodiscard]] double mean_semi_major_axis_m() const { return mean_a_; }
  [[nodiscard]] double nodal_period_s() const { return nodal_period_; }
  // Fraction of a revolution from the ascending node at epoch.
  [[nodiscard]] double epoch_phase() const { return epoch_phase_; }

 private:
  friend struct detail::PropagatorAccess;  // the library's own computations use the model
  ElementSet elements_;
  std::shared_ptr<const detail::Sgp8Model> model_;
  double mean_a_ = 0.0, nodal_period_ = 0.0, epoch_phase_ = 0.0;
};

}  // namespace orvus
