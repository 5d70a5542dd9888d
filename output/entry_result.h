// Everything the writers need about one accepted MFT entry: the parsed
// record with its resolved paths, where it came from and what the selection
// stage noted about it.
#pragma once

#include <cstdint>
#include <set>
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
  // Digests of the unnamed data stream (lower-case hex), empty when not
  // computed or when the stream could not be read.
  std::string md5_text;
  std::string sha1_text;
  std::string sha256_text;
  // The first bytes of the unnamed stream as hex pairs or strings; empty
  // when not read.
  std::string header_text;
  bool header_strings = false;
  // Owner SID text from the volume's security descriptors, when asked for.
  std::string owner_sid;
  // Set by the selection stage for extraction: the folder the record's
  // copies go into, named after the filter that accepted it ("catchall"
  // when none did), and the lower-cased stream names of the inode filter
  // item that selected it, when that item names streams.
  std::string filter_folder;
  const std::set<std::string>* filter_streams = nullptr;
  // Full paths of the files extracted from the record, in stream order,
  // joined by "; "; empty when nothing was written.
  std::string extracted_paths;
  std::string group_sid;  // for the record dump

  void reset() {
    record = nullptr;
    source_label = "";
    record_offset = 0;
    unallocated = false;
    time_warning.clear();
    filter_notes.clear();
    md5_text.clear();
    sha1_text.clear();
    sha256_text.clear();
    owner_sid.clear();
    group_sid.clear();
    header_text.clear();
    header_strings = false;
    filter_folder.clear();
    filter_streams = nullptr;
    extracted_paths.clear();
  }
};

// "file", "dir", "del" or "unalloc".
const char* entry_type_text(const entry_result& result);

}  // namespace output
