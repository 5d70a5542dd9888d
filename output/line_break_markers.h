// Line breaks inside a value would end a result line early, so every layout
// writes them as markers: CR LF as "[CRLF]", LF CR as "[LFCR]", a lone LF as
// "[LF]" and a lone CR as "[CR]". NTFS allows both characters in names.
#pragma once

#include <string>
#include <string_view>

namespace output {

inline bool is_line_break(char c) { return c == '\r' || c == '\n'; }

// The marker for the line break at text[i]; moves `i` onto the second byte
// of a two-byte break, so the caller's ++i steps past it.
inline std::string_view line_break_marker(std::string_view text, std::size_t& i) {
  const char c = text[i];
  const bool pair = i + 1 < text.size() && is_line_break(text[i + 1]) && text[i + 1] != c;
  if (pair) ++i;
  if (c == '\r') return pair ? "[CRLF]" : "[CR]";
  return pair ? "[LFCR]" : "[LF]";
}

// Appends `text` with its line breaks replaced by markers.
inline void append_with_markers(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (is_line_break(text[i])) {
      out.append(line_break_marker(text, i));
    } else {
      out.push_back(text[i]);
    }
  }
}

// Replaces the line breaks of `text` by markers.
inline void mark_line_breaks(std::string& text) {
  if (text.find_first_of("\r\n") == std::string::npos) return;
  std::string marked;
  append_with_markers(marked, text);
  text.swap(marked);
}

}  // namespace output
