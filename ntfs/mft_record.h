// The in-memory model of one parsed MFT file record. One instance is reused
// for every entry of a walk; reset() forgets the contents but keeps the
// storage.
#pragma once

#include <array>
#include <span>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ntfs/attribute_header.h"
#include "ntfs/file_reference.h"
#include "ntfs/record_header.h"
#include "ntfs/run_list.h"
#include "support/reuse_list.h"
#include "support/utf.h"

namespace ntfs {

// Key of an attribute within a record: the type in the low 48 bits, the
// attribute id in the high 16. Types without a table of their own share the
// type part 0xFFFFFFFF, so they are told apart by id alone.
using attr_key = std::uint64_t;
inline constexpr attr_key make_attr_key(std::uint32_t type, std::uint16_t id) {
  return std::uint64_t{type} | (std::uint64_t{id} << 48);
}

// A time value's plausibility note: "null" when one of the four times is
// zero, "future" when one lies past the run's limit.
struct time_anomaly {
  bool flagged = false;
  const char* text = "";
};

struct four_times {
  std::uint64_t creation = 0;
  std::uint64_t modification = 0;
  std::uint64_t mft_change = 0;
  std::uint64_t access = 0;
  bool operator==(const four_times&) const = default;
};

// $STANDARD_INFORMATION, value bytes 0..71 (missing bytes are zero).
struct std_info_entry {
  attr_key key = 0;
  std::array<std::uint8_t, 72> bytes{};
  four_times times;
  std::uint32_t file_attributes = 0;
  std::uint32_t maximum_versions = 0;
  std::uint32_t version = 0;
  std::uint32_t class_id = 0;
  std::uint32_t owner_id = 0;
  std::uint32_t security_id = 0;
  std::uint64_t quota_charged = 0;
  std::uint64_t update_sequence_number = 0;
  time_anomaly anomaly;
};

inline constexpr std::uint8_t namespace_posix = 0;
inline constexpr std::uint8_t namespace_win32 = 1;
inline constexpr std::uint8_t namespace_dos = 2;
inline constexpr std::uint8_t namespace_win32_and_dos = 3;

inline constexpr std::uint32_t file_name_flag_directory_index = 0x10000000;  // "indexed" in $FILE_NAME flags

struct file_name_entry {
  std::string link_text;  // "%08x_<name>_%08x": parent entry, name, own entry
  file_reference parent;
  four_times times;
  std::uint64_t allocated_size = 0;  // bytes
  std::uint64_t real_size = 0;       // bytes
  std::uint32_t flags = 0;
  std::uint32_t reparse_word = 0;
  std::uint8_t name_length = 0;  // UTF-16 units
  std::uint8_t name_space = 0;
  // The name, decoded from UTF-16 once into UTF-8 (whose byte order is the
  // code point order, so names sort the same either way).
  std::string name_utf8;
  std::uint16_t attribute_id = 0;
  bool is_dos_name = false;
  time_anomaly anomaly;
  entry_number read_under_entry = 0;
  entry_number held_by_entry = 0;  // the record the attribute was found in
  // The number of roots this name was found under; starts at 1.
  std::uint32_t root_count = 1;
};

// One per directory the record is linked into; the names themselves are in
// the $FILE_NAME table.
struct parent_link {
  file_reference parent;
  // UTF-8, ends with "\"; filled by path resolution and owned by its cache,
  // which outlives the record.
  std::string_view parent_path;
  bool path_corrupted = false;
  // The chain broke at a parent entry that carries another sequence number
  // now: the folder was deleted and its entry reused since.
  bool parent_reused = false;
};

struct name_index_entry {
  uni::wide_string lower_name;
  std::string link_text;
};

struct object_id_entry {
  attr_key key = 0;
  std::array<std::uint8_t, 64> bytes{};  // object id, birth volume, birth object, domain
  std::uint32_t value_length = 0;
};

struct volume_name_entry {
  attr_key key = 0;
  uni::wide_string name;
};

struct volume_information_entry {
  attr_key key = 0;
  std::array<std::uint8_t, 12> bytes{};
  std::uint8_t major_version = 0;
  std::uint8_t minor_version = 0;
  std::uint16_t flags = 0;
  std::string version_text;
};

struct reparse_entry {
  attr_key key = 0;
  uni::wide_string target;
  std::string target_utf8;
};

struct index_root_entry {
  uni::wide_string index_name;
  std::array<std::uint8_t, 16> bytes{};
  std::uint32_t indexed_type = 0;
  std::uint32_t collation_rule = 0;
  std::uint32_t index_block_size = 0;  // bytes
  std::uint8_t clusters_per_index_block = 0;
};

struct attr_record {
  attr_key key = 0;
  attribute_header header;
  std::string name_utf8;  // the attribute's own name
  std::string_view label = "";  // a literal: data() ends in a NUL
  // Header and resident value of the first extent: a view into the record's
  // own bytes, or into `raw_copy` for an attribute from an extension record.
  std::span<const std::uint8_t> raw;
  std::vector<std::uint8_t> raw_copy;
  std::string description;
  bool named_stream = false;
  bool data_attribute = false;
  extent_list extents;
  bool has_resident_copy = false;
  std::vector<std::uint8_t> resident_value;
  entry_number read_under_entry = 0;

