// One file of a VMware hosted sparse disk: its header, embedded descriptor,
// grain directory and grain tables, and the mapping from a virtual disk
// offset to the place in the file where that grain is stored.
//
// A hosted sparse extent stores the virtual disk in grains (64 KiB by
// default). The grain directory lists the file sectors of the grain tables;
// each grain table lists the file sector of each of its grains, 0 for a
// grain this file does not hold (it reads from the parent disk, or as zeros).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/vmdk_descriptor.h"
#include "storage/vmdk_extent_header.h"
#include "support/utf.h"

namespace storage {

class vmdk_disk {
 public:
  static constexpr std::uint32_t sector_bytes = 512;

  vmdk_disk() = default;
  ~vmdk_disk();
  vmdk_disk(const vmdk_disk&) = delete;
  vmdk_disk& operator=(const vmdk_disk&) = delete;

  // Opens `path` read-only and reads the header, the descriptor and the grain
  // directory, and checks that every grain table lies inside the file.
  // False when the file cannot be opened, is not a hosted sparse extent
  // ("KDMV"), or any of its metadata is out of bounds.
  bool open_disk(const uni::wide_string& path);

  bool is_valid() const { return m_valid; }
  const vmdk_extent_header& header() const { return m_header; }
  const vmdk_descriptor& descriptor() const { return m_descriptor; }
  const std::string& content_id() const { return m_descriptor.content_id; }
  const std::string& parent_content_id() const { return m_descriptor.parent_content_id; }
  const std::string& encoding() const { return m_descriptor.encoding; }
  const std::string& parent_file_name_hint() const { return m_descriptor.parent_file_name_hint; }
  const uni::wide_string& path() const { return m_wide_path; }
  const std::string& narrow_path() const { return m_narrow_path; }

  std::uint64_t capacity_bytes() const { return m_header.capacity_sectors * sector_bytes; }
  std::uint64_t grain_bytes() const { return m_grain_bytes; }
  std::uint64_t file_size_bytes() const { return m_file_size_bytes; }
  // True when both objects opened the same file (device and inode).
  bool same_file(const vmdk_disk& other) const;

  // Links in a chain; not owned.
  vmdk_disk* parent() const { return m_parent; }
  vmdk_disk* child() const { return m_child; }
  void set_parent(vmdk_disk* parent) { m_parent = parent; }
  void set_child(vmdk_disk* child) { m_child = child; }

  // Where virtual byte `offset` is stored in this file (in bytes). False when
  // this file does not hold the grain. Loads the grain table on first use.
  bool map(std::uint64_t offset, std::uint64_t& file_offset);
  // Bytes from virtual byte `offset` to the end of this file's grain holding it.
  std::uint64_t bytes_to_grain_end(std::uint64_t offset) const { return m_grain_bytes - offset % m_grain_bytes; }
  // Copies `length` stored bytes from `file_offset` to `target`. Bytes past
  // the end of the file, and bytes the system fails to read, are zeros.
  void read_stored(std::uint64_t file_offset, std::uint8_t* target, std::size_t length) const;

 private:
  bool read_metadata();
  bool read_grain_directory();
  // Count of bytes read at `offset` (short at the end of the file), -1 on error.
  std::int64_t read_file(std::uint64_t offset, std::uint8_t* target, std::size_t length) const;
  bool read_exactly(std::uint64_t offset, std::uint8_t* target, std::size_t length) const;
  void load_grain_table(std::size_t table);

  vmdk_extent_header m_header;
  vmdk_descriptor m_descriptor;
  // File sector of each grain table; 0 = no table (no grain of it is here).
  std::vector<std::uint32_t> m_directory;
  // File sector of each grain, per table; 0 = not in this file. A table is
  // read on first use (empty until then), so opening a large disk stays
  // cheap and only the tables a walk touches take memory.
  std::vector<std::vector<std::uint32_t>> m_tables;
  std::vector<std::uint8_t> m_table_bytes;  // staging for one table as stored
  std::uint64_t m_file_size_bytes = 0;
  std::uint64_t m_grain_bytes = 0;
  std::uint64_t m_bytes_per_table = 0;  // virtual bytes one grain table covers
  std::uint64_t m_device = 0;
  std::uint64_t m_inode = 0;
  vmdk_disk* m_parent = nullptr;
  vmdk_disk* m_child = nullptr;
  uni::wide_string m_wide_path;
  std::string m_narrow_path;
  int m_descriptor_fd = -1;
  bool m_valid = false;
};

}  // namespace storage
