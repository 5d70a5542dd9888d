#include "storage/file_system_guess.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "support/byte_reader.h"

namespace storage {

namespace {

// NTFS boot sector fields (BitLocker keeps the same layout).
namespace ntfs_boot {
constexpr std::size_t oem_id = 3;
constexpr std::size_t bytes_per_sector = 11;
constexpr std::size_t cluster_code = 13;
constexpr std::size_t total_sectors = 40;
constexpr std::size_t serial_number = 72;
constexpr std::size_t signature = 510;  // 0x55 0xAA
}  // namespace ntfs_boot

bool has_text_at(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view text) {
  if (offset > bytes.size() || text.size() > bytes.size() - offset) return false;
  return std::memcmp(bytes.data() + offset, text.data(), text.size()) == 0;
}

// Text of a NUL-padded fixed-size field.
std::string field_text(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t length) {
  support::byte_reader reader(bytes);
  const auto field = reader.sub(offset, length);
  std::string text(field.begin(), field.end());
  const std::size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  return text;
}

// Sector sizes a boot sector may declare: powers of two, 256 .. 4096 bytes.
bool plausible_sector_size(std::uint32_t bytes) { return bytes >= 256 && bytes <= 4096 && (bytes & (bytes - 1)) == 0; }

bool oem_at(storage::byte_source& source, std::uint64_t offset, std::string_view oem) {
  std::array<std::uint8_t, 36> head{};
  if (source.read_at(offset, head.data(), head.size()) != static_cast<std::int64_t>(head.size())) return false;
  return has_text_at(head, 3, oem);
}

// NTFS and BitLocker share the BIOS parameter block layout of NTFS. The
// volume's sector size only converts its own sector count into the units of
// the entry: a 4096-byte-sector volume inside a 512-byte MBR keeps the
// table's 512-byte start.
void take_ntfs_geometry(partition_entry& entry, support::byte_reader& boot) {
  const std::uint32_t bytes_per_sector = boot.le16(ntfs_boot::bytes_per_sector);
  const std::uint8_t cluster_code = boot.u8(ntfs_boot::cluster_code);
  const std::uint32_t serial = boot.le32(ntfs_boot::serial_number);
  const std::uint64_t total_sectors = boot.le64(ntfs_boot::total_sectors);
  if (!boot.ok()) return;
  entry.sectors_per_cluster = ntfs_sectors_per_cluster(cluster_code);
  entry.serial_number = serial;
  if (entry.sector_count == 0 && entry.sector_size != 0 && plausible_sector_size(bytes_per_sector) &&
      total_sectors <= ~0ULL / bytes_per_sector) {
    entry.sector_count = total_sectors * bytes_per_sector / entry.sector_size;
  }
}

}  // namespace

std::uint32_t ntfs_sectors_per_cluster(std::uint8_t code) {
  if (code >= 0xF4) return 1u << (256 - code);
  return code != 0 && code <= 0x80 && (code & (code - 1)) == 0 ? code : 0;
}

bool is_volume_boot_record(std::span<const std::uint8_t> sector) {
  return has_text_at(sector, 3, "EXFA") || has_text_at(sector, 3, "MSDO") || has_text_at(sector, 3, "NTFS");
}

bool is_mbr_sector(std::span<const std::uint8_t> sector) {
  return sector.size() >= 512 && sector[510] == 0x55 && sector[511] == 0xAA && !is_volume_boot_record(sector);
}

bool is_ntfs_at(storage::byte_source& source, std::uint64_t offset) { return oem_at(source, offset, "NTFS    "); }

bool is_bitlocker_at(storage::byte_source& source, std::uint64_t offset) { return oem_at(source, offset, "-FVE-FS-"); }

bool is_ntfs_boot_sector_at(storage::byte_source& source, std::uint64_t offset) {
  std::array<std::uint8_t, 512> sector{};
  if (source.read_at(offset, sector.data(), sector.size()) != static_cast<std::int64_t>(sector.size())) return false;
  support::byte_reader boot(sector);
  return has_text_at(sector, ntfs_boot::oem_id, "NTFS    ") && boot.le16(ntfs_boot::signature) == 0xAA55 &&
         plausible_sector_size(boot.le16(ntfs_boot::bytes_per_sector)) &&
         ntfs_sectors_per_cluster(boot.u8(ntfs_boot::cluster_code)) != 0;
}

void guess_file_system(partition_entry& entry, std::span<const std::uint8_t> first_bytes) {
  if (first_bytes.size() < 512) return;
  support::byte_reader boot(first_bytes);

  if (has_text_at(first_bytes, 3, "EXFAT   ")) {
    entry.type = 0x07;
    entry.file_system = "exfat";
    // Both are stored as powers of two.
    const std::uint32_t sector_shift = boot.u8(108);
    const std::uint32_t cluster_shift = boot.u8(109);
    if (sector_shift >= 8 && sector_shift <= 12) entry.sector_size = 1U << sector_shift;
    if (cluster_shift <= 25) entry.sectors_per_cluster = 1U << cluster_shift;
    return;
  }
  if (has_text_at(first_bytes, 3, "-FVE-FS-") || has_text_at(first_bytes, 3, "NTFS    ")) {
    entry.type = 0x07;
    entry.file_system = first_bytes[3] == '-' ? "bitlocker container" : "ntfs";
    take_ntfs_geometry(entry, boot);
    return;
  }
  if (has_text_at(first_bytes, 82, "FAT32")) {
    entry.type = 0x0C;
    entry.file_system = "fat32";
    entry.sectors_per_cluster = boot.u8(13);
    return;
  }
  if (has_text_at(first_bytes, 54, "FAT16")) {
    entry.type = 0x04;
    entry.file_system = "fat16";
    entry.sectors_per_cluster = boot.u8(13);
    return;
  }
  if (first_bytes.size() < 2048) return;

  // ext2/3/4 and HFS+ keep their superblock / volume header at byte 1024.
  constexpr std::size_t super = 1024;
  if (boot.le16(super + 56) == 0xEF53) {
    entry.type = 0x83;
    entry.file_system = first_bytes[3] == 0 ? "ext" : "ext2/3";
    const std::uint32_t block_shift = boot.le32(super + 24);
    if (block_shift <= 6 && entry.sector_size != 0) {
      entry.sectors_per_cluster = (1024U << block_shift) / entry.sector_size;
    }
    entry.volume_label = field_text(first_bytes, super + 120, 16);
    entry.last_mount_path = field_text(first_bytes, super + 136, 64);
    return;
  }
  const std::uint16_t hfs_signature = boot.le16(super);
  if (hfs_signature == 0x2B48 || hfs_signature == 0x5848) {  // "H+" / "HX"
    entry.type = 0xAF;
    entry.file_system = hfs_signature == 0x2B48 ? "hfs+" : "hfsx";
  }
}

}  // namespace storage
