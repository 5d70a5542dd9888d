// Turns the parent reference of a $FILE_NAME into the text path of that
// directory by walking up the parent chain to the root directory (entry 5),
// checking sequence numbers so that a reused entry is not taken for the
// directory that was meant.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/record_reader.h"
#include "support/lru_cache.h"

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

// Directories by full reference, plus the finished path text of the
// references resolved lately. Both tables keep only the most recently used
// entries, so memory stays the same whatever the size of the MFT; a
// forgotten directory is read again from its record, which gives the same
// path. Owned by the run; emptied when a walk starts.
class path_cache {
 public:
  // Directory nodes: at about 200 bytes each, a few MiB; far more than the
  // directories a walk in entry order has open at one time.
  static constexpr std::size_t default_directory_capacity = 32768;
  static constexpr std::size_t default_path_capacity = 32768;

  explicit path_cache(std::size_t directory_capacity = default_directory_capacity,
                      std::size_t path_capacity = default_path_capacity)
      : m_nodes(directory_capacity), m_resolved(path_capacity) {}

  void clear();
  std::size_t directory_count() const { return m_nodes.size(); }

  // Adds a directory record the walk has already parsed, keyed as a lookup
  // that names it with its own sequence number would key it.
  void remember_directory(const mft_record& record);

  // Paths handed out by resolved_parent_path() since the last call stay
  // valid however many more are resolved: call it before the names of each
  // record.
  void start_record() { m_resolved.new_epoch(); }

 private:
  friend bool resolve_parent_path(std::string&, file_reference, record_context&, path_cache&);
  friend std::string_view resolved_parent_path(file_reference, record_context&, path_cache&, bool&);
  friend bool read_directory_node(entry_number, record_context&, path_cache&, path_cache_node&);

  struct resolved_path {
    std::string text;
    bool ok = false;
  };
  support::lru_cache<path_cache_node> m_nodes;
  support::lru_cache<resolved_path> m_resolved;
  mft_record m_scratch;          // directory records are read into this
  path_cache_node m_node_scratch;  // and their nodes built here
  std::vector<std::string> m_components;  // names from the parent up; reused
  std::unordered_set<std::uint64_t> m_visited;
};

// The path of the directory that `parent` names, "[root]\...\" with a
// trailing "\". On failure the text holds "<path corrupted>" where the chain
// broke and the result is false. A reference of all ones is refused at once.
bool resolve_parent_path(std::string& path_out, file_reference parent, record_context& context, path_cache& cache);

// The same path, kept by the cache: valid until the cache is cleared or
// start_record() is called (without start_record(), only until the path
// table has been filled again with other paths).
std::string_view resolved_parent_path(file_reference parent, record_context& context, path_cache& cache, bool& ok);

// Reads directory record `entry`: its display name, header flags, sequence
// number and the parents of its non-DOS names. False when the record cannot
// be read or has no such name.
bool read_directory_node(entry_number entry, record_context& context, path_cache& cache, path_cache_node& node);

}  // namespace ntfs
