// Turns the parent reference of a $FILE_NAME into the text path of that
// directory by walking up the parent chain to the root directory (entry 5),
// checking sequence numbers so that a reused entry is not taken for the
// directory that was meant.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/record_reader.h"

namespace ntfs {

inline constexpr const char* path_root_text = "[root]";
inline constexpr const char* path_corrupted_text = "<path corrupted>";

// One directory seen while resolving.
struct path_cache_node {
  entry_number entry = 0;
  std::uint16_t sequence = 0;
  std::string name;                      // UTF-8 display name
  std::vector<file_reference> parents;  // ascending; one per non-DOS name
  std::uint16_t flags = 0;               // record header flags
};

// Directories by full reference, plus the finished path text of every
// reference resolved so far. Owned by the run; emptied when a walk starts.
class path_cache {
 public:
  void clear();
  std::size_t directory_count() const { return m_nodes.size(); }

  // Adds a directory record the walk has already parsed, keyed as a lookup
  // that names it with its own sequence number would key it.
  void remember_directory(const mft_record& record);

 private:
  friend bool resolve_parent_path(std::string&, file_reference, record_context&, path_cache&);
  friend std::string_view resolved_parent_path(file_reference, record_context&, path_cache&, bool&);
  friend bool read_directory_node(entry_number, record_context&, path_cache&, path_cache_node&);

  struct resolved_path {
    std::string text;
    bool ok = false;
  };
  std::unordered_map<std::uint64_t, path_cache_node> m_nodes;
  std::unordered_map<std::uint64_t, resolved_path> m_resolved;
  mft_record m_scratch;  // directory records are read into this
  std::vector<const std::string*> m_components;
  std::unordered_set<std::uint64_t> m_visited;
};

// The path of the directory that `parent` names, "[root]\...\" with a
// trailing "\". On failure the text holds "<path corrupted>" where the chain
// broke and the result is false. A reference of all ones is refused at once.
bool resolve_parent_path(std::string& path_out, file_reference parent, record_context& context, path_cache& cache);

// The same path, kept by the cache: valid until the cache is cleared.
std::string_view resolved_parent_path(file_reference parent, record_context& context, path_cache& cache, bool& ok);

// Reads directory record `entry`: its display name, header flags, sequence
// number and the parents of its non-DOS names. False when the record cannot
// be read or has no such name.
bool read_directory_node(entry_number entry, record_context& context, path_cache& cache, path_cache_node& node);

}  // namespace ntfs
