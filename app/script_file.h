// Options kept in a text file (-script): one or more options per line,
// values with blanks in double quotes, "//" comments and blank lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

// The arguments a script's text yields, in order. The line ends are found
// from the first 1024 bytes (CR LF, LF, CR or LF CR); a text that mixes them
// there, or has none, yields nothing.
std::vector<std::string> script_arguments(std::string_view text);

// Script files are read whole, up to this size.
inline constexpr std::size_t script_limit_bytes = std::size_t{64} << 20;

// Reads the whole file (a UTF-8 byte-order mark at its start is skipped)
// into `arguments`. False, with the reason on standard error, when it is not
// a regular file, is larger than script_limit_bytes or cannot be read.
bool read_script_file(const std::string& path, std::vector<std::string>& arguments);

}  // namespace app
