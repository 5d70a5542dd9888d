// File-type signatures and byte patterns tested on the first bytes of a data
// stream.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "walk/filter_settings.h"

namespace walk {

// The item for a -filter_sig name ("mz", "16bit_mz", "32bit_pe", "64bit_pe",
// "pe", "hive", "evt", "sqlite", "lnk"); false for any other name.
bool signature_item(std::string_view name, content_item& item);

// Parses a -filter_pattern argument into bytes: pieces split at blanks, else
// ',', else ':', else '-', each read as hexadecimal (after an "x" when it has
// one) keeping the low 8 bits. False when the argument has no usable form
// or yields no byte.
bool parse_pattern(std::string_view argument, std::vector<std::uint8_t>& bytes);

// Tests `item` on `header` (the stream's first bytes). On a match `note`
// receives the text written into the record's "type(" note.
bool content_matches(const content_item& item, std::span<const std::uint8_t> header, std::string_view& note);

}  // namespace walk
