// Where file records come from: an extracted $MFT file, or (later) a volume.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/file_reference.h"

namespace ntfs {

// How a read is expected to move through the MFT. Sequential reads are
// served from a large read-ahead window; random reads (parent directories,
// extension records) read just the one record.
enum class read_intent { sequential, random };

class record_source {
 public:
  virtual ~record_source() = default;

  virtual bool is_bare_mft_file() const = 0;

  // The size of one file record in bytes. Learnt on first use and fixed for
  // the life of the source. False when it cannot be determined.
  virtual bool record_size(std::uint32_t& size_bytes) = 0;

  // Reads entry `entry` into `out` (exactly one record). False when the
  // entry lies past the end of the source or cannot be read.
  virtual bool read_record(entry_number entry, std::span<std::uint8_t> out, read_intent intent) = 0;

  // Records the source can hold at the learnt record size (0 when unknown).
  virtual std::uint64_t record_capacity() = 0;

  // The extension records whose header names `base` as their base record,
  // for sources that cannot read a non-resident attribute list. False when
  // the source has no such index (a volume reads the list instead).
  virtual bool extension_records_of(entry_number base, std::vector<entry_number>& out) {
    (void)base;
    out.clear();
    return false;
  }
};

}  // namespace ntfs
