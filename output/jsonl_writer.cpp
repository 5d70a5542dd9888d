#include "output/jsonl_writer.h"

#include <algorithm>
#include <tuple>

#include "ntfs/attribute_values.h"
#include "output/composite_text.h"

namespace output {

namespace {

constexpr const char* role_labels[2][4] = {
    {"SI modified", "SI accessed", "SI changed", "SI created"},
    {"FN modified", "FN accessed", "FN changed", "FN created"},
};

void write_times(json_object& object, const char* prefix, const ntfs::four_times& times) {
  std::string key;
  for (const auto& [suffix, filetime] : {std::pair{"_created", times.creation}, {"_modified", times.modification},
                                        {"_changed", times.mft_change}, {"_accessed", times.access}}) {
    key.assign(prefix).append(suffix);
    object.time(key, filetime);
  }
}

}  // namespace

const char* record_path_source(const entry_result& result, const ntfs::parent_link* link) {
  if (result.unallocated) return "carved";
  if (!link || link->path_corrupted) return link && link->parent_reused ? "parent_reused" : "orphan";
  return "resolved";
}

void jsonl_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (record.is_extension || !record.standard_information()) return;
  for_each_path_row(record, [&](const ntfs::file_name_entry* name, const ntfs::file_name_entry* dos) {
    write_name(result, name, dos, stream);
  });
}

void jsonl_writer::write_name(const entry_result& result, const ntfs::file_name_entry* name,
                              const ntfs::file_name_entry* dos, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  if (!m_timeline) {
    m_object.begin(stream.buffer());
    write_fields(m_object, result, name, dos);
    m_object.end();
    stream.line_done();
    return;
  }
  // One object per distinct time, naming every role that falls on it.
  m_roles.clear();
  const ntfs::four_times& si = record.standard_information()->times;
  const ntfs::four_times fn = name ? name->times : ntfs::four_times{};
  for (int kind = 0; kind < 2; ++kind) {
    const ntfs::four_times& times = kind == 0 ? si : fn;
    const std::uint64_t ordered[4] = {times.modification, times.access, times.mft_change, times.creation};
    for (int role = 0; role < 4; ++role) {
      if (ordered[role] != 0 && !m_settings.outside_window(ordered[role])) {
        m_roles.push_back({ordered[role], role_labels[kind][role]});
      }
    }
  }
  std::stable_sort(m_roles.begin(), m_roles.end(),
                   [](const time_role& a, const time_role& b) { return a.filetime < b.filetime; });
  const ntfs::parent_link* link = name ? record.parents.find(name->parent.value) : nullptr;
  for (std::size_t i = 0; i < m_roles.size();) {
    const std::uint64_t filetime = m_roles[i].filetime;
    m_text.clear();
    for (; i < m_roles.size() && m_roles[i].filetime == filetime; ++i) {
      if (!m_text.empty()) m_text.append(", ");
      m_text.append(m_roles[i].label);
    }
    m_message.clear();
    if (link) m_message.append(link->parent_path);
    m_message.append(name ? std::string_view(name->name_utf8) : std::string_view("<no filename attribute>"));
    m_message.append(" [").append(m_text).push_back(']');
    m_object.begin(stream.buffer());
    m_object.string("message", m_message);
    m_object.time("datetime", filetime);
    m_object.string("timestamp_desc", m_text);
    m_object.signed_number("timestamp", filetime_to_unix_microseconds(filetime));
    write_fields(m_object, result, name, dos);
    m_object.end();
    stream.line_done();
  }
}

