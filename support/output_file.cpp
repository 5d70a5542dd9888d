#include "support/output_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/interrupt_cleanup.h"

namespace support {

namespace {

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t creation_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void report_write_failure(const std::string& path, int error_number) {
  std::fprintf(stderr, "error: writing %s: %s\n", path.c_str(), std::strerror(error_number));
}

output_file::descriptor_buffer::descriptor_buffer(output_file& owner) : m_owner(owner) {
  setp(m_bytes, m_bytes + sizeof m_bytes);
}

bool output_file::descriptor_buffer::drain() {
  const std::size_t length = static_cast<std::size_t>(pptr() - pbase());
  setp(m_bytes, m_bytes + sizeof m_bytes);
  return length == 0 || m_owner.write_all(m_bytes, length);
}

int output_file::descriptor_buffer::sync() { return drain() ? 0 : -1; }

output_file::descriptor_buffer::int_type output_file::descriptor_buffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize output_file::descriptor_buffer::xsputn(const char* bytes, std::streamsize count) {
  const std::size_t length = static_cast<std::size_t>(count);
  if (length <= static_cast<std::size_t>(epptr() - pptr())) {
    std::memcpy(pptr(), bytes, length);
    pbump(static_cast<int>(length));
    return count;
  }
  if (!drain() || !m_owner.write_all(bytes, length)) return 0;
  return count;
}

output_file::output_file() : m_buffer(*this), m_stream(&m_buffer) {}

output_file::~output_file() { abandon(); }

std::uint64_t output_file::append_file(int descriptor, std::uint64_t offset_bytes) {
  if (!m_stream.flush() || m_error != 0) return 0;
  constexpr std::size_t chunk_bytes = std::size_t{1} << 30;
  std::uint64_t appended = 0;
  auto from = static_cast<off_t>(offset_bytes);
  // copy_file_range needs two regular files on one file system; sendfile
  // writes to anything; plain reads and writes are the last resort.
  bool in_kernel_copy = true;
  bool send = true;
  for (;;) {
    ssize_t moved = -1;
    if (in_kernel_copy) {
      moved = ::copy_file_range(descriptor, &from, m_descriptor, nullptr, chunk_bytes, 0);
      if (moved < 0 && errno != EINTR) {
        in_kernel_copy = false;
        continue;
      }
    } else if (send) {
      moved = ::sendfile(m_descriptor, descriptor, &from, chunk_bytes);
      if (moved < 0 && (errno == EINVAL || errno == ENOSYS)) {
        send = false;
        continue;
      }
    } else {
      char bytes[1 << 16];
      moved = ::pread(descriptor, bytes, sizeof bytes, from);
      if (moved > 0 && !write_all(bytes, static_cast<std::size_t>(moved))) return appended;
      if (moved > 0) from += moved;
    }
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) {
      m_error = errno;
      return appended;
    }
    if (moved == 0) return appended;
    appended += static_cast<std::uint64_t>(moved);
  }
}

std::uint64_t output_file::append_pipe(int descriptor, std::uint64_t length_bytes) {
  if (!m_stream.flush() || m_error != 0) return 0;
  std::uint64_t appended = 0;
  // splice copies into a regular file, but into a pipe it would only pass
  // on references to the writer's pages (which the writer may reuse once
  // this returns); it also refuses a file opened for appending. Otherwise
  // the bytes go through this process.
  struct stat target {};
  bool splice_possible = ::fstat(m_descriptor, &target) == 0 && S_ISREG(target.st_mode);
  char bytes[1 << 16];
  while (appended < length_bytes) {
    const std::uint64_t left = length_bytes - appended;
    ssize_t moved = -1;
    if (splice_possible) {
      moved = ::splice(descriptor, nullptr, m_descriptor, nullptr, static_cast<std::size_t>(std::min<std::uint64_t>(left, 1u << 30)),
                       SPLICE_F_MOVE);
      if (moved < 0 && errno == EINVAL) {
        splice_possible = false;
        continue;
      }
      if (moved < 0 && errno != EINTR) {
        m_error = errno;
        return appended;
      }
    } else {
      moved = ::read(descriptor, bytes, static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof bytes)));
      if (moved > 0 && !write_all(bytes, static_cast<std::size_t>(moved))) return appended;
      if (moved < 0 && errno != EINTR) return appended;
    }
    if (moved < 0) continue;  // interrupted
    if (moved == 0) return appended;
    appended += static_cast<std::uint64_t>(moved);
  }
  return appended;
}

