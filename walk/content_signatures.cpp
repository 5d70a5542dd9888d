#include "walk/content_signatures.h"

#include <algorithm>
#include <cstring>

#include "support/byte_reader.h"

namespace walk {

namespace {

struct signature_row {
  std::string_view name;
  content_kind kind;
  std::uint32_t header_bytes;
};

constexpr signature_row signature_table[] = {
    {"mz", content_kind::mz, 64},           {"16bit_mz", content_kind::mz_16bit, 64},
    {"32bit_pe", content_kind::pe_32bit, 512}, {"64bit_pe", content_kind::pe_64bit, 512},
    {"pe", content_kind::pe, 512},          {"hive", content_kind::hive, 16},
    {"evt", content_kind::evt, 16},         {"sqlite", content_kind::sqlite, 16},
    {"lnk", content_kind::lnk, 16},
};

bool starts_with(std::span<const std::uint8_t> bytes, const void* magic, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

bool is_mz(std::span<const std::uint8_t> header) { return starts_with(header, "MZ", 2); }

// MZ header with a PE header at e_lfanew (offset 0x3C): "PE\0\0", then the
// optional header magic 24 bytes further (0x10B for PE32, 0x20B for PE32+).
bool is_pe(std::span<const std::uint8_t> header, std::uint16_t wanted_magic) {
  if (!is_mz(header)) return false;
  support::byte_reader r(header);
  const std::uint64_t pe_offset = r.le32(0x3C);
  if (!r.ok() || pe_offset + 248 > header.size()) return false;
  if (std::memcmp(header.data() + pe_offset, "PE\0\0", 4) != 0) return false;
  return wanted_magic == 0 || r.le16(static_cast<std::size_t>(pe_offset + 24)) == wanted_magic;
}

bool pattern_found(const content_item& item, std::span<const std::uint8_t> data) {
  if (item.pattern.empty() || item.scan_start >= data.size()) return false;
  // Compared against what is left, so that a scan size near 2^64 cannot wrap.
  const std::size_t start = static_cast<std::size_t>(item.scan_start);
  const auto window = data.subspan(start, static_cast<std::size_t>(std::min<std::uint64_t>(data.size() - start, item.scan_size)));
  return std::search(window.begin(), window.end(), item.pattern.begin(), item.pattern.end()) != window.end();
}

}  // namespace

bool signature_item(std::string_view name, content_item& item) {
  for (const auto& row : signature_table) {
    if (row.name != name) continue;
    item = content_item{};
    item.kind = row.kind;
    item.header_bytes = row.header_bytes;
    return true;
  }
  return false;
}

bool parse_pattern(std::string_view argument, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  char separator = 0;
  for (const char candidate : {' ', ',', ':', '-'}) {
    if (argument.find(candidate) != std::string_view::npos) {
      separator = candidate;
      break;
    }
  }
  if (separator == 0) {
    const bool hex_form = argument.find_first_of("xX") != std::string_view::npos && argument.size() < 5;
    if (!hex_form && argument.size() != 2) return false;
  }
  std::size_t start = 0;
  while (start <= argument.size()) {
    std::size_t end = separator ? argument.find(separator, start) : std::string_view::npos;
    if (end == std::string_view::npos) end = argument.size();
    std::string_view piece = argument.substr(start, end - start);
    if (const auto x = piece.find_first_of("xX"); x != std::string_view::npos) piece.remove_prefix(x + 1);
    if (!piece.empty()) {
      unsigned value = 0;
      bool digits = false;
      for (const char c : piece) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) break;
        value = ((value << 4) | static_cast<unsigned>(digit)) & 0xFFFF;
        digits = true;
      }
      if (!digits) return false;
      bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    start = end + 1;
  }
  return !bytes.empty();
}

bool content_matches(const content_item& item, std::span<const std::uint8_t> header, std::string_view& note) {
  static constexpr std::uint8_t evt_magic[] = {0x30, 0x00, 0x00, 0x00, 0x4C, 0x66, 0x4C, 0x65};
  static constexpr std::uint8_t lnk_magic[] = {0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00};
  bool matched = false;
  switch (item.kind) {
    case content_kind::mz:
      matched = header.size() >= 64 && is_mz(header);
      note = "MZ";
      break;
    case content_kind::mz_16bit: {
      support::byte_reader r(header);
      const std::uint16_t relocations = r.le16(6);
      const std::uint16_t relocation_table = r.le16(0x18);
      matched = r.ok() && is_mz(header) && relocations != 0 && relocation_table >= 1 && relocation_table <= 63;
      note = "MZ";
      break;
    }
    case content_kind::pe_32bit:
      matched = is_pe(header, 0x10B);
      note = "MZ";
      break;
    case content_kind::pe_64bit:
      matched = is_pe(header, 0x20B);
      note = "MZ";
      break;
    case content_kind::pe:
      matched = is_pe(header, 0);
      note = "MZ";
      break;
    case content_kind::hive:
      matched = header.size() >= 16 && starts_with(header, "regf", 4);
      note = "RegistryHive";
      break;
    case content_kind::evt:
      matched = header.size() >= 16 && (starts_with(header, evt_magic, sizeof evt_magic) || starts_with(header, "ElfFile", 7));
      note = "EventLog";
      break;
    case content_kind::sqlite:
      matched = header.size() >= 16 && starts_with(header, "SQLite", 6);
      note = "SQLite";
      break;
    case content_kind::lnk:
      matched = starts_with(header, lnk_magic, sizeof lnk_magic);
      note = "lnk";
      break;
    case content_kind::pattern:
      matched = pattern_found(item, header);
      note = "pattern";
      break;
  }
  return matched;
}

}  // namespace walk
