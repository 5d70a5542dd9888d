// The main loops: over a range of MFT entries, and the entry count the
// multi-process split needs.
#pragma once

#include <cstdint>

#include "walk/walk_run.h"

namespace walk {

// Walks entries [start, start + count) (all entries when no count is set)
// and hands every selected entry to the writer. True when at least one
// directory was seen.
bool mft_range_walk(walk_run& run);

// Entries the MFT holds according to its own $DATA attribute (0 when the
// source cannot be opened or entry 0 has no $DATA).
std::uint64_t mft_entry_count(walk_run& run);

}  // namespace walk
