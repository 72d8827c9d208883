// SHA-256 (FIPS 180-4), for the hashes a page's Content-Security-Policy gives its scripts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvus::page {

// The 32-byte digest of the bytes of `text`.
std::array<std::uint8_t, 32> sha256(std::string_view text);

// Bytes as base64 (RFC 4648, with '=' padding).
std::string base64(std::string_view bytes);

// The CSP source of an inline script: "'sha256-<base64 of the digest>'".
std::string csp_hash(std::string_view script);

}  // namespace orvus::page
