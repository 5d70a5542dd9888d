#include "output/per_path_writer.h"

#include "output/composite_text.h"
#include "support/number_text.h"
#include "ntfs/attribute_values.h"

namespace output {

using support::append_decimal;
using support::append_hex;
using support::append_hex_digits;
using support::append_column_number;
using support::append_note_number;

namespace {

constexpr std::size_t date_width = 10;
constexpr std::size_t time_width = 12;
constexpr std::size_t paired_width = date_width + time_width + 1;

bool is_zero(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

}  // namespace

per_path_writer::per_path_writer(const output_settings& settings)
    : m_settings(settings), m_line(settings), m_times(settings.datetime) {}

void per_path_writer::write_header(results_stream& stream) {
  static constexpr const char* paired_names[8] = {"SI modify-UTC", "SI access-UTC", "SI MFTchanged-UTC",
                                                  "SI created-UTC", "FN modify-UTC", "FN access-UTC",
                                                  "FN MFTchanged-UTC", "FN created-UTC"};
  static constexpr const char* split_names[16] = {"SI mdate", "mtime-UTC", "SI adate", "atime-UTC", "SI cdate",
                                                  "ctime-UTC", "SI bdate", "btime-UTC", "FN mdate", "mtime-UTC",
                                                  "FN adate", "atime-UTC", "FN cdate", "ctime-UTC", "FN bdate",
                                                  "btime-UTC"};
  static constexpr const char* paired_dos[4] = {"FN8.3 modify-UTC", "FN8.3 access-UTC", "FN8.3 MFTchanged-UTC",
                                                "FN8.3 created-UTC"};
  static constexpr const char* split_dos[8] = {"8.3 mdate", "mtime-UTC", "8.3 adate", "atime-UTC",
                                               "8.3 cdate", "ctime-UTC", "8.3 bdate", "btime-UTC"};
  text_buffer& out = stream.buffer();
  m_line.begin(out);
  m_line.text("MFT entry", 10);
  m_line.text("mft seqnum", 10);
  m_line.text("parent MFT", 10);
  m_line.text("par seqnum", 10);
  if (m_settings.pair_datetime) {
    for (const char* name : paired_names) m_line.text(name, paired_width);
  } else {
    for (int i = 0; i < 16; ++i) m_line.text(split_names[i], i % 2 == 0 ? date_width : time_width);
  }
  m_line.text("type", 19);
  m_line.text("ext", 7);
  m_line.text("size", 10);
  if (m_settings.record_offset) m_line.text("MFT Offset", 10);
  m_line.text("name", 30);
  m_line.text("path", 80);
  m_line.text("sym link", 0);
  m_line.text("object ID", 36);
  m_line.text("ADS metadata", 0);
  if (m_settings.zone_info) m_line.text("ZoneInfo", 0);
  m_line.text("Time warning", 0);
  if (!m_settings.host_name.empty()) m_line.text("hostname", m_settings.host_name.size());
  if (!m_settings.hide_dos_times) {
    if (m_settings.pair_datetime) {
      for (const char* name : paired_dos) m_line.text(name, paired_width);
    } else {
      for (int i = 0; i < 8; ++i) m_line.text(split_dos[i], i % 2 == 0 ? date_width : time_width);
    }
  }
  if (m_settings.extraction_column) m_line.text("extracted file path", 0);
  m_line.text("summary stats", 100);
  if (m_settings.header_column) m_line.text("header data", 0);
  m_line.end();
  stream.line_done();
  stream.header_written();
}

void per_path_writer::write_times(const ntfs::four_times& times) {
  const std::uint64_t ordered[4] = {times.modification, times.access, times.mft_change, times.creation};
  for (std::uint64_t filetime : ordered) {
    const cv::filetime_text& when = m_times.get(filetime);
    const std::string_view date(when.date, when.date_length);
    const std::string_view time(when.time, when.time_length);
    if (m_settings.pair_datetime) {
      m_scratch.clear();
      if (!date.empty()) m_scratch.assign(date).append(" ").append(time);
      m_line.text(m_scratch, paired_width);
    } else {
      m_line.text(date, date_width);
      m_line.text(time, time_width);
    }
  }
}

void per_path_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (record.is_extension || !record.standard_information()) return;
  if (stream.header_pending) write_header(stream);

