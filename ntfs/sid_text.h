// Security identifiers (SIDs) as stored in security descriptors: their
// "S-1-5-21-..." text and the names of the well-known ones.
//
// On disk a SID is: revision u8 at 0, sub-authority count u8 at 1, the
// identifier authority as 6 big-endian bytes at 2, then `count` u32
// sub-authorities from offset 8. It is 8 + 4 * count bytes long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ntfs {

namespace sid_offset {
inline constexpr std::size_t revision = 0;
inline constexpr std::size_t sub_authority_count = 1;
inline constexpr std::size_t authority = 2;        // 6 bytes, big-endian
inline constexpr std::size_t authority_low = 7;    // its last byte
inline constexpr std::size_t sub_authorities = 8;  // u32 each
}  // namespace sid_offset

inline constexpr std::size_t sid_header_bytes = 8;
// Fewer bytes than this are never read as a SID: even the shortest SID in
// use (one sub-authority) needs 12.
inline constexpr std::size_t sid_min_available_bytes = 12;
// Windows never makes a SID with more sub-authorities; a larger count is
// damage, not a SID.
inline constexpr std::uint8_t sid_max_sub_authorities = 15;

// Bytes the SID at the start of `bytes` takes by its own count (8 + 4 *
// count), or 0 when the count cannot be read or exceeds 15. The result may
// be larger than `bytes`.
std::size_t sid_size(std::span<const std::uint8_t> bytes);

// Appends "S-<revision>-<authority>-<sub-authority>-..." for the SID at the
// start of `bytes`, all numbers in decimal; `bytes` is what is available to
// the SID (to the end of its descriptor or ACE), not its size. Only the last
// byte of the 6-byte authority is shown (the authorities in use all fit in
// it). Appends nothing and returns false when fewer than 12 bytes are
// available, the count says more than the bytes hold, or the count exceeds 15.
bool append_sid_text(std::string& out, std::span<const std::uint8_t> bytes);

// As above into a cleared `out` (left empty on failure).
bool sid_to_text(std::span<const std::uint8_t> bytes, std::string& out);

// The well-known name of a SID, or "unk":
// - with one sub-authority, by the authority: 0 "null", 1 "World",
//   2 "Local", 3 the creator names (Owner, Group, ...), 5 the NT authority
//   names (S-1-5-18 "Local System", ...);
// - otherwise by the last sub-authority, the relative id of the well-known
//   accounts and groups (544 "Admins", 513 "Domain Users", ...).
// A slot of the NT authority list without a name gives "". A SID that does
// not fit in `bytes` gives "unk".
std::string_view sid_to_name(std::span<const std::uint8_t> sid);

}  // namespace ntfs
