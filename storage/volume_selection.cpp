#include "storage/volume_selection.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "storage/file_system_guess.h"
#include "storage/partition_table.h"
#include "storage/partition_types.h"

namespace storage {

namespace {

// "0x" and lower-case hex digits without leading zeros.
std::string hex(std::uint64_t value) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, 16);
  return "0x" + std::string(digits, result.ptr);
}

// The partition's end lies within `size_bytes`; a length too large to be
// expressed in bytes never does.
bool source_holds(const partition_entry& entry, std::uint64_t size_bytes) {
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / entry.sector_size;
  if (entry.start_sector > limit || entry.sector_count > limit - entry.start_sector) return false;
  return size_bytes >= entry.end_bytes();
}

}  // namespace

bool select_volume(std::string& report, bool& found, std::uint64_t& volume_offset, storage::byte_source& source,
                   bool ignore_image_size) {
  found = false;
  const std::uint64_t requested = volume_offset;
  const std::uint64_t size = source.size_bytes();
  if (size < requested) {
    report += "volume offset " + hex(requested) + " is not within image bounds\n";
    return false;
  }

  partition_table table;
  if (!parse_partitions(source, table, false, false)) {
    if (is_ntfs_at(source, 0)) {
      found = true;
      volume_offset = 0;
      return true;
    }
    // No table at all, but the examiner named the offset of an NTFS boot
    // sector (a volume carved out of a larger capture): take it.
    if (requested != 0 && is_ntfs_at(source, requested)) {
      found = true;
      return true;
    }
    if (!parse_partitions(source, table, true, false)) {
      report += "couldn't find any partitions on disk\n";
      return false;
    }
    report += "disk is corrupted, partition info questionable\n";
  }
  if (table.empty()) {
    report += "couldn't find any partitions on disk.\n";
    return false;
  }

  // A volume the table does not list (a deleted partition, or one only the
  // examiner knows of) is taken when the given offset holds an NTFS boot
  // sector.
  const bool listed = std::any_of(table.begin(), table.end(),
                                  [&](const partition_entry& entry) { return entry.start_bytes() == requested; });
  if (requested != 0 && !listed && is_ntfs_boot_sector_at(source, requested)) {
    found = true;
    return true;
  }

  std::uint64_t suggestion = 0;  // the last NTFS partition seen away from byte 0
  for (const partition_entry& entry : table) {
    const std::uint64_t offset = entry.start_bytes();
    const std::string name = partition_type_name(entry.type);
    const bool is_ntfs = name.find("ntfs") != std::string::npos;
    if (offset == requested) {
      if (!is_ntfs) {
        report += "volume offset selected " + hex(requested) + " is not a NTFS partition, but [" + name + "]\n";
        break;
      }
      found = true;
      if (ignore_image_size || source_holds(entry, size)) return true;
      report += "volume offset " + hex(requested) +
                " is a NTFS partition, however image size does not encapsulate entire volume\n";
      return false;
    }
    if (is_ntfs) {
      found = true;
      if (offset != 0) suggestion = offset;
      if (size < offset) report += "volume offset " + hex(offset) + " is not within image bounds\n";
    }
  }

  report += "\n";
  for (const partition_entry& entry : table) {
    report += "volume offset [ " + hex(entry.start_bytes()) + " ] : " + partition_type_name(entry.type) + "\n";
  }
  report += "\n";
  if (suggestion != 0) {
    volume_offset = suggestion;
    report += "use option [-offset " + hex(suggestion) + "]\n";
  } else {
    report += "prob detecting ntfs partition\n";
  }
  return false;
}

bool select_volume(std::string& report, bool& found, std::uint64_t& volume_offset, disk_reader& reader,
                   bool ignore_image_size) {
  found = false;
  if (!reader.is_open()) return false;
  return select_volume(report, found, volume_offset, static_cast<storage::byte_source&>(reader), ignore_image_size);
}

}  // namespace storage
