// Writes change-journal and index-slack rows in the layout of the run:
// timeline text or CSV (one line per distinct time, the reasons or "slack"
// in the MACB column), log2timeline CSV (source "NTFS:USN" or "NTFS:I30"),
// bodyfile (the journal time as the change time) and both JSON Lines
// layouts. The other layouts have no place for them and get nothing.
#pragma once

#include <memory>
#include <string>

#include "output/evidence_row.h"
#include "output/json_text.h"
#include "output/line_builder.h"
#include "output/output_settings.h"
#include "output/record_writer.h"
#include "output/results_stream.h"
#include "output/time_text_cache.h"

namespace output {

class evidence_writer {
 public:
  explicit evidence_writer(const output_settings& settings);
  void write(const evidence_row& row, results_stream& stream);

 private:
  struct timed_label {
    std::uint64_t filetime = 0;
    std::string macb;  // "m.cb" style letters, or the journal's reasons
    std::string desc;  // "FN modified, FN created" style
  };
  void collect_times(const evidence_row& row);
  void write_table(const evidence_row& row, results_stream& stream);
  void write_l2t(const evidence_row& row, results_stream& stream);
  void write_bodyfile(const evidence_row& row, results_stream& stream);
  void write_json(const evidence_row& row, results_stream& stream);
  void write_json_fields(const evidence_row& row);
  void build_place(const evidence_row& row);
  void write_date_time(std::uint64_t filetime, std::size_t date_width, std::size_t time_width);

  const output_settings& m_settings;
  output_settings m_csv_settings;
  std::unique_ptr<record_writer> m_header_writer;  // the layout's own, for its column header
  line_builder m_line;
  time_text_cache m_times;
  json_object m_object;
  std::string m_reasons;
  std::string m_info;
  std::string m_scratch;
  std::string m_message;
  timed_label m_labels[4];
  std::size_t m_label_count = 0;
};

}  // namespace output
