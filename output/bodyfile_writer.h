// The bodyfile layout read by mactime: md5|name|inode|mode|uid|gid|size|
// atime|mtime|ctime|crtime, one line per name, data stream and set of
// times, the times in Unix seconds.
#pragma once

#include <string>
#include <vector>

#include "output/record_writer.h"

namespace output {

class bodyfile_writer final : public record_writer {
 public:
  explicit bodyfile_writer(const output_settings& settings) : m_settings(settings) {}
  void write(const entry_result& result, results_stream& stream) override;
  void write_header_if_pending(results_stream& stream) override;

 private:
  // The name text up to the times note: path, name, stream and the notes.
  void build_name_text(const entry_result& result, const ntfs::file_name_entry& name,
                       const ntfs::attr_record* stream_attribute);
  void write_line(std::string_view md5, std::uint64_t inode, std::uint64_t size, const ntfs::four_times& times,
                  const char* times_note, results_stream& stream);

  const output_settings& m_settings;
  std::string m_name_text;
  std::vector<const ntfs::attr_record*> m_streams;  // this record's data streams
};

// FILETIME to Unix seconds, rounded down; 0 stays 0.
std::int64_t bodyfile_seconds(std::uint64_t filetime);

}  // namespace output
