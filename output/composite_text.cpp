#include "output/composite_text.h"

#include "support/number_text.h"

namespace output {

// Literals as string views: their lengths are known when compiled.
using namespace std::string_view_literals;

using support::append_decimal;
using support::append_hex;
using support::append_hex_digits;
using support::append_column_number;
using support::append_note_number;

std::string_view extension_of(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "none";
  return name.substr(dot + 1);
}

std::string_view record_extension(const ntfs::mft_record& record) {
  if (record.header.is_directory()) return "none";
  for (const auto& name : record.file_names) {
    if (!name.is_dos_name) return extension_of(name.name_utf8);
  }
  return "none";
}

bool held_by_extension(const ntfs::mft_record& record, const ntfs::file_name_entry& name) {
  return name.held_by_entry != record.entry;
}

namespace {

void next_item(std::string& out, std::size_t start) {
  if (out.size() > start) out.append("; "sv);
}

const char* zone_name(std::string_view key, std::string_view value) {
  if (key.substr(0, 6) != "ZoneId" || value.size() != 1) return "";
  switch (value[0]) {
    case '0': return " [local machine]";
    case '1': return " [intranet]";
    case '2': return " [trusted]";
    case '3': return " [internet]";
    case '4': return " [untrusted]";
    default: return "";
  }
}

}  // namespace

void append_reparse_targets(std::string& out, const ntfs::mft_record& record) {
  bool first = true;
  for (const auto& reparse : record.reparse_points) {
    if (!first) out.append("; "sv);
    out.append(reparse.target_utf8);
    first = false;
  }
}

void append_zone_info(std::string& out, const ntfs::mft_record& record) {
  if (record.zone.empty()) return;
  out.append("ZoneInfo {"sv);
  bool first = true;
  for (const auto& pair : record.zone) {
    if (!first) out.push_back(';');
    out.push_back('\'');
    out.append(pair.key);
    out.append("':'"sv);
    out.append(pair.value);
    out.append(zone_name(pair.key, pair.value));
    out.push_back('\'');
    first = false;
  }
  out.push_back('}');
}

void append_other_info(std::string& out, const entry_result& result, const ntfs::file_name_entry* name,
                       const output_settings& settings) {
  const ntfs::mft_record& record = *result.record;
  const std::size_t start = out.size();
  const std::size_t names = record.non_dos_name_count();
  if (names > 1) {
    out.append("multinames ["sv);
    append_decimal(out, names);
    out.push_back(']');
  }
  if (name && name->root_count > 1) {
    next_item(out, start);
    out.append("multiroots ["sv);
    append_decimal(out, name->root_count);
    out.push_back(']');
  }
  if (!record.reparse_points.empty()) {
    next_item(out, start);
    out.append("symlink: ["sv);
    append_reparse_targets(out, record);
    out.push_back(']');
  }
  if (name && held_by_extension(record, *name)) {
    next_item(out, start);
    out.append("refinode ["sv);
    append_note_number(out, record.entry & 0xFFFFFFFFu, settings.hexadecimal);
    out.push_back(']');
  }
  if (record.has_nonresident_attribute_list && settings.bare_mft_source) {
    next_item(out, start);
    out.append("attrib list non-resident [not avail for parsing w/o image]"sv);
  }
  if (!result.time_warning.empty()) {
    next_item(out, start);
    out.append(result.time_warning);
  }
  if (settings.record_offset) {
    next_item(out, start);
    out.append("filerecord: "sv);
    if (settings.hexadecimal) {
      append_hex(out, result.record_offset, 0);
    } else {
      append_decimal(out, result.record_offset);
    }
  }
  if (!result.filter_notes.empty()) {
    next_item(out, start);
    out.append(result.filter_notes);
  }
  if (!record.zone.empty()) {
    next_item(out, start);
    append_zone_info(out, record);
  }
}

std::uint64_t stream_size(const ntfs::attr_record& attribute) { return attribute.header.stream_size(); }

void append_stream_text(std::string& out, const ntfs::mft_record& record, const output_settings& settings,
                        const entry_result* result, bool with_digests) {
  const entry_result* digests_of = with_digests ? result : nullptr;
  const std::size_t start = out.size();
  for (const auto& attribute : record.attributes) {
    if (!attribute.data_attribute) continue;
    const std::uint64_t size = stream_size(attribute);
    if (size == 0) continue;
    next_item(out, start);
    out.push_back('[');
    if (attribute.named_stream) {
      out.append(attribute.name_utf8);
      out.append(" : "sv);
    }
    if (!attribute.label.empty()) {
      out.append(attribute.label);
      out.append(" : "sv);
    }
    out.append("sz: "sv);
    append_hex(out, size, 4);
    out.append(" : "sv);
    if (!attribute.header.non_resident) {
      if (!attribute.description.empty()) {
        out.append(attribute.description);
        out.append(" : "sv);
      }
    } else if (settings.cluster_info) {
      out.append("start cluster/count: "sv);
      for (const auto& extent : attribute.extents) {
        append_hex(out, extent.lcn, 6);
        out.push_back('/');
        append_decimal(out, extent.count);
        if (extent.sparse) out.append(" [sparse]"sv);
        out.push_back(' ');
      }
      out.append(": "sv);
    }
    if (digests_of && !attribute.named_stream && attribute.header.type == ntfs::attribute_type::data) {
      if (!digests_of->md5_text.empty()) out.append("md5_hash: "sv).append(digests_of->md5_text).append(" : "sv);
      if (!digests_of->sha1_text.empty()) out.append("sha1_hash "sv).append(digests_of->sha1_text).append(" : "sv);
      if (!digests_of->sha256_text.empty()) out.append("sha256_hash "sv).append(digests_of->sha256_text).append(" : "sv);
    }
    out.resize(out.size() - 3);  // the trailing " : "
    out.push_back(']');
  }
  const std::uint64_t logfile = record.header.logfile_sequence_number;
  const ntfs::std_info_entry* info = record.standard_information();
  const std::uint64_t usn = info ? info->update_sequence_number : 0;
  const std::uint64_t security = info ? info->security_id : 0;
  if (logfile != 0) {
    next_item(out, start);
    out.append("[logfile_seqnum: "sv);
    append_hex(out, logfile, 6);
    out.push_back(']');
  }
  if (usn != 0) {
    next_item(out, start);
    out.append("[usnjrnl_indx: "sv);
    append_hex(out, usn, 6);
    out.push_back(']');
  }
  if (security != 0) {
    next_item(out, start);
    out.append("[security_id: "sv);
    append_hex(out, security, 4);
    out.push_back(']');
  }
  if (result && !result->owner_sid.empty()) {
    next_item(out, start);
    out.append("[owner_sid: "sv).append(result->owner_sid).push_back(']');
  }
}

const char* entry_type_text(const entry_result& result) {
  if (result.unallocated) return "unalloc";
  const auto& header = result.record->header;
  if (!header.in_use()) return "del";
  return header.is_directory() ? "dir" : "file";
}

}  // namespace output
