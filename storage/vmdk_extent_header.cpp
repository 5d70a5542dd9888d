#include "storage/vmdk_extent_header.h"

#include "support/byte_reader.h"

namespace storage {

bool parse_vmdk_extent_header(std::span<const std::uint8_t> bytes, vmdk_extent_header& header) {
  header = {};
  support::byte_reader reader(bytes);
  vmdk_extent_header parsed;
  parsed.magic = reader.le32(0);
  parsed.version = reader.le32(4);
  parsed.flags = reader.le32(8);
  parsed.capacity_sectors = reader.le64(12);
  parsed.grain_sectors = reader.le64(20);
  parsed.descriptor_sector = reader.le64(28);
  parsed.descriptor_sectors = reader.le64(36);
  parsed.entries_per_table = reader.le32(44);
  parsed.redundant_directory_sector = reader.le64(48);
  parsed.directory_sector = reader.le64(56);
  parsed.overhead_sectors = reader.le64(64);
  // Bytes 72-76 are the line-end detection bytes ("\n \r\n").
  parsed.compress_algorithm = reader.le16(77);
  if (!reader.ok() || parsed.magic != vmdk_extent_header::magic_kdmv) return false;
  header = parsed;
  return true;
}

}  // namespace storage
