// Text conversions. NTFS stores names as UTF-16LE; brindle holds names as
// wide strings of 32-bit code points and writes every text as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace uni {

using wide_string = std::u32string;
using wide_view = std::u32string_view;

// Appends the shortest UTF-8 form of each code point. A code point above
// 0x10FFFF ends the conversion; the text converted so far stays.
void append_utf8(std::string& out, wide_view text);
std::string wide_to_utf8(wide_view text);

// Decodes UTF-8 into code points. Fails (returns an empty string) on a bad
// lead byte or a missing or wrong continuation byte.
wide_string utf8_to_wide(std::string_view text);
bool utf8_to_wide(std::string_view text, wide_string& out);

// UTF-16LE bytes to code points and UTF-8 in one pass. A high surrogate must
// be followed by a low one; a lone low surrogate is kept as a code point (it
// then encodes as three bytes, ED xx xx). Fewer than two bytes, or a high
// surrogate at the end or followed by anything else, fail the conversion.
// Both outputs are cleared first; either may be null.
bool utf16_decode(std::span<const std::uint8_t> utf16le, wide_string* wide_out, std::string* utf8_out);
bool utf16_to_utf8(std::span<const std::uint8_t> utf16le, std::string& out);
// The same conversion for names that must come out whatever they hold: lone
// surrogates and a trailing odd byte become U+FFFD instead of failing.
void utf16_to_utf8_lenient(std::span<const std::uint8_t> utf16le, std::string& out);

std::string latin1_to_utf8(std::string_view text);

// Simple case folding for name comparison: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic capitals to their small letters.
char32_t to_lower(char32_t c);
void to_lower(wide_string& text);
void ascii_to_lower(std::string& text);

// Lower-cases UTF-8 text into `out` (reused), with the same folding as
// to_lower(); ASCII is handled without decoding.
void utf8_to_lower(std::string_view text, std::string& out);

// Narrow (ASCII/UTF-8) text to wide code points; invalid UTF-8 falls back to
// Latin-1 so that a path typed by the user is never lost.
wide_string to_wide(std::string_view text);

}  // namespace uni
