#include "storage/disk_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "storage/container_open.h"
#include "storage/vmdk_chain.h"
#include "support/file_io.h"

namespace storage {

namespace {

// SCSI-style disk names run /dev/sda .. /dev/sdz; brindle numbers only the
// first twenty drives.
constexpr std::uint32_t drive_count = 20;

}  // namespace

std::string drive_device_path(std::uint32_t drive_number) {
  if (drive_number >= drive_count) return "";
  return std::string("/dev/sd") + static_cast<char>('a' + drive_number);
}

disk_reader::disk_reader(const uni::wide_string& path) : m_wide_path(path), m_narrow_path(uni::wide_to_utf8(path)) {
  try {
    m_container = open_container(m_narrow_path, m_failure);
  } catch (const std::bad_alloc&) {
    m_failure = m_narrow_path + ": not enough memory to map the container";
  }
  if (m_container) {
    m_size_bytes = m_container->size_bytes();
    m_kind = source_kind::container;
    m_opened = true;
    return;
  }
  if (m_failure.empty() && open_descriptor(m_narrow_path)) m_kind = source_kind::file;
}

disk_reader::disk_reader(physical_drive drive) : disk_reader(block_device{drive_device_path(drive.number)}) {
  if (m_opened) m_drive_number = static_cast<std::int32_t>(drive.number);
}

disk_reader::disk_reader(const block_device& device)
    : m_wide_path(uni::to_wide(device.path)), m_narrow_path(device.path) {
  if (device.path.empty()) return;
  if (!open_descriptor(device.path)) {
    const int error = errno;
    std::fprintf(stderr, "prob opening %s, error %d\n", device.path.c_str(), error);
    return;
  }
  m_kind = source_kind::drive;
}

disk_reader::disk_reader(const vmdk_chain_paths& chain) {
  if (chain.paths.empty()) return;
  try {
    auto reader = std::make_unique<vmdk_chain>();
    if (!reader->open_chain(chain.paths) || !reader->link_chain()) return;
    m_wide_path = reader->newest()->path();
    m_narrow_path = reader->newest()->narrow_path();
    m_size_bytes = reader->capacity();
    m_sector_size = 512;
    m_vmdk = std::move(reader);
    m_kind = source_kind::vmdk;
    m_opened = true;
  } catch (const std::bad_alloc&) {
    // A chain too large to map leaves the source closed, like a bad one.
  }
}

std::uint64_t disk_reader::unreadable_count() const {
  std::uint64_t count = m_failed_reads;
  if (m_container) count += m_container->unreadable_pieces();
  if (m_vmdk) count += m_vmdk->unreadable_grains();
  return count;
}

disk_reader::~disk_reader() {
  if (m_descriptor >= 0) ::close(m_descriptor);
}

bool disk_reader::open_descriptor(const std::string& utf8_path) {
  // Read-only by construction; open_file adds O_NONBLOCK for the open itself
  // and refuses FIFOs and sockets, so a pipe given as an image cannot hang us.
  const int descriptor = uni::open_file(utf8_path, O_RDONLY, 0404);
  if (descriptor < 0) return false;
  // A seek to the end gives the byte size of files and block devices alike.
  const off_t end = ::lseek(descriptor, 0, SEEK_END);
  if (end < 0 || ::lseek(descriptor, 0, SEEK_SET) < 0) {
    const int saved = errno;
    ::close(descriptor);
    errno = saved;
    return false;
  }
  m_descriptor = descriptor;
  m_size_bytes = static_cast<std::uint64_t>(end);
  m_sector_size = 512;
  m_opened = true;
  return true;
}

std::int64_t disk_reader::read_fully(std::uint64_t offset, std::uint8_t* target, std::size_t length) const {
  return uni::pread_fully(m_descriptor, target, length, offset);
}

bool disk_reader::read(void* buffer, std::size_t& length, std::uint64_t offset) {
  if (buffer == nullptr || !m_opened || length == 0 || offset >= m_size_bytes) return false;
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_size_bytes - offset));
  auto* target = static_cast<std::uint8_t*>(buffer);
  switch (m_kind) {
    case source_kind::file: {
      const std::int64_t got = read_fully(offset, target, length);
      if (got < 0) {
        ++m_failed_reads;
        return false;
      }
      length = static_cast<std::size_t>(got);
      return true;
    }
    case source_kind::drive:
      if (read_sectors(target, length, offset)) return true;
      ++m_failed_reads;
      return false;
    case source_kind::container: {
      const std::int64_t got = m_container->read_at(offset, target, length);
      if (got <= 0) return false;
      length = static_cast<std::size_t>(got);
      return true;
    }
    case source_kind::vmdk:
      return m_vmdk->read(target, length, offset);
    default:
      return false;
  }
}

// Devices opened for direct access insist on transfers of whole sectors at
// sector boundaries, so an unaligned request reads the sectors covering it
// and copies the wanted bytes out.
bool disk_reader::read_sectors(std::uint8_t* target, std::size_t& length, std::uint64_t offset) {
  const std::uint64_t lead = offset % m_sector_size;
  if (lead == 0 && length % m_sector_size == 0) {
    const std::int64_t got = read_fully(offset, target, length);
    if (got <= 0) return false;
    length = static_cast<std::size_t>(got);
    return true;
  }
  const std::size_t span =
      static_cast<std::size_t>((lead + length + m_sector_size - 1) / m_sector_size * m_sector_size);
  if (m_sector_buffer.size() < span) m_sector_buffer.resize(span);
  const std::int64_t got = read_fully(offset - lead, m_sector_buffer.data(), span);
  if (got <= static_cast<std::int64_t>(lead)) return false;
  length = std::min(length, static_cast<std::size_t>(got) - static_cast<std::size_t>(lead));
  std::memcpy(target, m_sector_buffer.data() + lead, length);
  return true;
}

std::int64_t disk_reader::read_at(std::uint64_t offset, void* buffer, std::size_t length) {
  if (!m_opened || buffer == nullptr) return -1;
  if (length == 0 || offset >= m_size_bytes) return 0;
  std::size_t count = length;
  if (!read(buffer, count, offset)) return -1;
  return static_cast<std::int64_t>(count);
}

}  // namespace storage
