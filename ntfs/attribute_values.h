// Parsers for the values of the small resident attributes: standard
// information, file names, object ids, volume information and reparse points.
// Each takes the attribute's value bytes (already bounds-checked against the
// record) and fills one entry of the record model.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ntfs/mft_record.h"

namespace ntfs {

// $STANDARD_INFORMATION: the first 72 bytes (shorter values read as zero).
void parse_standard_information(std::span<const std::uint8_t> value, std_info_entry& out);

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

// Object id GUID text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x".
std::string guid_text(std::span<const std::uint8_t, 16> guid);

// "ver: 3:1 (WinXP)" and the like.
std::string volume_version_text(std::uint8_t major, std::uint8_t minor);

// Reparse point target: the print name, or the substitute name when the
// print name is empty. `value` is the attribute's value; `value_end_in_record`
// tells whether the data is known to end inside the record. False leaves the
// attribute out.
bool parse_reparse_target(std::span<const std::uint8_t> value, uni::wide_string& target, std::string& target_utf8);

// $STANDARD_INFORMATION file attribute flags as words ("read-only, hidden").
std::string file_attribute_text(std::uint32_t flags);

}  // namespace ntfs
