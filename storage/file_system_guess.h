// Recognising a file system from the first bytes of a partition.
#pragma once

#include <cstdint>
#include <span>

#include "storage/byte_source.h"
#include "storage/partition_entry.h"

namespace storage {

// A volume boot record carries an OEM id at byte 3: "EXFA"(T), "MSDO"(S..)
// or "NTFS". Such a sector may end in 0x55 0xAA like an MBR but is not one.
bool is_volume_boot_record(std::span<const std::uint8_t> sector);

// An MBR: 0x55 0xAA at bytes 510-511 of a sector that is not a volume boot
// record.
bool is_mbr_sector(std::span<const std::uint8_t> sector);

// Reads the first 36 bytes at `offset`; true when bytes 3-10 are
// "NTFS    " (is_ntfs_at) or "-FVE-FS-" (is_bitlocker_at).
bool is_ntfs_at(storage::byte_source& source, std::uint64_t offset);
bool is_bitlocker_at(storage::byte_source& source, std::uint64_t offset);

// Reads 512 bytes at `offset`: an NTFS boot sector with the 0x55 0xAA
// signature and a sector size and cluster size a volume can have.
bool is_ntfs_boot_sector_at(storage::byte_source& source, std::uint64_t offset);

// Sectors per cluster from the boot sector's byte at offset 13: 1..128 as
// they are, 0xF4..0xFF (-12..-1 as a signed byte) meaning 2^(256 - value)
// sectors, which is how clusters of 128 KiB up to 2 MiB are written. 0 for
// any other value.
std::uint32_t ntfs_sectors_per_cluster(std::uint8_t code);

// Classifies `entry` from the partition's first bytes (at least 512; ext2/3
// and HFS+ need 2048): sets the type, file-system name and, where the boot
// sector has them, sector size, sectors per cluster, serial number and -
// for an entry without a length - the sector count. Unrecognised bytes leave
// the entry as it is.
void guess_file_system(partition_entry& entry, std::span<const std::uint8_t> first_bytes);

}  // namespace storage
