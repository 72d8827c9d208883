// The element-set readers on arbitrary bytes: a set they accept is one the model can use.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/elements/elements_internal.hpp"
#include "orvus/error.hpp"

namespace orvus::fuzz {

inline int read_elements_as(const std::uint8_t* data, std::size_t size, elements::Format format) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    for (const auto& s : elements::read_text(text, "fuzz", format)) {
      if (!(s.mean_motion > 0.0 && std::isfinite(s.mean_motion))) __builtin_trap();
      if (!(s.eccentricity >= 0.0 && s.eccentricity < 1.0)) __builtin_trap();
      if (!(s.epoch.seconds >= 0.0 && s.epoch.seconds <= 86400.0)) __builtin_trap();
      if (!std::isfinite(s.epoch.day) || s.epoch.day != std::floor(s.epoch.day)) __builtin_trap();
      if (s.catalogue_number < 0 || s.catalogue_number > 999999999) __builtin_trap();
    }
  } catch (const Error& e) {
    // Console lines, each with its leading blank.
    if (e.lines().empty()) __builtin_trap();
    for (const auto& l : e.lines())
      if (l.empty() || l[0] != ' ') __builtin_trap();
  }
  return 0;
}

}  // namespace orvus::fuzz
