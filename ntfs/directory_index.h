// The "$I30" file-name index of a directory: its $INDEX_ROOT and the INDX
// blocks of its $INDEX_ALLOCATION, and the lookup of a path typed by the
// user down from the root directory.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/record_reader.h"

namespace ntfs {

struct index_child {
  file_reference reference;
  std::string name_utf8;  // as stored
  bool directory = false;
};

// Appends the entries of one index node (node header at `node_offset` of
// `bytes`) to `children`. Bounds-checked; stops at the last-entry flag.
void parse_index_node(std::span<const std::uint8_t> bytes, std::size_t node_offset, std::vector<index_child>& children);

// Calls `visit(bytes, node_offset)` for every node of a directory record's
// "$I30" index: the node in its $INDEX_ROOT value, then each INDX block of
// its $INDEX_ALLOCATION (update-sequence fixups applied) that reads whole.
using index_node_visitor = std::function<void(std::span<const std::uint8_t> bytes, std::size_t node_offset)>;
void for_each_index_node(cluster_source& clusters, const mft_record& record, const index_node_visitor& visit);

// Byte offset of the node header in an INDX block, after the block header.
inline constexpr std::size_t indx_node_header = 24;

// The children listed in a directory's "$I30" index (root and allocation
// blocks). False when the record is not a readable directory.
bool directory_children(ntfs_volume& volume, record_context& context, entry_number directory,
                        std::vector<index_child>& children);

struct path_lookup {
  entry_number entry = 0;
  entry_number parent = 0;
  std::string path;  // rebuilt from the components found, "\"-separated
};

// Looks `path` up from the root directory: "\" or "/" separated, any
// letter case, an optional drive letter and "\\?\" prefix, a ":stream"
// suffix on components ignored. Directory listings are cached in `cache`.
class directory_lookup {
 public:
  directory_lookup(ntfs_volume& volume, record_context& context) : m_volume(volume), m_context(context) {}
  bool find(std::string_view path, path_lookup& out);
  // Subdirectories of `directory`, from the same cache.
  const std::vector<index_child>& children(entry_number directory);

 private:
  ntfs_volume& m_volume;
  record_context& m_context;
  std::map<entry_number, std::vector<index_child>> m_cache;
};

}  // namespace ntfs
