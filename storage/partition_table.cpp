#include "storage/partition_table.h"

#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "storage/file_system_guess.h"
#include "storage/gpt_table.h"
#include "storage/partition_types.h"
#include "support/byte_reader.h"

namespace storage {

namespace {

constexpr std::size_t mbr_head_bytes = 16384;
constexpr std::size_t lenient_scan_bytes = 0x100000;  // 1 MiB
constexpr std::size_t mbr_entries_offset = 446;
constexpr std::size_t mbr_entry_size = 16;
constexpr std::size_t ext_superblock_magic = 1080;  // 1024 + 56
// A chain longer than this is damaged or hostile; real disks hold a few
// dozen logical partitions at most.
constexpr std::size_t max_extended_records = 1024;

struct mbr_slot {
  std::uint8_t type = 0;
  std::uint32_t relative_start = 0;  // sectors
  std::uint32_t sector_count = 0;
};

mbr_slot read_slot(std::span<const std::uint8_t> sector, std::size_t index) {
  support::byte_reader reader(sector);
  const std::size_t at = mbr_entries_offset + index * mbr_entry_size;
  mbr_slot slot;
  slot.type = reader.u8(at + 4);
  slot.relative_start = reader.le32(at + 8);
  slot.sector_count = reader.le32(at + 12);
  return reader.ok() ? slot : mbr_slot{};
}

// An entry counts with a known type, or with any type when an NTFS volume
// starts there (a partition hidden or mislabelled by a tool).
bool slot_counts(const mbr_slot& slot, storage::byte_source& source, std::uint64_t start_sector,
                 std::uint32_t sector_size) {
  if (slot.type == 0 || slot.sector_count == 0) return false;
  if (is_known_mbr_type(slot.type)) return true;
  return start_sector <= ~0ULL / sector_size && is_ntfs_boot_sector_at(source, start_sector * sector_size);
}

partition_entry make_entry(std::uint64_t start, std::uint64_t count, std::uint16_t type, std::uint32_t sector_size) {
  partition_entry entry;
  entry.start_sector = start;
  entry.sector_count = count;
  entry.type = type;
  entry.sector_size = sector_size;
  return entry;
}

// The whole source read as one volume (no partition table at all).
bool bare_volume(partition_table& table, std::span<const std::uint8_t> first_bytes) {
  partition_entry entry = make_entry(0, 0, 0, 512);
  guess_file_system(entry, first_bytes);
  table.push_back(std::move(entry));
  return true;
}

// An extended boot record ends in 0x55 0xAA like an MBR; on disks with
// sectors larger than 512 bytes the signature may sit at either place.
bool has_boot_signature(std::span<const std::uint8_t> sector) {
  const auto at = [&](std::size_t offset) { return sector[offset] == 0x55 && sector[offset + 1] == 0xAA; };
  return sector.size() >= 512 && (at(510) || at(sector.size() - 2));
}

// Logical partitions: each extended boot record describes one logical
// partition, relative to the record itself, and links to the next record,
// relative to the start of the extended partition that opened the chain.
void walk_extended_chain(storage::byte_source& source, std::uint64_t extended_start, std::uint32_t sector_size,
                         partition_table& table) {
  std::vector<std::uint8_t> sector(sector_size);
  std::set<std::uint64_t> visited;
  const std::uint64_t disk_sectors = source.size_bytes() / sector_size;
  std::uint64_t record = extended_start;
  for (std::size_t records = 0; records < max_extended_records; ++records) {
    // A link back to a record already read would loop for ever; a link past
    // the disk cannot be read.
    if (record >= disk_sectors || !visited.insert(record).second) return;
    if (source.read_at(record * sector_size, sector.data(), sector.size()) != static_cast<std::int64_t>(sector.size()))
      return;
    if (!has_boot_signature(sector)) return;
    bool linked = false;
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const mbr_slot slot = read_slot(sector, i);
      if (!slot_counts(slot, source, record + slot.relative_start, sector_size)) continue;
      if (is_extended_type(slot.type)) {
        const std::uint64_t link = extended_start + slot.relative_start;
        table.push_back(make_entry(link, slot.sector_count, slot.type, sector_size));
        if (!linked) {
          linked = true;
          next = link;
        }
      } else {
        table.push_back(make_entry(record + slot.relative_start, slot.sector_count, slot.type, sector_size));
      }
    }
    if (!linked) return;
    record = next;
  }
}

// Classifies every entry from its first sector; entries starting past the
// end of the disk are listed as the table gives them.
void classify_entries(storage::byte_source& source, partition_table& table) {
  std::vector<std::uint8_t> first_sector;
  const std::uint64_t disk_bytes = source.size_bytes();
  for (partition_entry& entry : table) {
    const std::uint64_t start = entry.start_bytes();
    if (start >= disk_bytes) continue;
    first_sector.assign(entry.sector_size, 0);
    const std::int64_t got = source.read_at(start, first_sector.data(), first_sector.size());
    if (got <= 0) continue;
    guess_file_system(entry, std::span<const std::uint8_t>(first_sector.data(), static_cast<std::size_t>(got)));
  }
}

// Orders the table by start and fills the gaps between partitions with
// "unalloc" entries. Extended containers overlap their logical partitions
// and do not count as covering anything.
void add_unallocated_gaps(partition_table& table, std::uint32_t sector_size) {
  std::stable_sort(table.begin(), table.end(), [](const partition_entry& a, const partition_entry& b) {
    return a.start_bytes() < b.start_bytes();
  });
  partition_table gaps;
  bool started = false;
  std::uint64_t covered_to = 0;  // bytes
  for (const partition_entry& entry : table) {
    if (is_extended_type(entry.type) || entry.sector_count == 0) continue;
    if (started && entry.start_bytes() > covered_to && entry.start_bytes() - covered_to >= sector_size) {
      partition_entry gap =
          make_entry(covered_to / sector_size, (entry.start_bytes() - covered_to) / sector_size, 0, sector_size);
      gap.name = gap.file_system = "unalloc";
      gaps.push_back(std::move(gap));
    }
    covered_to = started ? std::max(covered_to, entry.end_bytes()) : entry.end_bytes();
    started = true;
  }
  table.insert(table.end(), gaps.begin(), gaps.end());
  std::stable_sort(table.begin(), table.end(), [](const partition_entry& a, const partition_entry& b) {
    return a.start_bytes() < b.start_bytes();
  });
}

// Partitions (other than extended containers) whose first sector, taken
// with `sector_size`, is a volume boot record.
std::size_t boot_records_at(storage::byte_source& source, const partition_table& table, std::uint32_t sector_size) {
  std::array<std::uint8_t, 512> sector{};
  std::size_t found = 0;
  for (const partition_entry& entry : table) {
    if (is_extended_type(entry.type) || entry.start_sector == 0 || entry.start_sector > ~0ULL / sector_size) continue;
    const std::int64_t got = source.read_at(entry.start_sector * sector_size, sector.data(), sector.size());
    if (got == static_cast<std::int64_t>(sector.size()) && is_volume_boot_record(sector)) ++found;
  }
  return found;
}

bool parse_mbr(storage::byte_source& source, std::span<const std::uint8_t> mbr, std::uint64_t base_sector,
               std::uint32_t sector_size, partition_table& table, bool with_pseudo_entries) {
  table.clear();
  std::uint64_t extended_start = 0;
  bool extended = false;
  for (std::size_t i = 0; i < 4; ++i) {
    const mbr_slot slot = read_slot(mbr, i);
    if (slot.type == gpt_protective_type) {
      if (!parse_gpt(source, table, with_pseudo_entries)) return false;
      if (with_pseudo_entries) add_unallocated_gaps(table, table.front().sector_size);
      return true;
    }
    const std::uint64_t start = base_sector + slot.relative_start;
    if (!slot_counts(slot, source, start, sector_size)) continue;
    if (with_pseudo_entries && table.empty()) {
      partition_entry pseudo = make_entry(base_sector, 1, 0, sector_size);
      pseudo.name = pseudo.file_system = "mbr";
      table.push_back(std::move(pseudo));
    }
    table.push_back(make_entry(start, slot.sector_count, slot.type, sector_size));
    // The first extended partition opens the chain of logical partitions,
    // which follow the primary entries; primaries after it still count.
    if (is_extended_type(slot.type) && !extended) {
      extended = true;
      extended_start = start;
    }
  }
  if (extended) walk_extended_chain(source, extended_start, sector_size, table);
  classify_entries(source, table);
  if (with_pseudo_entries && !table.empty()) add_unallocated_gaps(table, sector_size);
  return !table.empty();
}

}  // namespace

