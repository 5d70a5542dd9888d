// One run of the program, from the process arguments to the exit status.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "output/output_settings.h"
#include "walk/walk_run.h"

namespace app {

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = -1;

int run_program(const std::vector<std::string>& arguments);

// How the parsed options render results and drive the walk.
output::output_settings make_output_settings(const run_options& options);
walk::walk_settings make_walk_settings(const run_options& options);
// Threads of the range walk: -threads, else one per core up to
// default_walk_threads_cap, and 1 in an instance of a -cpu run.
unsigned walk_thread_count(const run_options& options);
// Whether the run walks only the -filter_inode set: no other filter that
// could select other entries is given beside it.
bool inode_set_scan(const run_options& options);

// Entries the range walk covers when no count is given (0 when the source
// cannot be walked).
std::uint64_t mft_entry_count_of(const run_options& options);

}  // namespace app
