// The first bytes of a stream as the results show them: hexadecimal byte
// pairs, or the text strings found in them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace walk {

// Bytes mode: "4d 5a 90 00 ...". Strings mode: runs of at least five
// printable characters, read both as single-byte text and as UTF-16LE text,
// in the order of their offsets and joined by "; "; empty when none.
void header_text(std::span<const std::uint8_t> bytes, bool strings_mode, std::string& out);

}  // namespace walk
