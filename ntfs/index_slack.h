// Entries left in the slack of a directory's "$I30" index nodes.
//
// An index node (in $INDEX_ROOT or in an INDX block) has a used part, up to
// the last entry, and an allocated part behind it. When an entry is removed
// the entries after it move down and the bytes past the new end are left as
// they were, so the slack keeps whole entries of deleted and renamed files:
// an 8-byte file reference, the entry's lengths and flags, then a
// $FILE_NAME key with the name, its parent and four times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ntfs/mft_record.h"

namespace ntfs {

struct slack_entry {
  file_reference reference;  // the file the entry pointed to; none when overwritten
  file_name_entry key;       // name, parent, times, sizes and flags
  std::size_t offset = 0;    // of the key, bytes into the node's buffer
};

// The node header of an index node at `node_offset` of `bytes`: where its
// used part ends and its allocated part ends, both relative to `bytes`.
struct index_node_extent {
  std::size_t used_end = 0;
  std::size_t allocated_end = 0;
};
bool read_index_node_extent(std::span<const std::uint8_t> bytes, std::size_t node_offset, index_node_extent& out);

// Appends every plausible $FILE_NAME key found between the used end and the
// allocated end of the node: a key starts 16 bytes into an 8-byte aligned
// entry, its name (1 to 255 UTF-16 units in a known namespace) fits before
// the allocated end, and its four times lie between 1980 and 2200.
void find_slack_entries(std::span<const std::uint8_t> bytes, std::size_t node_offset, std::vector<slack_entry>& out);

}  // namespace ntfs
