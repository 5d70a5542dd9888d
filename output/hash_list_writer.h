// The hash layout (-hashfile): one line per name of every file with an
// unnamed data stream, its digests first, then its size, times and path.
#pragma once

#include <string>

#include "output/line_builder.h"
#include "output/record_writer.h"
#include "output/time_text_cache.h"

namespace output {

class hash_list_writer final : public record_writer {
 public:
  explicit hash_list_writer(const output_settings& settings);
  void write(const entry_result& result, results_stream& stream) override;

 private:
  void write_header(results_stream& stream);
  // Modify, access, create, MFT change: the order of this layout's columns.
  void write_times(const ntfs::four_times& times);
  void write_line(const entry_result& result, const ntfs::file_name_entry* name, std::uint64_t size,
                  results_stream& stream);

  const output_settings& m_settings;
  line_builder m_line;
  time_text_cache m_times;
  std::string m_scratch;
  std::string m_comment;
};

// The first filter note of `notes` ("a(x); b(y)") in the order pattern, dir,
// inode, ext, name, type; empty when none.
std::string_view first_filter_note(std::string_view notes);

}  // namespace output
