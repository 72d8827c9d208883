// Trimming the texts read from fixed-width fields and from delimited files.
#pragma once

#include <string_view>

namespace orvus {

// The text without its trailing blanks (the padding of a fixed-width field).
inline std::string_view trim_blanks(std::string_view s) {
  const auto last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

// The text without the characters of `space` at either end.
inline std::string_view trim(std::string_view s, std::string_view space = " \t") {
  const auto first = s.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(space);
  return s.substr(first, last - first + 1);
}

}  // namespace orvus
