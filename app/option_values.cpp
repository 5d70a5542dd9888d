#include "app/option_values.h"

namespace app {

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

namespace {

bool digits_in_base(std::string_view digits, unsigned base, std::uint64_t& value) {
  if (digits.empty()) return false;
  std::uint64_t result = 0;
  for (char c : digits) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    if (digit >= base) return false;
    if (result > (~0ULL - digit) / base) return false;
    result = result * base + digit;
  }
  value = result;
  return true;
}

}  // namespace

bool parse_number(std::string_view text, std::uint64_t& value) {
  std::string lower = trim(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  if (const auto x = lower.find('x'); x != std::string::npos) {
    return digits_in_base(std::string_view(lower).substr(x + 1), 16, value);
  }
  if (const auto o = lower.find('o'); o != std::string::npos) {
    return digits_in_base(std::string_view(lower).substr(o + 1), 8, value);
  }
  std::string_view digits = lower;
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  // Entry numbers and offsets cannot be negative.
  if (digits.empty() || digits[0] < '0' || digits[0] > '9') return false;
  return digits_in_base(digits, 10, value);
}

bool parse_size(std::string_view text, std::uint64_t& value) {
  std::string lower = trim(text);
  if (lower.empty() || lower.size() > 31) return false;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  std::string_view digits = lower;
  if (digits.substr(0, 2) == "0x") return digits.size() - 2 <= 16 && digits_in_base(digits.substr(2), 16, value);
  if (digits.substr(0, 1) == "x") return digits.size() - 1 <= 16 && digits_in_base(digits.substr(1), 16, value);
  return digits_in_base(digits, 10, value);
}

std::vector<std::string> split_list(std::string_view text) {
  char separator = ';';
  if (text.find('|') != std::string_view::npos) {
    separator = '|';
  } else if (text.find(',') != std::string_view::npos) {
    separator = ',';
  }
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    std::string piece = trim(text.substr(start, end - start));
    if (!piece.empty()) pieces.push_back(std::move(piece));
    start = end + 1;
  }
  return pieces;
}

}  // namespace app
