// The time warning of a record: missing time attributes, zero or future
// times, a DOS name whose access time disagrees with its long name, and
// $FILE_NAME times later than the $STANDARD_INFORMATION ones (a sign that
// the latter were set back).
#pragma once

#include <string>

#include "ntfs/mft_record.h"

namespace walk {

// The first warning that applies, or an empty text.
void time_warning(const ntfs::mft_record& record, std::string& text);

}  // namespace walk
