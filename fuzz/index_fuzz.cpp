// Directory index nodes as $INDEX_ROOT and INDX blocks hold them: the block
// fixups, the node header and every entry with its $FILE_NAME key.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/directory_index.h"
#include "ntfs/record_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> block(data, data + size);
  std::vector<ntfs::index_child> children;
  // As an $INDEX_ROOT value: the node header follows 16 bytes of root header.
  ntfs::parse_index_node(block, 16, children);
  // As an INDX block: fixups first, the node header at 24.
  if (ntfs::apply_fixups(block) == ntfs::fixup_result::applied) ntfs::parse_index_node(block, 24, children);
  return 0;
}
