#include "output/record_dump_writer.h"

#include "ntfs/security_descriptor.h"

#include "ntfs/attribute_values.h"
#include "output/line_break_markers.h"
#include "support/number_text.h"

namespace output {

using support::append_decimal;
using support::append_hex;
using support::append_hex_digits;
using support::append_column_number;
using support::append_note_number;

void append_hex_dump(std::string& out, std::span<const std::uint8_t> bytes, const char* indent) {
  for (std::size_t line = 0; line < bytes.size(); line += 16) {
    out.append(indent);
    append_hex_digits(out, line, 4);
    out.append(": ");
    const std::size_t end = std::min(bytes.size(), line + 16);
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i < end) {
        append_hex_digits(out, bytes[i], 2);
        out.push_back(' ');
      } else {
        out.append("   ");
      }
    }
    out.push_back(' ');
    for (std::size_t i = line; i < end; ++i) {
      const char c = static_cast<char>(bytes[i]);
      out.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? c : '.');
    }
    out.push_back('\n');
  }
}

void record_dump_writer::hex_and_decimal(std::string& out, std::uint64_t value, int digits) {
  append_hex(out, value, digits);
  out.append(" [");
  append_decimal(out, value);
  out.push_back(']');
}

void record_dump_writer::time_line(std::string& out, const char* label, std::uint64_t filetime) {
  cv::filetime_text when;
  cv::format_filetime(filetime, m_settings.datetime, when);
  out.append(label);
  out.append(when.date, when.date_length);
  out.push_back(' ');
  out.append(when.time, when.time_length);
  out.push_back('\n');
}

namespace {

void size_line(std::string& out, const char* label, std::uint64_t value, bool hexadecimal) {
  out.append(label);
  if (hexadecimal) {
    append_hex(out, value, 12);
  } else {
    append_decimal(out, value);
  }
  out.push_back('\n');
}

void cluster_number(std::string& out, std::uint64_t value, bool hexadecimal) {
  if (hexadecimal) {
    append_hex(out, value, 8);
  } else {
    append_decimal(out, value);
  }
}

}  // namespace

void record_dump_writer::write_attribute(std::string& out, const ntfs::attr_record& attribute) {
  const ntfs::attribute_header& header = attribute.header;
  if (!header.complete) return;
  out.append(attribute.data_attribute ? std::string_view("Data Attrib") : attribute.label);
  if (!attribute.name_utf8.empty()) {
    out.append(": ");
    append_with_markers(out, attribute.name_utf8);
  } else if (attribute.data_attribute) {
    out.append(": (unnamed)");
  }
  if (header.flags & ntfs::attribute_flag_compressed) {
    out.append(", data compressed");
  } else if (header.flags & ntfs::attribute_flag_encrypted) {
    out.append(", data encrypted");
  }
  if (header.flags & ntfs::attribute_flag_sparse) out.append(", sparse clusters");
  out.push_back('\n');

  const bool hexadecimal = m_settings.hexadecimal;
  if (header.non_resident) {
    size_line(out, "  allocated:  ", header.allocated_size, hexadecimal);
    size_line(out, "  file size:  ", header.real_size, hexadecimal);
    size_line(out, "  valid data: ", header.initialized_size, hexadecimal);
    if (header.flags & ntfs::attribute_flag_compressed) {
      size_line(out, "  compressed size: ", header.compressed_size, hexadecimal);
    }
    out.append("  cluster runs\n");
    std::uint64_t real_clusters = 0;
    std::uint64_t sparse_clusters = 0;
    for (const auto& extent : attribute.extents) {
      out.append("    ");
      cluster_number(out, extent.lcn, hexadecimal);
      if (extent.count >= 2) {
        out.append(" -> ");
        cluster_number(out, extent.lcn + extent.count - 1, hexadecimal);
      }
      if (extent.sparse) {
        out.append(" [sparse]");
        sparse_clusters += extent.count;
      } else {
        real_clusters += extent.count;
      }
      out.push_back('\n');
    }
    out.push_back('\n');
    out.append("  Total clusters [real]:   ");
    append_decimal(out, real_clusters);
    out.append("\n  Total clusters [sparse]: ");
    append_decimal(out, sparse_clusters);
    out.push_back('\n');
  } else {
    out.append("  resident data used: ");
    if (hexadecimal) {
      append_hex(out, header.value_length, 4);
    } else {
      append_decimal(out, header.value_length);
    }
    out.push_back('\n');
  }
  const bool fits = !header.non_resident && header.resident_value_fits() &&
                    std::size_t{header.value_offset} + header.value_length <= attribute.raw.size();
  if (header.type == ntfs::attribute_type::security_descriptor && fits) {
    // Each line of the descriptor text ends with its own line break.
    ntfs::descriptor_scratch scratch;
    ntfs::descriptor_to_text(
        out, std::span<const std::uint8_t>(attribute.raw).subspan(header.value_offset, header.value_length), "  ",
        scratch);
  } else if (!attribute.description.empty()) {
    out.append("  ").append(attribute.description);
    if (header.type == ntfs::attribute_type::object_id && header.resident_value_fits() &&
        std::size_t{header.value_offset} + 16 <= attribute.raw.size()) {
      cv::time birth;
      if (birth.set_time_from_bytes(attribute.raw, header.value_offset, cv::guid)) {
        cv::filetime_text when;
        cv::format_filetime(birth.filetime(), m_settings.datetime, when);
        out.append(" [").append(when.date, when.date_length).append(" ").append(when.time, when.time_length);
        out.push_back(']');
      }
    }
    out.push_back('\n');
  } else if (fits) {
    append_hex_dump(out, std::span<const std::uint8_t>(attribute.raw).subspan(header.value_offset, header.value_length),
                    "  ");
  }
  out.push_back('\n');
}

