// Everything the writers need about one accepted MFT entry: the parsed
// record with its resolved paths, where it came from and what the selection
// stage noted about it.
#pragma once

#include <cstdint>
#include <string>

#include "ntfs/mft_record.h"

namespace output {

struct entry_result {
  const ntfs::mft_record* record = nullptr;
  const char* source_label = "";
  std::uint64_t record_offset = 0;  // bytes into the MFT (or the volume for carved records)
  bool unallocated = false;         // carved from free clusters

  // Notes added by the selection stage, in the order they are shown.
  std::string time_warning;
  std::string filter_notes;

  void reset() {
    record = nullptr;
    source_label = "";
    record_offset = 0;
    unallocated = false;
    time_warning.clear();
    filter_notes.clear();
  }
};

// "file", "dir", "del" or "unalloc".
const char* entry_type_text(const entry_result& result);

}  // namespace output
