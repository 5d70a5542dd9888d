// Self-relative security descriptors: the owner and group SIDs, the system
// (audit) and discretionary (access) ACLs, and the multi-line text that shows
// a descriptor.
//
// Layout, offsets from the start of the descriptor:
//   revision u8 at 0, padding u8 at 1, control flags u16 at 2,
//   owner SID offset u32 at 4, group SID offset u32 at 8,
//   SACL offset u32 at 12, DACL offset u32 at 16 (an offset of 0: absent).
// ACL: revision u8 at 0, padding u8 at 1, size u16 at 2 (bytes, header
//   included), ACE count u16 at 4, the ACEs from 8.
// ACE: type u8 at 0, flags u8 at 1, size u16 at 2 (the next ACE starts that
//   many bytes further on), access mask u32 at 4, SID at 8.
//
// Descriptors come from resident $SECURITY_DESCRIPTOR attributes and from the
// "$SDS" stream of $Secure; both may be damaged, so every offset, size and
// count is checked against the bytes that are really there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "support/reuse_list.h"

namespace ntfs {

namespace descriptor_offset {
inline constexpr std::size_t revision = 0;
inline constexpr std::size_t control = 2;
inline constexpr std::size_t owner = 4;
inline constexpr std::size_t group = 8;
inline constexpr std::size_t sacl = 12;
inline constexpr std::size_t dacl = 16;
}  // namespace descriptor_offset
inline constexpr std::size_t descriptor_header_bytes = 20;

namespace acl_offset {
inline constexpr std::size_t revision = 0;
inline constexpr std::size_t size = 2;
inline constexpr std::size_t ace_count = 4;
inline constexpr std::size_t first_ace = 8;
}  // namespace acl_offset
inline constexpr std::size_t acl_header_bytes = 8;

namespace ace_offset {
inline constexpr std::size_t type = 0;
inline constexpr std::size_t flags = 1;
inline constexpr std::size_t size = 2;
inline constexpr std::size_t mask = 4;
inline constexpr std::size_t sid = 8;
}  // namespace ace_offset
// The smallest ACE worth reading: its header, the mask and a SID header.
// Anything shorter (a size of 0 above all) ends the ACL.
inline constexpr std::size_t ace_min_bytes = 16;

// The four offsets of a descriptor's header.
struct descriptor_header {
  std::uint32_t owner_offset = 0;
  std::uint32_t group_offset = 0;
  std::uint32_t sacl_offset = 0;
  std::uint32_t dacl_offset = 0;
};

// False when the descriptor is shorter than its 20-byte header.
bool read_descriptor_header(std::span<const std::uint8_t> descriptor, descriptor_header& out);

// The bytes from `offset` to the end of the descriptor (empty when the
// offset lies past it): what a SID at that offset may occupy.
std::span<const std::uint8_t> bytes_from(std::span<const std::uint8_t> descriptor, std::uint32_t offset);

// One line of an ACL as shown: all ACEs of one type for one SID, their
// access texts joined by " | ".
struct ace_entry {
  std::string key;  // SID text followed by the type name: the table's order
  std::string sid_text;
  std::string_view type_name;  // short form, see ace_type_name()
  std::string access_text;
  std::string_view sid_name;  // see sid_to_name()
};

namespace detail {
struct key_of_ace {
  const std::string& operator()(const ace_entry& v) const { return v.key; }
};
}  // namespace detail

// Ordered by key; keeps its strings' storage when cleared, so a table reused
// from descriptor to descriptor stops allocating.
using ace_table = support::ordered_table<ace_entry, detail::key_of_ace>;

// Clears `out` and fills it from the ACL at `acl_offset` of `descriptor`:
// for each ACE its short type name, access text, SID text and SID name,
// under the key SID text + type name; a second ACE with the same key adds
// " | " and its access text to the first one's. Reading stops at the end of
// the ACL (its size field, cut to the descriptor), at the ACE count, and at
// an ACE shorter than 16 bytes or running past the ACL; what was read until
// then is kept.
void parse_acl(std::span<const std::uint8_t> descriptor, std::uint32_t acl_offset, ace_table& out);

// Buffers reused by descriptor_to_text().
struct descriptor_scratch {
  ace_table sacl;
  ace_table dacl;
};

// Appends the text of a descriptor to `out`, every line starting with
// `prefix` and ending with "\n":
//   Security Identifiers
//   owner sid [<owner SID text>]             when there is an owner
//   group sid [<group SID text>]             when there is a group
//   (empty line)                             when the SACL has entries,
//   System Access Control List               followed by one line per entry
//   (empty line)                             when the DACL has entries,
//   Discretionary Access Control List        followed by one line per entry
// An entry line is the type name and the SID name, each left-aligned in 15
// characters and followed by a blank, then the access text. A SID that
// cannot be read shows as "[]". A descriptor shorter than its header gives
// the first line only.
void descriptor_to_text(std::string& out, std::span<const std::uint8_t> descriptor, std::string_view prefix,
                        descriptor_scratch& scratch);
std::string descriptor_to_text(std::span<const std::uint8_t> descriptor, std::string_view prefix = {});

}  // namespace ntfs
