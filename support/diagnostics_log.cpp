#include "support/diagnostics_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace support {

diagnostics_log::~diagnostics_log() { close(); }

bool diagnostics_log::open(const std::string& utf8_path) {
  close();
  m_path = utf8_path;
  m_error = 0;
  m_file = std::fopen(utf8_path.c_str(), "wb");
  return m_file != nullptr;
}

void diagnostics_log::close() { close_checked(); }

int diagnostics_log::close_checked() {
  if (!m_file) return m_error;
  if (std::fflush(m_file) != 0 && m_error == 0) m_error = errno;
  if (std::ferror(m_file) && m_error == 0) m_error = EIO;
  if (std::fclose(m_file) != 0 && m_error == 0) m_error = errno;
  m_file = nullptr;
  return m_error;
}

void diagnostics_log::write_line(const char* format, va_list args) {
  if (std::vfprintf(m_file, format, args) < 0 && m_error == 0) m_error = errno;
  const std::size_t length = std::strlen(format);
  if (length == 0 || format[length - 1] != '\n') std::fputc('\n', m_file);
}

void diagnostics_log::write(const char* format, ...) {
  if (!m_file) return;
  va_list args;
  va_start(args, format);
  write_line(format, args);
  va_end(args);
}

void diagnostics_log::write_at(int level, const char* format, ...) {
  if (!m_file || level > m_level) return;
  va_list args;
  va_start(args, format);
  write_line(format, args);
  va_end(args);
}

void diagnostics_log::append_raw(const char* text) {
  if (m_file) std::fputs(text, m_file);
}

}  // namespace support
