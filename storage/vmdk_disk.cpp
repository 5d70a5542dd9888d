#include "storage/vmdk_disk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/file_io.h"

namespace storage {

namespace {

// A text descriptor is a few hundred bytes; a larger file is no descriptor.
constexpr std::uint64_t max_descriptor_file_bytes = 1 << 20;
constexpr std::size_t max_extents = 100000;

}  // namespace

vmdk_disk::~vmdk_disk() {
  for (const extent& part : m_extents) {
    if (part.flat_descriptor >= 0) ::close(part.flat_descriptor);
  }
}

bool vmdk_disk::open_disk(const uni::wide_string& path) {
  m_wide_path = path;
  m_narrow_path = uni::wide_to_utf8(path);
  struct stat info {};
  if (::stat(m_narrow_path.c_str(), &info) != 0) return false;
  m_device = static_cast<std::uint64_t>(info.st_dev);
  m_inode = static_cast<std::uint64_t>(info.st_ino);
  m_opened_file = true;

  auto sparse = std::make_unique<vmdk_sparse_extent>();
  if (sparse->open(m_narrow_path, m_failure)) {
    // A monolithic disk: the file is its only extent.
    m_descriptor = sparse->descriptor();
    m_capacity_bytes = sparse->capacity_bytes();
    extent whole;
    whole.length = m_capacity_bytes;
    whole.sparse = std::move(sparse);
    m_extents.push_back(std::move(whole));
    m_valid = true;
    return true;
  }
  if (!m_failure.empty()) {
    m_failure = (sparse->descriptor().create_type.empty() ? "" : sparse->descriptor().create_type + ": ") + m_failure;
    return false;
  }
  if (sparse->header().magic == vmdk_extent_header::magic_kdmv) return false;
  m_valid = open_extents(m_narrow_path);
  return m_valid;
}

// A text descriptor and the extents it names, in the order they hold the disk.
bool vmdk_disk::open_extents(const std::string& text_path) {
  std::vector<std::uint8_t> text;
  {
    const int descriptor = uni::open_file(text_path, O_RDONLY, 0404);
    if (descriptor < 0) return false;
    const off_t end = ::lseek(descriptor, 0, SEEK_END);
    if (end > 0 && static_cast<std::uint64_t>(end) <= max_descriptor_file_bytes) {
      text.resize(static_cast<std::size_t>(end));
      if (uni::pread_fully(descriptor, text.data(), text.size(), 0) != end) text.clear();
    }
    ::close(descriptor);
  }
  static constexpr char signature[] = "# Disk DescriptorFile";
  if (text.size() < sizeof signature - 1 || std::memcmp(text.data(), signature, sizeof signature - 1) != 0) return false;
  parse_vmdk_descriptor(text, m_descriptor);
  const std::string subformat = m_descriptor.create_type.empty() ? "VMDK" : m_descriptor.create_type;
  if (m_descriptor.extents.empty() || m_descriptor.extents.size() > max_extents) {
    m_failure = subformat + " descriptor names no extents";
    return false;
  }
  const std::string folder = folder_of(text_path);
  for (const vmdk_extent_line& line : m_descriptor.extents) {
    if (line.sectors > (~std::uint64_t{0} - m_capacity_bytes) / sector_bytes) {
      m_failure = subformat + " extents larger than any disk";
      return false;
    }
    extent part;
    part.start = m_capacity_bytes;
    part.length = line.sectors * sector_bytes;
    const std::string file = line.file.empty() || line.file.front() == '/' ? line.file : folder + "/" + line.file;
    if (!file.empty()) m_extent_files.push_back(file);
    if (line.type == "SPARSE") {
      part.sparse = std::make_unique<vmdk_sparse_extent>();
      std::string failure;
      if (!part.sparse->open(file, failure) || part.sparse->capacity_bytes() < part.length) {
        m_failure = subformat + " extent " + file + (failure.empty() ? " cannot be read" : ": " + failure);
        return false;
      }
    } else if (line.type == "FLAT" || line.type == "VMFS") {
      part.flat_descriptor = uni::open_file(file, O_RDONLY, 0404);
      const off_t end = part.flat_descriptor < 0 ? -1 : ::lseek(part.flat_descriptor, 0, SEEK_END);
      if (end < 0 || line.offset_sectors > static_cast<std::uint64_t>(end) / sector_bytes) {
        if (part.flat_descriptor >= 0) ::close(part.flat_descriptor);
        m_failure = subformat + " extent " + file + " cannot be read";
        return false;
      }
      part.flat_offset = line.offset_sectors * sector_bytes;
      part.flat_file_bytes = static_cast<std::uint64_t>(end);
    } else if (line.type != "ZERO") {
      m_failure = subformat + " extent type " + line.type + " is not read";
      return false;
    }
    m_capacity_bytes += part.length;
    m_extents.push_back(std::move(part));
  }
  return true;
}

bool vmdk_disk::same_file(const vmdk_disk& other) const {
  return m_opened_file && other.m_opened_file && m_device == other.m_device && m_inode == other.m_inode;
}

const vmdk_disk::extent* vmdk_disk::extent_at(std::uint64_t offset, std::size_t& index) const {
  // Extents are few (one per 2 GB): the one whose range holds `offset`.
  const auto found = std::upper_bound(m_extents.begin(), m_extents.end(), offset,
                                      [](std::uint64_t at, const extent& e) { return at < e.start; });
  if (found == m_extents.begin()) return nullptr;
  const extent& part = *(found - 1);
  if (offset - part.start >= part.length) return nullptr;
  index = static_cast<std::size_t>(found - 1 - m_extents.begin());
  return &part;
}

bool vmdk_disk::map(std::uint64_t offset, vmdk_location& where) {
  std::size_t index = 0;
  const extent* part = extent_at(offset, index);
  if (part == nullptr) return false;
  where.extent = index;
  if (part->sparse) return m_extents[index].sparse->map(offset - part->start, where.file_offset);
  if (part->flat_descriptor < 0) return false;  // ZERO
  where.file_offset = part->flat_offset + (offset - part->start);
  return true;
}

std::uint64_t vmdk_disk::bytes_to_grain_end(std::uint64_t offset) const {
  std::size_t index = 0;
  const extent* part = extent_at(offset, index);
  if (part == nullptr) return offset < m_capacity_bytes ? m_capacity_bytes - offset : sector_bytes;
  const std::uint64_t to_extent_end = part->start + part->length - offset;
  if (!part->sparse) return to_extent_end;
  return std::min(to_extent_end, part->sparse->bytes_to_grain_end(offset - part->start));
}

bool vmdk_disk::stored_plainly(const vmdk_location& where) const {
  return !m_extents[where.extent].sparse || !m_extents[where.extent].sparse->compressed();
}

void vmdk_disk::read_stored(const vmdk_location& where, std::uint64_t offset, std::uint8_t* target,
                            std::size_t length) {
  extent& part = m_extents[where.extent];
  if (part.sparse) {
    if (!part.sparse->read_stored(where.file_offset, offset - part.start, target, length)) ++m_unreadable_grains;
    return;
  }
  std::size_t stored = 0;
  if (where.file_offset < part.flat_file_bytes) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, part.flat_file_bytes - where.file_offset));
    const std::int64_t got = uni::pread_fully(part.flat_descriptor, target, wanted, where.file_offset);
    stored = got > 0 ? static_cast<std::size_t>(got) : 0;
  }
  if (stored < length) {
    std::memset(target + stored, 0, length - stored);
    ++m_unreadable_grains;
  }
}

}  // namespace storage
