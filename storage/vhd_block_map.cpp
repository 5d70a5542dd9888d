#include "storage/vhd_block_map.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sys/stat.h>

#include "support/byte_reader.h"
#include "support/file_io.h"

namespace storage {

namespace {

// Footer fields (byte offsets within its 512 bytes).
namespace footer_offset {
constexpr std::size_t data_offset = 16;  // 64-bit: where the dynamic header is
constexpr std::size_t disk_type = 60;
}  // namespace footer_offset
// Dynamic disk header fields (within its 1024 bytes).
namespace header_offset {
constexpr std::size_t table_offset = 16;  // 64-bit byte offset of the allocation table
constexpr std::size_t max_table_entries = 28;
constexpr std::size_t block_size = 32;  // bytes
}  // namespace header_offset
constexpr std::uint32_t disk_type_differencing = 4;
constexpr std::uint32_t block_not_held = 0xFFFFFFFF;
// Block sizes seen in the field are 512 KiB to 2 MiB; the format allows any
// power of two, and this bound keeps one bitmap to a few sectors.
constexpr std::uint64_t max_block_bytes = std::uint64_t{1} << 28;

bool read_exactly(int descriptor, std::uint8_t* target, std::size_t length, std::uint64_t offset) {
  return uni::pread_fully(descriptor, target, length, offset) == static_cast<std::int64_t>(length);
}

}  // namespace

bool vhd_block_map::load(int descriptor, const std::string& path, std::string& failure) {
  m_descriptor = descriptor;
  struct stat status {};
  std::array<std::uint8_t, 512> footer{};
  std::array<std::uint8_t, 1024> header{};
  if (::fstat(descriptor, &status) != 0 || status.st_size < 512 ||
      !read_exactly(descriptor, footer.data(), footer.size(), static_cast<std::uint64_t>(status.st_size) - 512) ||
      std::memcmp(footer.data(), "conectix", 8) != 0) {
    failure = path + ": no VHD footer in its last 512 bytes";
    return false;
  }
  support::byte_reader f(footer);
  if (f.be32(footer_offset::disk_type) != disk_type_differencing) {
    failure = path + ": not a VHD differencing disk";
    return false;
  }
  const std::uint64_t header_at = f.be64(footer_offset::data_offset);
  if (!read_exactly(descriptor, header.data(), header.size(), header_at) ||
      std::memcmp(header.data(), "cxsparse", 8) != 0) {
    failure = path + ": no dynamic disk header at byte " + std::to_string(header_at);
    return false;
  }
  support::byte_reader h(header);
  const std::uint64_t block_bytes = h.be32(header_offset::block_size);
  const std::uint64_t entries = h.be32(header_offset::max_table_entries);
  const std::uint64_t table_at = h.be64(header_offset::table_offset);
  if (block_bytes < sector_bytes || block_bytes > max_block_bytes || (block_bytes & (block_bytes - 1)) != 0) {
    failure = path + ": unusable block size " + std::to_string(block_bytes) + " in the dynamic disk header";
    return false;
  }
  m_block_sectors = block_bytes / sector_bytes;
  m_bitmap_bytes = (m_block_sectors / 8 + sector_bytes - 1) / sector_bytes * sector_bytes;
  std::vector<std::uint8_t> table(entries * 4);
  if (entries * 4 > static_cast<std::uint64_t>(status.st_size) ||
      !read_exactly(descriptor, table.data(), table.size(), table_at)) {
    failure = path + ": the block allocation table (" + std::to_string(entries) + " entries at byte " +
              std::to_string(table_at) + ") cannot be read";
    return false;
  }
  support::byte_reader t(table);
  m_table.resize(entries);
  for (std::size_t i = 0; i < entries; ++i) m_table[i] = t.be32(4 * i);
  return true;
}

const std::vector<std::uint8_t>* vhd_block_map::bitmap_of(std::uint64_t block) {
  cached_bitmap& slot = m_bitmaps[block % m_bitmaps.size()];
  if (slot.block == block) return &slot.bytes;
  slot.block = ~std::uint64_t{0};
  slot.bytes.resize(m_bitmap_bytes);
  if (!read_exactly(m_descriptor, slot.bytes.data(), slot.bytes.size(), std::uint64_t{m_table[block]} * sector_bytes)) {
    return nullptr;
  }
  slot.block = block;
  return &slot.bytes;
}

std::uint64_t vhd_block_map::run_at(std::uint64_t sector, std::uint64_t count, bool& held) {
  const std::uint64_t block = sector / m_block_sectors;
  const std::uint64_t first = sector % m_block_sectors;
  const std::uint64_t in_block = std::min(count, m_block_sectors - first);
  held = false;
  if (block >= m_table.size() || m_table[block] == block_not_held) return in_block;
  const std::vector<std::uint8_t>* bitmap = bitmap_of(block);
  if (bitmap == nullptr) return 0;
  const auto bit = [&](std::uint64_t i) { return ((*bitmap)[i / 8] >> (7 - i % 8) & 1) != 0; };
  held = bit(first);
  std::uint64_t run = 1;
  while (run < in_block && bit(first + run) == held) ++run;
  return run;
}

}  // namespace storage
