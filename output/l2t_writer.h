// The log2timeline CSV layout: for every name, one row of $STANDARD_INFORMATION
// times and one of $FILE_NAME times, each row split into one line per
// distinct timestamp with its MACB letters.
#pragma once

#include <array>
#include <string>

#include "output/line_builder.h"
#include "output/record_writer.h"
#include "output/time_text_cache.h"

namespace output {

class l2t_writer final : public record_writer {
 public:
  explicit l2t_writer(const output_settings& settings);
  void write(const entry_result& result, results_stream& stream) override;
  void write_header_if_pending(results_stream& stream) override {
    if (stream.header_pending) write_header(stream);
  }

 private:
  void write_header(results_stream& stream);
  // The lines of one row: its four times grouped by value, ascending.
  void write_row(const entry_result& result, const ntfs::file_name_entry& name, const ntfs::four_times& times,
                 const char* label, results_stream& stream);
  void build_notes(const entry_result& result, const ntfs::file_name_entry& name);

  const output_settings& m_settings;
  output_settings m_csv_settings;  // the line rules of this layout: CSV markers, no padding
  line_builder m_line;
  time_text_cache m_times;
  // Per-record and per-name texts, reused.
  std::string m_extra;
  std::string m_notes;
  std::string m_desc;
  std::string m_format;
  std::string m_scratch;
};

}  // namespace output
