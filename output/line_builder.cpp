#include "output/line_builder.h"

#include <array>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// n bytes, sizeof(Word) <= n <= 2 * sizeof(Word), as two overlapping words.
template <class Word>
void copy_two_words(char* to, const char* from, std::size_t n) {
  Word head;
  Word tail;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
  std::memcpy(to, &head, sizeof head);
  std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
}

// Copies n bytes. Column values are mostly short, where a call into the C
// library costs more than the copy.
[[gnu::always_inline]] inline char* copy_bytes(char* to, const char* from, std::size_t n) {
  if (n >= 8 && n <= 16) {
    copy_two_words<std::uint64_t>(to, from, n);
  } else if (n >= 4 && n < 8) {
    copy_two_words<std::uint32_t>(to, from, n);
  } else if (n < 4) {
    for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
  } else {
    std::memcpy(to, from, n);
  }
  return to + n;
}

// "000102...feff": the two hex digits of every byte value.
constexpr auto hex_pair_table = [] {
  std::array<char, 512> table{};
  for (int i = 0; i < 256; ++i) {
    table[2 * i] = "0123456789abcdef"[i >> 4];
    table[2 * i + 1] = "0123456789abcdef"[i & 0xF];
  }
  return table;
}();
const char* const hex_pairs = hex_pair_table.data();

}  // namespace

line_builder::line_builder(const output_settings& settings)
    : m_settings(&settings),
      m_separator(settings.separator),
      m_padding(settings.padding),
      m_quote(settings.quoted_fields) {
  // Quoted fields have no separator character to protect, so at most one
  // special byte lies from control_limit up: the separator or the double
  // quote. Without one the pattern is a line feed, which the control test
  // catches anyway.
  m_word_pattern = ones * static_cast<unsigned char>('\n');
  const auto add = [this](char c) {
    m_special[static_cast<unsigned char>(c)] = true;
    // Line breaks and tabs are found with the other control characters.
    if (static_cast<unsigned char>(c) >= control_limit) m_word_pattern = ones * static_cast<unsigned char>(c);
  };
  add('\r');
  add('\n');
  if (settings.separator_char != 0) add(settings.separator_char);
  if (m_quote) add('"');
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
  std::size_t i = 0;
  const std::uint64_t pattern = m_word_pattern;
#if defined(__SSE2__)
  // Sixteen bytes at a time: a byte up to 0x0D (CR, LF and a few other
  // control characters) or equal to the separator or quote character sends
  // the block to the byte-by-byte look.
  const __m128i highest_control = _mm_set1_epi8(static_cast<char>(control_limit - 1));
  const __m128i special = _mm_set1_epi8(static_cast<char>(pattern & 0xFF));
  for (; i + 16 <= length; i += 16) {
    __m128i block;
    std::memcpy(&block, bytes + i, sizeof block);
    const __m128i hit =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(block, highest_control), block), _mm_cmpeq_epi8(block, special));
    if (_mm_movemask_epi8(hit) != 0) break;
  }
#endif
  // Eight bytes at a time: the same test with the classic has-zero-byte and
  // has-less-than tricks (a byte equal to c becomes zero after the XOR
  // with c).
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  const auto word_hit = [&](std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, bytes + at, sizeof word);
    const std::uint64_t x = word ^ pattern;
    return (((word - ones * control_limit) & ~word) | ((x - ones) & ~x)) & highs;
  };
  for (; i + 8 <= length; i += 8) {
    if (word_hit(i)) break;
  }
  // The last partial word is tested as the (overlapping) last eight bytes.
  if (i < length && length >= 8 && i + 8 > length && !word_hit(length - 8)) return length;
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
    at = copy_bytes(at, value.data() + i, plain);
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

void line_builder::plain_text(std::string_view value, std::size_t width) {
  char* at = reserve(m_separator.size() + value.size() + 2 + width);
  at = separator(at);
  char* const value_start = at;
  if (m_quote) *at++ = '"';
  at = copy_bytes(at, value.data(), value.size());
  if (m_quote) *at++ = '"';
  finish(pad(at, value_start, width));
}

void line_builder::number(std::uint64_t value, int bits, std::size_t width) {
  char* at = reserve(m_separator.size() + 24 + width);
  at = separator(at);
  char* const value_start = at;
  // Digits backwards into a buffer, then copied as one piece.
  char digits[20];
  char* const end = digits + sizeof digits;
  char* first = end;
  if (m_settings->hexadecimal) {
    // All the digits the width or the value needs, two at a time.
    const int fill = bits >= 32 ? 8 : bits == 16 ? 4 : 2;
    const int needed = (64 - __builtin_clzll(value | 1) + 3) / 4;
    const int count = needed > fill ? needed : fill;
    for (int written = 0; written < count; written += 2) {
      first -= 2;
      std::memcpy(first, hex_pairs + 2 * (value & 0xFF), 2);
      value >>= 8;
    }
    first += (end - first) - count;  // an odd count wrote one digit too many
    *at++ = '0';
    *at++ = 'x';
  } else {
    do {
      *--first = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
  }
  at = copy_bytes(at, first, static_cast<std::size_t>(end - first));
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
