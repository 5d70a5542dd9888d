#include "support/console.h"

#include <cstdarg>
#include <cstdio>

namespace support {

void progress_line(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) return;
  text[60] = '\0';
  std::fprintf(stderr, "\x1b[2K\r    \r%s\r", text);
  std::fflush(stderr);
}

void clear_progress_line() {
  std::fputs("\x1b[2K\r                           \r", stderr);
  std::fflush(stderr);
}

void console_message(const char* format, ...) {
  clear_progress_line();
  char text[4097];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0 || length > 4096) return;
  std::fputs(text, stderr);
  std::fflush(stderr);
}

}  // namespace support
