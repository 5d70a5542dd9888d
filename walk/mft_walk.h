// The main loops: over a range of MFT entries, and the entry count the
// multi-process split needs.
#pragma once

#include <cstdint>
#include <set>

#include "walk/walk_run.h"

namespace walk {

// Every walk returns false when its source cannot be walked at all (the
// reason is then in run.failure()); a damaged record only skips itself. A
// walk stops early once the results cannot be written (run.output_failed()).

// Walks entries [start, start + count) (all entries when no count is set)
// and hands every selected entry to the writer.
bool mft_range_walk(walk_run& run);

// Walks only the entries of the -filter_inode set, in ascending order; with
// settings().set_within_range only those inside [start, start + count).
bool inode_set_walk(walk_run& run, const std::set<ntfs::entry_number>& entries);

// Looks for file records in the clusters the volume's bitmap marks free.
// Needs a volume: with an extracted $MFT there are no clusters to scan.
bool unallocated_cluster_walk(walk_run& run);

// Entries the range walk covers when no count is given: what an extracted
// $MFT file holds, or on a volume the MFT's records that its run list maps
// (0 when the source cannot be walked).
std::uint64_t mft_entry_count(walk_run& run);

}  // namespace walk
