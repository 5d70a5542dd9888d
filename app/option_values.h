// The value forms of the command line: numbers, sizes and lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// Entry numbers, offsets, counts: decimal; hexadecimal after an "x"
// ("0x1f", "x1f"); octal after an "o" ("o20"). Leading and trailing blanks
// are ignored. False when no digits follow or the value overflows.
bool parse_number(std::string_view text, std::uint64_t& value);

// Sizes in bytes: decimal, or hexadecimal after "0x" or "x" (at most 16
// digits); no blanks inside, at most 31 characters.
bool parse_size(std::string_view text, std::uint64_t& value);

// Splits a list at one separator character: '|' when the text holds one,
// else ',' when it holds one, else ';'. Pieces are trimmed; empty ones are
// dropped.
std::vector<std::string> split_list(std::string_view text);

std::string trim(std::string_view text);

}  // namespace app
