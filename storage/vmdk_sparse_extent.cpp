#include "storage/vmdk_sparse_extent.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "support/byte_reader.h"
#include "support/file_io.h"

#ifdef BRINDLE_WITH_ZLIB
#include <zlib.h>
#endif

namespace storage {

namespace {

// Limits that keep a damaged header from asking for absurd amounts of
// memory or from overflowing the offset arithmetic. VMware writes 64 KiB
// grains (always a power of two sectors) and a descriptor of 20 sectors;
// these leave ample room. A grain is inflated whole into memory, so a
// damaged size must not cost hundreds of MiB a read.
constexpr std::uint64_t max_grain_sectors = std::uint64_t{1} << 16;  // 32 MiB grains
constexpr std::uint64_t max_descriptor_sectors = 2048;               // 1 MiB of text
constexpr std::uint64_t entries_per_directory_sector = vmdk_sparse_extent::sector_bytes / 4;

// `sectors` × 512 when that stays within `limit_bytes`.
bool sectors_within(std::uint64_t sectors, std::uint64_t limit_bytes, std::uint64_t& bytes) {
  if (sectors > limit_bytes / vmdk_sparse_extent::sector_bytes) return false;
  bytes = sectors * vmdk_sparse_extent::sector_bytes;
  return true;
}

}  // namespace

vmdk_sparse_extent::~vmdk_sparse_extent() {
  if (m_descriptor_fd >= 0) ::close(m_descriptor_fd);
}

bool vmdk_sparse_extent::open(const std::string& path, std::string& failure) {
  const int descriptor = uni::open_file(path, O_RDONLY, 0404);
  if (descriptor < 0) return false;
  m_descriptor_fd = descriptor;
  const off_t end = ::lseek(descriptor, 0, SEEK_END);
  if (end < 0) return false;
  m_file_size_bytes = static_cast<std::uint64_t>(end);
  return read_metadata(failure);
}

bool vmdk_sparse_extent::read_metadata(std::string& failure) {
  std::array<std::uint8_t, sector_bytes> first_sector{};
  const std::int64_t got = read_file(0, first_sector.data(), first_sector.size());
  if (got <= 0) return false;
  if (!parse_vmdk_extent_header(std::span(first_sector).first(static_cast<std::size_t>(got)), m_header)) return false;

  const vmdk_extent_header& h = m_header;
  if (h.grain_sectors == 0 || h.grain_sectors > max_grain_sectors || (h.grain_sectors & (h.grain_sectors - 1)) != 0 ||
      h.entries_per_table == 0) {
    return false;
  }
  if (h.capacity_sectors > std::numeric_limits<std::uint64_t>::max() / sector_bytes) return false;
  m_grain_bytes = h.grain_sectors * sector_bytes;
  // At most 2^30 × (2^32 − 1): no overflow.
  m_bytes_per_table = m_grain_bytes * h.entries_per_table;

  // The descriptor: text lines inside the file.
  if (h.descriptor_sectors > max_descriptor_sectors) return false;
  std::uint64_t descriptor_offset = 0;
  const std::uint64_t descriptor_length = h.descriptor_sectors * sector_bytes;
  if (!sectors_within(h.descriptor_sector, m_file_size_bytes, descriptor_offset) ||
      descriptor_length > m_file_size_bytes - descriptor_offset) {
    return false;
  }
  std::vector<std::uint8_t> text(static_cast<std::size_t>(descriptor_length));
  if (!read_exactly(descriptor_offset, text.data(), text.size())) return false;
  parse_vmdk_descriptor(text, m_descriptor);

  if (h.compressed()) {
    if (h.compress_algorithm != vmdk_extent_header::compression_deflate) {
      failure = "streamOptimized grains compressed by unknown method " + std::to_string(h.compress_algorithm);
      return false;
    }
#ifndef BRINDLE_WITH_ZLIB
    failure = "streamOptimized VMDK support not built in: install zlib1g-dev and rebuild";
    return false;
#endif
    // The directory written after the grains: its offset is in the footer,
    // a copy of the header in the second-last sector.
    if (h.directory_sector == vmdk_extent_header::directory_at_end) {
      std::array<std::uint8_t, sector_bytes> footer{};
      if (m_file_size_bytes < 3 * sector_bytes ||
          !read_exactly(m_file_size_bytes - 2 * sector_bytes, footer.data(), footer.size())) {
        return false;
      }
      vmdk_extent_header footer_header;
      if (!parse_vmdk_extent_header(footer, footer_header)) return false;
      m_header.directory_sector = footer_header.directory_sector;
    }
  }
  return read_grain_directory();
}

bool vmdk_sparse_extent::read_grain_directory() {
  const vmdk_extent_header& h = m_header;
  const std::uint64_t capacity_bytes = h.capacity_sectors * sector_bytes;
  const std::uint64_t needed_entries =
      capacity_bytes / m_bytes_per_table + (capacity_bytes % m_bytes_per_table != 0 ? 1 : 0);
  const std::uint64_t table_bytes = std::uint64_t{h.entries_per_table} * 4;
  if (h.compressed()) {
    // Stream-optimized: the directory and tables may lie anywhere in the
    // file, after the grains; each must lie inside it.
    std::uint64_t directory_offset = 0;
    if (!sectors_within(h.directory_sector, m_file_size_bytes, directory_offset) || h.directory_sector == 0 ||
        needed_entries * 4 > m_file_size_bytes - directory_offset) {
      return false;
    }
    return read_directory_entries(directory_offset, static_cast<std::size_t>(needed_entries), table_bytes);
  }
  // The metadata area (header, descriptor, directories, tables) starts the
  // file; the grain directory and the first grain table must lie in it.
  std::uint64_t overhead_bytes = 0;
  if (!sectors_within(h.overhead_sectors, m_file_size_bytes, overhead_bytes)) return false;
  if (h.directory_sector >= h.overhead_sectors) return false;
  const std::uint64_t directory_offset = h.directory_sector * sector_bytes;
  std::array<std::uint8_t, 4> first_entry{};
  if (!read_exactly(directory_offset, first_entry.data(), first_entry.size())) return false;
  const std::uint64_t first_table_sector = support::byte_reader(first_entry).le32(0);
  if (first_table_sector <= h.directory_sector || first_table_sector >= h.overhead_sectors) return false;

  // The directory runs from its start up to the first grain table; it has
  // more entries than the capacity needs when its last sector is padded.
  const std::uint64_t room_entries = (first_table_sector - h.directory_sector) * entries_per_directory_sector;
  const std::size_t entries = static_cast<std::size_t>(std::min(room_entries, needed_entries));
  return read_directory_entries(directory_offset, entries, table_bytes);
}

bool vmdk_sparse_extent::read_directory_entries(std::uint64_t directory_offset, std::size_t entries,
                                                std::uint64_t table_bytes) {
  std::vector<std::uint8_t> stored(entries * 4);
  if (!read_exactly(directory_offset, stored.data(), stored.size())) return false;
  support::byte_reader reader(stored);
  m_directory.resize(entries);
  for (std::size_t i = 0; i < entries; ++i) {
    m_directory[i] = reader.le32(i * 4);
    if (m_directory[i] == 0) continue;
    // A grain table cut off by the end of the file means a damaged or
    // truncated disk: refuse it rather than guess at the missing entries.
    const std::uint64_t table_offset = std::uint64_t{m_directory[i]} * sector_bytes;
    if (table_offset > m_file_size_bytes || table_bytes > m_file_size_bytes - table_offset) return false;
  }
  m_tables.assign(entries, {});
  return reader.ok();
}

bool vmdk_sparse_extent::map(std::uint64_t offset, std::uint64_t& file_offset) {
  const std::uint64_t table = offset / m_bytes_per_table;
  if (table >= m_directory.size()) return false;
  const std::size_t t = static_cast<std::size_t>(table);
  if (m_directory[t] == 0) return false;
  if (m_tables[t].empty()) load_grain_table(t);
  const std::uint64_t index = (offset % m_bytes_per_table) / m_grain_bytes;
  if (index >= m_tables[t].size()) return false;
  const std::uint32_t grain_sector = m_tables[t][static_cast<std::size_t>(index)];
  if (grain_sector == 0) return false;
  file_offset = std::uint64_t{grain_sector} * sector_bytes + (compressed() ? 0 : offset % m_grain_bytes);
  return true;
}

void vmdk_sparse_extent::load_grain_table(std::size_t table) {
  const std::size_t entries = m_header.entries_per_table;
  m_table_bytes.resize(entries * 4);
  std::vector<std::uint32_t>& grains = m_tables[table];
  grains.assign(entries, 0);
  // A table that cannot be read (the file changed or the device failed
  // since it was opened) holds no grains: its bytes come from the parent.
  if (!read_exactly(std::uint64_t{m_directory[table]} * sector_bytes, m_table_bytes.data(), m_table_bytes.size())) {
    return;
  }
  support::byte_reader reader(m_table_bytes);
  for (std::size_t i = 0; i < entries; ++i) grains[i] = reader.le32(i * 4);
}

bool vmdk_sparse_extent::read_stored(std::uint64_t file_offset, std::uint64_t offset, std::uint8_t* target,
                                     std::size_t length) {
  if (compressed()) {
    const std::uint64_t inside = offset % m_grain_bytes;
    if (!inflate_grain(file_offset) || inside + length > m_inflated.size()) {
      std::memset(target, 0, length);
      return false;
    }
    std::memcpy(target, m_inflated.data() + inside, length);
    return true;
  }
  std::size_t stored = 0;
  if (file_offset < m_file_size_bytes) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, m_file_size_bytes - file_offset));
    const std::int64_t got = read_file(file_offset, target, wanted);
    stored = got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  if (stored == length) return true;
  std::memset(target + stored, 0, length - stored);
  return false;
}

