#include "walk/header_text.h"

#include <algorithm>
#include <vector>

namespace walk {

namespace {

constexpr std::size_t shortest_string = 5;  // characters

bool printable(std::uint32_t c) { return (c >= 0x20 && c < 0x7F) || c == '\t'; }

struct found_string {
  std::size_t offset = 0;  // bytes from the start of the header
  std::string text;
};

void single_byte_strings(std::span<const std::uint8_t> bytes, std::vector<found_string>& out) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= bytes.size(); ++i) {
    if (i < bytes.size() && printable(bytes[i])) continue;
    if (i - start >= shortest_string) out.push_back({start, std::string(bytes.begin() + start, bytes.begin() + i)});
    start = i + 1;
  }
}

// UTF-16LE runs of printable ASCII characters, tried at both byte parities.
void utf16_strings(std::span<const std::uint8_t> bytes, std::vector<found_string>& out) {
  for (std::size_t parity = 0; parity < 2; ++parity) {
    std::size_t start = parity;
    std::string text;
    for (std::size_t i = parity; i + 1 <= bytes.size(); i += 2) {
      const bool ok = i + 1 < bytes.size() && bytes[i + 1] == 0 && printable(bytes[i]);
      if (ok) {
        text.push_back(static_cast<char>(bytes[i]));
        continue;
      }
      if (text.size() >= shortest_string) out.push_back({start, text});
      text.clear();
      start = i + 2;
    }
    if (text.size() >= shortest_string) out.push_back({start, text});
  }
}

}  // namespace

void header_text(std::span<const std::uint8_t> bytes, bool strings_mode, std::string& out) {
  out.clear();
  if (!strings_mode) {
    static constexpr char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i) out.push_back(' ');
      out.push_back(digits[bytes[i] >> 4]);
      out.push_back(digits[bytes[i] & 0x0F]);
    }
    return;
  }
  std::vector<found_string> strings;
  single_byte_strings(bytes, strings);
  utf16_strings(bytes, strings);
  std::stable_sort(strings.begin(), strings.end(),
                   [](const found_string& a, const found_string& b) { return a.offset < b.offset; });
  for (const found_string& s : strings) {
    if (!out.empty()) out.append("; ");
    out.append(s.text);
  }
}

}  // namespace walk