int output_file::placement_descriptor(std::uint64_t& offset_bytes) {
  if (!m_stream.flush() || m_error != 0) return -1;
  struct stat target {};
  if (::fstat(m_descriptor, &target) != 0 || !S_ISREG(target.st_mode)) return -1;
  if (m_append) {
    // An appending descriptor sends every write to the end, whatever its
    // offset. This run is the file's only writer, so it places its bytes
    // after the end it finds instead; abandon() still cuts them off.
    const int flags = ::fcntl(m_descriptor, F_GETFL);
    if (flags < 0 || ::fcntl(m_descriptor, F_SETFL, flags & ~O_APPEND) != 0) return -1;
    offset_bytes = static_cast<std::uint64_t>(target.st_size);
    return m_descriptor;
  }
  const off_t at = ::lseek(m_descriptor, 0, SEEK_CUR);
  if (at < 0) return -1;
  offset_bytes = static_cast<std::uint64_t>(at);
  return m_descriptor;
}

bool output_file::write_all(const char* bytes, std::size_t length) {
  if (m_error != 0) return false;
  while (length > 0) {
    const ssize_t written = ::write(m_descriptor, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      m_error = written < 0 ? errno : ENOSPC;
      return false;
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool output_file::open(const std::string& path, bool append) {
  m_path = path;
  m_append = append;
  m_error = 0;
  struct stat status {};
  const bool exists = ::stat(path.c_str(), &status) == 0;
  if (append || (exists && !S_ISREG(status.st_mode))) {
    // In place: a device, a FIFO or an appended file. Never truncated.
    m_descriptor = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (append ? O_APPEND | O_CREAT : 0), 0666);
    if (m_descriptor < 0) {
      m_error = errno;
      return false;
    }
    m_owns_descriptor = true;
    struct stat opened {};
    if (append && ::fstat(m_descriptor, &opened) == 0 && S_ISREG(opened.st_mode)) m_append_from = opened.st_size;
    return true;
  }
  // A link is followed: the file it names gets the new content.
  m_final = path;
  if (exists) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) m_final = resolved;
  }
  std::string pattern = folder_of(m_final) + "/." + name_of(m_final) + ".XXXXXX";
  m_descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (m_descriptor < 0) {
    m_error = errno;
    return false;
  }
  m_temporary = pattern;
  m_owns_descriptor = true;
  m_interrupt_slot = remove_on_interrupt(m_temporary);
  ::fchmod(m_descriptor, exists ? status.st_mode & 07777 : creation_mode());
  return true;
}

void output_file::open_standard_output() {
  m_path = "standard output";
  m_descriptor = STDOUT_FILENO;
  m_owns_descriptor = false;
}

void output_file::close_descriptor() {
  if (m_owns_descriptor && m_descriptor >= 0 && ::close(m_descriptor) != 0 && m_error == 0) m_error = errno;
  m_descriptor = -1;
  m_owns_descriptor = false;
}

bool output_file::commit() {
  if (m_descriptor < 0) return m_error == 0;
  m_stream.flush();
  close_descriptor();
  if (m_error == 0 && !m_temporary.empty() && ::rename(m_temporary.c_str(), m_final.c_str()) != 0) m_error = errno;
  if (m_error != 0) {
    abandon();
    return false;
  }
  forget_on_interrupt(m_interrupt_slot);
  m_interrupt_slot = -1;
  m_temporary.clear();
  m_append_from = -1;
  return true;
}

void output_file::abandon() {
  close_descriptor();
  if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
  forget_on_interrupt(m_interrupt_slot);
  m_interrupt_slot = -1;
  m_temporary.clear();
  if (m_append_from >= 0 && ::truncate(m_path.c_str(), m_append_from) != 0) {
    // The appended lines stay; nothing else can be done about it.
  }
  m_append_from = -1;
}

}  // namespace support
