#include "output/hash_list_writer.h"

#include "output/composite_text.h"
#include "support/number_text.h"

namespace output {

std::string_view first_filter_note(std::string_view notes) {
  for (const std::string_view kind : {"pattern(", "dir(", "inode(", "ext(", "name(", "type("}) {
    std::size_t from = 0;
    while (from < notes.size()) {
      std::size_t end = notes.find("; ", from);
      if (end == std::string_view::npos) end = notes.size();
      const std::string_view note = notes.substr(from, end - from);
      if (note.substr(0, kind.size()) == kind) return note;
      from = end + 2;
    }
  }
  return {};
}

hash_list_writer::hash_list_writer(const output_settings& settings)
    : m_settings(settings), m_line(settings), m_times(settings.datetime) {}

void hash_list_writer::write_header(results_stream& stream) {
  m_line.begin(stream.buffer());
  if (m_settings.md5_column) m_line.text("md5 hash", 32);
  if (m_settings.sha1_column) m_line.text("sha1 hash", 40);
  if (m_settings.sha256_column) m_line.text("sha256 hash", 64);
  m_line.text("inode", 10);
  m_line.text("file size", 10);
  const std::size_t date_width = m_settings.date_width, time_width = m_settings.time_width;
  if (m_settings.pair_datetime) {
    for (const char* column : {"Modify UTC [SI]", "Access UTC [SI]", "Create UTC [SI]", "MFT Change UTC [SI]",
                               "Modify UTC [FN]", "Access UTC [FN]", "Create UTC [FN]", "MFT Change UTC {FN]"}) {
      m_line.text(column, date_width + time_width + 1);
    }
  } else {
    for (const char* column : {"mdate (SI)", "mtime-utc", "adate (SI)", "atime-utc", "cdate (SI)", "ctime-utc",
                               "mftdate (SI)", "time-utc", "mdate (FN)", "mtime-utc", "adate (FN)", "atime-utc",
                               "cdate (FN)", "ctime-utc", "mftdate (FN)", "time-utc"}) {
      const bool date = column[1] == 'd' || column[3] == 'd';  // "mdate", "mftdate"
      m_line.text(column, date ? date_width : time_width);
    }
  }
  m_line.text("filename", 10);
  m_line.text("path", 20);
  m_line.text("hostname", 14);
  m_line.text("valid", 3);
  m_line.text("filter", 10);
  m_line.text("comment", 10);
  m_line.end();
  stream.line_done();
  stream.header_written();
}

void hash_list_writer::write_times(const ntfs::four_times& times) {
  for (const std::uint64_t filetime : {times.modification, times.access, times.creation, times.mft_change}) {
    const cv::filetime_text& when = m_times.get(filetime);
    const std::string_view date(when.date, when.date_length);
    const std::string_view time(when.time, when.time_length);
    if (m_settings.pair_datetime) {
      m_scratch.clear();
      if (!date.empty()) m_scratch.assign(date).append(" ").append(time);
      m_line.text(m_scratch, m_settings.date_width + m_settings.time_width + 1);
    } else {
      m_line.text(date, m_settings.date_width);
      m_line.text(time, m_settings.time_width);
    }
  }
}

void hash_list_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (record.is_extension) return;
  const ntfs::attr_record* data = record.unnamed_data();
  if (!record.standard_information() || !data || data->header.type != ntfs::attribute_type::data) return;
  if (stream.header_pending) write_header(stream);
  const std::uint64_t size = stream_size(*data);
  if (record.file_names.empty()) {
    write_line(result, nullptr, size, stream);
    return;
  }
  for (const auto& name : record.file_names) {
    if (!name.is_dos_name) write_line(result, &name, size, stream);
  }
}

void hash_list_writer::write_line(const entry_result& result, const ntfs::file_name_entry* name, std::uint64_t size,
                                  results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  const auto digest = [&](const std::string& text) -> std::string_view {
    return size == 0 || text.empty() ? std::string_view("no data") : std::string_view(text);
  };
  m_line.begin(stream.buffer());
  if (m_settings.md5_column) m_line.text(digest(result.md5_text), 32);
  if (m_settings.sha1_column) m_line.text(digest(result.sha1_text), 40);
  if (m_settings.sha256_column) m_line.text(digest(result.sha256_text), 64);
  const bool extension_name = name && held_by_extension(record, *name);
  m_line.number(extension_name ? name->held_by_entry : record.entry, 64, 10);
  m_line.number(size, 64, 10);
  write_times(record.standard_information()->times);
  write_times(name ? name->times : ntfs::four_times{});
  std::string_view path;
  if (name) {
    if (const ntfs::parent_link* link = record.parents.find(name->parent.value)) path = link->parent_path;
  }
  m_line.text(name ? std::string_view(name->name_utf8) : std::string_view(), 10);
  m_line.text(path, 20);
  m_line.text(m_settings.host_name, 14);
  m_line.text(result.unallocated ? "unalloc-deleted" : record.header.in_use() ? "yes" : "deleted", 3);
  m_line.text(first_filter_note(result.filter_notes), 10);
  m_comment.assign(result.time_warning);
  if (extension_name) {
    m_comment.assign("refinode=[");
    support::append_note_number(m_comment, record.entry, m_settings.hexadecimal);
    m_comment.push_back(']');
  }
  m_line.text(m_comment, 10);
  m_line.end();
  stream.line_done();
}

}  // namespace output
