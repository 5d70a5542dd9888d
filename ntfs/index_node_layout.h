#pragma once

#include <cstddef>
#include <cstdint>

// The layout of an index node ($INDEX_ROOT's node header, or an INDX block's
// after its record header) and of the entries in it.
namespace ntfs::index_layout {

// Node header: offsets of the first entry, of the end of the used entries
// and of the end of the allocated space, u32 each, relative to the node
// header itself.
inline constexpr std::size_t node_first_entry = 0;
inline constexpr std::size_t node_entries_end = 4;
inline constexpr std::size_t node_allocated_end = 8;
// Entry: file reference u64, entry length u16, key length u16, flags u16
// (1: points to a sub-node, 2: last entry), then the key (a $FILE_NAME in a
// directory index). Entries start on 8-byte boundaries.
inline constexpr std::size_t entry_reference = 0;
inline constexpr std::size_t entry_length = 8;
inline constexpr std::size_t entry_key_length = 10;
inline constexpr std::size_t entry_flags = 12;
inline constexpr std::size_t entry_key = 16;
inline constexpr std::uint16_t entry_flag_last = 0x02;
inline constexpr std::size_t entry_alignment = 8;

}  // namespace ntfs::index_layout
