// The per-entry analysis shared by every walk: parse the record, apply the
// selection tests in their fixed order and resolve the paths of its names.
#pragma once

#include <span>

#include "ntfs/mft_record.h"
#include "output/entry_result.h"
#include "walk/walk_run.h"

namespace walk {

// `record` holds the entry's fixed-up bytes in `record.raw` (already reset
// otherwise). Fills the record model and `result`; true when the entry is to
// be reported.
// `header` is the record's header as read with the record.
bool analyze_entry(walk_run& run, ntfs::mft_record& record, output::entry_result& result, ntfs::entry_number entry,
                   const ntfs::record_header& header);

// Registers a directory record with the path cache, so that its children
// resolve without reading it again.
void register_directory(walk_run& run, const ntfs::mft_record& record);

// Reads entry `entry` into `record.raw` (the record reset first) with its
// fixups applied; false when it cannot be read (logged when `log_failure`).
bool read_entry(walk_run& run, ntfs::mft_record& record, ntfs::entry_number entry, bool& bad,
                ntfs::record_header& header, bool log_failure = true);

// One entry of the range walk: read, analysed and written when selected.
// False when the entry cannot be read and lies at or past `entry_count`, the
// end of the MFT, where the walk stops.
bool range_walk_entry(walk_run& run, ntfs::mft_record& record, output::entry_result& result, ntfs::entry_number entry,
                      std::uint64_t entry_count);

}  // namespace walk