  m_stream_text.clear();
  append_stream_text(m_stream_text, record, m_settings, &result, true);

  m_object_ids.clear();
  for (const auto& object : record.object_ids) {
    const std::span<const std::uint8_t, 16> guid(object.bytes.data(), 16);
    if (is_zero(guid)) continue;
    if (!m_object_ids.empty()) m_object_ids.append("; ");
    m_object_ids.append(ntfs::guid_text(guid));
  }
  m_streams.clear();
  for (const auto& attribute : record.attributes) {
    if (!attribute.named_stream) continue;
    if (!m_streams.empty()) m_streams.append("; ");
    m_streams.append(attribute.name_utf8).append(" [sz:");
    append_column_number(m_streams, stream_size(attribute), 64, m_settings.hexadecimal);
    m_streams.push_back(']');
  }
  m_zone.clear();
  if (!record.zone.empty()) {
    m_zone.push_back('{');
    append_zone_info(m_zone, record);
    m_zone.push_back('}');
  }

  for_each_path_row(record, [&](const ntfs::file_name_entry* name, const ntfs::file_name_entry* dos) {
    write_line(result, name, dos, stream);
  });
}

void per_path_writer::write_line(const entry_result& result, const ntfs::file_name_entry* name,
                                 const ntfs::file_name_entry* dos, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  const ntfs::std_info_entry& info = *record.standard_information();

  m_symlink.clear();
  append_reparse_targets(m_symlink, record);
  const auto item = [this] {
    if (!m_symlink.empty()) m_symlink.append("; ");
  };
  const std::size_t names = record.non_dos_name_count();
  if (names > 1) {
    item();
    m_symlink.append("multinames [");
    append_decimal(m_symlink, names);
    m_symlink.push_back(']');
  }
  if (name && name->root_count > 1) {
    item();
    m_symlink.append("multiroots [");
    append_decimal(m_symlink, name->root_count);
    m_symlink.push_back(']');
  }
  if (name && held_by_extension(record, *name)) {
    item();
    m_symlink.append("refinode: [");
    append_note_number(m_symlink, record.entry & 0xFFFFFFFFu, m_settings.hexadecimal);
    m_symlink.push_back(']');
  }
  if (dos) {
    item();
    m_symlink.append("DOS_name [").append(dos->name_utf8).push_back(']');
  }

  const std::string_view* path = nullptr;
  if (name) {
    if (const ntfs::parent_link* link = record.parents.find(name->parent.value)) path = &link->parent_path;
  }
  const ntfs::attr_record* data = record.unnamed_data();

  text_buffer& out = stream.buffer();
  m_line.begin(out);
  m_line.number(name ? name->read_under_entry : record.entry, 64, 10);
  m_line.number(record.sequence, 16, 10);
  m_line.number(name ? name->parent.entry() : ntfs::root_directory_entry, 64, 10);
  m_line.number(name ? name->parent.sequence() : 0, 16, 10);
  write_times(info.times);
  write_times(name ? name->times : ntfs::four_times{});
  m_line.text(entry_type_text(result), 19);
  m_line.text(record_extension(record), 7);
  m_line.number(data ? stream_size(*data) : 0, 64, 10);
  if (m_settings.record_offset) m_line.number(result.record_offset, 64, 10);
  m_line.text(name ? std::string_view(name->name_utf8) : std::string_view("<no filename attribute>"), 30);
  m_line.text(name ? (path ? *path : std::string_view()) : std::string_view("<no path>"), 80);
  m_line.text(m_symlink, 0);
  m_line.text(m_object_ids, 36);
  m_line.text(m_streams, 0);
  if (m_settings.zone_info) m_line.text(m_zone, 0);
  m_line.text(result.time_warning, 0);
  if (!m_settings.host_name.empty()) m_line.text(m_settings.host_name, m_settings.host_name.size());
  if (!m_settings.hide_dos_times) write_times(dos ? dos->times : ntfs::four_times{});
  if (m_settings.extraction_column) m_line.text(result.extracted_paths, 0);
  m_line.text(m_stream_text, 100);
  if (m_settings.header_column) m_line.text(result.header_text, 0);
  m_line.end();
  stream.line_done();
}

}  // namespace output
