// Three-vectors of doubles: the dot and cross products, the Euclidean norm, scaling and the
// unit vector, each evaluated component by component in index order (results are bit for bit
// those of the expressions written out).
#pragma once

#include <array>
#include <cmath>

namespace orvus::detail {

using Vec3 = std::array<double, 3>;

inline double dot(const Vec3& a, const Vec3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// a x b.
inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

inline double norm(const Vec3& a) {
  return std::sqrt(dot(a, a));
}

inline Vec3 scale(const Vec3& a, double k) {
  return {a[0] * k, a[1] * k, a[2] * k};
}

// a / |a|, each component divided by the norm.
inline Vec3 unit_vector(const Vec3& a) {
  const double n = norm(a);
  return {a[0] / n, a[1] / n, a[2] / n};
}

}  // namespace orvus::detail
