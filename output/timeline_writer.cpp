#include "output/timeline_writer.h"

#include <cstring>

#include <algorithm>

#include "ntfs/path_resolver.h"
#include "output/composite_text.h"

namespace output {

namespace {

constexpr const char* no_name_text = "<no filename attribute>";
constexpr const char* no_path_text = "<no path>";

// The FILETIME roles in MACB order.
constexpr int role_modified = 0;
constexpr int role_accessed = 1;
constexpr int role_changed = 2;
constexpr int role_born = 3;
constexpr char role_letters[4] = {'m', 'a', 'c', 'b'};

}  // namespace

timeline_writer::timeline_writer(const output_settings& settings)
    : m_settings(settings),
      m_line(settings),
      m_column_line(settings),
      m_times(settings.datetime),
      m_clock_plain(m_line.plain("0123456789:.")),
      m_macb_plain(m_line.plain("si:[macb.]; fn8.3")) {}

void timeline_writer::write_header(results_stream& stream) {
  text_buffer& out = stream.buffer();
  m_line.begin(out);
  m_line.text("mft entry", 10);
  m_line.text("mft seqnum", 10);
  m_line.text("parent mft", 10);
  m_line.text("par seqnum", 10);
  m_line.text("type", 7);
  m_line.text("ext", 9);
  m_line.text("ref", 3);
  if (!m_settings.plain_run) m_line.text("size data", 10);
  if (m_settings.pair_datetime) {
    m_line.text("date/time-utc", m_settings.date_width + m_settings.time_width + 1);
  } else {
    m_line.text("date", m_settings.date_width);
    m_line.text("time-utc", m_settings.time_width);
  }
  m_line.text("MACB", 33);
  if (!m_settings.plain_run) m_line.text("data type", 14);
  m_line.text("other info", 14);
  if (m_settings.md5_column) m_line.text("MD5 hash", 32);
  if (m_settings.sha1_column) m_line.text("SHA1 hash", 40);
  if (m_settings.sha256_column) m_line.text("sha256 hash", 64);
  m_line.text("name", 15);
  m_line.text("path", 60);
  if (m_settings.cluster_info && !m_settings.plain_run) {
    m_line.text("clusters/relevant data", 80);
  } else {
    m_line.text("various data types", 100);
  }
  // The extraction path takes the place of the header bytes.
  if (m_settings.extraction_column) {
    m_line.text("extracted path/file", 0);
  } else if (m_settings.header_column) {
    m_line.text("header info", 0);
  }
  m_line.end();
  stream.line_done();
  stream.header_written();
}

void timeline_writer::add_times(const ntfs::four_times& times, kind k, std::uint32_t name_index, bool dos) {
  const std::uint64_t in_role_order[4] = {times.modification, times.access, times.mft_change, times.creation};
  for (int role = role_modified; role <= role_born; ++role) {
    const std::uint64_t filetime = in_role_order[role];
    if (filetime == 0) continue;
    time_group* group = nullptr;
    for (std::size_t i = 0; i < m_group_count; ++i) {
      if (m_groups[i].filetime == filetime) {
        group = &m_groups[i];
        break;
      }
    }
    if (!group) {
      if (m_group_count == m_groups.size()) m_groups.emplace_back();
      group = &m_groups[m_group_count++];
      group->filetime = filetime;
      group->si = {'.', '.', '.', '.'};
      group->fn = group->si;
      group->fn83 = group->si;
      group->si_set = group->fn_set = group->fn83_set = false;
      group->names.clear();
      group->dos_names.clear();
    }
    switch (k) {
      case kind::si:
        group->si[role] = role_letters[role];
        group->si_set = true;
        break;
      case kind::fn:
        group->fn[role] = role_letters[role];
        group->fn_set = true;
        break;
      case kind::fn83:
        group->fn83[role] = role_letters[role];
        group->fn83_set = true;
        break;
    }
    auto& set = dos ? group->dos_names : group->names;
    if (set.empty() || set.back() != name_index) {
      if (std::find(set.begin(), set.end(), name_index) == set.end()) set.push_back(name_index);
    }
  }
}

void timeline_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (record.is_extension) return;
  const ntfs::std_info_entry* info = record.standard_information();
  if (!info) return;
  if (stream.header_pending) write_header(stream);

  m_stream_text.clear();
  append_stream_text(m_stream_text, record, m_settings, &result);
  m_type = entry_type_text(result);

  m_names.clear();
  m_group_count = 0;
  m_column_count = 0;
  if (record.file_names.empty()) {
    m_names.push_back(nullptr);
    add_times(info->times, kind::si, 0, false);
    flush_groups(result, stream);
    return;
  }
  ntfs::entry_number holder = ~0ULL;
  for (const auto& name : record.file_names) {
    if (name.is_dos_name && m_settings.hide_dos_times) continue;
    // Names held by another record start a timeline of their own.
    if (holder != ~0ULL && name.read_under_entry != holder) {
      flush_groups(result, stream);
      m_names.clear();
      m_group_count = 0;
    }
    holder = name.read_under_entry;
    const auto index = static_cast<std::uint32_t>(m_names.size());
    m_names.push_back(&name);
    add_times(info->times, kind::si, index, name.is_dos_name);
    add_times(name.times, name.is_dos_name ? kind::fn83 : kind::fn, index, name.is_dos_name);
  }
  flush_groups(result, stream);
}

