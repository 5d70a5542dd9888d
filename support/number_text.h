// Hand-written number formatting for per-line code.
#pragma once

#include <cstdint>
#include <string>

namespace support {

// The digits are written backwards into a small buffer and appended in one
// call: a string's push_back checks its room and ends the text each time.
namespace detail {
inline constexpr int max_number_width = 32;  // widths above this are capped
}  // namespace detail

// Decimal digits, zero-filled to at least `width`.
inline void append_decimal(std::string& out, std::uint64_t value, int width = 0) {
  char digits[detail::max_number_width];
  char* const end = digits + sizeof digits;
  char* at = end;
  do {
    *--at = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  const char* const first = end - (width < detail::max_number_width ? width : detail::max_number_width);
  while (at > first) *--at = '0';
  out.append(at, static_cast<std::size_t>(end - at));
}

// Lower-case hexadecimal digits, zero-filled to at least `width`, after
// `prefix` (at most two characters).
inline void append_hex_digits(std::string& out, std::uint64_t value, int width, const char* prefix = "") {
  char digits[detail::max_number_width + 2];
  char* const end = digits + sizeof digits;
  char* at = end;
  do {
    *--at = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  const char* const first = end - (width < detail::max_number_width ? width : detail::max_number_width);
  while (at > first) *--at = '0';
  if (prefix[0] != '\0') {
    if (prefix[1] != '\0') *--at = prefix[1];
    *--at = prefix[0];
  }
  out.append(at, static_cast<std::size_t>(end - at));
}

// "0x" and zero-filled hex digits.
inline void append_hex(std::string& out, std::uint64_t value, int width) { append_hex_digits(out, value, width, "0x"); }

// A column number: "0x" with 8 digits for 32- and 64-bit values, 4 for
// 16-bit and 2 for 8-bit ones; or plain decimal.
inline void append_column_number(std::string& out, std::uint64_t value, int bits, bool hexadecimal) {
  if (!hexadecimal) return append_decimal(out, value);
  append_hex(out, value, bits >= 32 ? 8 : bits == 16 ? 4 : 2);
}

// A number inside a composite text: as few digits as its size class needs.
inline void append_note_number(std::string& out, std::uint64_t value, bool hexadecimal) {
  if (!hexadecimal) return append_decimal(out, value);
  const int width = value < 255 ? 2 : value < 65535 ? 4 : value > 0xfffffe ? 8 : 6;
  append_hex(out, value, width);
}

}  // namespace support
