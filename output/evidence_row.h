// A result that does not come from an MFT record: a change-journal record or
// a directory-index entry found in slack, with the path of its parent
// directory as the MFT resolves it today.
#pragma once

#include <cstdint>
#include <string_view>

#include "ntfs/index_slack.h"
#include "ntfs/usn_record.h"

namespace output {

struct evidence_row {
  // Exactly one of the two is set.
  const ntfs::usn_record* usn = nullptr;
  const ntfs::slack_entry* slack = nullptr;
  // Slack: the directory whose index held the entry.
  ntfs::entry_number directory = 0;

  // "[root]\...\" of the parent directory; empty when it could not be
  // resolved (no MFT, or a broken chain).
  std::string_view parent_path;
  // "usn" or "slack" when the parent directory still carries the sequence
  // number the row recorded; "parent_reused" when it does not (the folder was
  // deleted or its entry reused since); "orphan" when no path was found.
  const char* path_source = "";
  // The parent's sequence number now; meaningful when parent_known is set.
  std::uint16_t parent_sequence_now = 0;
  bool parent_known = false;
};

}  // namespace output
