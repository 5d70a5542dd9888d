#include "ntfs/attribute_values.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/byte_reader.h"

namespace ntfs {

void parse_standard_information(std::span<const std::uint8_t> value, std_info_entry& out) {
  out.bytes.fill(0);
  const std::size_t kept = std::min(value.size(), out.bytes.size());
  std::memcpy(out.bytes.data(), value.data(), kept);
  support::byte_reader r(out.bytes);
  out.times.creation = r.le64(0);
  out.times.modification = r.le64(8);
  out.times.mft_change = r.le64(16);
  out.times.access = r.le64(24);
  out.file_attributes = r.le32(32);
  out.maximum_versions = r.le32(36);
  out.version = r.le32(40);
  out.class_id = r.le32(44);
  out.owner_id = r.le32(48);
  out.security_id = r.le32(52);
  out.quota_charged = r.le64(56);
  out.update_sequence_number = r.le64(64);
}

namespace {

// Lower-case hexadecimal, at least eight digits; returns the count written.
// Values that fit in 32 bits (nearly all entry numbers) take the table path.
std::size_t hex_digits(char* out, std::uint64_t value) {
  static constexpr char pairs[] =
      "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
      "202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f"
      "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e5f"
      "606162636465666768696a6b6c6d6e6f707172737475767778797a7b7c7d7e7f"
      "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f"
      "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"
      "c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf"
      "e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";
  if (value <= 0xFFFFFFFFu) {
    for (int i = 3; i >= 0; --i) {
      std::memcpy(out + 2 * i, pairs + 2 * (value & 0xFF), 2);
      value >>= 8;
    }
    return 8;
  }
  char reversed[16];
  std::size_t count = 0;
  do {
    reversed[count++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::size_t written = 0;
  while (count > 0) out[written++] = reversed[--count];
  return written;
}

}  // namespace

bool parse_file_name(std::span<const std::uint8_t> value, file_name_entry& out) {
  support::byte_reader r(value);
  out.parent = file_reference{r.le64(file_name_offset::parent)};
  out.times.creation = r.le64(file_name_offset::creation);
  out.times.modification = r.le64(file_name_offset::modification);
  out.times.mft_change = r.le64(file_name_offset::mft_change);
  out.times.access = r.le64(file_name_offset::access);
  out.allocated_size = r.le64(file_name_offset::allocated_size);
  out.real_size = r.le64(file_name_offset::real_size);
  out.flags = r.le32(file_name_offset::flags);
  out.reparse_word = r.le32(file_name_offset::reparse_word);
  out.name_length = r.u8(file_name_offset::name_length);
  out.name_space = r.u8(file_name_offset::name_space);
  const auto name_bytes = r.sub(file_name_offset::name, std::size_t{out.name_length} * 2);
  if (!r.ok()) return false;
  out.is_dos_name = out.name_space == namespace_dos;
  out.root_count = 1;
  if (out.name_length == 0) {
    out.name_utf8.clear();
    return true;
  }
  return uni::utf16_to_utf8(name_bytes, out.name_utf8);
}


void make_link_text(file_name_entry& name, entry_number entry) {
  char parent_hex[24];
  char entry_hex[24];
  const std::size_t parent_length = hex_digits(parent_hex, name.parent.entry());
  const std::size_t entry_length = hex_digits(entry_hex, entry);
  std::string& text = name.link_text;
  text.resize(parent_length + entry_length + name.name_utf8.size() + 2);
  char* out = text.data();
  std::memcpy(out, parent_hex, parent_length);
  out += parent_length;
  *out++ = '_';
  std::memcpy(out, name.name_utf8.data(), name.name_utf8.size());
  out += name.name_utf8.size();
  *out++ = '_';
  std::memcpy(out, entry_hex, entry_length);
}

time_anomaly check_time_anomaly(const four_times& times, std::uint64_t future_limit) {
  time_anomaly result;
  const std::uint64_t all[4] = {times.creation, times.modification, times.mft_change, times.access};
  if (future_limit != 0) {
    for (std::uint64_t t : all) {
      if (t > future_limit) {
        result = {true, "future"};
        break;
      }
    }
  }
  for (std::uint64_t t : all) {
    if (t == 0) {
      result = {true, "null"};
      break;
    }
  }
  return result;
}

std::string guid_text(std::span<const std::uint8_t, 16> guid) {
  support::byte_reader r(guid);
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", r.le32(0), r.le16(4),
                r.le16(6), guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
  return text;
}

std::string volume_version_text(std::uint8_t major, std::uint8_t minor) {
  std::string text = "ver: " + std::to_string(major) + ":" + std::to_string(minor);
  if (major == 1 && minor == 2) return text + " (WinNT)";
  if (major == 3 && minor == 0) return text + " (Win2k)";
  if (major == 3 && minor == 1) return text + " (WinXP)";
  if (major == 3) return text + " (Windows)";
  return text + "(Unk version)";
}

bool parse_reparse_target(std::span<const std::uint8_t> value, uni::wide_string& target, std::string& target_utf8) {
  // Reparse data: tag u32 at 0, data length u16 at 4; for symlinks and mount
  // points the substitute-name offset/length and print-name offset/length
  // (u16 each, bytes) follow at 8..15 and the names start at 16.
  if (value.size() < 17) return false;
  support::byte_reader r(value);
  const std::uint16_t data_length = r.le16(4);
  if (data_length == 0 || std::size_t{data_length} + 8 > value.size()) return false;
  std::size_t substitute_offset = r.le16(8);
  const std::size_t substitute_length = r.le16(10);
  std::size_t print_offset = r.le16(12);
  const std::size_t print_length = r.le16(14);
  if (substitute_length == 0 && print_length == 0) return false;
  if (substitute_offset + substitute_length >= data_length || print_offset + print_length >= data_length) return false;
  // A symbolic link's names follow a 4-byte flags word (bit 0: relative
  // target); mount points have no such word.
  constexpr std::uint32_t symlink_tag = 0xA000000C;
  const std::size_t names_start = r.le32(0) == symlink_tag ? 20 : 16;
  // Some writers leave zero units before the names; skip them in step.
  while (r.fits(names_start + substitute_offset, 2) && r.le16(names_start + substitute_offset) == 0 &&
         substitute_offset + substitute_length < data_length) {
    substitute_offset += 2;
    print_offset += 2;
  }
  const bool use_print = print_length != 0;
  const std::size_t offset = names_start + (use_print ? print_offset : substitute_offset);
  const std::size_t length = use_print ? print_length : substitute_length;
  const auto name = r.sub(offset, length);
  if (!r.ok()) return false;
  return uni::utf16_decode(name, &target, &target_utf8);
}

std::string file_attribute_text(std::uint32_t flags) {
  static constexpr struct {
    std::uint32_t bit;
    const char* word;
  } words[] = {
      {0x0001, "read-only"},  {0x0002, "hidden"},      {0x0004, "system"},        {0x0010, "directory"},
      {0x0020, "archive"},    {0x0040, "device"},      {0x0080, "normal"},        {0x0100, "temporary"},
      {0x0200, "sparse"},     {0x0400, "reparse"},     {0x0800, "compressed"},    {0x1000, "offline"},
      {0x2000, "not indexed"}, {0x4000, "encrypted"},  {0x10000000, "directory"}, {0x20000000, "index view"},
  };
  std::string text;
  for (const auto& w : words) {
    if (!(flags & w.bit)) continue;
    if (!text.empty()) text += ", ";
    text += w.word;
  }
  return text;
}

}  // namespace ntfs
