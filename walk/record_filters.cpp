#include "walk/record_filters.h"

#include <algorithm>

#include "ntfs/attribute_values.h"
#include "ntfs/directory_index.h"
#include "ntfs/stream_reader.h"
#include "ntfs/path_resolver.h"
#include "output/composite_text.h"
#include "support/number_text.h"
#include "support/utf.h"
#include "walk/content_signatures.h"
#include "walk/extraction_names.h"
#include "walk/time_warning.h"
#include "walk/wildcard.h"

namespace walk {

namespace {

bool in_window(std::uint64_t filetime, const filter_settings& settings) {
  return filetime >= settings.window_start && filetime <= settings.window_stop;
}

bool any_in_window(const ntfs::four_times& times, const filter_settings& settings) {
  return in_window(times.creation, settings) || in_window(times.modification, settings) ||
         in_window(times.mft_change, settings) || in_window(times.access, settings);
}

// The data a content test examines: a resident value, or nothing readable.
std::span<const std::uint8_t> resident_data(const ntfs::attr_record& attribute) {
  const ntfs::attribute_header& header = attribute.header;
  if (header.non_resident || !header.resident_value_fits()) return {};
  if (std::size_t{header.value_offset} + header.value_length > attribute.raw.size()) return {};
  return attribute.raw.subspan(header.value_offset, header.value_length);
}

}  // namespace

record_filters::record_filters(const filter_settings& settings, bool hexadecimal)
    : m_settings(settings),
      m_hexadecimal(hexadecimal),
      m_has_or_filters(settings.has_or_filters()) {
  for (const auto& item : settings.content) {
    const std::uint64_t needed = item.kind == content_kind::pattern ? item.scan_start + std::min<std::uint64_t>(item.scan_size, 1u << 30)
                                                                    : item.header_bytes;
    m_header_bytes = static_cast<std::size_t>(std::max<std::uint64_t>(m_header_bytes, std::min<std::uint64_t>(needed, 1u << 30)));
  }
}

std::unique_ptr<selection_filter> record_filters::clone() const {
  auto copy = std::make_unique<record_filters>(*this);
  copy->m_filter_streams = nullptr;  // pointed into this filter's settings
  return copy;
}

primary_verdict record_filters::primary_test(const ntfs::record_header& header, ntfs::entry_number entry) {
  m_type_note.clear();
  m_pattern_note.clear();
  m_dir_note.clear();
  m_inode_note.clear();
  m_ext_note.clear();
  m_name_note.clear();
  m_filter_streams = nullptr;
  if (m_settings.deleted_only) return {!header.in_use(), !header.in_use()};
  if (m_settings.inodes.empty()) return {true, false};
  const auto found = m_settings.inodes.find(entry);
  if (found == m_settings.inodes.end() || !found->second.whole_record) return {false, false};
  m_inode_note.clear();
  support::append_note_number(m_inode_note, entry, m_hexadecimal);
  return {true, true};
}

bool record_filters::time_window_test(const ntfs::mft_record& record, output::entry_result&) {
  if (!m_settings.window_set()) return true;
  for (const auto& info : record.std_info) {
    if (any_in_window(info.times, m_settings)) return true;
  }
  for (const auto& name : record.file_names) {
    if (any_in_window(name.times, m_settings)) return true;
  }
  return false;
}

bool record_filters::stream_size_test(const ntfs::mft_record& record) const {
  for (const auto& attribute : record.attributes) {
    if (attribute.named_stream && attribute.header.stream_size() >= m_settings.min_ads_size) return true;
  }
  return false;
}

bool record_filters::size_test(const ntfs::mft_record& record) const {
  const ntfs::attr_record* data = record.unnamed_data();
  if (!data) return !m_settings.min_size_set;
  const std::uint64_t size = data->header.stream_size();
  if (m_settings.min_size_set && m_settings.min_size > size) return false;
  if (m_settings.max_size_set && m_settings.max_size < size) return false;
  return true;
}

bool record_filters::wildcard_test(const ntfs::mft_record& record) {
  for (const auto& name : record.file_names) {
    uni::utf8_to_lower(name.name_utf8, m_lower);
    for (const auto& pattern : m_settings.wildcards) {
      if (!wildcard_matches(pattern, m_lower)) continue;
      m_pattern_note = name.name_utf8;
      return true;
    }
  }
  return false;
}

bool record_filters::name_test(const ntfs::mft_record& record) {
  for (const auto& name : record.file_names) {
    uni::utf8_to_lower(name.name_utf8, m_lower);
    for (const auto& item : m_settings.names) {
      const bool match = item.partial ? m_lower.find(item.text) != std::string::npos : m_lower == item.text;
      if (!match) continue;
      m_name_note = item.text;
      return true;
    }
  }
  return false;
}

std::string_view record_filters::stream_named_in(const ntfs::mft_record& record, const inode_item& item) {
  for (const auto& attribute : record.attributes) {
    if (!attribute.named_stream) continue;
    uni::utf8_to_lower(attribute.name_utf8, m_lower);
    if (item.stream_names.count(m_lower)) return attribute.name_utf8;
  }
  return {};
}

bool record_filters::directory_inode_test(const ntfs::mft_record& record) {
  for (const auto& link : record.parents) {
    const auto found = m_settings.directory_inodes.find(link.parent.entry());
    if (found == m_settings.directory_inodes.end()) continue;
    const inode_item& item = found->second;
    std::string_view stream;
    if (!item.whole_record) {
      stream = stream_named_in(record, item);
      if (stream.empty()) continue;
    }
    if (!stream.empty()) {
      support::append_note_number(m_dir_note, link.parent.entry(), m_hexadecimal);
      m_dir_note.push_back(':');
      m_dir_note.append(stream);
    } else if (!item.path_text.empty()) {
      m_dir_note = item.path_text;
    } else if (!link.parent_path.empty()) {
      m_dir_note = link.parent_path;
    } else {
      m_dir_note = "dir_inode(";
      support::append_note_number(m_dir_note, link.parent.entry(), m_hexadecimal);
      m_dir_note.push_back(')');
    }
    return true;
  }
  return false;
}

bool record_filters::directory_path_test(const ntfs::mft_record& record) {
  // Without a volume there is no directory index to look paths up in; the
  // record's own resolved paths answer the same question.
  for (const auto& link : record.parents) {
    if (link.path_corrupted) continue;
    uni::utf8_to_lower(link.parent_path, m_lower_path);
    for (const auto& item : m_settings.directories) {
      if (m_lower_path.compare(0, item.path.size(), item.path) != 0) continue;
      // Levels below the directory: one per separator after its own path.
      unsigned depth = 1;
      for (std::size_t i = item.path.size(); i < m_lower_path.size(); ++i) depth += m_lower_path[i] == '\\';
      if (depth > item.depth) continue;
      m_dir_note = item.text;
      return true;
    }
    for (const auto& item : m_settings.files) {
      for (const auto& name : record.file_names) {
        if (name.parent != link.parent) continue;
        uni::utf8_to_lower(name.name_utf8, m_lower);
        if (item.path.size() != m_lower_path.size() + m_lower.size() ||
            item.path.compare(0, m_lower_path.size(), m_lower_path) != 0 ||
            item.path.compare(m_lower_path.size(), std::string::npos, m_lower) != 0) {
          continue;
        }
        if (!item.stream.empty()) {
          bool has_stream = false;
          for (const auto& attribute : record.attributes) {
            if (!attribute.named_stream) continue;
            uni::utf8_to_lower(attribute.name_utf8, m_lower);
            has_stream = has_stream || m_lower == item.stream;
          }
          if (!has_stream) continue;
        }
        m_inode_note = item.text;
        return true;
      }
    }
  }
  return false;
}

bool record_filters::inode_test(const ntfs::mft_record& record) {
  const auto found = m_settings.inodes.find(record.entry);
  if (found == m_settings.inodes.end()) return false;
  m_inode_note.clear();
  support::append_note_number(m_inode_note, record.entry, m_hexadecimal);
  if (found->second.whole_record) return true;
  const std::string_view stream = stream_named_in(record, found->second);
  if (stream.empty()) {
    m_inode_note.clear();
    return false;
  }
  m_inode_note.push_back(':');
  m_inode_note.append(stream);
  m_filter_streams = &found->second.stream_names;
  return true;
}

bool record_filters::extension_test(const ntfs::mft_record& record) {
  for (const auto& name : record.file_names) {
    const std::size_t dot = name.name_utf8.rfind('.');
    if (dot == std::string::npos) continue;
    uni::utf8_to_lower(std::string_view(name.name_utf8).substr(dot + 1), m_lower);
    for (const auto& extension : m_settings.extensions) {
      if (m_lower != extension) continue;
      m_ext_note = m_lower;
      return true;
    }
    return false;  // only the first name with a "." counts
  }
  return false;
}

bool record_filters::object_id_test(const ntfs::mft_record& record) {
  for (const auto& object : record.object_ids) {
    if (std::equal(object.bytes.begin(), object.bytes.begin() + 16, m_settings.object_id)) {
      m_inode_note = ntfs::guid_text(std::span<const std::uint8_t, 16>(object.bytes.data(), 16));
      return true;
    }
  }
  return false;
}

bool record_filters::path_test(const ntfs::mft_record& record, output::entry_result& result) {
  // OR logic: the first test that matches decides. AND logic: every test
  // given must match.
  const bool all = m_settings.and_logic;
  bool matched = !m_has_or_filters;
  bool failed = false;
  const auto test = [&](bool given, auto&& check) {
    if (!given || failed || (matched && !all)) return;
    if ((this->*check)(record)) {
      matched = true;
    } else if (all) {
      failed = true;
    }
  };
  test(m_settings.min_ads_size_set, &record_filters::stream_size_test);
  test(m_settings.min_size_set || m_settings.max_size_set, &record_filters::size_test);
  test(!m_settings.wildcards.empty(), &record_filters::wildcard_test);
  test(!m_settings.names.empty(), &record_filters::name_test);
  test(!m_settings.directory_inodes.empty(), &record_filters::directory_inode_test);
  test(!m_settings.directories.empty() || !m_settings.files.empty(), &record_filters::directory_path_test);
  test(!m_settings.inodes.empty(), &record_filters::inode_test);
  test(!m_settings.extensions.empty(), &record_filters::extension_test);
  test(m_settings.object_id_set, &record_filters::object_id_test);
  compose_notes(result);
  return matched && !failed;
}

bool record_filters::content_test(const ntfs::mft_record& record, output::entry_result& result) {
  if (m_settings.content.empty()) return true;
  // Every data stream is examined, the unnamed one first: a downloaded
  // executable carries its Zone.Identifier stream beside the code. The
  // first bytes of each are read once for all items.
  std::size_t streams = 0;
  bool unreadable = false;
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& attribute : record.attributes) {
      if (!attribute.data_attribute || attribute.named_stream != (pass == 1)) continue;
      if (streams == m_headers.size()) m_headers.emplace_back();
      std::vector<std::uint8_t>& header = m_headers[streams];
      header.clear();
      if (!attribute.header.non_resident) {
        const auto data = resident_data(attribute);
        header.assign(data.begin(), data.begin() + std::min<std::size_t>(data.size(), m_header_bytes));
      } else if (m_clusters) {
        ntfs::read_stream_prefix(*m_clusters, attribute, m_header_bytes, header);
      } else {
        unreadable = true;  // data an extracted $MFT does not hold
        continue;
      }
      ++streams;
    }
  }
  const auto test_item = [&](const content_item& item) {
    for (std::size_t i = 0; i < streams; ++i) {
      std::string_view note;
      if (content_matches(item, m_headers[i], note)) {
        if (m_type_note.empty()) m_type_note = note;
        return true;
      }
    }
    return unreadable;
  };
  bool matched = m_settings.and_logic;
  for (const auto& item : m_settings.content) {
    const bool item_matched = test_item(item);
    if (m_settings.and_logic && !item_matched) {
      matched = false;
      break;
    }
    if (!m_settings.and_logic && item_matched) {
      matched = true;
      break;
    }
  }
  compose_notes(result);
  return matched;
}

