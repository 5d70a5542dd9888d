// One JSON object per line, written straight into the results buffer. Keys
// are plain ASCII given by the caller; string values are escaped as JSON
// requires: quote, backslash and control bytes escaped, and any byte run
// that is not valid UTF-8 (UTF-16 surrogates written as UTF-8 included)
// replaced by U+FFFD, so every line parses.
#pragma once

#include <cstdint>
#include <string_view>

#include "output/text_buffer.h"

namespace output {

void append_json_string(text_buffer& out, std::string_view value);

// "2024-03-02T10:12:00.1234567Z" (UTC, seven fraction digits).
void append_iso_time(text_buffer& out, std::uint64_t filetime);

// Microseconds since 1970-01-01 UTC, negative before.
std::int64_t filetime_to_unix_microseconds(std::uint64_t filetime);

class json_object {
 public:
  void begin(text_buffer& out) {
    m_out = &out;
    m_out->push_back('{');
    m_first = true;
  }
  void end() { m_out->append("}\n", 2); }

  void string(std::string_view key, std::string_view value) {
    name(key);
    append_json_string(*m_out, value);
  }
  void number(std::string_view key, std::uint64_t value);
  void signed_number(std::string_view key, std::int64_t value);
  void boolean(std::string_view key, bool value) {
    name(key);
    m_out->append(value ? std::string_view("true") : std::string_view("false"));
  }
  void null(std::string_view key) {
    name(key);
    m_out->append(std::string_view("null"));
  }
  // An ISO 8601 time, or null for 0 (no time).
  void time(std::string_view key, std::uint64_t filetime) {
    name(key);
    // 0 is no time; years past 9999 have no ISO 8601 form.
    if (filetime == 0 || filetime >= 2650467744000000000ULL) {
      m_out->append(std::string_view("null"));
    } else {
      m_out->push_back('"');
      append_iso_time(*m_out, filetime);
      m_out->push_back('"');
    }
  }
  // Writes the key; the caller writes the value (an array, for instance).
  void name(std::string_view key) {
    if (!m_first) m_out->push_back(',');
    m_first = false;
    m_out->push_back('"');
    m_out->append(key);
    m_out->append("\":", 2);
  }
  // A string member whose key comes from disk and needs escaping too.
  void escaped_string(std::string_view key, std::string_view value) {
    if (!m_first) m_out->push_back(',');
    m_first = false;
    append_json_string(*m_out, key);
    m_out->push_back(':');
    append_json_string(*m_out, value);
  }
  text_buffer& out() { return *m_out; }

 private:
  text_buffer* m_out = nullptr;
  bool m_first = true;
};

}  // namespace output
