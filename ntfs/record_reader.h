// Reads one MFT entry into the record model: locate, read, fix up, check the
// header, walk the attributes and follow attribute lists into extension
// records.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/attribute_cursor.h"
#include "ntfs/cluster_source.h"
#include "ntfs/mft_record.h"
#include "ntfs/record_source.h"
#include "support/diagnostics_log.h"

namespace ntfs {

// Buffers reused for every attribute, so parsing does not allocate.
struct attribute_scratch {
  std::string utf8;
  uni::wide_string reparse_wide;
  std::string reparse_utf8;
  extent_list extents;
  std::vector<entry_number> extension_entries;
  std::vector<std::uint8_t> list_bytes;
  extent_list list_extents;
  std::vector<std::uint8_t> zone_bytes;
};

// What the reader needs from the run.
struct record_context {
  record_source* source = nullptr;
  // Cluster reads of the volume, for attribute lists stored outside the
  // record; null for an extracted $MFT.
  cluster_source* clusters = nullptr;
  std::uint32_t record_size = 1024;  // bytes; provisional until known
  bool record_size_known = false;
  std::uint64_t future_limit = 0;  // FILETIME; $FILE_NAME times past it are "future"
  bool csv_per_path = false;       // names from extension records keep that record's entry
  bool include_zone_info = false;  // capture Zone.Identifier contents
  support::diagnostics_log* log = nullptr;

  // Scratch space for extension records, reused across calls.
  std::vector<std::uint8_t> extension_buffer;
  entry_number extension_entry = ~0ULL;
  attribute_scratch scratch;

  // Learns the record size from the source on first use.
  bool ensure_record_size();
};

// Reads one record's bytes into `buffer` (resized to the record size) and
// applies the fixups. Sets `bad` for a "BAAD" record (still true). False on a
// read failure or a failed signature test.
bool read_raw_record(std::vector<std::uint8_t>& buffer, bool& bad, record_context& context, entry_number entry,
                     read_intent intent = read_intent::random, record_header* header = nullptr);

// Resets `record` and fills it from entry `entry`. `keep_resident` keeps
// copies of resident values. False on a read failure, a failed signature
// test or a "BAAD" record (each logged).
bool read_file_record(mft_record& record, record_context& context, entry_number entry, bool keep_resident,
                      read_intent intent = read_intent::random);

// Fills `record` from bytes already read and fixed up (the walk's path).
// Returns the number of attributes filed.
// `header` is the record's header when the caller has already read it.
std::uint32_t parse_record_bytes(mft_record& record, record_context& context, entry_number entry,
                                 std::span<const std::uint8_t> bytes, bool keep_resident,
                                 const record_header* header = nullptr);

// Files one attribute the cursor has checked into `record`.
// `recorded_entry` is the entry it is reported under, `holder_entry` the
// record that holds it. True for an attribute list, which the caller
// follows once the whole record is walked.
bool dispatch_attribute(mft_record& record, record_context& context, entry_number recorded_entry,
                        entry_number holder_entry, const attribute_view& attribute, bool keep_resident);

// decode_extents that logs a run list it could not read to its end: the
// attribute's place in record `entry`, the entry's place in the attribute
// and what was wrong with it.
void decode_extents_logged(support::diagnostics_log* log, entry_number entry, const attribute_view& attribute,
                           extent_list& extents);

// Logs where and why an attribute walk of record `entry` stopped, when it
// stopped at damage rather than at the end marker.
void log_attribute_walk_end(support::diagnostics_log* log, entry_number entry, const attribute_cursor& cursor);

}  // namespace ntfs
