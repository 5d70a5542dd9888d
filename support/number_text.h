// Hand-written number formatting for per-line code.
#pragma once

#include <cstdint>
#include <string>

namespace support {

// Decimal digits, zero-filled to at least `width`.
inline void append_decimal(std::string& out, std::uint64_t value, int width = 0) {
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = count; i < width; ++i) out.push_back('0');
  while (count > 0) out.push_back(digits[--count]);
}

// Lower-case hexadecimal digits, zero-filled to at least `width`.
inline void append_hex_digits(std::string& out, std::uint64_t value, int width) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (int i = count; i < width; ++i) out.push_back('0');
  while (count > 0) out.push_back(digits[--count]);
}

// "0x" and zero-filled hex digits.
inline void append_hex(std::string& out, std::uint64_t value, int width) {
  out.append("0x");
  append_hex_digits(out, value, width);
}

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
