// The fixed header at the start of every MFT file record, and the
// update-sequence ("fixup") protection applied to each 512-byte stride.
#pragma once

#include <cstdint>
#include <span>

#include "ntfs/file_reference.h"

namespace ntfs {

// Field offsets, in bytes from the start of the record.
namespace record_offset {
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t update_sequence_offset = 4;
inline constexpr std::size_t update_sequence_count = 6;
inline constexpr std::size_t logfile_sequence_number = 8;
inline constexpr std::size_t sequence_number = 16;
inline constexpr std::size_t link_count = 18;
inline constexpr std::size_t first_attribute = 20;
inline constexpr std::size_t flags = 22;
inline constexpr std::size_t bytes_in_use = 24;
inline constexpr std::size_t bytes_allocated = 28;
inline constexpr std::size_t base_record = 32;
inline constexpr std::size_t next_attribute_id = 40;
inline constexpr std::size_t record_number = 44;  // 32-bit copy of the entry number (XP and later)
}  // namespace record_offset

// Where the update-sequence array starts. NTFS 3.1 (Windows XP and later)
// put it after the record-number field; NTFS 3.0 records (Windows 2000, and
// some Linux drivers still) have no record number and the array at 0x2A.
inline constexpr std::uint16_t update_sequence_array_at = 0x30;
inline constexpr std::uint16_t update_sequence_array_at_ntfs30 = 0x2A;

// Bytes of the header kept verbatim in the record model (through the
// next-attribute-id field).
inline constexpr std::size_t kept_header_bytes = 42;

// Fixups always stride 512 bytes, whatever the volume's sector size: a
// 4096-byte record carries nine update-sequence entries.
inline constexpr std::uint32_t fixup_stride_bytes = 512;

// A record's size as implied by its update-sequence count.
inline constexpr std::uint32_t record_size_from_count(std::uint16_t count) {
  return count < 2 ? 0 : static_cast<std::uint32_t>(count - 1) * fixup_stride_bytes;
}

inline constexpr std::uint16_t record_flag_in_use = 0x0001;
inline constexpr std::uint16_t record_flag_directory = 0x0002;

enum class record_kind { file, index, baad, other };

struct record_header {
  record_kind kind = record_kind::other;
  std::uint16_t update_sequence_offset = 0;
  std::uint16_t update_sequence_count = 0;
  std::uint64_t logfile_sequence_number = 0;
  std::uint16_t sequence_number = 0;
  std::uint16_t link_count = 0;
  std::uint16_t first_attribute_offset = 0;
  std::uint16_t flags = 0;
  std::uint32_t bytes_in_use = 0;
  std::uint32_t bytes_allocated = 0;
  file_reference base_record{0};
  std::uint16_t next_attribute_id = 0;

  bool in_use() const { return flags & record_flag_in_use; }
  bool is_directory() const { return flags & record_flag_directory; }
  bool is_extension() const { return base_record.value != 0; }
  // The record-number field exists only in the newer layout.
  bool has_record_number() const { return update_sequence_offset == update_sequence_array_at; }
};

// Reads the header fields; missing bytes read as zero.
record_header parse_record_header(std::span<const std::uint8_t> record);

// "FILE" with the update-sequence array at 0x30 (or 0x2A, the older
// layout), at most nine entries and the first attribute no later than 0x48.
bool passes_file_signature_test(const record_header& header);

// The first header field that fails the "FILE" test: where it lies, what the
// test wants and what the record holds. `field` is null when the test passes.
struct header_fault {
  const char* field = nullptr;
  std::size_t offset = 0;  // bytes from the record start
  const char* expected = "";
  std::uint32_t found = 0;
};
header_fault find_header_fault(std::span<const std::uint8_t> record);

enum class fixup_result { applied, bad_record, rejected };

// The first stride whose tail does not hold the update sequence number.
struct fixup_mismatch {
  std::size_t tail_offset = 0;  // bytes into the record
  std::uint16_t expected = 0;   // the update sequence number
  std::uint16_t found = 0;
};

// Checks the signature and applies the update-sequence fixups in place. The
// last two bytes of every 512-byte stride must hold the update sequence
// number (the array's first entry); the real bytes are array entry i. A tail
// that differs means the record was torn or assembled from the wrong
// clusters: the record is left as it is and reported as bad, with the place
// in `mismatch` when given. "INDX" blocks are accepted without the header
// test. `parsed`, when given, receives the header as read before the fixups.
fixup_result apply_fixups(std::span<std::uint8_t> record, record_header* parsed = nullptr,
                          fixup_mismatch* mismatch = nullptr);

}  // namespace ntfs
