// The header at byte 0 of every hosted sparse extent ("KDMV" file): where
// the embedded descriptor, the grain directory and the metadata lie, and the
// grain geometry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace storage {

struct vmdk_extent_header {
  // The bytes "KDMV" read as a little-endian u32.
  static constexpr std::uint32_t magic_kdmv = 0x564D444B;
  // Bytes of the file the header fields span (the header sector is 512).
  static constexpr std::size_t field_bytes = 79;
  // Flag bits: grains stored compressed, and metadata preceded by markers
  // (both set in stream-optimized disks).
  static constexpr std::uint32_t flag_compressed_grains = 1u << 16;
  static constexpr std::uint32_t flag_markers = 1u << 17;
  // A grain directory offset of all ones: the directory is written after the
  // grains, and the real offset is in the footer (a copy of this header in
  // the second-last sector of the file).
  static constexpr std::uint64_t directory_at_end = ~std::uint64_t{0};
  static constexpr std::uint16_t compression_deflate = 1;

  std::uint32_t magic = 0;
  std::uint32_t version = 0;  // not examined
  std::uint32_t flags = 0;    // not examined
  std::uint64_t capacity_sectors = 0;
  std::uint64_t grain_sectors = 0;
  std::uint64_t descriptor_sector = 0;
  std::uint64_t descriptor_sectors = 0;
  std::uint32_t entries_per_table = 0;  // grain table entries per grain table
  std::uint64_t redundant_directory_sector = 0;  // not used
  std::uint64_t directory_sector = 0;
  std::uint64_t overhead_sectors = 0;  // metadata sectors at the start of the file
  std::uint16_t compress_algorithm = 0;  // 0 none, 1 deflate (zlib stream)

  bool compressed() const { return (flags & flag_compressed_grains) != 0; }
};

// Reads the header fields from the first bytes of a file. False when fewer
// than field_bytes are given or the magic is not "KDMV"; `header` is then
// cleared.
bool parse_vmdk_extent_header(std::span<const std::uint8_t> bytes, vmdk_extent_header& header);

}  // namespace storage
