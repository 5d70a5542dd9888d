// The optional trace file (-diags). Written only when open; level-2 and
// level-3 lines only when the log was opened at that level or higher.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace support {

class diagnostics_log {
 public:
  diagnostics_log() = default;
  ~diagnostics_log();
  diagnostics_log(const diagnostics_log&) = delete;
  diagnostics_log& operator=(const diagnostics_log&) = delete;

  bool open(const std::string& utf8_path);  // replaces an existing file
  void close();
  // Flushes and closes; 0, or the error number of the first failed write,
  // flush or close.
  int close_checked();
  const std::string& path() const { return m_path; }
  bool is_open() const { return m_file != nullptr; }
  void set_level(int level) { m_level = level; }
  int level() const { return m_level; }

  // One line; a line end is added when the text has none.
  void write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void write_at(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Appends text as it stands (no line end added).
  void append_raw(const char* text);

 private:
  void write_line(const char* format, va_list args);

  std::FILE* m_file = nullptr;
  std::string m_path;
  int m_level = 1;
  int m_error = 0;
};

}  // namespace support
