#include "ntfs/usn_record.h"

#include "support/byte_reader.h"
#include "support/number_text.h"

namespace ntfs {

namespace {

// Fields every version shares.
constexpr std::size_t usn_length = 0;
constexpr std::size_t usn_major = 4;
constexpr std::size_t usn_minor = 6;
constexpr std::size_t usn_file = 8;

// Version 2 (USN_RECORD_V2): 64-bit references.
namespace v2 {
constexpr std::size_t parent = 16;
constexpr std::size_t usn = 24;
constexpr std::size_t timestamp = 32;
constexpr std::size_t reasons = 40;
constexpr std::size_t source = 44;
constexpr std::size_t security_id = 48;
constexpr std::size_t attributes = 52;
constexpr std::size_t name_length = 56;  // bytes
constexpr std::size_t name_offset = 58;
constexpr std::size_t fixed_bytes = 60;
}  // namespace v2

// Version 3 (USN_RECORD_V3): 128-bit file ids.
namespace v3 {
constexpr std::size_t parent = 24;
constexpr std::size_t usn = 40;
constexpr std::size_t timestamp = 48;
constexpr std::size_t reasons = 56;
constexpr std::size_t source = 60;
constexpr std::size_t security_id = 64;
constexpr std::size_t attributes = 68;
constexpr std::size_t name_length = 72;
constexpr std::size_t name_offset = 74;
constexpr std::size_t fixed_bytes = 76;
}  // namespace v3

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

void append_code_point(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Reads the name at (offset, length) of a version 2 or 3 record; both must
// lie inside the record.
bool read_name(std::span<const std::uint8_t> record, std::uint16_t offset, std::uint16_t length, std::string& out) {
  if (std::size_t{offset} + length > record.size() || (length & 1)) return false;
  utf16_to_utf8_lenient(record.subspan(offset, length), out);
  return true;
}

}  // namespace

void utf16_to_utf8_lenient(std::span<const std::uint8_t> utf16le, std::string& out) {
  constexpr char32_t replacement = 0xFFFD;
  out.clear();
  const std::size_t units = utf16le.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t c = utf16le[2 * i] | (char32_t{utf16le[2 * i + 1]} << 8);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      const char32_t low = utf16le[2 * i + 2] | (char32_t{utf16le[2 * i + 3]} << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_code_point(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    append_code_point(out, (c >= 0xD800 && c <= 0xDFFF) ? replacement : c);
  }
  if (utf16le.size() & 1) append_code_point(out, replacement);
}

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
  bool named = false;
  switch (out.major_version) {
    case 2: {
      if (out.length < v2::fixed_bytes) return usn_parse::damaged;
      out.parent = file_reference{fields.le64(v2::parent)};
      out.usn = fields.le64(v2::usn);
      out.timestamp = fields.le64(v2::timestamp);
      out.reasons = fields.le32(v2::reasons);
      out.source = fields.le32(v2::source);
      out.security_id = fields.le32(v2::security_id);
      out.file_attributes = fields.le32(v2::attributes);
      named = read_name(record, fields.le16(v2::name_offset), fields.le16(v2::name_length), out.name_utf8);
      break;
    }
    case 3: {
      if (out.length < v3::fixed_bytes) return usn_parse::damaged;
      out.parent = file_reference{fields.le64(v3::parent)};
      out.usn = fields.le64(v3::usn);
      out.timestamp = fields.le64(v3::timestamp);
      out.reasons = fields.le32(v3::reasons);
      out.source = fields.le32(v3::source);
      out.security_id = fields.le32(v3::security_id);
      out.file_attributes = fields.le32(v3::attributes);
      named = read_name(record, fields.le16(v3::name_offset), fields.le16(v3::name_length), out.name_utf8);
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
      named = extent_size == 16 && v4::fixed_bytes + std::size_t{out.extent_count} * extent_size <= out.length;
      break;
    }
    default:
      return usn_parse::damaged;
  }
  return fields.ok() && named ? usn_parse::record : usn_parse::damaged;
}

void append_usn_reasons(std::string& out, std::uint32_t reasons) { append_flags(out, reasons, reason_names); }

void append_usn_sources(std::string& out, std::uint32_t source) { append_flags(out, source, source_names); }

}  // namespace ntfs
