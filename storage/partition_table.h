// Reading a disk's partition structures: the MBR with its chain of extended
// boot records, or the GPT behind a protective MBR; a bare volume at byte 0
// is reported as a single entry.
#pragma once

#include "storage/byte_source.h"
#include "storage/partition_entry.h"

namespace storage {

// Fills `table` from `source` (cleared first); true when at least one entry
// was found.
//
// `lenient`: when sector 0 holds neither an MBR, a boot sector nor an ext
// superblock, look for an MBR in the first MiB and read it relative to where
// it was found. `with_pseudo_entries`: also list the MBR sector, the GPT
// header and entry array, and the unallocated gaps between partitions (as
// "mbr", "gpt header", "gpt partition entries", "unalloc"), and order the
// table by start; used for listings, never for choosing a volume.
bool parse_partitions(storage::byte_source& source, partition_table& table, bool lenient, bool with_pseudo_entries);

}  // namespace storage
