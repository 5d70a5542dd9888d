// The files and folders a run writes, checked and made ready before
// anything is opened for writing.
//
// No output may be one of the run's sources: the results file (-out,
// -outfile, -append), the diagnostics log (-diags), the temporary folder of
// a split run (-tempdir) and the extraction folder (-action_copy_files) are
// compared with every source file, device and VMDK disk (parents found
// through their hints included) by device and inode, after links are
// resolved. Checks only look (stat, access); they never open, create,
// truncate or remove anything.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"

namespace app {

// Every file the source options name, for the comparison above.
std::vector<std::string> source_paths(const run_options& options);

// True when `output` names the same file or device as `source`.
bool same_file(const std::string& output, const std::string& source);

// True when `path` could be written without touching anything first: an
// existing file or device that may be written, or a new name in a folder
// that may be written.
bool could_write(const std::string& path);

// Refuses outputs that are sources, opens the diagnostics log, checks that
// the results file can be written and creates the extraction folder.
// Failures have been reported; the result is a parse result (parse_ok,
// parse_failed_reported or parse_bad_command_line).
int prepare_outputs(run_options& options);

}  // namespace app
