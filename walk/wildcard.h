// Name patterns with '*' (any run of characters) and '?' (one character).
#pragma once

#include <string_view>

namespace walk {

// Matches UTF-8 `text` against `pattern`; '?' stands for one code point.
bool wildcard_matches(std::string_view pattern, std::string_view text);

}  // namespace walk
