// Which of the scans after the MFT walk a run asks for.
#pragma once

#include <string>

namespace walk {

struct evidence_settings {
  bool journal = false;      // -usnjrnl: the volume's $Extend\$UsnJrnl:$J
  std::string journal_file;  // -usnfile: an extracted $J
  bool index_slack = false;  // -indx_slack: every directory of the volume
  std::string index_file;    // -indxfile: an extracted INDX stream

  bool any() const { return journal || !journal_file.empty() || index_slack || !index_file.empty(); }
};

}  // namespace walk
