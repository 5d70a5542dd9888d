// -cpu N: the MFT entry range cut into N slices, one child process of this
// program per slice, and their results merged in slice order into the one
// results file (or left one file per instance with -separate_files).
#pragma once

#include <cstdint>
#include <cstdio>
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

// Where an instance's result lines begin in its results file: past its run
// header and the blank line after it, and past its column header too when
// `skip_column_header`. False when no blank line is found in the first
// 16384 bytes, or a zero byte comes first.
bool find_data_start(std::FILE* file, bool skip_column_header, std::uint64_t& offset_bytes);

// Runs the instances (at most 64, and never more than entries) and merges
// their results. `reduced` is the parent's command line without the
// options that belong to the parent alone; `temp_folder` ends in "/". False
// when the run cannot be split, an instance failed ("instance N failed";
// no merged file is then left) or the results file cannot be written.
bool run_instances(run_options& options, std::uint32_t instances, const std::vector<std::string>& reduced,
                   const std::string& temp_folder);

}  // namespace app
