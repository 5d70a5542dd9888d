// The selection stage as the walk sees it: the tests that decide whether an
// entry is reported, called at fixed points of the entry analysis.
#pragma once

#include <memory>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/record_reader.h"
#include "output/entry_result.h"

namespace walk {

struct primary_verdict {
  bool passed = true;
  bool hit = false;  // the entry was selected by a deleted-only or inode-set test
};

class selection_filter {
 public:
  virtual ~selection_filter() = default;

  // Deleted-only and inode-set selection, on the raw header alone.
  virtual primary_verdict primary_test(const ntfs::record_header& header, ntfs::entry_number entry) = 0;
  // Any OR-logic filter (extension, name, directory, inode, wildcard, size)
  // or content item (signature, pattern) given at all.
  virtual bool has_or_filters() const = 0;
  virtual bool has_content_items() const = 0;
  virtual bool and_logic() const = 0;
  // The time window over every $STANDARD_INFORMATION and $FILE_NAME time.
  virtual bool time_window_test(const ntfs::mft_record& record, output::entry_result& result) = 0;
  // Path-based OR-logic filters; needs the record's resolved paths.
  virtual bool path_test(const ntfs::mft_record& record, output::entry_result& result) = 0;
  // Signatures and content patterns in the header bytes.
  virtual bool content_test(const ntfs::mft_record& record, output::entry_result& result) = 0;
  // Called once the source is open, when it is a volume: paths given by the
  // user can now be looked up in the directory indexes.
  virtual void volume_opened(ntfs::ntfs_volume& volume, ntfs::record_context& context) = 0;
  // Timestamp plausibility notes; never rejects.
  virtual void anomaly_check(const ntfs::mft_record& record, output::entry_result& result) = 0;
  // An independent copy in the same state, for another walk thread; null
  // when the filter cannot be copied (the walk then keeps to one thread).
  virtual std::unique_ptr<selection_filter> clone() const { return nullptr; }
};

}  // namespace walk
