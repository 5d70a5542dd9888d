// Non-resident attribute headers with their run lists: the cursor, the
// decoded runs, extents, merging and sizes.
#include <cstddef>
#include <cstdint>

#include "ntfs/run_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> attribute(data, size);
  ntfs::data_run_list runs;
  ntfs::decode_run_list(attribute, runs);
  ntfs::extent_list extents;
  ntfs::runs_to_extents(runs, extents);
  ntfs::extent_list decoded;
  ntfs::decode_extents(attribute, decoded);
  ntfs::merge_extents(extents, decoded);
  (void)ntfs::extents_byte_size(extents, 4096, true);
  (void)ntfs::extents_byte_size(extents, 2u << 20, false);
  ntfs::drop_sparse_extents(extents);
  ntfs::run_list_cursor cursor(attribute);
  ntfs::data_run_view run;
  while (cursor.next(run)) {
  }
  return 0;
}
