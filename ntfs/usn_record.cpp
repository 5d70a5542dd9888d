#include "ntfs/usn_record.h"

#include "support/byte_reader.h"
#include "support/number_text.h"
#include "support/utf.h"

namespace ntfs {

namespace {

// Fields every version shares.
constexpr std::size_t usn_length = 0;
constexpr std::size_t usn_major = 4;
constexpr std::size_t usn_minor = 6;
constexpr std::size_t usn_file = 8;

// Versions 2 (USN_RECORD_V2, 64-bit references) and 3 (USN_RECORD_V3,
// 128-bit file ids) hold the same fields at different offsets.
struct named_layout {
  std::size_t parent;
  std::size_t usn;
  std::size_t timestamp;
  std::size_t reasons;
  std::size_t source;
  std::size_t security_id;
  std::size_t attributes;
  std::size_t name_length;  // bytes
  std::size_t name_offset;
  std::size_t fixed_bytes;
};
constexpr named_layout v2_layout{16, 24, 32, 40, 44, 48, 52, 56, 58, 60};
constexpr named_layout v3_layout{24, 40, 48, 56, 60, 64, 68, 72, 74, 76};

// Version 4 (USN_RECORD_V4): changed ranges, 16 bytes each after the header.
namespace v4 {
constexpr std::size_t parent = 24;
constexpr std::size_t usn = 40;
constexpr std::size_t reasons = 48;
constexpr std::size_t source = 52;
constexpr std::size_t extent_count = 60;
constexpr std::size_t extent_size = 62;
constexpr std::size_t fixed_bytes = 64;
}  // namespace v4

struct flag_name {
  std::uint32_t bit;
  const char* name;
};

constexpr flag_name reason_names[] = {
    {0x00000001, "DATA_OVERWRITE"},        {0x00000002, "DATA_EXTEND"},
    {0x00000004, "DATA_TRUNCATION"},       {0x00000010, "NAMED_DATA_OVERWRITE"},
    {0x00000020, "NAMED_DATA_EXTEND"},     {0x00000040, "NAMED_DATA_TRUNCATION"},
    {0x00000100, "FILE_CREATE"},           {0x00000200, "FILE_DELETE"},
    {0x00000400, "EA_CHANGE"},             {0x00000800, "SECURITY_CHANGE"},
    {0x00001000, "RENAME_OLD_NAME"},       {0x00002000, "RENAME_NEW_NAME"},
    {0x00004000, "INDEXABLE_CHANGE"},      {0x00008000, "BASIC_INFO_CHANGE"},
    {0x00010000, "HARD_LINK_CHANGE"},      {0x00020000, "COMPRESSION_CHANGE"},
    {0x00040000, "ENCRYPTION_CHANGE"},     {0x00080000, "OBJECT_ID_CHANGE"},
    {0x00100000, "REPARSE_POINT_CHANGE"},  {0x00200000, "STREAM_CHANGE"},
    {0x00400000, "TRANSACTED_CHANGE"},     {0x00800000, "INTEGRITY_CHANGE"},
    {0x01000000, "DESIRED_STORAGE_CLASS_CHANGE"}, {0x80000000, "CLOSE"},
};

constexpr flag_name source_names[] = {
    {0x1, "DATA_MANAGEMENT"},
    {0x2, "AUXILIARY_DATA"},
    {0x4, "REPLICATION_MANAGEMENT"},
    {0x8, "CLIENT_REPLICATION_MANAGEMENT"},
};

template <std::size_t N>
void append_flags(std::string& out, std::uint32_t value, const flag_name (&names)[N]) {
  const std::size_t start = out.size();
  std::uint32_t unnamed = value;
  for (const flag_name& flag : names) {
    if (!(value & flag.bit)) continue;
    if (out.size() != start) out.push_back('|');
    out.append(flag.name);
    unnamed &= ~flag.bit;
  }
  if (unnamed) {
    if (out.size() != start) out.push_back('|');
    out.append("0x");
    support::append_hex_digits(out, unnamed, 8);
  }
}

// Reads the name at (offset, length) of a version 2 or 3 record; both must
// lie inside the record. An odd length leaves a byte that decodes as U+FFFD.
bool read_name(std::span<const std::uint8_t> record, std::uint16_t offset, std::uint16_t length, std::string& out) {
  if (std::size_t{offset} + length > record.size()) return false;
  uni::utf16_to_utf8_lenient(record.subspan(offset, length), out);
  return true;
}

}  // namespace

usn_parse parse_usn_record(std::span<const std::uint8_t> bytes, usn_record& out) {
  support::byte_reader r(bytes);
  out.length = r.le32(usn_length);
  if (!r.ok()) return usn_parse::damaged;
  if (out.length == 0) return usn_parse::zeros;
  if (out.length < usn_minimum_length || out.length > usn_maximum_length || (out.length & 7) ||
      out.length > bytes.size()) {
    return usn_parse::damaged;
  }
  const auto record = bytes.first(out.length);
  support::byte_reader fields(record);
  out.major_version = fields.le16(usn_major);
  out.minor_version = fields.le16(usn_minor);
  out.file = file_reference{fields.le64(usn_file)};
  out.timestamp = 0;
  out.security_id = 0;
  out.file_attributes = 0;
  out.extent_count = 0;
  out.name_utf8.clear();
  bool complete = false;  // every field, the name or the ranges included, lies inside the record
  switch (out.major_version) {
    case 2:
    case 3: {
      const named_layout& at = out.major_version == 2 ? v2_layout : v3_layout;
      if (out.length < at.fixed_bytes) return usn_parse::damaged;
      out.parent = file_reference{fields.le64(at.parent)};
      out.usn = fields.le64(at.usn);
      out.timestamp = fields.le64(at.timestamp);
      out.reasons = fields.le32(at.reasons);
      out.source = fields.le32(at.source);
      out.security_id = fields.le32(at.security_id);
      out.file_attributes = fields.le32(at.attributes);
      complete = read_name(record, fields.le16(at.name_offset), fields.le16(at.name_length), out.name_utf8);
      break;
    }
    case 4: {
      if (out.length < v4::fixed_bytes) return usn_parse::damaged;
      out.parent = file_reference{fields.le64(v4::parent)};
      out.usn = fields.le64(v4::usn);
      out.reasons = fields.le32(v4::reasons);
      out.source = fields.le32(v4::source);
      out.extent_count = fields.le16(v4::extent_count);
      const std::uint16_t extent_size = fields.le16(v4::extent_size);
      complete = extent_size == 16 && v4::fixed_bytes + std::size_t{out.extent_count} * extent_size <= out.length;
      break;
    }
    default:
      return usn_parse::damaged;
  }
  return fields.ok() && complete ? usn_parse::record : usn_parse::damaged;
}

void append_usn_reasons(std::string& out, std::uint32_t reasons) { append_flags(out, reasons, reason_names); }

void append_usn_sources(std::string& out, std::uint32_t source) { append_flags(out, source, source_names); }

}  // namespace ntfs
