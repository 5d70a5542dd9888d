// MFT entry numbers and full file references.
//
// A file reference is 64 bits on disk: the low 48 bits are the MFT entry
// number, the high 16 bits the sequence number the entry had when the
// reference was written. The two are kept apart in the type system so an
// entry number is never compared with a full reference by mistake.
#pragma once

#include <compare>
#include <cstdint>

namespace ntfs {

using entry_number = std::uint64_t;

inline constexpr entry_number root_directory_entry = 5;
inline constexpr std::uint64_t entry_mask = 0x0000FFFFFFFFFFFFULL;

struct file_reference {
  std::uint64_t value = ~0ULL;  // all ones: no reference at all

  static constexpr file_reference make(entry_number entry, std::uint16_t sequence) {
    return file_reference{(entry & entry_mask) | (std::uint64_t{sequence} << 48)};
  }
  constexpr entry_number entry() const { return value & entry_mask; }
  constexpr std::uint16_t sequence() const { return static_cast<std::uint16_t>(value >> 48); }
  constexpr bool is_none() const { return value == ~0ULL; }

  friend constexpr auto operator<=>(const file_reference&, const file_reference&) = default;
};

inline constexpr file_reference no_reference{};

}  // namespace ntfs
