// Names of MBR partition type bytes, and the type bytes the MBR walk accepts.
#pragma once

#include <cstdint>
#include <string>

namespace storage {

// Set on a partition type that was inferred rather than read from a table.
constexpr std::uint16_t guessed_type_flag = 0x8000;

// The MBR type byte of a protective MBR in front of a GPT, and the two type
// bytes that open a chain of extended boot records.
constexpr std::uint8_t gpt_protective_type = 0xEE;
constexpr std::uint8_t extended_chs_type = 0x05;
constexpr std::uint8_t extended_lba_type = 0x0F;

inline bool is_extended_type(std::uint16_t type) { return type == extended_chs_type || type == extended_lba_type; }

// Text shown for a type: "ntfs or exfat" for 0x07, "unk" for a byte without
// a name; a guessed type (flag bit 15) is named after its low byte with
// " [guess]" appended.
std::string partition_type_name(std::uint16_t type);

// True for the type bytes an MBR or extended boot record entry must carry to
// be taken as a partition.
bool is_known_mbr_type(std::uint8_t type);

}  // namespace storage
