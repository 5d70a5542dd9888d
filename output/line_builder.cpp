#include "output/line_builder.h"

#include "support/number_text.h"

namespace output {

using support::append_decimal;
using support::append_hex;
using support::append_hex_digits;
using support::append_column_number;
using support::append_note_number;

void append_escaped(std::string& out, std::string_view value, char separator_char, char replacement,
                    bool line_markers) {
  std::size_t plain_start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const bool is_separator = separator_char != 0 && c == separator_char;
    const bool is_break = line_markers && (c == '\r' || c == '\n');
    if (!is_separator && !is_break) continue;
    out.append(value.substr(plain_start, i - plain_start));
    if (is_separator) {
      out.push_back(replacement);
    } else {
      const bool pair = i + 1 < value.size() && (value[i + 1] == '\r' || value[i + 1] == '\n') && value[i + 1] != c;
      if (c == '\r') {
        out.append(pair ? "[CRLF]" : "[CR]");
      } else {
        out.append(pair ? "[LFCR]" : "[LF]");
      }
      if (pair) ++i;
    }
    plain_start = i + 1;
  }
  out.append(value.substr(plain_start));
}

void line_builder::separator() {
  if (!m_first) m_out->append(m_settings->separator);
  m_first = false;
}

void line_builder::pad_from(std::size_t start, std::size_t width) {
  if (!m_settings->padding) return;
  // Width counts characters, not UTF-8 bytes.
  std::size_t characters = 0;
  for (std::size_t i = start; i < m_out->size(); ++i) {
    if ((static_cast<unsigned char>((*m_out)[i]) & 0xC0) != 0x80) ++characters;
  }
  if (characters < width) m_out->append(width - characters, ' ');
}

void line_builder::text(std::string_view value, std::size_t width) {
  separator();
  const std::size_t start = m_out->size();
  const bool quote = m_settings->quoted_fields && !(value.size() >= 2 && value[0] == '{' && value[1] == '"');
  if (quote) {
    m_out->push_back('"');
    // A double quote inside a quoted value is doubled, as CSV readers expect.
    std::size_t plain = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] != '"') continue;
      append_escaped(*m_out, value.substr(plain, i + 1 - plain), m_settings->separator_char,
                     m_settings->replacement_char, m_settings->csv);
      m_out->push_back('"');
      plain = i + 1;
    }
    append_escaped(*m_out, value.substr(plain), m_settings->separator_char, m_settings->replacement_char,
                   m_settings->csv);
    m_out->push_back('"');
  } else {
    append_escaped(*m_out, value, m_settings->separator_char, m_settings->replacement_char, m_settings->csv);
  }
  pad_from(start, width);
}

void line_builder::number(std::uint64_t value, int bits, std::size_t width) {
  separator();
  const std::size_t start = m_out->size();
  append_column_number(*m_out, value, bits, m_settings->hexadecimal);
  pad_from(start, width);
}

void line_builder::verbatim(std::string_view value, std::size_t width) {
  separator();
  const std::size_t start = m_out->size();
  m_out->append(value);
  pad_from(start, width);
}

}  // namespace output
