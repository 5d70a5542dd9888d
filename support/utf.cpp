#include "support/utf.h"

#include <bit>
#include <cstring>

namespace uni {

namespace {

// Returns false for code points that cannot be encoded.
inline bool put_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c <= 0x10FFFF) {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    return false;
  }
  return true;
}

}  // namespace

void utf16_to_utf8_lenient(std::span<const std::uint8_t> utf16le, std::string& out) {
  constexpr char32_t replacement = 0xFFFD;
  out.clear();
  const std::size_t units = utf16le.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t c = utf16le[2 * i] | (char32_t{utf16le[2 * i + 1]} << 8);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      const char32_t low = utf16le[2 * i + 2] | (char32_t{utf16le[2 * i + 3]} << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        put_utf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    put_utf8(out, (c >= 0xD800 && c <= 0xDFFF) ? replacement : c);
  }
  if (utf16le.size() & 1) put_utf8(out, replacement);
}

void append_utf8(std::string& out, wide_view text) {
  for (char32_t c : text) {
    if (!put_utf8(out, c)) return;
  }
}

std::string wide_to_utf8(wide_view text) {
  std::string out;
  out.reserve(text.size());
  append_utf8(out, text);
  return out;
}

bool utf8_to_wide(std::string_view text, wide_string& out) {
  out.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t extra;
    char32_t c;
    if (lead < 0x80) {
      extra = 0;
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      c = lead & 0x07;
    } else {
      out.clear();
      return false;
    }
    if (extra > text.size() - i - 1) {
      out.clear();
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<std::uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        out.clear();
        return false;
      }
      c = (c << 6) | (next & 0x3F);
    }
    out.push_back(c);
    i += extra + 1;
  }
  return true;
}

wide_string utf8_to_wide(std::string_view text) {
  wide_string out;
  utf8_to_wide(text, out);
  return out;
}

bool utf16_decode(std::span<const std::uint8_t> utf16le, wide_string* wide_out, std::string* utf8_out) {
  if (wide_out) wide_out->clear();
  if (utf8_out) utf8_out->clear();
  if (utf16le.size() < 2) return false;
  const std::size_t units = utf16le.size() / 2;
  // Sized for the worst case up front (three UTF-8 bytes per unit; a pair of
  // units takes four), then trimmed: names are decoded for every record.
  char32_t* wide = nullptr;
  char* utf8 = nullptr;
  if (wide_out) {
    wide_out->resize(units);
    wide = wide_out->data();
  }
  if (utf8_out) {
    utf8_out->resize(units * 3);
    utf8 = utf8_out->data();
  }
  std::size_t wide_count = 0;
  std::size_t utf8_count = 0;
  const std::uint8_t* bytes = utf16le.data();
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (c >= 0xD800 && c <= 0xDBFF) {
      const char32_t low =
          i + 1 < units ? static_cast<char32_t>(bytes[2 * i + 2] | (bytes[2 * i + 3] << 8)) : char32_t{0};
      if (low < 0xDC00 || low > 0xDFFF) {
        if (wide_out) wide_out->clear();
        if (utf8_out) utf8_out->clear();
        return false;
      }
      c = ((c - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
      ++i;
    }
    if (wide) wide[wide_count++] = c;
    if (!utf8) continue;
    if (c < 0x80) {
      utf8[utf8_count++] = static_cast<char>(c);
    } else if (c < 0x800) {
      utf8[utf8_count++] = static_cast<char>(0xC0 | (c >> 6));
      utf8[utf8_count++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8[utf8_count++] = static_cast<char>(0xE0 | (c >> 12));
      utf8[utf8_count++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8[utf8_count++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8[utf8_count++] = static_cast<char>(0xF0 | (c >> 18));
      utf8[utf8_count++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8[utf8_count++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8[utf8_count++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  if (wide_out) wide_out->resize(wide_count);
  if (utf8_out) utf8_out->resize(utf8_count);
  return true;
}

bool utf16_to_utf8(std::span<const std::uint8_t> utf16le, std::string& out) {
  // Most names are plain ASCII: one byte per unit, no encoding work.
  // Four units at a time on a little-endian host: ASCII when every high
  // byte is 0 and every low byte is below 0x80.
  const std::size_t units = utf16le.size() / 2;
  bool ascii = units > 0;
  std::size_t i = 0;
  for (; std::endian::native == std::endian::little && i + 4 <= units && ascii; i += 4) {
    std::uint64_t four;
    std::memcpy(&four, utf16le.data() + 2 * i, sizeof four);
    ascii = (four & 0xFF80FF80FF80FF80ULL) == 0;
  }
  for (; i < units && ascii; ++i) ascii = utf16le[2 * i + 1] == 0 && utf16le[2 * i] < 0x80;
  if (!ascii) return utf16_decode(utf16le, nullptr, &out);
  out.resize(units);
  char* text = out.data();
  for (std::size_t i = 0; i < units; ++i) text[i] = static_cast<char>(utf16le[2 * i]);
  return true;
}

std::string latin1_to_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto b = static_cast<std::uint8_t>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

char32_t to_lower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;                  // Latin-1
  if (c >= 0x100 && c <= 0x17F) {                                             // Latin Extended-A
    if (c == 0x178) return 0xFF;
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    return (c & 1) ? c : c + 1;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;                 // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

void to_lower(wide_string& text) {
  for (char32_t& c : text) c = to_lower(c);
}

void ascii_to_lower(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
}

void utf8_to_lower(std::string_view text, std::string& out) {
  out.resize(text.size());
  bool ascii = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
    out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  }
  if (ascii) return;
  out.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
    if (length > text.size() - i) length = 1;
    wide_string one;
    if (length > 1 && utf8_to_wide(text.substr(i, length), one) && one.size() == 1) {
      put_utf8(out, to_lower(one[0]));
    } else {
      out.push_back(lead < 0x80 && lead >= 'A' && lead <= 'Z' ? static_cast<char>(lead + 32) : text[i]);
      length = 1;
    }
    i += length;
  }
}

wide_string to_wide(std::string_view text) {
  wide_string out;
  if (utf8_to_wide(text, out)) return out;
  out.clear();
  for (char ch : text) out.push_back(static_cast<std::uint8_t>(ch));
  return out;
}

}  // namespace uni
