// -csvperpath: one line per path of a record (each regular name), with the
// $STANDARD_INFORMATION times, that name's $FILE_NAME times and, when the
// record has one DOS 8.3 name, its times too.
#pragma once

#include <string>

#include "output/line_builder.h"
#include "output/record_writer.h"
#include "output/time_text_cache.h"

namespace output {

class per_path_writer final : public record_writer {
 public:
  explicit per_path_writer(const output_settings& settings);
  void write(const entry_result& result, results_stream& stream) override;

 private:
  void write_header(results_stream& stream);
  void write_times(const ntfs::four_times& times);
  void write_line(const entry_result& result, const ntfs::file_name_entry* name, const ntfs::file_name_entry* dos,
                  results_stream& stream);

  const output_settings& m_settings;
  line_builder m_line;
  std::string m_stream_text;
  std::string m_symlink;
  std::string m_object_ids;
  std::string m_streams;
  std::string m_zone;
  std::string m_scratch;
  time_text_cache m_times;
};

}  // namespace output
