#include "ntfs/index_slack.h"

#include <algorithm>

#include "ntfs/attribute_values.h"
#include "ntfs/index_node_layout.h"
#include "support/byte_reader.h"

namespace ntfs {

namespace {

using namespace index_layout;

// FILETIMEs of 1980-01-01 and 2200-01-01: times outside are not taken for
// the times of a real name.
constexpr std::uint64_t earliest_filetime = 119600064000000000ULL;
constexpr std::uint64_t latest_filetime = 181149984000000000ULL;

bool plausible_time(std::uint64_t filetime) { return filetime >= earliest_filetime && filetime < latest_filetime; }

bool plausible_key(std::span<const std::uint8_t> key, file_name_entry& name) {
  support::byte_reader r(key);
  const std::uint8_t length = r.u8(file_name_offset::name_length);
  const std::uint8_t name_space = r.u8(file_name_offset::name_space);
  if (!r.ok() || length == 0 || name_space > namespace_win32_and_dos) return false;
  if (file_name_offset::name + std::size_t{length} * 2 > key.size()) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (r.le16(file_name_offset::name + 2 * i) == 0) return false;
  }
  if (!parse_file_name(key, name)) return false;
  const four_times& t = name.times;
  return plausible_time(t.creation) && plausible_time(t.modification) && plausible_time(t.mft_change) &&
         plausible_time(t.access);
}

}  // namespace

bool read_index_node_extent(std::span<const std::uint8_t> bytes, std::size_t node_offset, index_node_extent& out) {
  support::byte_reader r(bytes);
  const std::uint64_t first = r.le32(node_offset + node_first_entry);
  const std::uint64_t used = r.le32(node_offset + node_entries_end);
  const std::uint64_t allocated = r.le32(node_offset + node_allocated_end);
  if (!r.ok() || first > used || used > allocated) return false;
  out.used_end = static_cast<std::size_t>(std::min<std::uint64_t>(node_offset + used, bytes.size()));
  out.allocated_end = static_cast<std::size_t>(std::min<std::uint64_t>(node_offset + allocated, bytes.size()));
  return true;
}

void find_slack_entries(std::span<const std::uint8_t> bytes, std::size_t node_offset, std::vector<slack_entry>& out) {
  index_node_extent extent;
  if (!read_index_node_extent(bytes, node_offset, extent)) return;
  // Keys sit 16 bytes into 8-aligned entries, so at 8-aligned offsets of the
  // node; the entry holding a key may begin inside the used part.
  std::size_t at = extent.used_end + (entry_alignment - (extent.used_end - node_offset) % entry_alignment) %
                                         entry_alignment;
  slack_entry found;
  while (at + file_name_offset::name + 2 <= extent.allocated_end) {
    const auto key = bytes.subspan(at, extent.allocated_end - at);
    if (plausible_key(key, found.key)) {
      found.offset = at;
      found.reference = file_reference{};
      if (at >= node_offset + entry_key) {
        // A header of reference 0 is the end-of-node entry written over the
        // start of the old one: the reference is lost.
        support::byte_reader r(bytes);
        const std::uint64_t reference = r.le64(at - entry_key);
        if (reference != 0) found.reference = file_reference{reference};
      }
      out.push_back(found);
      const std::size_t key_bytes = file_name_offset::name + std::size_t{found.key.name_length} * 2;
      at += (key_bytes + entry_alignment - 1) / entry_alignment * entry_alignment;
      continue;
    }
    at += entry_alignment;
  }
}

}  // namespace ntfs
