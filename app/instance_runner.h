// -cpu N: the MFT entry range shared out over N child processes of this
// program, and their results merged in entry order into the one results
// file as they arrive (or left one file per instance and slice with
// -separate_files).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"

namespace app {

struct instance_slice {
  std::uint64_t start = 0;  // first entry
  std::uint64_t count = 0;  // entries
};

// Equal slices of `count` entries from `start`; the last takes the rest.
std::vector<instance_slice> split_entry_range(std::uint64_t start, std::uint64_t count, std::uint32_t instances);

// Runs the instances (at most 64, and never more than entries) and merges
// their results. `reduced` is the parent's command line without the
// options that belong to the parent alone; `separate_folder` (ending in
// "/") holds the -separate_files results. False
// when the run cannot be split, an instance failed ("instance N failed";
// no merged file is then left) or the results file cannot be written.
bool run_instances(run_options& options, std::uint32_t instances, const std::vector<std::string>& reduced,
                   const std::string& separate_folder);

}  // namespace app