void jsonl_writer::write_fields(json_object& object, const entry_result& result, const ntfs::file_name_entry* name,
                                const ntfs::file_name_entry* dos) {
  const ntfs::mft_record& record = *result.record;
  const ntfs::std_info_entry& info = *record.standard_information();
  const ntfs::parent_link* link = name ? record.parents.find(name->parent.value) : nullptr;
  object.string("data_type", "fs:ntfs:mft");
  object.string("source", m_settings.source_name);
  object.number("entry", name ? name->read_under_entry : record.entry);
  object.number("sequence", record.sequence);
  if (name) {
    object.number("parent_entry", name->parent.entry());
    object.number("parent_sequence", name->parent.sequence());
    object.string("name", name->name_utf8);
  } else {
    object.null("parent_entry");
    object.null("parent_sequence");
    object.null("name");
  }
  if (link) {
    object.string("path", link->parent_path);
  } else {
    object.null("path");
  }
  object.string("path_source", record_path_source(result, link));
  object.string("type", entry_type_text(result));
  object.boolean("in_use", record.header.in_use());
  object.boolean("directory", record.header.is_directory());
  const std::string_view extension = record_extension(record);
  if (extension == "none") {
    object.null("extension");
  } else {
    object.string("extension", extension);
  }
  const ntfs::attr_record* data = record.unnamed_data();
  object.number("size", data ? stream_size(*data) : 0);
  object.number("link_count", record.header.link_count);
  object.number("file_attributes", info.file_attributes);
  object.number("security_id", info.security_id);
  object.number("usn", info.update_sequence_number);
  write_times(object, "si", info.times);
  write_times(object, "fn", name ? name->times : ntfs::four_times{});
  if (dos) {
    object.string("dos_name", dos->name_utf8);
    write_times(object, "dos", dos->times);
  }
  if (m_settings.record_offset) object.number("record_offset", result.record_offset);
  if (!result.time_warning.empty()) object.string("time_warning", result.time_warning);

  object.name("streams");
  text_buffer& out = object.out();
  out.push_back('[');
  bool first_stream = true;
  for (const auto& attribute : record.attributes) {
    if (!attribute.data_attribute) continue;
    if (!first_stream) out.push_back(',');
    first_stream = false;
    json_object stream;
    stream.begin(out);
    stream.string("name", attribute.name_utf8);
    stream.number("size", stream_size(attribute));
    stream.boolean("resident", !attribute.header.non_resident);
    if (m_settings.cluster_info && attribute.header.non_resident) {
      stream.name("runs");
      out.push_back('[');
      for (std::size_t i = 0; i < attribute.extents.size(); ++i) {
        const ntfs::cluster_extent& extent = attribute.extents[i];
        if (i) out.push_back(',');
        json_object run;
        run.begin(out);
        run.number("vcn", extent.vcn);
        if (extent.sparse) {
          run.null("lcn");
        } else {
          run.number("lcn", extent.lcn);
        }
        run.number("clusters", extent.count);
        out.push_back('}');
      }
      out.push_back(']');
    }
    out.push_back('}');
  }
  out.push_back(']');

  m_text.clear();
  for (const auto& object_id : record.object_ids) {
    const std::span<const std::uint8_t, 16> guid(object_id.bytes.data(), 16);
    if (std::all_of(guid.begin(), guid.end(), [](std::uint8_t b) { return b == 0; })) continue;
    m_text = ntfs::guid_text(guid);
    break;
  }
  if (!m_text.empty()) object.string("object_id", m_text);
  m_text.clear();
  append_reparse_targets(m_text, record);
  if (!m_text.empty()) object.string("reparse_target", m_text);
  // A digest asked for but not computed (the stream could not be read) is null.
  for (const auto& [asked, key, text] : {std::tuple{m_settings.md5_column, "md5", &result.md5_text},
                                         {m_settings.sha1_column, "sha1", &result.sha1_text},
                                         {m_settings.sha256_column, "sha256", &result.sha256_text}}) {
    if (!asked) continue;
    if (text->empty()) {
      object.null(key);
    } else {
      object.string(key, *text);
    }
  }
  if (!result.owner_sid.empty()) object.string("owner_sid", result.owner_sid);
  if (m_settings.zone_info && !record.zone.empty()) {
    object.name("zone_info");
    json_object zone;
    zone.begin(out);
    for (const auto& pair : record.zone) zone.escaped_string(pair.key, pair.value);
    out.push_back('}');
  }
  if (m_settings.header_column) object.string("header", result.header_text);
  if (m_settings.extraction_column) object.string("extracted_path", result.extracted_paths);
}

}  // namespace output
