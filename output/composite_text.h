// The composite columns shared by the layouts: "other info", the stream text
// ("various data types", "summary stats") and the extension and type texts.
#pragma once

#include <string>
#include <string_view>

#include "ntfs/mft_record.h"
#include "output/entry_result.h"
#include "output/output_settings.h"

namespace output {

// Text after the last "." of `name`; "none" when there is no "." or the only
// one is the first character.
std::string_view extension_of(std::string_view name);

// The extension column of a record: from its first non-8.3 name; "none" for
// a directory or a record without names.
std::string_view record_extension(const ntfs::mft_record& record);

// True when `name` is held by an extension record rather than the base one.
bool held_by_extension(const ntfs::mft_record& record, const ntfs::file_name_entry& name);

// "multinames [N]", "multiroots [N]", symlink targets, "refinode [...]" for
// `name` (may be null), the attribute-list note, the time warning, the
// record offset, filter notes and zone information, joined by "; ".
void append_other_info(std::string& out, const entry_result& result, const ntfs::file_name_entry* name,
                       const output_settings& settings);

// Reparse targets joined by "; ".
void append_reparse_targets(std::string& out, const ntfs::mft_record& record);

// "ZoneInfo {'key':'value [zone]';...}" when zone pairs were captured.
void append_zone_info(std::string& out, const ntfs::mft_record& record);

// "[name : label : sz: 0x...]; ..." for each non-empty data stream, then the
// log-file sequence number, update sequence number and security id.
// With `result` given, its owner SID follows, and with `with_digests` the
// unnamed stream's item also carries the digests ("md5_hash: ...").
void append_stream_text(std::string& out, const ntfs::mft_record& record, const output_settings& settings,
                        const entry_result* result = nullptr, bool with_digests = false);

// Calls `row(name, dos)` for each row of the layouts that give every path
// its own row: each regular name, with the record's DOS 8.3 name beside it
// when it has exactly one (else null); a record without a regular name gets
// one row, for its only DOS name or for no name at all (both null).
template <typename Row>
void for_each_path_row(const ntfs::mft_record& record, Row&& row) {
  const ntfs::file_name_entry* dos = nullptr;
  std::size_t dos_count = 0;
  for (const auto& name : record.file_names) {
    if (!name.is_dos_name) continue;
    dos = &name;
    ++dos_count;
  }
  if (dos_count != 1) dos = nullptr;
  bool any = false;
  for (const auto& name : record.file_names) {
    if (name.is_dos_name) continue;
    row(&name, dos);
    any = true;
  }
  if (!any) row(dos, static_cast<const ntfs::file_name_entry*>(nullptr));
}

// Size of a data stream as the layouts show it.
std::uint64_t stream_size(const ntfs::attr_record& attribute);

}  // namespace output
