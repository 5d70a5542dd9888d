#include "storage/gpt_table.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "storage/file_system_guess.h"
#include "storage/partition_types.h"
#include "support/byte_reader.h"
#include "support/utf.h"

namespace storage {

namespace {

// GPT header fields (offsets into LBA 1).
constexpr std::size_t header_my_lba = 24;
constexpr std::size_t header_entries_lba = 72;
constexpr std::size_t header_entry_count = 80;
constexpr std::size_t header_entry_size = 84;
constexpr std::size_t header_length = 92;

// Partition entry fields.
constexpr std::size_t entry_type_id = 0;
constexpr std::size_t entry_unique_id = 16;
constexpr std::size_t entry_first_lba = 32;
constexpr std::size_t entry_last_lba = 40;
constexpr std::size_t entry_attributes = 48;
constexpr std::size_t entry_name = 56;
constexpr std::size_t entry_name_bytes = 72;  // 36 UTF-16 code units
constexpr std::size_t min_entry_size = 128;
constexpr std::size_t max_entry_size = 4096;

constexpr std::size_t gpt_head_bytes = 32768;
constexpr std::uint64_t classify_bytes = 2048;
constexpr std::size_t chunk_bytes = 64 * 1024;

// The name field: UTF-16LE up to the first NUL unit. Unpaired surrogates
// become U+FFFD so that a damaged name still shows what it can.
std::string gpt_name(std::span<const std::uint8_t> field) {
  uni::wide_string name;
  for (std::size_t i = 0; i + 1 < field.size(); i += 2) {
    char32_t unit = static_cast<char32_t>(field[i] | (field[i + 1] << 8));
    if (unit == 0) break;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < field.size()) {
      const char32_t low = static_cast<char32_t>(field[i + 2] | (field[i + 3] << 8));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        name.push_back(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    name.push_back(unit);
  }
  return uni::wide_to_utf8(name);
}

partition_entry pseudo_entry(std::uint64_t start, std::uint64_t count, std::uint32_t sector_size, const char* label) {
  partition_entry entry;
  entry.start_sector = start;
  entry.sector_count = count;
  entry.type = gpt_protective_type;
  entry.sector_size = sector_size;
  entry.gpt = true;
  entry.name = label;
  entry.file_system = label;
  return entry;
}

// The sector size is where the protective MBR's 0x55 0xAA sits; a disk with
// 4096-byte sectors still has it at 510, so the header is looked for at each
// larger power of two as well.
std::uint32_t find_header(std::span<const std::uint8_t> head) {
  std::uint32_t first = 0;
  for (std::uint32_t size = 512; size <= 16384; size *= 2) {
    if (head[size - 2] == 0x55 && head[size - 1] == 0xAA) {
      first = size;
      break;
    }
  }
  if (first == 0) return 0;
  for (std::uint32_t size = first; size <= 16384; size *= 2) {
    support::byte_reader header(head.subspan(size, header_length));
    if (std::memcmp(head.data() + size, "EFI PART", 8) == 0 && header.le64(header_my_lba) == 1) return size;
  }
  return 0;
}

}  // namespace

bool parse_gpt(storage::byte_source& source, partition_table& table, bool with_pseudo_entries) {
  table.clear();
  const std::uint64_t disk_bytes = source.size_bytes();
  std::vector<std::uint8_t> head(gpt_head_bytes, 0);
  if (source.read_at(0, head.data(), head.size()) < 1024) return false;
  const std::uint32_t sector_size = find_header(head);
  if (sector_size == 0) return false;

  support::byte_reader header(std::span<const std::uint8_t>(head).subspan(sector_size, header_length));
  const std::uint64_t array_lba = header.le64(header_entries_lba);
  const std::uint32_t claimed_entries = header.le32(header_entry_count);
  const std::uint32_t entry_size = header.le32(header_entry_size);
  if (!header.ok() || entry_size < min_entry_size || entry_size > max_entry_size || entry_size % 8 != 0) return false;
  if (array_lba == 0 || array_lba > disk_bytes / sector_size) return false;
  const std::uint64_t array_offset = array_lba * sector_size;
  // Only whole entries inside the disk are read, and never more than
  // max_gpt_entries, whatever count the header gives.
  const std::uint64_t entries_on_disk = (disk_bytes - array_offset) / entry_size;
  if (entries_on_disk == 0) return false;
  const std::uint64_t entry_count = std::min<std::uint64_t>({claimed_entries, entries_on_disk, max_gpt_entries});

  if (with_pseudo_entries) {
    table.push_back(pseudo_entry(0, 1, sector_size, "mbr"));
    table.push_back(pseudo_entry(1, 1, sector_size, "gpt header"));
    table.push_back(pseudo_entry(2, 32, sector_size, "gpt partition entries"));
  }

  const std::size_t entries_per_chunk = chunk_bytes / entry_size;
  std::vector<std::uint8_t> chunk(entries_per_chunk * entry_size);
  std::array<std::uint8_t, classify_bytes> first_bytes{};
  for (std::uint64_t first_entry = 0; first_entry < entry_count; first_entry += entries_per_chunk) {
    const auto in_chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(entries_per_chunk, entry_count - first_entry));
    const std::size_t want = in_chunk * entry_size;
    if (source.read_at(array_offset + first_entry * entry_size, chunk.data(), want) != static_cast<std::int64_t>(want))
      break;
    for (std::size_t i = 0; i < in_chunk; ++i) {
      support::byte_reader raw(std::span<const std::uint8_t>(chunk).subspan(i * entry_size, entry_size));
      const auto type_id = raw.sub(entry_type_id, 16);
      if (std::all_of(type_id.begin(), type_id.end(), [](std::uint8_t b) { return b == 0; })) continue;
      const std::uint64_t first_lba = raw.le64(entry_first_lba);
      const std::uint64_t last_lba = raw.le64(entry_last_lba);
      // Reject ranges that are reversed or whose byte offsets overflow.
      if (last_lba < first_lba || last_lba >= std::numeric_limits<std::uint64_t>::max() / sector_size) continue;

      partition_entry entry;
      entry.start_sector = first_lba;
      entry.sector_count = last_lba + 1 - first_lba;
      entry.type = gpt_protective_type;
      entry.sector_size = sector_size;
      entry.gpt = true;
      std::copy(type_id.begin(), type_id.end(), entry.gpt_type_id.begin());
      const auto unique_id = raw.sub(entry_unique_id, 16);
      std::copy(unique_id.begin(), unique_id.end(), entry.gpt_unique_id.begin());
      entry.attributes = raw.le64(entry_attributes);
      entry.name = gpt_name(raw.sub(entry_name, entry_name_bytes));
      if (!raw.ok()) continue;

      const std::uint64_t start_bytes = entry.start_bytes();
      if (start_bytes < disk_bytes) {
        const auto length = static_cast<std::size_t>(std::min(classify_bytes, entry.sector_count * sector_size));
        const std::int64_t got = source.read_at(start_bytes, first_bytes.data(), length);
        if (got > 0)
          guess_file_system(entry, std::span<const std::uint8_t>(first_bytes.data(), static_cast<std::size_t>(got)));
      }
      table.push_back(std::move(entry));
    }
  }
  return !table.empty();
}

}  // namespace storage
