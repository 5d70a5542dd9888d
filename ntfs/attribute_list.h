// $ATTRIBUTE_LIST: where the attributes of a file that outgrew its base
// record live. Each entry names an attribute (type, id, first VCN) and the
// extension record that holds it; following the list files those
// attributes into the base record's model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ntfs/attribute_cursor.h"
#include "ntfs/mft_record.h"

namespace ntfs {

struct record_context;

// Offsets within one attribute-list entry.
namespace attribute_list_offset {
inline constexpr std::size_t type = 0;          // u32
inline constexpr std::size_t entry_length = 4;  // u16, bytes
inline constexpr std::size_t name_length = 6;   // u8, UTF-16 units
inline constexpr std::size_t name_offset = 7;   // u8
inline constexpr std::size_t first_vcn = 8;     // u64
inline constexpr std::size_t holder = 16;       // file reference: 48-bit entry, 16-bit sequence
inline constexpr std::size_t attribute_id = 24; // u16
}  // namespace attribute_list_offset

// Follows the attribute list `list` of the base record `entry`: a resident
// list from its value, a non-resident one from its clusters (or, for an
// extracted $MFT, from the extension records that name this base).
void follow_attribute_list(mft_record& record, record_context& context, entry_number entry,
                           const attribute_view& list, bool keep_resident);

// Files the attribute each entry of `list` names, read from its extension
// record; entries held by the base record itself are skipped.
void parse_attribute_list_entries(mft_record& record, record_context& context, entry_number entry,
                                  std::span<const std::uint8_t> list, bool keep_resident);

}  // namespace ntfs
