// The selection options of the command line.
#pragma once

#include "app/argument_list.h"
#include "app/options.h"

namespace app {

// Takes the filter options in their fixed order; false after a message.
bool parse_filter_options(run_options& options, argument_list& arguments);

// "\Windows\System32", "C:/Windows" or "Windows" as "[root]\windows\system32\"
// (with `directory`) or "[root]\windows\system32" (without).
std::string normalized_volume_path(std::string_view text, bool directory);

}  // namespace app
