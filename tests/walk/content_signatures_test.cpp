// Signatures, byte patterns and wildcards on crafted bytes: each magic at its
// exact length and one byte short, the PE header at and past the buffer's end.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "walk/content_signatures.h"
#include "walk/wildcard.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// `data` with `text` (which may hold NULs) written at `at`, cut at the end.
bytes put(bytes data, std::size_t at, const std::string& text) {
  for (std::size_t i = 0; i < text.size() && at + i < data.size(); ++i) data[at + i] = std::uint8_t(text[i]);
  return data;
}
bytes image(std::size_t size, const std::string& text) { return put(bytes(size, 0xCC), 0, text); }

std::string le(std::uint64_t value, int width) {
  return width ? static_cast<char>(value & 0xFF) + le(value >> 8, width - 1) : "";
}

// An MZ header whose e_lfanew (0x3C) points at "PE\0\0" followed, 24 bytes on,
// by the optional header magic.
bytes pe_image(std::size_t size, std::uint32_t e_lfanew, std::uint16_t magic, const std::string& pe = {"PE\0\0", 4}) {
  return put(put(put(image(size, "MZ"), 0x3C, le(e_lfanew, 4)), e_lfanew, pe), e_lfanew + 24, le(magic, 2));
}

// 16-bit MZ: relocation count at 6, relocation table offset at 0x18.
bytes mz16(std::size_t size, std::uint16_t relocations, std::uint16_t table) {
  return put(put(image(size, "MZ"), 6, le(relocations, 2)), 0x18, le(table, 2));
}

const std::string evt_magic("\x30\0\0\0\x4C\x66\x4C\x65", 8);
const std::string lnk_magic("\x4C\0\0\0\x01\x14\x02\0\0\0\0\0\xC0\0\0\0", 16);

TEST(ContentSignatures, EachSignatureAtItsBoundaries) {
  struct row { const char* name; bytes data; bool matches; };
  const row rows[] = {
      {"mz", image(64, "MZ"), true}, {"mz", image(63, "MZ"), false}, {"mz", image(64, "ZM"), false},
      // Relocation table offset 1 to 63; the header must reach that field.
      {"16bit_mz", mz16(64, 1, 63), true}, {"16bit_mz", mz16(0x1A, 1, 1), true}, {"16bit_mz", mz16(0x19, 1, 1), false},
      {"16bit_mz", mz16(64, 0, 1), false}, {"16bit_mz", mz16(64, 1, 0), false}, {"16bit_mz", mz16(64, 1, 64), false},
      {"16bit_mz", put(mz16(64, 1, 1), 0, "NE"), false},
      // e_lfanew + 248 bytes must be present: exactly at the end, one short.
      {"32bit_pe", pe_image(512, 0x80, 0x10B), true}, {"32bit_pe", pe_image(0x80 + 248, 0x80, 0x10B), true},
      {"32bit_pe", pe_image(0x80 + 247, 0x80, 0x10B), false}, {"32bit_pe", pe_image(512, 0x80, 0x20B), false},
      {"32bit_pe", pe_image(512, 0x80, 0x10B, {"PE\0\1", 4}), false}, {"32bit_pe", pe_image(512, 600, 0x10B), false},
      {"32bit_pe", put(pe_image(512, 0x80, 0x10B), 0x3C, le(0xFFFFFFF0u, 4)), false},
      {"64bit_pe", pe_image(512, 0x80, 0x20B), true}, {"64bit_pe", pe_image(512, 0x80, 0x10B), false},
      {"64bit_pe", put(pe_image(512, 0x80, 0x20B), 0, "ZM"), false},
      {"pe", pe_image(512, 0x80, 0x10B), true}, {"pe", pe_image(512, 0x40, 0x1234), true},
      {"pe", pe_image(0x40 + 247, 0x40, 0x10B), false}, {"pe", pe_image(512, 0x80, 0x10B, "PX"), false},
      {"pe", image(0x3F, "MZ"), false},
      {"hive", image(16, "regf"), true}, {"hive", image(15, "regf"), false}, {"hive", image(16, "Regf"), false},
      {"evt", image(16, evt_magic), true}, {"evt", image(16, "ElfFile"), true}, {"evt", image(15, evt_magic), false},
      {"evt", image(15, "ElfFile"), false}, {"evt", image(16, "ElfFilx"), false},
      {"sqlite", image(16, std::string("SQLite format 3\0", 16)), true}, {"sqlite", image(15, "SQLite"), false},
      {"sqlite", image(16, "sqlite"), false},
      {"lnk", image(16, lnk_magic), true}, {"lnk", image(15, lnk_magic), false},
      {"lnk", put(image(16, lnk_magic), 15, "\x01"), false},
  };
  const std::map<std::string, std::pair<std::string, std::uint32_t>> expected = {  // note, bytes read
      {"mz", {"MZ", 64}},         {"16bit_mz", {"MZ", 64}},       {"32bit_pe", {"MZ", 512}},
      {"64bit_pe", {"MZ", 512}},  {"pe", {"MZ", 512}},            {"hive", {"RegistryHive", 16}},
      {"evt", {"EventLog", 16}},  {"sqlite", {"SQLite", 16}},     {"lnk", {"lnk", 16}}};
  walk::content_item item;
  std::string_view note;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(std::string(rows[i].name) + " row " + std::to_string(i));
    ASSERT_TRUE(walk::signature_item(rows[i].name, item));
    EXPECT_EQ(item.header_bytes, expected.at(rows[i].name).second);
    EXPECT_EQ(walk::content_matches(item, rows[i].data, note), rows[i].matches);
    EXPECT_EQ(rows[i].matches ? note : "", rows[i].matches ? expected.at(rows[i].name).first : "");
  }
  for (const auto& [name, unused] : expected) {
    ASSERT_TRUE(walk::signature_item(name, item));
    EXPECT_FALSE(walk::content_matches(item, {}, note)) << name << " on no bytes";
  }
  for (const char* unknown : {"", "MZ", "exe", "pe ", "mz|hive"}) {
    EXPECT_FALSE(walk::signature_item(unknown, item)) << unknown;
  }
}

