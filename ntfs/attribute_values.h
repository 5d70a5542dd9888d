// Parsers for the values of the small resident attributes: standard
// information, file names and reparse points (object ids and volume
// information are copied as they stand).
// Each takes the attribute's value bytes (already bounds-checked against the
// record) and fills one entry of the record model.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ntfs/attribute_text.h"
#include "ntfs/mft_record.h"

namespace ntfs {

// $STANDARD_INFORMATION value offsets; the four times are FILETIMEs.
namespace standard_information_offset {
inline constexpr std::size_t creation = 0;
inline constexpr std::size_t modification = 8;
inline constexpr std::size_t mft_change = 16;
inline constexpr std::size_t access = 24;
inline constexpr std::size_t file_attributes = 32;  // u32
inline constexpr std::size_t maximum_versions = 36;
inline constexpr std::size_t version = 40;
inline constexpr std::size_t class_id = 44;
inline constexpr std::size_t owner_id = 48;      // NTFS 3.0 and later, as are the fields below
inline constexpr std::size_t security_id = 52;   // u32, key into $Secure
inline constexpr std::size_t quota_charged = 56;  // u64
inline constexpr std::size_t update_sequence_number = 64;  // u64, the change journal's USN
}  // namespace standard_information_offset

// $STANDARD_INFORMATION: the first 72 bytes (shorter values read as zero).
void parse_standard_information(std::span<const std::uint8_t> value, std_info_entry& out);

// $VOLUME_INFORMATION value offsets (bytes 0-7 are unused).
namespace volume_information_offset {
inline constexpr std::size_t major_version = 8;  // u8
inline constexpr std::size_t minor_version = 9;  // u8
inline constexpr std::size_t flags = 10;         // u16, dirty and upgrade bits
}  // namespace volume_information_offset

// $VOLUME_INFORMATION: the first 12 bytes (shorter values read as zero) and
// the version text.
void parse_volume_information(std::span<const std::uint8_t> value, volume_information_entry& out);

// $INDEX_ROOT value offsets: the root's own header before its index node.
namespace index_root_offset {
inline constexpr std::size_t indexed_type = 0;      // u32, attribute type indexed (0x30 for $I30)
inline constexpr std::size_t collation_rule = 4;    // u32
inline constexpr std::size_t index_block_size = 8;  // u32, bytes
inline constexpr std::size_t clusters_per_index_block = 12;  // u8
}  // namespace index_root_offset

// $INDEX_ROOT: the first 16 bytes (shorter values read as zero).
void parse_index_root(std::span<const std::uint8_t> value, index_root_entry& out);

// $FILE_NAME value offsets.
namespace file_name_offset {
inline constexpr std::size_t parent = 0;
inline constexpr std::size_t creation = 8;
inline constexpr std::size_t modification = 16;
inline constexpr std::size_t mft_change = 24;
inline constexpr std::size_t access = 32;
inline constexpr std::size_t allocated_size = 40;
inline constexpr std::size_t real_size = 48;
inline constexpr std::size_t flags = 56;
inline constexpr std::size_t reparse_word = 60;
inline constexpr std::size_t name_length = 64;
inline constexpr std::size_t name_space = 65;
inline constexpr std::size_t name = 66;
}  // namespace file_name_offset

// False when the value is too short for its header or its name, or the name
// is not valid UTF-16.
bool parse_file_name(std::span<const std::uint8_t> value, file_name_entry& out);

// Fills `link_text` from the parent reference, the name and `entry`.
void make_link_text(file_name_entry& name, entry_number entry);

// The plausibility test of a set of times: "future" when one is past
// `future_limit` (0 = no limit), "null" when one is zero ("null" wins).
time_anomaly check_time_anomaly(const four_times& times, std::uint64_t future_limit);

// Reparse data offsets, from the start of the value. Symbolic links and
// mount points carry the two name fields; their names follow the header
// (after a 4-byte flags word for symbolic links).
namespace reparse_offset {
inline constexpr std::size_t tag = 0;               // u32
inline constexpr std::size_t data_length = 4;       // u16, bytes after the 8-byte header
inline constexpr std::size_t substitute_offset = 8;  // u16, bytes into the names
inline constexpr std::size_t substitute_length = 10;  // u16, bytes
inline constexpr std::size_t print_offset = 12;       // u16, bytes into the names
inline constexpr std::size_t print_length = 14;       // u16, bytes
inline constexpr std::size_t mount_point_names = 16;
inline constexpr std::size_t symlink_names = 20;
}  // namespace reparse_offset
inline constexpr std::size_t reparse_header_bytes = 8;  // tag, data length, reserved
inline constexpr std::uint32_t reparse_tag_symlink = 0xA000000C;

// Reparse point target: the print name, or the substitute name when the
// print name is empty. `value` is the attribute's value. False leaves the
// attribute out.
bool parse_reparse_target(std::span<const std::uint8_t> value, uni::wide_string& target, std::string& target_utf8);

}  // namespace ntfs
