#include "output/evidence_writer.h"

#include <charconv>

#include "output/composite_text.h"
#include "output/cv_time.h"
#include "support/number_text.h"

namespace output {

namespace {

output_settings unpadded_csv(const output_settings& settings) {
  output_settings csv = settings;
  csv.padding = false;
  return csv;
}

// Whole Unix seconds, rounded down; 0 for no time.
std::int64_t unix_seconds(std::uint64_t filetime) {
  if (filetime == 0) return 0;
  return static_cast<std::int64_t>(filetime / cv::ticks_per_second) - static_cast<std::int64_t>(cv::seconds_1601_to_1970);
}

// The bodyfile's name field: no bar, no line break.
void append_bodyfile_text(text_buffer& out, std::string_view text) {
  for (char c : text) {
    if (c == '|') {
      out.push_back(';');
    } else if (c == '\n') {
      out.append("[LF]");
    } else if (c == '\r') {
      out.append("[CR]");
    } else {
      out.push_back(c);
    }
  }
}

std::string_view row_name(const evidence_row& row) {
  return row.usn ? std::string_view(row.usn->name_utf8) : std::string_view(row.slack->key.name_utf8);
}

ntfs::file_reference row_file(const evidence_row& row) {
  if (row.usn) return row.usn->file;
  return row.slack->reference.is_none() ? ntfs::file_reference{0} : row.slack->reference;
}

ntfs::file_reference row_parent(const evidence_row& row) {
  return row.usn ? row.usn->parent : row.slack->key.parent;
}

}  // namespace

evidence_writer::evidence_writer(const output_settings& settings)
    : m_settings(settings), m_csv_settings(unpadded_csv(settings)),
      m_header_writer(make_record_writer(settings)),
      m_line(settings.kind == layout::l2t ? m_csv_settings : settings), m_times(settings.datetime) {}

void evidence_writer::write(const evidence_row& row, results_stream& stream) {
  collect_times(row);
  switch (m_settings.kind) {
    case layout::timeline:
      m_header_writer->write_header_if_pending(stream);
      write_table(row, stream);
      break;
    case layout::l2t:
      m_header_writer->write_header_if_pending(stream);
      write_l2t(row, stream);
      break;
    case layout::bodyfile:
      m_header_writer->write_header_if_pending(stream);
      write_bodyfile(row, stream);
      break;
    case layout::jsonl:
    case layout::jsonl_timeline:
      write_json(row, stream);
      break;
    default:
      break;
  }
}

// The times a row is shown at: the journal record's one time, or each
// distinct time of a slack entry's four, with the roles that fall on it.
void evidence_writer::collect_times(const evidence_row& row) {
  m_label_count = 0;
  if (row.usn) {
    m_reasons.clear();
    ntfs::append_usn_reasons(m_reasons, row.usn->reasons);
    timed_label& label = m_labels[m_label_count++];
    label.filetime = row.usn->timestamp;
    label.macb = m_reasons;
    label.desc.assign("USN ").append(m_reasons);
    return;
  }
  const ntfs::four_times& t = row.slack->key.times;
  const std::uint64_t roles[4] = {t.modification, t.access, t.mft_change, t.creation};
  static constexpr const char* role_names[4] = {"FN modified", "FN accessed", "FN changed", "FN created"};
  static constexpr char letters[4] = {'m', 'a', 'c', 'b'};
  for (const std::uint64_t filetime : roles) {
    if (filetime == 0 || m_settings.outside_window(filetime)) continue;
    bool seen = false;
    for (std::size_t i = 0; i < m_label_count; ++i) seen = seen || m_labels[i].filetime == filetime;
    if (seen) continue;
    timed_label& label = m_labels[m_label_count++];
    label.filetime = filetime;
    label.macb.assign("slack:[");
    label.desc.clear();
    for (int role = 0; role < 4; ++role) {
      label.macb.push_back(roles[role] == filetime ? letters[role] : '.');
      if (roles[role] != filetime) continue;
      if (!label.desc.empty()) label.desc.append(", ");
      label.desc.append(role_names[role]);
    }
    label.macb.push_back(']');
  }
  // At most four: an insertion sort by time.
  for (std::size_t i = 1; i < m_label_count; ++i) {
    for (std::size_t j = i; j > 0 && m_labels[j].filetime < m_labels[j - 1].filetime; --j) {
      std::swap(m_labels[j], m_labels[j - 1]);
    }
  }
}

void evidence_writer::write_date_time(std::uint64_t filetime, std::size_t date_width, std::size_t time_width) {
  const cv::filetime_text& when = m_times.get(filetime);
  m_line.date_time({when.date, when.date_length}, {when.time, when.time_length}, date_width, time_width);
}

// "usn [N]" or "dir [N]": where the row was found.
void evidence_writer::build_place(const evidence_row& row) {
  m_info.assign(row.usn ? "usn [" : "dir [");
  support::append_note_number(m_info, row.usn ? row.usn->usn : row.directory, m_settings.hexadecimal);
  m_info.push_back(']');
}

void evidence_writer::write_table(const evidence_row& row, results_stream& stream) {
  const ntfs::file_reference file = row_file(row);
  const ntfs::file_reference parent = row_parent(row);
  build_place(row);
  m_scratch.clear();
  if (row.usn) {
    m_scratch.append("source: [");
    ntfs::append_usn_sources(m_scratch, row.usn->source);
    m_scratch.append("]; attributes: [");
    support::append_note_number(m_scratch, row.usn->file_attributes, true);
    m_scratch.append("]; version: [");
    support::append_decimal(m_scratch, row.usn->major_version);
  } else {
    m_scratch.append("size: [");
    support::append_note_number(m_scratch, row.slack->key.real_size, m_settings.hexadecimal);
    m_scratch.append("]; allocated: [");
    support::append_note_number(m_scratch, row.slack->key.allocated_size, m_settings.hexadecimal);
    m_scratch.append("]; flags: [");
    support::append_note_number(m_scratch, row.slack->key.flags, true);
  }
  m_scratch.append("]; path_source: [").append(row.path_source).push_back(']');
  const std::string various = m_scratch;
  const std::size_t count = m_label_count ? m_label_count : 1;
  for (std::size_t i = 0; i < count; ++i) {
    const timed_label* label = m_label_count ? &m_labels[i] : nullptr;
    m_line.begin(stream.buffer());
    m_line.number(file.entry(), 64, 10);
    m_line.number(file.sequence(), 16, 10);
    m_line.number(parent.entry(), 64, 10);
    m_line.number(parent.sequence(), 16, 10);
    m_line.text(row.usn ? "usn" : "slack", 7);
    m_line.text(extension_of(row_name(row)), 9);
    m_line.number(0, 16, 3);
    if (!m_settings.plain_run) m_line.number(0, 64, 10);
    write_date_time(label ? label->filetime : 0, m_settings.date_width, m_settings.time_width);
    m_line.text(label ? std::string_view(label->macb) : std::string_view(), 33);
    if (!m_settings.plain_run) m_line.text("", 14);
    m_line.text(m_info, 14);
    if (m_settings.md5_column) m_line.text("", 32);
    if (m_settings.sha1_column) m_line.text("", 40);
    if (m_settings.sha256_column) m_line.text("", 64);
    m_line.text(row_name(row), 15);
    m_line.text(row.parent_path, 60);
    m_line.text(various, m_settings.cluster_info && !m_settings.plain_run ? 80 : 100);
    if (m_settings.extraction_column || m_settings.header_column) m_line.text("", 0);
    m_line.end();
    stream.line_done();
  }
}

void evidence_writer::write_l2t(const evidence_row& row, results_stream& stream) {
  m_message.assign(row.parent_path).append(row_name(row));
  build_place(row);
  m_info.append("; path_source [").append(row.path_source).push_back(']');
  for (std::size_t i = 0; i < m_label_count; ++i) {
    const timed_label& label = m_labels[i];
    if (label.filetime == 0) continue;
    m_line.begin(stream.buffer());
    write_date_time(label.filetime, 0, 0);
    m_line.text("UTC", 0);
    if (row.usn) {
      m_line.text("..C.", 0);
    } else {
      m_scratch.assign(label.macb, 7, 4);
      for (char& c : m_scratch) c = c == '.' ? '.' : static_cast<char>(c - 32);
      m_line.text(m_scratch, 0);
    }
    m_line.text(row.usn ? "NTFS:USN" : "NTFS:I30", 0);
    m_line.text(row.usn ? "USN change journal" : "$I30 index slack", 0);
    m_line.text(label.desc, 0);
    m_line.text(m_settings.user_name, 0);
    m_line.text(m_settings.host_name, 0);
    m_line.text(row_name(row), 0);
    m_line.text(m_message, 0);
    m_line.text("2", 0);
    m_line.text(m_settings.source_name, 0);
    m_line.number(row_file(row).entry(), 64, 0);
    m_line.text(m_info, 0);
    m_scratch.assign(m_settings.program_name).append(" (corvane)");
    m_line.text(m_scratch, 0);
    m_line.text("", 0);
    m_line.end();
    stream.line_done();
  }
}

void evidence_writer::write_bodyfile(const evidence_row& row, results_stream& stream) {
  text_buffer& out = stream.buffer();
  out.append("0|");
  append_bodyfile_text(out, row.parent_path);
  append_bodyfile_text(out, row_name(row));
  if (row.usn) {
    out.append(" (usn: ");
    append_bodyfile_text(out, m_labels[0].macb);
    out.append(")|");
  } else {
    out.append(" ($I30 slack)|");
  }
  append_signed(out, static_cast<std::int64_t>(row_file(row).entry()));
  out.append("||0|0|");
  if (row.usn) {
    out.append("0|0|0|");
    append_signed(out, unix_seconds(row.usn->timestamp));
    out.append("|0\n");
  } else {
    const ntfs::four_times& t = row.slack->key.times;
    append_signed(out, static_cast<std::int64_t>(row.slack->key.real_size));
    for (const std::uint64_t filetime : {t.access, t.modification, t.mft_change, t.creation}) {
      out.push_back('|');
      append_signed(out, unix_seconds(filetime));
    }
    out.push_back('\n');
  }
  stream.line_done();
}

void evidence_writer::write_json(const evidence_row& row, results_stream& stream) {
  if (m_settings.kind == layout::jsonl) {
    m_object.begin(stream.buffer());
    write_json_fields(row);
    m_object.end();
    stream.line_done();
    return;
  }
  for (std::size_t i = 0; i < m_label_count; ++i) {
    const timed_label& label = m_labels[i];
    if (label.filetime == 0) continue;  // a version 4 record has no time
    m_message.assign(row.parent_path).append(row_name(row)).append(" [").append(label.desc).push_back(']');
    m_object.begin(stream.buffer());
    m_object.string("message", m_message);
    m_object.time("datetime", label.filetime);
    m_object.string("timestamp_desc", label.desc);
    m_object.signed_number("timestamp", filetime_to_unix_microseconds(label.filetime));
    write_json_fields(row);
    m_object.end();
    stream.line_done();
  }
}

void evidence_writer::write_json_fields(const evidence_row& row) {
  json_object& o = m_object;
  const ntfs::file_reference file = row_file(row);
  const ntfs::file_reference parent = row_parent(row);
  o.string("data_type", row.usn ? "fs:ntfs:usn_change" : "fs:ntfs:i30_slack");
  o.string("source", m_settings.source_name);
  if (row.slack && row.slack->reference.is_none()) {
    o.null("entry");
    o.null("sequence");
  } else {
    o.number("entry", file.entry());
    o.number("sequence", file.sequence());
  }
  o.number("parent_entry", parent.entry());
  o.number("parent_sequence", parent.sequence());
  if (row.parent_known) {
    o.number("parent_sequence_now", row.parent_sequence_now);
  } else {
    o.null("parent_sequence_now");
  }
  o.string("name", row_name(row));
  if (row.parent_path.empty()) {
    o.null("path");
  } else {
    o.string("path", row.parent_path);
  }
  o.string("path_source", row.path_source);
  o.string("type", row.usn ? "usn" : "slack");
  if (row.usn) {
    const ntfs::usn_record& usn = *row.usn;
    o.number("usn", usn.usn);
    o.time("usn_time", usn.timestamp);
    o.string("reasons", m_reasons);
    m_scratch.clear();
    ntfs::append_usn_sources(m_scratch, usn.source);
    o.string("source_flags", m_scratch);
    o.number("file_attributes", usn.file_attributes);
    o.number("security_id", usn.security_id);
    o.number("version", usn.major_version);
    if (usn.major_version == 4) o.number("extent_count", usn.extent_count);
    return;
  }
  const ntfs::file_name_entry& key = row.slack->key;
  o.number("directory_entry", row.directory);
  o.number("size", key.real_size);
  o.number("allocated_size", key.allocated_size);
  o.number("file_attributes", key.flags);
  o.number("name_space", key.name_space);
  o.time("fn_created", key.times.creation);
  o.time("fn_modified", key.times.modification);
  o.time("fn_changed", key.times.mft_change);
  o.time("fn_accessed", key.times.access);
}

}  // namespace output
