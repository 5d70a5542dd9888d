// The common header of every attribute in a file record, resident and
// non-resident forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ntfs {

namespace attribute_type {
inline constexpr std::uint32_t standard_information = 0x10;
inline constexpr std::uint32_t attribute_list = 0x20;
inline constexpr std::uint32_t file_name = 0x30;
inline constexpr std::uint32_t object_id = 0x40;
inline constexpr std::uint32_t security_descriptor = 0x50;
inline constexpr std::uint32_t volume_name = 0x60;
inline constexpr std::uint32_t volume_information = 0x70;
inline constexpr std::uint32_t data = 0x80;
inline constexpr std::uint32_t index_root = 0x90;
inline constexpr std::uint32_t index_allocation = 0xA0;
inline constexpr std::uint32_t bitmap = 0xB0;
inline constexpr std::uint32_t reparse_point = 0xC0;
inline constexpr std::uint32_t ea_information = 0xD0;
inline constexpr std::uint32_t ea = 0xE0;
inline constexpr std::uint32_t property_set = 0xF0;
inline constexpr std::uint32_t logged_utility_stream = 0x100;
inline constexpr std::uint32_t end_marker = 0xFFFFFFFF;
}  // namespace attribute_type

// Offsets from the start of the attribute.
namespace attribute_offset {
inline constexpr std::size_t type = 0;
inline constexpr std::size_t length = 4;
inline constexpr std::size_t non_resident = 8;
inline constexpr std::size_t name_length = 9;   // UTF-16 units
inline constexpr std::size_t name_offset = 10;
inline constexpr std::size_t flags = 12;
inline constexpr std::size_t id = 14;
inline constexpr std::size_t value_length = 16;  // resident
inline constexpr std::size_t value_offset = 20;  // resident
inline constexpr std::size_t first_vcn = 16;     // non-resident
inline constexpr std::size_t last_vcn = 24;
inline constexpr std::size_t run_list_offset = 32;
inline constexpr std::size_t compression_unit = 34;  // log2 of clusters
inline constexpr std::size_t allocated_size = 40;    // bytes
inline constexpr std::size_t real_size = 48;         // bytes
inline constexpr std::size_t initialized_size = 56;  // bytes of valid data
inline constexpr std::size_t compressed_size = 64;   // bytes, only when compressed
}  // namespace attribute_offset

inline constexpr std::uint16_t attribute_flag_compressed = 0x0001;
inline constexpr std::uint16_t attribute_flag_encrypted = 0x4000;
inline constexpr std::uint16_t attribute_flag_sparse = 0x8000;

inline constexpr std::size_t attribute_common_header_bytes = 16;  // type through id
inline constexpr std::size_t resident_header_bytes = 24;
inline constexpr std::size_t non_resident_header_bytes = 64;

struct attribute_header {
  std::uint32_t type = 0;
  std::uint32_t length = 0;  // bytes, header included
  bool non_resident = false;
  std::uint8_t name_length = 0;  // UTF-16 units
  std::uint16_t name_offset = 0;
  std::uint16_t flags = 0;
  std::uint16_t id = 0;

  // Resident form.
  std::uint32_t value_length = 0;
  std::uint16_t value_offset = 0;

  // Non-resident form.
  std::uint64_t first_vcn = 0;
  std::uint64_t last_vcn = 0;
  std::uint16_t run_list_offset = 0;
  std::uint16_t compression_unit = 0;
  std::uint64_t allocated_size = 0;
  std::uint64_t real_size = 0;
  std::uint64_t initialized_size = 0;
  std::uint64_t compressed_size = 0;
  bool complete = false;  // the whole header of its form lies inside the attribute

  bool has_name() const { return name_length != 0 && name_offset != 0; }
  // True when the resident value lies inside the attribute.
  bool resident_value_fits() const {
    return !non_resident && value_offset != 0 && value_length != 0 &&
           std::uint64_t{value_offset} + value_length <= length;
  }
  // For a data stream: the larger of its size and its valid-data size, or the
  // resident value's length.
  std::uint64_t stream_size() const {
    if (!non_resident) return value_length;
    return real_size > initialized_size ? real_size : initialized_size;
  }
};

// Reads the header of the attribute that starts at `attribute` (which may run
// to the end of the record). False when fewer than 16 bytes remain (only
// the type is read then, for the end marker); a
// header whose form-specific part is cut short reads the missing fields as
// zero and clears `complete`.
bool parse_attribute_header(std::span<const std::uint8_t> attribute, attribute_header& header);

// Why an attribute cannot be walked over. An attribute header needs its
// 16 common bytes, a length that is not zero and a length that ends inside
// the record (and within the caller's limit, when it has a smaller one).
enum class attribute_fault { none, end_marker, truncated_header, zero_length, past_record_end };

// The first attribute_fault of the header at `offset` of a record of
// `record_bytes` bytes; `length_limit` is the largest length accepted.
// `expected` and `actual` receive the values compared for a fault.
attribute_fault check_attribute_header(const attribute_header& header, bool header_read, std::size_t offset,
                                       std::size_t record_bytes, std::size_t length_limit, std::uint64_t& expected,
                                       std::uint64_t& actual);

// Short text of a fault for the diagnostics log ("length past the record").
const char* attribute_fault_text(attribute_fault fault);

}  // namespace ntfs
