// Records of the NTFS change journal, the "$J" stream of $Extend\$UsnJrnl.
//
// Every change to a file appends a record: its length (u32, a multiple of 8)
// and version (major u16, minor u16) come first, then the fields of that
// version. Version 2 uses 64-bit file references, versions 3 and 4 128-bit
// file ids (the low 64 bits hold the NTFS reference). Version 4 records the
// ranges of a file that changed and has neither time nor name. The stream is
// sparse: the journal is cut from the front, so everything before the oldest
// record kept is a hole, and the space after the last record of a page is
// zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ntfs/file_reference.h"

namespace ntfs {

struct usn_record {
  std::uint32_t length = 0;  // bytes
  std::uint16_t major_version = 0;
  std::uint16_t minor_version = 0;
  file_reference file;
  file_reference parent;
  std::uint64_t usn = 0;       // the record's byte offset in the stream
  std::uint64_t timestamp = 0; // FILETIME; 0 in version 4
  std::uint32_t reasons = 0;   // usn_reason bits
  std::uint32_t source = 0;    // usn_source bits
  std::uint32_t security_id = 0;
  std::uint32_t file_attributes = 0;
  std::uint16_t extent_count = 0;  // version 4: ranges listed
  std::string name_utf8;  // invalid UTF-16 becomes U+FFFD
};

enum class usn_parse : std::uint8_t {
  record,   // a record was read
  zeros,    // a zero length: padding or hole
  damaged,  // not a record
};

// Smallest and largest record the scanner accepts, in bytes.
inline constexpr std::uint32_t usn_minimum_length = 48;
inline constexpr std::uint32_t usn_maximum_length = 65536;

// Reads the record at the start of `bytes`.
usn_parse parse_usn_record(std::span<const std::uint8_t> bytes, usn_record& out);

// Walks the records in `bytes`, which start at byte `stream_offset` of the
// stream (a multiple of 8). Zeros are skipped a word at a time; a damaged
// spot is reported once, with its stream offset, and the walk goes on at the
// next 8-byte boundary that holds a record. Returns the bytes used: a record
// cut by the end of `bytes` is left for the next call, unless `last` says no
// more bytes follow.
template <typename OnRecord, typename OnDamage>
std::size_t scan_usn_records(std::span<const std::uint8_t> bytes, std::uint64_t stream_offset, bool last,
                             usn_record& scratch, OnRecord&& on_record, OnDamage&& on_damage) {
  std::size_t at = 0;
  bool in_damage = false;
  while (at + 8 <= bytes.size()) {
    const std::uint8_t* word = bytes.data() + at;
    if ((word[0] | word[1] | word[2] | word[3] | word[4] | word[5] | word[6] | word[7]) == 0) {
      at += 8;
      in_damage = false;
      continue;
    }
    const auto rest = bytes.subspan(at);
    const usn_parse result = parse_usn_record(rest, scratch);
    if (result == usn_parse::record) {
      on_record(scratch);
      at += scratch.length;
      in_damage = false;
      continue;
    }
    const bool cut = scratch.length >= usn_minimum_length && scratch.length <= usn_maximum_length &&
                     (scratch.length & 7) == 0 && scratch.length > rest.size();
    if (cut && !last) return at;
    if (!in_damage) on_damage(stream_offset + at);
    in_damage = true;
    at += 8;
  }
  return last ? bytes.size() : at;
}

// "FILE_CREATE|DATA_EXTEND|CLOSE": the reason bits in ascending order, bits
// without a name as one hexadecimal value at the end. Empty for 0.
void append_usn_reasons(std::string& out, std::uint32_t reasons);
// "DATA_MANAGEMENT|AUXILIARY_DATA|...", the same way.
void append_usn_sources(std::string& out, std::uint32_t source);

}  // namespace ntfs
