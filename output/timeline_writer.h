// The default layout (also -csv): a per-record timeline with one line per
// distinct timestamp and name, the MACB column telling which of the
// record's times fall on that timestamp.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "output/line_builder.h"
#include "output/record_writer.h"
#include "output/time_text_cache.h"

namespace output {

class timeline_writer final : public record_writer {
 public:
  explicit timeline_writer(const output_settings& settings);
  void write(const entry_result& result, results_stream& stream) override;
  void write_header_if_pending(results_stream& stream) override {
    if (stream.header_pending) write_header(stream);
  }

 private:
  // The lines of one record that share one FILETIME.
  struct time_group {
    std::uint64_t filetime = 0;
    std::array<char, 4> si{};
    std::array<char, 4> fn{};
    std::array<char, 4> fn83{};
    bool si_set = false;
    bool fn_set = false;
    bool fn83_set = false;
    std::vector<std::uint32_t> names;      // indices into m_names, regular names
    std::vector<std::uint32_t> dos_names;  // indices into m_names, 8.3 names
  };
  enum class kind { si, fn, fn83 };

  void write_header(results_stream& stream);
  void add_times(const ntfs::four_times& times, kind k, std::uint32_t name_index, bool dos);
  void flush_groups(const entry_result& result, results_stream& stream);
  // The columns of a line that depend only on its name: rendered once per
  // record and name, copied into every line of that name.
  struct name_columns {
    const ntfs::file_name_entry* name = nullptr;
    bool dos_line = false;
    text_buffer before_time;  // entry .. ref
    text_buffer after_time;   // other info .. stream text
  };
  const name_columns& columns_for(const entry_result& result, const ntfs::file_name_entry* name, bool dos_line);
  void write_line(const entry_result& result, const time_group& group, const ntfs::file_name_entry* name,
                  bool dos_line, results_stream& stream);

  const output_settings& m_settings;
  line_builder m_line;
  std::vector<time_group> m_groups;
  std::size_t m_group_count = 0;
  std::vector<std::uint32_t> m_order;
  std::vector<const ntfs::file_name_entry*> m_names;
  // Per-record texts, built once per record.
  std::string m_stream_text;
  std::string m_other_info;
  std::string m_type;
  std::string m_scratch;
  std::vector<name_columns> m_columns;
  std::size_t m_column_count = 0;
  line_builder m_column_line;
  time_text_cache m_times;
  // Whether clock, MACB and the last date texts need escaping in this run.
  bool m_clock_plain;
  bool m_macb_plain;
  char m_last_date[24] = {};
  std::size_t m_last_date_length = 0;
  bool m_date_plain = true;
};

}  // namespace output
