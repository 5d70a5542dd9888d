// Choosing the NTFS volume inside a source before the volume is opened:
// accept the offset the user gave, recognise a bare NTFS volume, or explain
// what the disk holds and which offset to use.
#pragma once

#include <cstdint>
#include <string>

#include "storage/byte_source.h"
#include "storage/disk_reader.h"

namespace storage {

// Decides on the volume offset for `source`.
//
// `volume_offset` holds the requested offset in bytes (0 when none was
// given). True when it is accepted - or replaced by 0 because the source is
// itself a bare NTFS volume. False when it is refused; then `report` has the
// lines that explain why (each ending in a newline), `volume_offset` holds
// the suggested NTFS partition's offset when there is one, and `found`
// tells whether any NTFS partition was seen at all.
// `ignore_image_size` accepts an NTFS partition that the source ends inside
// (a truncated image).
bool select_volume(std::string& report, bool& found, std::uint64_t& volume_offset, storage::byte_source& source,
                   bool ignore_image_size);

// The same over an opened reader; a reader that did not open is refused
// without a report.
bool select_volume(std::string& report, bool& found, std::uint64_t& volume_offset, disk_reader& reader,
                   bool ignore_image_size);

}  // namespace storage