void timeline_writer::flush_groups(const entry_result& result, results_stream& stream) {
  m_order.clear();
  for (std::uint32_t i = 0; i < m_group_count; ++i) m_order.push_back(i);
  std::sort(m_order.begin(), m_order.end(),
            [this](std::uint32_t a, std::uint32_t b) { return m_groups[a].filetime < m_groups[b].filetime; });
  const auto by_name = [this](std::uint32_t a, std::uint32_t b) {
    if (!m_names[a] || !m_names[b]) return m_names[a] == nullptr && m_names[b] != nullptr;
    return m_names[a]->name_utf8 < m_names[b]->name_utf8;
  };
  for (std::uint32_t index : m_order) {
    time_group& group = m_groups[index];
    if (m_settings.outside_window(group.filetime)) continue;
    std::sort(group.names.begin(), group.names.end(), by_name);
    std::sort(group.dos_names.begin(), group.dos_names.end(), by_name);
    for (std::uint32_t name : group.names) write_line(result, group, m_names[name], false, stream);
    for (std::uint32_t name : group.dos_names) write_line(result, group, m_names[name], true, stream);
  }
}

const timeline_writer::name_columns& timeline_writer::columns_for(const entry_result& result,
                                                                  const ntfs::file_name_entry* name, bool dos_line) {
  for (std::size_t i = 0; i < m_column_count; ++i) {
    if (m_columns[i].name == name && m_columns[i].dos_line == dos_line) return m_columns[i];
  }
  if (m_column_count == m_columns.size()) m_columns.emplace_back();
  name_columns& columns = m_columns[m_column_count++];
  columns.name = name;
  columns.dos_line = dos_line;
  columns.before_time.clear();
  columns.after_time.clear();

  const ntfs::mft_record& record = *result.record;
  std::uint64_t parent_entry = ntfs::root_directory_entry;
  std::uint64_t parent_sequence = 0;
  const std::string_view* path = nullptr;
  if (name) {
    parent_entry = name->parent.entry();
    parent_sequence = name->parent.sequence();
    if (const ntfs::parent_link* link = record.parents.find(name->parent.value)) path = &link->parent_path;
  }

  line_builder& line = m_column_line;
  line.begin(columns.before_time);
  line.number(record.entry, 64, 10);
  line.number(record.sequence, 16, 10);
  line.number(parent_entry, 64, 10);
  line.number(parent_sequence, 16, 10);
  if (dos_line) {
    m_scratch.assign(m_type).append(" (FN 8.3)");
    line.text(m_scratch, 7);
  } else {
    line.text(m_type, 7);
  }
  line.text(record_extension(record), 9);
  line.number(record.header.link_count, 16, 3);
  if (!m_settings.plain_run) line.number(0, 64, 10);

  m_other_info.clear();
  append_other_info(m_other_info, result, name, m_settings);
  line.begin(columns.after_time);
  if (!m_settings.plain_run) line.text("", 14);
  line.text(m_other_info, 14);
  // Records without a digest keep the column, empty, so every line has the
  // header's shape.
  if (m_settings.md5_column) line.text(result.md5_text, 32);
  if (m_settings.sha1_column) line.text(result.sha1_text, 40);
  if (m_settings.sha256_column) line.text(result.sha256_text, 64);
  line.text(name ? std::string_view(name->name_utf8) : std::string_view(no_name_text), 15);
  line.text(name ? (path ? *path : std::string_view()) : std::string_view(no_path_text), 60);
  line.text(m_stream_text, m_settings.cluster_info && !m_settings.plain_run ? 80 : 100);
  if (m_settings.extraction_column) {
    line.text(result.extracted_paths, 0);
  } else if (m_settings.header_column) {
    line.text(result.header_text, 0);
  }
  return columns;
}

void timeline_writer::write_line(const entry_result& result, const time_group& group,
                                 const ntfs::file_name_entry* name, bool dos_line, results_stream& stream) {
  // At most "si:[macb]; fn8.3[macb]": 22 characters.
  char macb[24];
  std::size_t macb_length = 0;
  const auto put = [&](std::string_view part) {
    std::memcpy(macb + macb_length, part.data(), part.size());
    macb_length += part.size();
  };
  if (group.si_set) {
    put("si:[");
    put({group.si.data(), 4});
    put("]");
  }
  const bool name_part = dos_line ? group.fn83_set : group.fn_set;
  if (name_part) {
    if (macb_length != 0) put("; ");
    put(dos_line ? std::string_view("fn8.3[") : std::string_view("fn:["));
    put({(dos_line ? group.fn83 : group.fn).data(), 4});
    put("]");
  }
  const name_columns& columns = columns_for(result, name, dos_line);

  const cv::filetime_text& when = m_times.get(group.filetime);
  const std::string_view date(when.date, when.date_length);
  const std::string_view time(when.time, when.time_length);

  text_buffer& out = stream.buffer();
  out.append(columns.before_time.view());
  m_line.resume(out);
  if (m_settings.pair_datetime) {
    m_scratch.assign(date).append(" ").append(time);
    m_line.text(m_scratch, m_settings.date_width + m_settings.time_width + 1);
  } else {
    // Dates change rarely from line to line; clock and MACB texts are made
    // of a few characters known beforehand.
    if (date != std::string_view(m_last_date, m_last_date_length)) {
      m_last_date_length = std::min(date.size(), sizeof m_last_date);
      std::memcpy(m_last_date, date.data(), m_last_date_length);
      m_date_plain = m_last_date_length == date.size() && m_line.plain(date);
    }
    if (m_date_plain) {
      m_line.plain_text(date, m_settings.date_width);
    } else {
      m_line.text(date, m_settings.date_width);
    }
    if (m_clock_plain) {
      m_line.plain_text(time, m_settings.time_width);
    } else {
      m_line.text(time, m_settings.time_width);
    }
  }
  if (m_macb_plain) {
    m_line.plain_text({macb, macb_length}, 33);
  } else {
    m_line.text({macb, macb_length}, 33);
  }
  m_line.columns(columns.after_time.view());
  m_line.end();
  stream.line_done();
}

}  // namespace output