// A compressed grain: a 12-byte marker (u64 virtual sector, u32 bytes of
// deflated data) and the zlib stream right after it.
bool vmdk_sparse_extent::inflate_grain(std::uint64_t marker_offset) {
  if (marker_offset == m_inflated_marker) return true;
  m_inflated_marker = ~std::uint64_t{0};
  constexpr std::size_t marker_bytes = 12;
  std::array<std::uint8_t, marker_bytes> marker{};
  if (!read_exactly(marker_offset, marker.data(), marker.size())) return false;
  const std::uint32_t deflated_bytes = support::byte_reader(marker).le32(8);
  // Deflate never grows a grain by more than a small fraction.
  if (deflated_bytes == 0 || deflated_bytes > m_grain_bytes + m_grain_bytes / 8 + 1024 ||
      marker_offset + marker_bytes > m_file_size_bytes ||
      deflated_bytes > m_file_size_bytes - marker_offset - marker_bytes) {
    return false;
  }
  m_deflated.resize(deflated_bytes);
  if (!read_exactly(marker_offset + marker_bytes, m_deflated.data(), m_deflated.size())) return false;
  m_inflated.assign(static_cast<std::size_t>(m_grain_bytes), 0);
#ifdef BRINDLE_WITH_ZLIB
  uLongf produced = static_cast<uLongf>(m_inflated.size());
  const int status = ::uncompress(m_inflated.data(), &produced, m_deflated.data(), static_cast<uLong>(deflated_bytes));
  // A grain always fits the buffer, so anything but Z_OK is a damaged stream.
  if (status != Z_OK) return false;
  m_inflated_marker = marker_offset;
  return true;
#else
  return false;
#endif
}

std::int64_t vmdk_sparse_extent::read_file(std::uint64_t offset, std::uint8_t* target, std::size_t length) const {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(m_descriptor_fd, target + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

bool vmdk_sparse_extent::read_exactly(std::uint64_t offset, std::uint8_t* target, std::size_t length) const {
  return read_file(offset, target, length) == static_cast<std::int64_t>(length);
}

}  // namespace storage
