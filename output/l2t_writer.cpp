#include "output/l2t_writer.h"

#include <algorithm>

#include "output/composite_text.h"
#include "support/number_text.h"

namespace output {

namespace {

output_settings l2t_line_settings(const output_settings& settings) {
  output_settings csv = settings;
  csv.padding = false;
  return csv;
}

void next_item(std::string& out) {
  if (!out.empty()) out.append("; ");
}

}  // namespace

l2t_writer::l2t_writer(const output_settings& settings)
    : m_settings(settings), m_csv_settings(l2t_line_settings(settings)), m_line(m_csv_settings),
      m_times(settings.datetime) {
  m_format.assign(settings.program_name).append(" (corvane)");
}

void l2t_writer::write_header(results_stream& stream) {
  m_line.begin(stream.buffer());
  if (m_settings.pair_datetime) {
    m_line.text("date/time", 0);
  } else {
    m_line.text("date", 0);
    m_line.text("time", 0);
  }
  for (const char* column : {"timezone", "MACB", "source", "sourcetype", "type", "user", "host", "short", "desc",
                             "version", "filename", "inode", "notes", "format", "extra"}) {
    m_line.text(column, 0);
  }
  m_line.end();
  stream.line_done();
  stream.header_written();
}

void l2t_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (record.is_extension) return;
  const ntfs::std_info_entry* info = record.standard_information();
  if (!info) return;
  if (stream.header_pending) write_header(stream);

  // What every line of the record shares.
  m_extra.clear();
  bool has_streams = false;
  for (const auto& attribute : record.attributes) has_streams = has_streams || attribute.data_attribute;
  if (has_streams) {
    append_stream_text(m_extra, record, m_settings, &result, true);
  } else if (!result.owner_sid.empty()) {
    m_extra.append("[owner_sid: ").append(result.owner_sid).push_back(']');
  }
  if (has_streams && !result.header_text.empty()) {
    m_extra.append("; [").append(result.header_strings ? "strings: " : "bytes: ").append(result.header_text);
    m_extra.push_back(']');
  }

  for (const auto& name : record.file_names) {
    if (name.is_dos_name && m_settings.hide_dos_times) continue;
    build_notes(result, name);
    m_desc.clear();
    if (const ntfs::parent_link* link = record.parents.find(name.parent.value)) m_desc.assign(link->parent_path);
    m_desc.append(name.name_utf8);
    // A name held by an extension record still belongs to the base record,
    // so it carries the base record's $STANDARD_INFORMATION times too.
    write_row(result, name, info->times, "$SI:", stream);
    write_row(result, name, name.times, name.is_dos_name ? "$FN8.3:" : "$FN:", stream);
  }
}

void l2t_writer::build_notes(const entry_result& result, const ntfs::file_name_entry& name) {
  const ntfs::mft_record& record = *result.record;
  m_notes.clear();
  if (!record.header.in_use()) {
    m_notes.append(record.header.is_directory() ? "deleted (dir)" : "deleted");
  } else {
    m_notes.append(record.header.is_directory() ? "dir" : "file");
  }
  if (!result.time_warning.empty()) {
    next_item(m_notes);
    m_notes.append(result.time_warning);
  }
  if (!record.zone.empty()) {
    next_item(m_notes);
    append_zone_info(m_notes, record);
  }
  if (name.is_dos_name) {
    next_item(m_notes);
    m_notes.append("FN8.3");
  }
  if (m_settings.record_offset) {
    next_item(m_notes);
    m_notes.append("filerecord [");
    support::append_note_number(m_notes, result.record_offset, m_settings.hexadecimal);
    m_notes.push_back(']');
  }
  const std::size_t names = record.non_dos_name_count();
  if (names > 1) {
    next_item(m_notes);
    m_notes.append("multinames [");
    support::append_decimal(m_notes, names);
    m_notes.push_back(']');
  }
  if (name.root_count > 1) {
    next_item(m_notes);
    m_notes.append("multiroots [");
    support::append_decimal(m_notes, name.root_count);
    m_notes.push_back(']');
  }
  if (held_by_extension(record, name)) {
    next_item(m_notes);
    m_notes.append("ref inode [");
    support::append_note_number(m_notes, name.held_by_entry, m_settings.hexadecimal);
    m_notes.push_back(']');
  }
}

void l2t_writer::write_row(const entry_result& result, const ntfs::file_name_entry& name,
                           const ntfs::four_times& times, const char* label, results_stream& stream) {
  // MACB order: modified, accessed, changed (MFT), born.
  const std::array<std::uint64_t, 4> row = {times.modification, times.access, times.mft_change, times.creation};
  std::array<std::uint64_t, 4> distinct{};
  std::size_t count = 0;
  for (const std::uint64_t filetime : row) {
    if (filetime == 0 || std::find(distinct.begin(), distinct.begin() + count, filetime) != distinct.begin() + count) {
      continue;
    }
    distinct[count++] = filetime;
  }
  // At most four values: an insertion sort.
  for (std::size_t i = 1; i < count; ++i) {
    for (std::size_t j = i; j > 0 && distinct[j] < distinct[j - 1]; --j) std::swap(distinct[j], distinct[j - 1]);
  }

  for (std::size_t g = 0; g < count; ++g) {
    const std::uint64_t filetime = distinct[g];
    if (m_settings.outside_window(filetime)) continue;
    char macb[4];
    static constexpr char letters[4] = {'M', 'A', 'C', 'B'};
    for (int i = 0; i < 4; ++i) macb[i] = row[i] == filetime ? letters[i] : '.';
    const std::string_view macb_text(macb, 4);

    const cv::filetime_text& when = m_times.get(filetime);
    const std::string_view date(when.date, when.date_length);
    const std::string_view time(when.time, when.time_length);
    m_line.begin(stream.buffer());
    if (m_settings.pair_datetime) {
      m_scratch.assign(date).append(" ").append(time);
      m_line.text(m_scratch, 0);
    } else {
      m_line.text(date, 0);
      m_line.text(time, 0);
    }
    m_line.text("UTC", 0);
    m_line.text(macb_text, 0);
    m_line.text("FILE", 0);
    // A record carved from free clusters is a copy, never a live file.
    m_line.text(result.unallocated ? "NTFS:UNALLOC" : "NTFS$MFT", 0);
    m_scratch.assign(label).append(" [").append(macb_text).push_back(']');
    m_line.text(m_scratch, 0);
    m_line.text(m_settings.user_name, 0);
    m_line.text(m_settings.host_name, 0);
    m_line.text(name.name_utf8, 0);
    m_line.text(m_desc, 0);
    m_line.text("2", 0);
    m_line.text(m_settings.source_name, 0);
    m_line.number(result.record->entry, 64, 0);
    m_line.text(m_notes, 0);
    m_line.text(m_format, 0);
    m_line.text(m_extra, 0);
    m_line.end();
    stream.line_done();
  }
}

}  // namespace output
