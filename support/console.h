// Talking to the user on standard error while a long scan runs: a progress
// line that is rewritten in place, and messages that first clear it.
#pragma once

namespace support {

// Erases the current line and writes at most 60 characters of the formatted
// text, leaving the cursor at the start of the line.
void progress_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Erases a progress line.
void clear_progress_line();

// Clears the progress line, then writes the whole message (nothing when it
// is longer than 4096 characters or cannot be formatted).
void console_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace support
