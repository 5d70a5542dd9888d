// File objects under every source and output file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "support/utf.h"

namespace uni {

// The one open routine for images, devices, $MFT files and output files.
// Adds O_NONBLOCK so that a FIFO given as a source can never block the run,
// then refuses FIFOs and sockets. Returns the descriptor or -1.
int open_file(const std::string& utf8_path, int flags, unsigned permission_bits);

// True when `utf8_path` names something that is not a folder.
bool file_exists(const std::string& utf8_path);

// pread until `length` bytes are in, the end of the file, or an error;
// interrupted calls are retried. The bytes read, or -1 when the first call
// fails.
std::int64_t pread_fully(int descriptor, std::uint8_t* target, std::size_t length, std::uint64_t offset);

// A file read by offset (pread), or a memory buffer with the same interface.
// Sources are always opened read-only.
class fileio {
 public:
  fileio() = default;
  explicit fileio(std::vector<std::uint8_t> memory);
  virtual ~fileio();
  fileio(const fileio&) = delete;
  fileio& operator=(const fileio&) = delete;

  bool open(const wide_string& path, bool write = false);
  void close();
  bool is_open() const { return m_opened; }
  const wide_string& path() const { return m_path; }

  // Size in bytes, found by seeking to the end (works for block devices).
  std::uint64_t size() const { return m_size_bytes; }

  // Reads up to `length` bytes at `offset`; returns the count read (short at
  // the end of the file), or -1 on an I/O error.
  std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t length) const;

  // Stream-style access over the same object.
  enum class origin { start, current, end };
  bool seek(std::int64_t offset, origin from);
  std::uint64_t position() const { return m_position; }
  std::int64_t read(void* buffer, std::size_t length);

  // Tells the system the file will be read front to back (larger read-ahead).
  void advise_sequential() const;

 private:
  wide_string m_path;
  int m_descriptor = -1;
  std::uint64_t m_size_bytes = 0;
  std::uint64_t m_position = 0;
  bool m_opened = false;
  bool m_write = false;
  bool m_memory_mode = false;
  std::vector<std::uint8_t> m_memory;
};

// An output file stream over a wide path (converted to UTF-8 to open it).
class ofstream : public std::ofstream {
 public:
  ofstream() = default;
  ofstream(const wide_string& path, std::ios_base::openmode mode);
  virtual ~ofstream() = default;
  void open(const wide_string& path);
};

// A stream that drops everything written to it.
class basic_nullbuf : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class basic_nullstream : public std::ostream {
 public:
  basic_nullstream() : std::ostream(&m_buffer) {}

 private:
  basic_nullbuf m_buffer;
};

// Number of trailing CR and LF characters removed from `line`.
std::size_t trim_line_end(std::string& line);

}  // namespace uni
