// -jsonl and -jsonl_timeline: one JSON object per line for timeline
// platforms. -jsonl writes one object per path of a record (each regular
// name, as the per-path layout), with typed values: numbers as numbers,
// times as ISO 8601 UTC, null where absent. -jsonl_timeline writes one object
// per distinct time of each name, with the fields such platforms index on
// ("message", "datetime", "timestamp_desc", "timestamp") before the same
// record fields.
#pragma once

#include <string>
#include <vector>

#include "output/json_text.h"
#include "output/record_writer.h"

namespace output {

class jsonl_writer final : public record_writer {
 public:
  jsonl_writer(const output_settings& settings, bool timeline) : m_settings(settings), m_timeline(timeline) {}
  void write(const entry_result& result, results_stream& stream) override;

 private:
  void write_name(const entry_result& result, const ntfs::file_name_entry* name, const ntfs::file_name_entry* dos,
                  results_stream& stream);
  void write_fields(json_object& object, const entry_result& result, const ntfs::file_name_entry* name,
                    const ntfs::file_name_entry* dos);

  const output_settings& m_settings;
  bool m_timeline;
  json_object m_object;
  std::string m_text;
  std::string m_message;
  struct time_role {
    std::uint64_t filetime;
    const char* label;
  };
  std::vector<time_role> m_roles;
};

// "resolved", "orphan", "parent_reused" or "carved": how the path of an MFT
// record's name was obtained.
const char* record_path_source(const entry_result& result, const ntfs::parent_link* link);

}  // namespace output
