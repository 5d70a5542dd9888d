// Builds one line of a table layout: columns in order, the separator between
// them, padding to column widths, and the escaping of values (separator
// replacement, line-break markers, optional quoting).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "output/output_settings.h"
#include "output/text_buffer.h"

namespace output {

class line_builder {
 public:
  explicit line_builder(const output_settings& settings);

  void begin(text_buffer& out) {
    m_out = &out;
    m_first = true;
  }
  // A text value: escaped, optionally quoted, padded to `width` characters.
  void text(std::string_view value, std::size_t width);
  // True when `value` needs no escaping: none of its bytes is a line break,
  // the separator character or (when quoting) a double quote.
  bool plain(std::string_view value) const { return first_special(value.data(), value.size()) == value.size(); }
  // A text value known to be plain(): quoted and padded, never looked at.
  void plain_text(std::string_view value, std::size_t width);
  // A date column and a time column, or with -pair_datetime one column
  // "date time" (empty when the date is) as wide as both and a blank.
  void date_time(std::string_view date, std::string_view time, std::size_t date_width, std::size_t time_width);
  // A number column in the run's number base.
  void number(std::uint64_t value, int bits, std::size_t width);
  // Continues a line whose first columns are already in `out`.
  void resume(text_buffer& out) {
    m_out = &out;
    m_first = false;
  }
  // Appends pre-rendered columns (which start without a separator).
  void columns(std::string_view rendered) {
    char* at = separator(reserve(m_separator.size() + rendered.size()));
    std::memcpy(at, rendered.data(), rendered.size());
    finish(at + rendered.size());
  }
  void end() { m_out->push_back('\n'); }

 private:
  // Room for `bytes` more at the end of the line; finish() keeps what was
  // written.
  char* reserve(std::size_t bytes) { return m_out->room(bytes); }
  void finish(const char* end) { m_out->commit(end); }
  // The separator before every column but the first; mostly one character.
  char* separator(char* at) {
    if (!m_first) {
      if (m_separator.size() == 1) {
        *at++ = m_separator[0];
      } else {
        std::memcpy(at, m_separator.data(), m_separator.size());
        at += m_separator.size();
      }
    }
    m_first = false;
    return at;
  }
  char* pad(char* at, const char* value_start, std::size_t width) const;
  std::size_t first_special(const char* bytes, std::size_t length) const;

  const output_settings* m_settings;
  std::string_view m_separator;
  bool m_padding;
  bool m_quote;
  static constexpr std::uint64_t ones = 0x0101010101010101ULL;
  static constexpr unsigned char control_limit = 0x0E;  // CR and LF lie below

  // Bytes that cannot be copied as they are: the separator character, line
  // breaks, double quotes when quoting.
  std::array<bool, 256> m_special{};
  // The special byte from control_limit up, repeated in all eight bytes of
  // a word.
  std::uint64_t m_word_pattern = 0;
  text_buffer* m_out = nullptr;
  bool m_first = true;
  std::string m_pair;  // the paired date and time
};

}  // namespace output
