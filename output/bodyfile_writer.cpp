#include "output/bodyfile_writer.h"

#include <algorithm>

#include "output/composite_text.h"
#include "output/cv_time.h"
#include "output/line_break_markers.h"
#include "support/number_text.h"

namespace output {

namespace {

void append_note(std::string& out, const char* label, std::uint64_t value, bool hexadecimal) {
  out.append(label);
  support::append_note_number(out, value, hexadecimal);
  out.append("]; ");
}

}  // namespace

std::int64_t bodyfile_seconds(std::uint64_t filetime) {
  if (filetime == 0) return 0;
  // Times before 1970 are negative; rounding down keeps 1969-12-31 23:59:59.5
  // in its own second, as a calendar would.
  const auto relative = static_cast<std::int64_t>(filetime - cv::filetime_of_unix_epoch);
  std::int64_t seconds = relative / static_cast<std::int64_t>(cv::ticks_per_second);
  if (relative % static_cast<std::int64_t>(cv::ticks_per_second) < 0) --seconds;
  return seconds;
}

void bodyfile_writer::write_header_if_pending(results_stream& stream) {
  if (!stream.header_pending) return;
  stream.append("md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time\n");
  stream.line_done();
  stream.header_written();
}

void bodyfile_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (record.is_extension) return;
  const ntfs::std_info_entry* info = record.standard_information();
  if (!info) return;
  write_header_if_pending(stream);

  if (record.file_names.empty()) {
    m_name_text.assign("<no filename attribute> (");
    write_line("0", record.entry, 0, info->times, "SI times)", stream);
    return;
  }
  // One pass per data stream, or one without a stream when there is none.
  m_streams.clear();
  for (const auto& attribute : record.attributes) {
    if (attribute.data_attribute) m_streams.push_back(&attribute);
  }
  if (m_streams.empty()) m_streams.push_back(nullptr);
  for (const ntfs::attr_record* current : m_streams) {
    std::string_view md5 = "0";
    if (current && !current->named_stream && !result.md5_text.empty()) md5 = result.md5_text;
    const std::uint64_t size = current ? stream_size(*current) : 0;
    for (const auto& name : record.file_names) {
      if (name.is_dos_name && m_settings.hide_dos_times) continue;
      build_name_text(result, name, current);
      // A name held by an extension record belongs to the base record: it
      // gets the base record's inode and $STANDARD_INFORMATION times, as
      // other bodyfile producers do; "refinode" names the record that holds it.
      if (name.times == info->times) {
        write_line(md5, record.entry, size, info->times, "SI & FN times match)", stream);
      } else {
        write_line(md5, record.entry, size, info->times, "SI times)", stream);
        write_line(md5, record.entry, size, name.times, "FN times)", stream);
      }
    }
  }
}

void bodyfile_writer::build_name_text(const entry_result& result, const ntfs::file_name_entry& name,
                                      const ntfs::attr_record* stream_attribute) {
  const ntfs::mft_record& record = *result.record;
  m_name_text.clear();
  if (const ntfs::parent_link* link = record.parents.find(name.parent.value)) m_name_text.assign(link->parent_path);
  m_name_text.append(name.name_utf8);
  if (stream_attribute && stream_attribute->named_stream) m_name_text.append(":").append(stream_attribute->name_utf8);
  // A record carved from free clusters is a copy, never a live file,
  // whatever its header says: the mark keeps it apart from the MFT's own.
  if (result.unallocated) m_name_text.append(" (unalloc)");
  m_name_text.append(" (");
  if (!record.header.in_use()) {
    m_name_text.append(" deleted; ");
    if (record.header.is_directory()) m_name_text.append("dir; ");
  } else {
    m_name_text.append(record.header.is_directory() ? "dir; " : "file; ");
  }
  const bool hexadecimal = m_settings.hexadecimal;
  const std::size_t names = record.non_dos_name_count();
  if (names > 1) {
    m_name_text.append("multinames [");
    support::append_decimal(m_name_text, names);
    m_name_text.append("]; ");
  }
  if (name.root_count > 1) {
    m_name_text.append("multiroots [");
    support::append_decimal(m_name_text, name.root_count);
    m_name_text.append("]; ");
  }
  if (held_by_extension(record, name)) append_note(m_name_text, "refinode [", name.held_by_entry, hexadecimal);
  if (m_settings.record_offset) append_note(m_name_text, "filerecord [", result.record_offset, hexadecimal);
  if (!result.owner_sid.empty()) m_name_text.append("owner_sid [ ").append(result.owner_sid).append("]; ");
  if (!record.zone.empty()) {
    append_zone_info(m_name_text, record);
    m_name_text.append("; ");
  }
  // The bar separates the fields and a line holds one entry, so neither
  // may survive inside a name.
  std::replace(m_name_text.begin(), m_name_text.end(), '|', ';');
  mark_line_breaks(m_name_text);
}

void bodyfile_writer::write_line(std::string_view md5, std::uint64_t inode, std::uint64_t size,
                                 const ntfs::four_times& times, const char* times_note, results_stream& stream) {
  text_buffer& out = stream.buffer();
  out.append(md5);
  out.push_back('|');
  out.append(m_name_text);
  out.append(std::string_view(times_note));
  out.push_back('|');
  append_signed(out, static_cast<std::int64_t>(inode));
  out.append("||0|0|");
  append_signed(out, static_cast<std::int64_t>(size));
  for (const std::uint64_t filetime : {times.access, times.modification, times.mft_change, times.creation}) {
    out.push_back('|');
    append_signed(out, bodyfile_seconds(filetime));
  }
  out.push_back('\n');
  stream.line_done();
}

}  // namespace output