TEST(ContentSignatures, PatternArgumentForms) {
  const std::pair<const char*, bytes> accepted[] = {
      {"41 42 43", {0x41, 0x42, 0x43}}, {"41,42", {0x41, 0x42}}, {"41:4a", {0x41, 0x4A}}, {"41-4A", {0x41, 0x4A}},
      {"x41", {0x41}}, {"0x41", {0x41}}, {"x1FF", {0xFF}}, {"0x41 x42", {0x41, 0x42}}, {"41", {0x41}}, {"ff", {0xFF}},
      {"41  42", {0x41, 0x42}}, {"41,,42,", {0x41, 0x42}}, {"123456789abcdef01 41", {0x01, 0x41}}};
  for (const auto& [argument, expected] : accepted) {
    bytes pattern{0x99};
    EXPECT_TRUE(walk::parse_pattern(argument, pattern)) << "'" << argument << "'";
    EXPECT_EQ(pattern, expected) << "'" << argument << "'";
  }
  for (const char* refused : {"4", "414", "0x414", "41424344", "zz", "41 zz", "x", "", " ", ",,"}) {
    bytes pattern;
    EXPECT_FALSE(walk::parse_pattern(refused, pattern)) << "'" << refused << "'";
  }
}

TEST(ContentSignatures, PatternIsFoundOnlyInsideTheScanWindow) {
  // "LNK" at offsets 4 to 6 of a 12-byte stream.
  const bytes data = put(bytes(12, 0), 4, "LNK");
  struct row { std::uint64_t start, size; bool matches; };
  const row rows[] = {{0, 4096, true},   {4, 3, true},   {4, 2, false},  {5, 4096, false},    {0, 7, true},
                      {0, 6, false},     {12, 10, false}, {1000, 10, false}, {4, ~0ULL, true},
                      {4, ~0ULL - 3, true}, {5, ~0ULL - 4, false}};
  walk::content_item item;
  item.kind = walk::content_kind::pattern;
  ASSERT_TRUE(walk::parse_pattern("4c 4e 4b", item.pattern));
  for (const row& r : rows) {
    item.scan_start = r.start;
    item.scan_size = r.size;
    std::string_view note;
    EXPECT_EQ(walk::content_matches(item, data, note), r.matches) << r.start << " + " << r.size;
  }
}

TEST(Wildcard, StarQuestionMarkAndUtf8Characters) {
  struct row { const char* pattern; const char* text; bool matches; };
  const row rows[] = {
      {"*.txt", "a.txt", true},       {"*.txt", "a.txt.bak", false}, {"*.txt", ".txt", true},
      {"a?c", "abc", true},           {"a?c", "ac", false},          {"a?c", "abbc", false},
      {"a?", "a", false},             {"*", "", true},               {"", "", true},
      {"", "a", false},               {"a*b*c", "axxbyyc", true},    {"a*b*c", "axxbyy", false},
      {"*ab", "aab", true},           {"*a*b", "xaxxab", true},      {"**x", "x", true},
      {"caf?.txt", "café.txt", true}, {"caf??.txt", "café.txt", false}, {"x?y", "x😀y", true},
      {"?", "😀", true},              {"??", "😀", false},            {"*😀*", "smile_😀.txt", true},
      {"*?", "é", true}};
  for (const row& r : rows) {
    EXPECT_EQ(walk::wildcard_matches(r.pattern, r.text), r.matches) << r.pattern << " vs " << r.text;
  }

  // Many stars against a long near-miss: exponential for a backtracking
  // matcher, which would not finish before the test's deadline.
  const std::string text(200000, 'a');
  EXPECT_FALSE(walk::wildcard_matches("*a*a*a*a*a*a*a*a*a*a*a*b", text));
  EXPECT_TRUE(walk::wildcard_matches("*a*a*a*a*a*a*a*a*a*a*a*a", text));
}

}  // namespace
