// One hosted sparse extent file of a VMware disk ("KDMV"): its header,
// embedded descriptor (monolithic disks carry one), grain directory and
// grain tables, and the mapping from a byte of the extent to the place in
// the file where its grain is stored.
//
// A sparse extent stores its part of the virtual disk in grains (64 KiB by
// default). The grain directory lists the file sectors of the grain tables;
// each grain table lists the file sector of each of its grains, 0 for a
// grain this file does not hold (it reads from the parent disk, or as zeros).
// In a stream-optimized extent every grain is deflated (zlib) behind a
// 12-byte marker (u64 virtual sector, u32 compressed bytes), and the grain
// directory may follow the grains, its offset then kept in a footer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/vmdk_descriptor.h"
#include "storage/vmdk_extent_header.h"

namespace storage {

class vmdk_sparse_extent {
 public:
  static constexpr std::uint32_t sector_bytes = 512;

  vmdk_sparse_extent() = default;
  ~vmdk_sparse_extent();
  vmdk_sparse_extent(const vmdk_sparse_extent&) = delete;
  vmdk_sparse_extent& operator=(const vmdk_sparse_extent&) = delete;

  // Opens `path` read-only and reads the header, the descriptor and the grain
  // directory, and checks that every grain table lies inside the file.
  // False when the file cannot be opened, is not a hosted sparse extent
  // ("KDMV"), or any of its metadata is out of bounds; `failure` then names
  // the subformat when that is what cannot be read (compressed grains
  // without zlib, an unknown compression).
  bool open(const std::string& path, std::string& failure);

  const vmdk_extent_header& header() const { return m_header; }
  const vmdk_descriptor& descriptor() const { return m_descriptor; }
  std::uint64_t capacity_bytes() const { return m_header.capacity_sectors * sector_bytes; }
  std::uint64_t grain_bytes() const { return m_grain_bytes; }
  bool compressed() const { return m_header.compressed(); }
  int file_descriptor() const { return m_descriptor_fd; }

  // Where byte `offset` of the extent is stored: for a plain grain the
  // file byte, for a compressed one the file byte of its marker. False when
  // this file does not hold the grain. Loads the grain table on first use.
  bool map(std::uint64_t offset, std::uint64_t& file_offset);
  // Bytes from `offset` to the end of the grain holding it.
  std::uint64_t bytes_to_grain_end(std::uint64_t offset) const { return m_grain_bytes - offset % m_grain_bytes; }
  // Copies `length` bytes of the grain whose stored place map() gave, from
  // `offset` within the grain on (plain grains: file_offset already points
  // at the byte). Bytes that cannot be read are zeros; false then.
  bool read_stored(std::uint64_t file_offset, std::uint64_t offset, std::uint8_t* target, std::size_t length);

 private:
  bool read_metadata(std::string& failure);
  bool read_grain_directory();
  bool read_directory_entries(std::uint64_t directory_offset, std::size_t entries, std::uint64_t table_bytes);
  std::int64_t read_file(std::uint64_t offset, std::uint8_t* target, std::size_t length) const;
  bool read_exactly(std::uint64_t offset, std::uint8_t* target, std::size_t length) const;
  void load_grain_table(std::size_t table);
  bool inflate_grain(std::uint64_t marker_offset);

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
  std::uint64_t m_bytes_per_table = 0;  // bytes of the extent one grain table covers
  int m_descriptor_fd = -1;
  // The last compressed grain inflated, kept for the reads that follow.
  std::vector<std::uint8_t> m_inflated;
  std::vector<std::uint8_t> m_deflated;
  std::uint64_t m_inflated_marker = ~std::uint64_t{0};
};

}  // namespace storage
