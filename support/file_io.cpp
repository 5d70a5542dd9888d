#include "support/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace uni {

std::int64_t pread_fully(int descriptor, std::uint8_t* target, std::size_t length, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::pread(descriptor, target + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

bool file_exists(const std::string& utf8_path) {
  struct stat info {};
  return ::stat(utf8_path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

int open_file(const std::string& utf8_path, int flags, unsigned permission_bits) {
  if (utf8_path.empty()) return -1;
  const int descriptor = ::open(utf8_path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, permission_bits);
  if (descriptor < 0) return -1;
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    ::close(descriptor);
    return -1;
  }
  // Non-blocking mode was only wanted for the open itself.
  const int current = ::fcntl(descriptor, F_GETFL);
  if (current >= 0) ::fcntl(descriptor, F_SETFL, current & ~O_NONBLOCK);
  return descriptor;
}

fileio::fileio(std::vector<std::uint8_t> memory)
    : m_size_bytes(memory.size()), m_opened(true), m_memory_mode(true), m_memory(std::move(memory)) {}

fileio::~fileio() { close(); }

bool fileio::open(const wide_string& path, bool write) {
  close();
  const std::string utf8 = wide_to_utf8(path);
  const int descriptor = write ? open_file(utf8, O_RDWR, 0606) : open_file(utf8, O_RDONLY, 0404);
  if (descriptor < 0) return false;
  m_descriptor = descriptor;
  m_path = path;
  m_write = write;
  m_opened = true;
  m_position = 0;
  const off_t end = ::lseek(descriptor, 0, SEEK_END);
  if (end < 0) {
    // Files under /proc refuse to seek to their end.
    m_size_bytes = (errno == EINVAL && utf8.find("/proc") == std::string::npos) ? 0x40000 : 0;
  } else {
    m_size_bytes = static_cast<std::uint64_t>(end);
  }
  ::lseek(descriptor, 0, SEEK_SET);
  return true;
}

void fileio::close() {
  if (m_descriptor >= 0) ::close(m_descriptor);
  m_descriptor = -1;
  if (!m_memory_mode) m_opened = false;
}

std::int64_t fileio::read_at(std::uint64_t offset, void* buffer, std::size_t length) const {
  if (!m_opened) return -1;
  if (m_memory_mode) {
    if (offset >= m_memory.size()) return 0;
    const std::size_t count = std::min<std::size_t>(length, m_memory.size() - offset);
    std::memcpy(buffer, m_memory.data() + offset, count);
    return static_cast<std::int64_t>(count);
  }
  return pread_fully(m_descriptor, static_cast<std::uint8_t*>(buffer), length, offset);
}

bool fileio::seek(std::int64_t offset, origin from) {
  if (!m_opened) return false;
  std::int64_t base = 0;
  if (from == origin::current) base = static_cast<std::int64_t>(m_position);
  if (from == origin::end) base = static_cast<std::int64_t>(m_size_bytes);
  const std::int64_t target = base + offset;
  if (target < 0) return false;
  m_position = static_cast<std::uint64_t>(target);
  return true;
}

void fileio::advise_sequential() const {
  if (m_descriptor >= 0) ::posix_fadvise(m_descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::int64_t fileio::read(void* buffer, std::size_t length) {
  const std::int64_t got = read_at(m_position, buffer, length);
  if (got > 0) m_position += static_cast<std::uint64_t>(got);
  return got;
}

ofstream::ofstream(const wide_string& path, std::ios_base::openmode mode)
    : std::ofstream(wide_to_utf8(path), mode) {}

void ofstream::open(const wide_string& path) {
  std::ofstream::open(wide_to_utf8(path), std::ios_base::out | std::ios_base::trunc | std::ios_base::binary);
}

std::size_t trim_line_end(std::string& line) {
  std::size_t removed = 0;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
    line.pop_back();
    ++removed;
  }
  return removed;
}

}  // namespace uni