void record_filters::volume_opened(ntfs::ntfs_volume& volume, ntfs::record_context& context) {
  m_clusters = &volume;
  if (m_settings.directories.empty() && m_settings.files.empty()) return;
  ntfs::directory_lookup lookup(volume, context);
  ntfs::path_lookup found;
  for (const auto& item : m_settings.directories) {
    // The path without its "[root]" and trailing separator.
    const std::string path = item.path.substr(6);
    if (!lookup.find(path.empty() ? "\\" : path, found)) continue;
    std::string text = item.text;
    // Depth N: the directory and its subdirectories N - 1 levels down.
    std::vector<ntfs::entry_number> level = {found.entry};
    for (unsigned depth = 1; depth <= item.depth && !level.empty(); ++depth) {
      std::vector<ntfs::entry_number> next;
      for (const ntfs::entry_number directory : level) {
        inode_item& added = m_settings.directory_inodes[directory];
        added.whole_record = true;
        if (added.path_text.empty()) added.path_text = text;
        if (depth == item.depth) continue;
        for (const auto& child : lookup.children(directory)) {
          if (child.directory && child.reference.entry() != directory) next.push_back(child.reference.entry());
        }
      }
      level = std::move(next);
    }
  }
  for (const auto& item : m_settings.files) {
    const std::string path = item.path.substr(6);
    if (!lookup.find(path, found)) continue;
    inode_item& added = m_settings.inodes[found.entry];
    added.path_text = item.text;
    if (item.stream.empty()) {
      added.whole_record = true;
    } else {
      added.stream_names.insert(item.stream);
    }
  }
  m_settings.directories.clear();
  m_settings.files.clear();
}

