// Turns the command line into the option set.
#pragma once

#include <string>

#include "app/argument_list.h"
#include "app/options.h"

namespace app {

// Returns parse_ok, parse_failed_reported (message already written),
// parse_bad_command_line or parse_no_source. Options the parser does not
// know stay in `arguments`.
int parse_options(run_options& options, argument_list& arguments, const std::string& version_text,
                  const std::string& default_source_label);

}  // namespace app
