// A digest as text: each byte as two lower-case hexadecimal digits,
// zero-filled, no separators (32, 40 and 64 characters for MD5, SHA-1 and
// SHA-256).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace support {

// Writes 2 x digest.size() characters into `out`, and a terminating NUL when
// `out` has room for one more. Returns the text written, or an empty view
// (writing nothing) when `out` is too small.
inline std::string_view digest_hex(std::span<const std::uint8_t> digest, std::span<char> out) {
  const std::size_t length = digest.size() * 2;
  if (out.size() < length) return {};
  constexpr char digits[] = "0123456789abcdef";
  char* p = out.data();
  for (std::uint8_t byte : digest) {
    *p++ = digits[byte >> 4];
    *p++ = digits[byte & 0x0F];
  }
  if (out.size() > length) *p = '\0';
  return std::string_view(out.data(), length);
}

}  // namespace support