  // A resident value above 0 bytes, or clusters allocated.
  bool has_content() const { return header.non_resident ? header.allocated_size > 0 : header.value_length > 0; }
};

struct zone_pair {
  std::string key;
  std::string value;
};

namespace detail {
struct key_of_attr {
  template <typename T>
  attr_key operator()(const T& v) const { return v.key; }
};
struct key_of_link_text {
  const std::string& operator()(const file_name_entry& v) const { return v.link_text; }
};
struct key_of_parent {
  std::uint64_t operator()(const parent_link& v) const { return v.parent.value; }
};
struct key_of_lower_name {
  const uni::wide_string& operator()(const name_index_entry& v) const { return v.lower_name; }
};
struct key_of_index_name {
  const uni::wide_string& operator()(const index_root_entry& v) const { return v.index_name; }
};
}  // namespace detail

class mft_record {
 public:
  void reset();

  entry_number entry = 0;
  std::uint16_t sequence = 0;
  std::array<std::uint8_t, kept_header_bytes> header_bytes{};
  record_header header;
  std::vector<std::uint8_t> raw;  // the record after fixups

  bool has_attribute_list = false;
  bool has_nonresident_attribute_list = false;
  bool is_extension = false;
  file_reference base_reference{0};

  support::ordered_table<std_info_entry, detail::key_of_attr> std_info;
  support::ordered_table<file_name_entry, detail::key_of_link_text> file_names;
  support::ordered_table<parent_link, detail::key_of_parent> parents;
  // Lower-cased non-DOS names; filled by build_names_table() for the name
  // filters, not by every parse.
  support::ordered_table<name_index_entry, detail::key_of_lower_name> names;
  support::ordered_table<object_id_entry, detail::key_of_attr> object_ids;
  support::ordered_table<volume_name_entry, detail::key_of_attr> volume_names;
  support::ordered_table<volume_information_entry, detail::key_of_attr> volume_information;
  support::ordered_table<reparse_entry, detail::key_of_attr> reparse_points;
  support::ordered_table<index_root_entry, detail::key_of_index_name> index_roots;
  support::ordered_table<attr_record, detail::key_of_attr> attributes;

  bool has_unnamed_data = false;
  std::vector<zone_pair> zone;

  // Counts used by the walk: attributes filed from this record and its
  // extension records.
  std::uint32_t parsed_attribute_count = 0;

  std::size_t non_dos_name_count() const;
  const std_info_entry* standard_information() const { return std_info.first(); }
  const attr_record* unnamed_data() const;
};

// Fills `record.names` from its $FILE_NAME table: each non-DOS name in lower
// case, mapped to its link text; the first of two equal names is kept.
void build_names_table(mft_record& record);

// The name shown for a directory: its only name; else the first non-DOS name
// read under `entry`; else the first non-DOS name at all; else empty.
const file_name_entry* best_file_name(const mft_record& record, entry_number entry);

}  // namespace ntfs