void record_dump_writer::write(const entry_result& result, results_stream& stream) {
  const ntfs::mft_record& record = *result.record;
  std::string& out = m_text;
  out.clear();

  out.append("File Record: \n");
  out.append("  MFT entry: ");
  hex_and_decimal(out, record.entry, 8);
  out.append("\n  Seq Num:   ");
  hex_and_decimal(out, record.sequence, 4);
  out.append("\n  Type:      ");
  out.append(record.header.is_directory() ? "directory" : "file");
  if (!record.header.in_use()) out.append("  deleted");
  if (record.is_extension) {
    out.append("  references mft entry: ");
    hex_and_decimal(out, record.base_reference.value, 12);
  }
  out.append("\n  Ref Count: ");
  if (record.header.link_count == 15) {
    out.append("-1");
  } else {
    append_decimal(out, record.header.link_count);
  }
  out.append("\n\n");

  if (const ntfs::std_info_entry* info = record.standard_information()) {
    out.append("Standard Info Attrib: (").append(ntfs::file_attribute_text(info->file_attributes)).append(")\n");
    time_line(out, "  modified:  ", info->times.modification);
    time_line(out, "  accessed:  ", info->times.access);
    time_line(out, "  mft mod:   ", info->times.mft_change);
    time_line(out, "  created:   ", info->times.creation);
    out.append("  secure id: ");
    hex_and_decimal(out, info->security_id, 8);
    out.append("\n  quota id:  ");
    hex_and_decimal(out, info->owner_id, 8);
    out.append("\n  Jrnl num:  ");
    hex_and_decimal(out, info->update_sequence_number, 8);
    out.push_back('\n');
    if (!result.owner_sid.empty()) out.append("  Owner SID: ").append(result.owner_sid).push_back('\n');
    if (!result.group_sid.empty()) out.append("  Group SID: ").append(result.group_sid).push_back('\n');
    out.push_back('\n');
  }

  for (const auto& link : record.parents) {
    for (const auto& name : record.file_names) {
      if (name.parent != link.parent) continue;
      out.append("Filename Attrib: ");
      append_with_markers(out, name.name_utf8);
      if (name.flags & ntfs::file_name_flag_directory_index) out.append(", (indexed)");
      out.append("\n  parnt mft: ");
      hex_and_decimal(out, name.parent.entry(), 8);
      if (!link.parent_path.empty()) {
        out.append(" = ");
        append_with_markers(out, link.parent_path);
      }
      out.append("\n  parnt seq# ");
      hex_and_decimal(out, name.parent.sequence(), 4);
      out.push_back('\n');
      time_line(out, "  modified:  ", name.times.modification);
      time_line(out, "  accessed:  ", name.times.access);
      time_line(out, "  mft mod:   ", name.times.mft_change);
      time_line(out, "  created:   ", name.times.creation);
      out.push_back('\n');
    }
  }

  for (const auto& attribute : record.attributes) write_attribute(out, attribute);
  stream.append(out);
  stream.line_done();
}

}  // namespace output
