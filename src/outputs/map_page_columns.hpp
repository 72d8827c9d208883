// The map page's columns of integers, as its script reads them back (map_page/columns.js).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sha256.hpp"

namespace orvus::page {

// Columns of integers as base64 of their variable-length bytes: 7 bits a byte, least
// significant first, the high bit set on every byte but the last; signed values zigzag-coded
// (0, -1, 1, -2 ... as 0, 1, 2, 3 ...). The page reads them back exactly up to 2^53 in
// magnitude.
class Column {
 public:
  void put(std::uint64_t v) {
    while (v >= 0x80) {
      bytes_ += static_cast<char>((v & 0x7F) | 0x80);
      v >>= 7;
    }
    bytes_ += static_cast<char>(v);
  }
  void put_signed(std::int64_t v) { put(zigzag(v)); }
  // A value that may be missing: 0 when missing, else its signed code plus 1.
  void put_optional(const std::optional<std::int64_t>& v) { put(v ? zigzag(*v) + 1 : 0); }
  std::string json() const { return '"' + base64(bytes_) + '"'; }

 private:
  static std::uint64_t zigzag(std::int64_t v) {
    return v < 0 ? (static_cast<std::uint64_t>(-(v + 1)) << 1) | 1
                 : static_cast<std::uint64_t>(v) << 1;
  }
  std::string bytes_;
};

}  // namespace orvus::page
