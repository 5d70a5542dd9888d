// One row of a disk's partition table as brindle lists it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace storage {

struct partition_entry {
  std::uint64_t start_sector = 0;
  std::uint64_t sector_count = 0;
  std::uint16_t type = 0;  // MBR type byte; bit 15: a guess
  std::uint32_t sectors_per_cluster = 0;
  // Bytes per sector for start and count: the disk's, replaced by the one in
  // the partition's boot sector when it has one (a 4096-byte-sector disk
  // behind an MBR that only shows 512).
  std::uint32_t sector_size = 0;
  std::uint32_t serial_number = 0;  // volume serial from the boot sector
  bool guessed = false;
  bool gpt = false;
  std::array<std::uint8_t, 16> gpt_type_id{};
  std::array<std::uint8_t, 16> gpt_unique_id{};
  std::string name;              // GPT partition name, or the label of a pseudo entry
  std::string file_system;       // "ntfs", "fat32", "ext2/3", "mbr", "unalloc", ...
  std::uint64_t attributes = 0;  // GPT attribute bits
  // From an ext2/3 superblock.
  std::string volume_label;
  std::string last_mount_path;

  // Byte offset of the partition within the disk.
  std::uint64_t start_bytes() const { return start_sector * sector_size; }
  std::uint64_t end_bytes() const { return (start_sector + sector_count) * sector_size; }
};

// Entries in discovery order: primary MBR entries, then the extended chain;
// GPT entries in array order.
using partition_table = std::vector<partition_entry>;

}  // namespace storage
