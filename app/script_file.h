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

// Reads the file and returns its arguments; nothing when it cannot be read.
std::vector<std::string> read_script_file(const std::string& path);

}  // namespace app