bool parse_partitions(storage::byte_source& source, partition_table& table, bool lenient, bool with_pseudo_entries) {
  table.clear();
  std::vector<std::uint8_t> head(mbr_head_bytes, 0);
  const std::int64_t got = source.read_at(0, head.data(), head.size());
  if (got < 512) return false;
  const std::span<const std::uint8_t> bytes(head);

  if (is_mbr_sector(bytes.first(512))) {
    if (!parse_mbr(source, bytes, 0, 512, table, with_pseudo_entries)) return false;
    // A disk with 4096-byte sectors keeps its MBR at 510 like any other: its
    // starts count 4096-byte sectors when no partition holds a boot record
    // at start x 512 but one does at start x 4096.
    if (boot_records_at(source, table, 512) != 0 || table.front().gpt) return true;
    partition_table native;
    if (parse_mbr(source, bytes, 0, 4096, native, with_pseudo_entries) && boot_records_at(source, native, 4096) != 0) {
      table = std::move(native);
    }
    return true;
  }
  if (is_volume_boot_record(bytes)) return bare_volume(table, bytes.first(512));
  // An MBR sector of a disk with larger sectors ends at the end of that sector.
  for (std::uint32_t sector_size = 1024; sector_size <= mbr_head_bytes; sector_size *= 2) {
    if (bytes[sector_size - 2] == 0x55 && bytes[sector_size - 1] == 0xAA)
      return parse_mbr(source, bytes, 0, sector_size, table, with_pseudo_entries);
  }
  support::byte_reader reader(bytes);
  if (reader.le16(ext_superblock_magic) == 0xEF53) return bare_volume(table, bytes.first(2048));
  if (!lenient) return false;

  // A damaged or shifted disk: the first MBR-like sector in the first MiB.
  std::vector<std::uint8_t> scan(lenient_scan_bytes, 0);
  const std::int64_t scanned = source.read_at(0, scan.data(), scan.size());
  for (std::size_t offset = 512; scanned > 0 && offset + 512 <= static_cast<std::size_t>(scanned); offset += 512) {
    const auto sector = std::span<const std::uint8_t>(scan).subspan(offset, 512);
    if (is_mbr_sector(sector)) return parse_mbr(source, sector, offset / 512, 512, table, with_pseudo_entries);
  }
  return false;
}

}  // namespace storage
