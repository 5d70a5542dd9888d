#include "output/line_builder.h"

#include <cstring>

#include "output/line_break_markers.h"

namespace output {

namespace {

// Writes the replacement for the separator character or the marker for a
// line break at value[i]; returns the new output position and advances `i`
// past a two-byte line break (CR LF or LF CR).
char* escape_one(char* out, std::string_view value, std::size_t& i, char separator_char, char replacement) {
  if (separator_char != 0 && value[i] == separator_char) {
    *out++ = replacement;
    return out;
  }
  const std::string_view marker = line_break_marker(value, i);
  std::memcpy(out, marker.data(), marker.size());
  return out + marker.size();
}

}  // namespace

line_builder::line_builder(const output_settings& settings)
    : m_settings(&settings),
      m_separator(settings.separator),
      m_padding(settings.padding),
      m_quote(settings.quoted_fields) {
  const auto add = [this](char c) {
    if (m_special[static_cast<unsigned char>(c)]) return;
    m_special[static_cast<unsigned char>(c)] = true;
    // Line breaks are found with the other control characters below.
    if (static_cast<unsigned char>(c) >= control_limit) {
      m_word_patterns[m_word_pattern_count++] = ones * static_cast<unsigned char>(c);
    }
  };
  add('\r');
  add('\n');
  if (settings.separator_char != 0) add(settings.separator_char);
  if (m_quote) add('"');
}

char* line_builder::separator(char* at) {
  if (!m_first) {
    std::memcpy(at, m_separator.data(), m_separator.size());
    at += m_separator.size();
  }
  m_first = false;
  return at;
}

char* line_builder::pad(char* at, const char* value_start, std::size_t width) const {
  if (!m_padding) return at;
  // Width counts characters, not UTF-8 bytes (a loop the compiler
  // vectorises).
  std::size_t characters = 0;
  for (const char* p = value_start; p < at; ++p) characters += (static_cast<unsigned char>(*p) & 0xC0) != 0x80;
  if (characters >= width) return at;
  std::memset(at, ' ', width - characters);
  return at + (width - characters);
}

std::size_t line_builder::first_special(const char* bytes, std::size_t length) const {
  // Eight bytes at a time: a byte below 0x0E (CR, LF and a few other control
  // characters) or equal to the separator or quote character sends the word
  // to the byte-by-byte look. A byte equal to c becomes zero after the XOR
  // with c, and the classic has-zero-byte and has-less-than tests find them.
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    std::uint64_t hit = (word - ones * control_limit) & ~word & highs;
    for (std::size_t k = 0; k < m_word_pattern_count; ++k) {
      const std::uint64_t x = word ^ m_word_patterns[k];
      hit |= (x - ones) & ~x & highs;
    }
    if (hit) break;
  }
  for (; i < length; ++i) {
    if (m_special[static_cast<unsigned char>(bytes[i])]) return i;
  }
  return length;
}

void line_builder::text(std::string_view value, std::size_t width) {
  // Worst case: every byte becomes a four-byte marker, plus two quotes.
  char* at = reserve(m_separator.size() + value.size() * 4 + 2 + width);
  at = separator(at);
  char* const value_start = at;
  const bool quote = m_quote && !(value.size() >= 2 && value[0] == '{' && value[1] == '"');
  if (quote) *at++ = '"';
  const char separator_char = m_settings->separator_char;
  const char replacement = m_settings->replacement_char;
  std::size_t i = 0;
  while (i < value.size()) {
    const std::size_t plain = first_special(value.data() + i, value.size() - i);
    std::memcpy(at, value.data() + i, plain);
    at += plain;
    i += plain;
    if (i == value.size()) break;
    const char c = value[i];
    if (c == '"') {
      // A double quote inside a quoted value is doubled, as CSV readers expect.
      *at++ = '"';
      if (quote) *at++ = '"';
    } else {
      at = escape_one(at, value, i, separator_char, replacement);
    }
    ++i;
  }
  if (quote) *at++ = '"';
  finish(pad(at, value_start, width));
}

void line_builder::number(std::uint64_t value, int bits, std::size_t width) {
  char* at = reserve(m_separator.size() + 24 + width);
  at = separator(at);
  char* const value_start = at;
  if (m_settings->hexadecimal) {
    const int fill = bits >= 32 ? 8 : bits == 16 ? 4 : 2;
    char reversed[16];
    int count = 0;
    do {
      reversed[count++] = "0123456789abcdef"[value & 0xF];
      value >>= 4;
    } while (value != 0);
    *at++ = '0';
    *at++ = 'x';
    for (int i = count; i < fill; ++i) *at++ = '0';
    while (count > 0) *at++ = reversed[--count];
  } else {
    char reversed[20];
    int count = 0;
    do {
      reversed[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) *at++ = reversed[--count];
  }
  finish(pad(at, value_start, width));
}

void line_builder::date_time(std::string_view date, std::string_view time, std::size_t date_width,
                             std::size_t time_width) {
  if (!m_settings->pair_datetime) {
    text(date, date_width);
    text(time, time_width);
    return;
  }
  m_pair.clear();
  if (!date.empty()) m_pair.assign(date).append(" ").append(time);
  text(m_pair, date_width + time_width + (date_width ? 1 : 0));
}

}  // namespace output
