#include "ntfs/attribute_values.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "support/byte_reader.h"

namespace ntfs {

namespace {

// The fixed-size head of a value; bytes the value lacks read as zero.
template <std::size_t Size>
void copy_head(std::span<const std::uint8_t> value, std::array<std::uint8_t, Size>& head) {
  head.fill(0);
  std::memcpy(head.data(), value.data(), std::min(value.size(), Size));
}

// $STANDARD_INFORMATION and $FILE_NAME hold the same four FILETIMEs in the
// same order: creation, modification, MFT change, access.
four_times read_four_times(support::byte_reader& r, std::size_t creation, std::size_t modification,
                           std::size_t mft_change, std::size_t access) {
  return {r.le64(creation), r.le64(modification), r.le64(mft_change), r.le64(access)};
}

}  // namespace

void parse_standard_information(std::span<const std::uint8_t> value, std_info_entry& out) {
  copy_head(value, out.bytes);
  namespace at = standard_information_offset;
  support::byte_reader r(out.bytes);
  out.times = read_four_times(r, at::creation, at::modification, at::mft_change, at::access);
  out.file_attributes = r.le32(at::file_attributes);
  out.maximum_versions = r.le32(at::maximum_versions);
  out.version = r.le32(at::version);
  out.class_id = r.le32(at::class_id);
  out.owner_id = r.le32(at::owner_id);
  out.security_id = r.le32(at::security_id);
  out.quota_charged = r.le64(at::quota_charged);
  out.update_sequence_number = r.le64(at::update_sequence_number);
}

void parse_volume_information(std::span<const std::uint8_t> value, volume_information_entry& out) {
  copy_head(value, out.bytes);
  support::byte_reader r(out.bytes);
  out.major_version = r.u8(volume_information_offset::major_version);
  out.minor_version = r.u8(volume_information_offset::minor_version);
  out.flags = r.le16(volume_information_offset::flags);
  out.version_text = volume_version_text(out.major_version, out.minor_version);
}

void parse_index_root(std::span<const std::uint8_t> value, index_root_entry& out) {
  copy_head(value, out.bytes);
  support::byte_reader r(out.bytes);
  out.indexed_type = r.le32(index_root_offset::indexed_type);
  out.collation_rule = r.le32(index_root_offset::collation_rule);
  out.index_block_size = r.le32(index_root_offset::index_block_size);
  out.clusters_per_index_block = r.u8(index_root_offset::clusters_per_index_block);
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
  namespace at = file_name_offset;
  out.times = read_four_times(r, at::creation, at::modification, at::mft_change, at::access);
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

bool parse_reparse_target(std::span<const std::uint8_t> value, uni::wide_string& target, std::string& target_utf8) {
  if (value.size() <= reparse_offset::mount_point_names) return false;  // no name bytes at all
  support::byte_reader r(value);
  const std::uint16_t data_length = r.le16(reparse_offset::data_length);
  if (data_length == 0 || std::size_t{data_length} + reparse_header_bytes > value.size()) return false;
  std::size_t substitute_offset = r.le16(reparse_offset::substitute_offset);
  const std::size_t substitute_length = r.le16(reparse_offset::substitute_length);
  std::size_t print_offset = r.le16(reparse_offset::print_offset);
  const std::size_t print_length = r.le16(reparse_offset::print_length);
  if (substitute_length == 0 && print_length == 0) return false;
  if (substitute_offset + substitute_length >= data_length || print_offset + print_length >= data_length) return false;
  // A symbolic link's names follow a 4-byte flags word (bit 0: relative
  // target); mount points have no such word.
  const std::size_t names_start = r.le32(reparse_offset::tag) == reparse_tag_symlink ? reparse_offset::symlink_names
                                                                                      : reparse_offset::mount_point_names;
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

}  // namespace ntfs
