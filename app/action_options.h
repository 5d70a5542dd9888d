// What is done with the data of each accepted record besides reporting its
// metadata: digests, header bytes, cluster runs, zone information, owner
// SIDs, and which streams are read and how.
#pragma once

#include "app/argument_list.h"
#include "app/options.h"

namespace app {

// -hashfile and -md5/-sha1/-sha256; taken before the shared options, since
// -hashfile settles the layout and its separators.
void parse_hash_options(run_options& options, argument_list& arguments);

// -raw, -skip_sparse_clusters, -action_copy_files with its companions and
// the -action_include_* family. False after reporting an option that cannot
// be honoured (a results folder that cannot be made).
bool parse_action_options(run_options& options, argument_list& arguments);

}  // namespace app
