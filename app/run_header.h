// The block of lines at the top of every run: banner, when and where the
// run happened, and the command line.
#pragma once

#include <string>
#include <vector>

namespace app {

// `date_pattern` is the -dateformat value if one was given, else empty.
std::string build_run_header(const std::vector<std::string>& arguments, const std::string& date_pattern);

}  // namespace app
