// What the user asked to select, as parsed from the command line. Built once
// before the walk and read-only while it runs. Texts are UTF-8, lower-cased.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ntfs/file_reference.h"

namespace walk {

// One entry of the inode or directory-inode map.
struct inode_item {
  bool whole_record = false;          // no stream named: the whole record
  std::set<std::string> stream_names;  // lower-cased; "streams only" when not empty
  std::string path_text;               // the path the item came from, if any
};

// A directory given by path: records whose parent path lies in it (and,
// with depth > 1, in its subdirectories that many levels down) match.
struct directory_item {
  std::string path;  // lower-cased "[root]\...\" with the trailing "\"
  std::string text;  // as given, for the note
  unsigned depth = 1;
};

// A file given by path, with an optional stream.
struct file_item {
  std::string path;  // lower-cased "[root]\...\name"
  std::string stream;
  std::string text;
};

struct name_item {
  std::string text;  // lower-cased
  bool partial = false;
};

// Content tests on the first bytes of a data stream.
enum class content_kind : std::uint8_t {
  mz = 30,
  mz_16bit = 31,
  pe_32bit = 32,
  pe_64bit = 33,
  pe = 34,
  hive = 35,
  evt = 36,
  sqlite = 37,
  lnk = 38,
  pattern = 39,
};

struct content_item {
  content_kind kind = content_kind::mz;
  std::uint32_t header_bytes = 0;  // bytes of the stream the test needs
  std::vector<std::uint8_t> pattern;
  std::uint64_t scan_start = 0;    // bytes
  std::uint64_t scan_size = 4096;  // bytes
};

struct filter_settings {
  // OR group.
  std::vector<std::string> extensions;
  std::vector<name_item> names;
  std::vector<std::string> wildcards;
  std::vector<directory_item> directories;
  std::vector<file_item> files;
  std::map<ntfs::entry_number, inode_item> inodes;
  std::map<ntfs::entry_number, inode_item> directory_inodes;
  bool max_size_set = false;
  bool min_size_set = false;
  bool min_ads_size_set = false;
  std::uint64_t max_size = 0;      // bytes
  std::uint64_t min_size = 0;      // bytes
  std::uint64_t min_ads_size = 0;  // bytes
  bool object_id_set = false;
  std::uint8_t object_id[16] = {};

  // Content items, in the order given.
  std::vector<content_item> content;

  // AND group.
  std::uint64_t window_start = 0;      // FILETIME
  std::uint64_t window_stop = ~0ULL;   // FILETIME
  bool deleted_only = false;
  bool and_logic = false;

  bool window_set() const { return window_start != 0 || window_stop != ~0ULL; }
  bool has_or_filters() const {
    return !extensions.empty() || !names.empty() || !wildcards.empty() || !directories.empty() || !files.empty() ||
           !inodes.empty() || !directory_inodes.empty() || max_size_set || min_size_set || min_ads_size_set ||
           object_id_set;
  }
};

}  // namespace walk
