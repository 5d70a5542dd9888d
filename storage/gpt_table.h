// The GUID partition table: a header at LBA 1 ("EFI PART") that locates an
// array of partition entries.
#pragma once

#include <cstdint>

#include "storage/byte_source.h"
#include "storage/partition_entry.h"

namespace storage {

// Most entries read from one array, whatever the header claims (the usual
// array holds 128).
constexpr std::uint32_t max_gpt_entries = 16384;

// Fills `table` (cleared first) with the used GPT entries in array order,
// each classified from its first bytes; with `with_pseudo_entries` the MBR
// sector, the header and the entry array come first. False when the table
// stays empty: no usable header, an entry array outside the disk, no entry
// in use.
bool parse_gpt(storage::byte_source& source, partition_table& table, bool with_pseudo_entries);

}  // namespace storage
