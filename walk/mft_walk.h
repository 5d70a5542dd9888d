// The main loops: over a range of MFT entries, and the entry count the
// multi-process split needs.
#pragma once

#include <cstdint>
#include <set>

#include "walk/walk_run.h"

namespace walk {

// Walks entries [start, start + count) (all entries when no count is set)
// and hands every selected entry to the writer. True when at least one
// directory was seen.
bool mft_range_walk(walk_run& run);

// Walks only the entries of the -filter_inode set, in ascending order.
bool inode_set_walk(walk_run& run, const std::set<ntfs::entry_number>& entries);

// Looks for file records in the clusters the volume's bitmap marks free.
// Needs a volume: with an extracted $MFT there are no clusters to scan and
// the walk returns false at once.
bool unallocated_cluster_walk(walk_run& run);

// Entries the MFT holds according to its own $DATA attribute (0 when the
// source cannot be opened or entry 0 has no $DATA).
std::uint64_t mft_entry_count(walk_run& run);

}  // namespace walk