void record_filters::anomaly_check(const ntfs::mft_record& record, output::entry_result& result) {
  time_warning(record, result.time_warning);
}

void record_filters::compose_notes(output::entry_result& result) const {
  std::string& notes = result.filter_notes;
  notes.clear();
  const auto add = [&notes](const char* label, const std::string& value) {
    if (value.empty()) return;
    if (!notes.empty()) notes.append("; ");
    notes.append(label).append(value).push_back(')');
  };
  add("type(", m_type_note);
  add("pattern(", m_pattern_note);
  add("dir(", m_dir_note);
  add("inode(", m_inode_note);
  add("ext(", m_ext_note);
  add("name(", m_name_note);

  // Extracted copies are sorted by what selected the record.
  std::string& folder = result.filter_folder;
  if (!m_name_note.empty()) {
    folder = m_name_note;
  } else if (!m_ext_note.empty()) {
    folder = m_ext_note;
  } else if (!m_dir_note.empty()) {
    directory_folder_text(m_dir_note, folder);
  } else if (!m_type_note.empty()) {
    folder = m_type_note;  // the signature note: "MZ", "RegistryHive", ...
  } else if (!m_pattern_note.empty()) {
    folder = "wildcard";
  } else if (!m_inode_note.empty()) {
    folder = "inodes";
  } else {
    folder = "catchall";
  }
  result.filter_streams = m_filter_streams;
}

}  // namespace walk
