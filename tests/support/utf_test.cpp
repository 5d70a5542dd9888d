// UTF-16LE (as NTFS stores names), UTF-8 and code point conversions at their
// edges: the first and last code point of each UTF-8 length, surrogate pairs,
// lone surrogates and broken UTF-8. Real names of every kind the fixture
// volumes hold are compared with fls's paths by the walk tests.
#include "support/utf.h"
#include "tests/common/ntfs_record_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using testing_support::utf16le;

namespace {

using bytes = std::vector<std::uint8_t>;

std::string text_of(std::initializer_list<unsigned char> octets) { return std::string(octets.begin(), octets.end()); }

// Both UTF-16 entry points must agree; returns the UTF-8 and the code points.
// The outputs start stale: a conversion replaces them, never appends.
struct decoded {
  bool ok = false;
  std::string utf8;
  uni::wide_string wide;
};
decoded decode(const bytes& utf16le) {
  decoded d;
  d.utf8 = "stale";
  d.wide = U"stale";
  d.ok = uni::utf16_decode(utf16le, &d.wide, &d.utf8);
  std::string alone = "stale";
  EXPECT_EQ(uni::utf16_to_utf8(utf16le, alone), d.ok);
  if (d.ok) {
    EXPECT_EQ(alone, d.utf8);
  }
  return d;
}

TEST(Utf, CodePointsToUtf8UseTheShortestForm) {
  EXPECT_EQ(uni::wide_to_utf8(U"\u00e9"), text_of({0xC3, 0xA9}));
  EXPECT_EQ(uni::wide_to_utf8(U"\U0001F600"), text_of({0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(uni::wide_to_utf8(U"\u65e5"), text_of({0xE6, 0x97, 0xA5}));
  EXPECT_EQ(uni::wide_to_utf8(U"\u007f\u0080\u07ff\u0800\uffff"),
            text_of({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
  EXPECT_EQ(uni::wide_to_utf8(U"\U0010FFFF"), text_of({0xF4, 0x8F, 0xBF, 0xBF}));
  // Past the last code point the conversion stops, keeping what came before.
  uni::wide_string beyond = U"ab";
  beyond.push_back(0x110000);
  beyond.push_back(U'c');
  EXPECT_EQ(uni::wide_to_utf8(beyond), "ab");
}

TEST(Utf, Utf16PairsAndLoneSurrogates) {
  const decoded smile = decode(utf16le({0xD83D, 0xDE00}));
  ASSERT_TRUE(smile.ok);
  EXPECT_EQ(smile.utf8, text_of({0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(smile.wide, U"\U0001F600");

  const decoded plain = decode(utf16le({'A', 'b'}));
  EXPECT_EQ(plain.utf8 + uni::wide_to_utf8(plain.wide), "AbAb");

  // A high surrogate with nothing after it, or followed by anything but a
  // low surrogate, cannot be decoded.
  EXPECT_FALSE(decode(utf16le({0xD83D})).ok);
  EXPECT_FALSE(decode(utf16le({'a', 0xD83D})).ok);
  EXPECT_FALSE(decode(utf16le({0xD83D, 'a'})).ok);
  EXPECT_FALSE(decode(utf16le({0xD83D, 0xD83D, 0xDE00})).ok);

  // A lone low surrogate is kept as its own code point.
  const decoded lone = decode(utf16le({0xDE00}));
  ASSERT_TRUE(lone.ok);
  EXPECT_EQ(lone.utf8, text_of({0xED, 0xB8, 0x80}));
  EXPECT_EQ(lone.wide, uni::wide_string(1, char32_t{0xDE00}));
  const decoded lone_inside = decode(utf16le({'x', 0xDFFF, 'y'}));
  ASSERT_TRUE(lone_inside.ok);
  EXPECT_EQ(lone_inside.utf8, text_of({'x', 0xED, 0xBF, 0xBF, 'y'}));

  // Fewer than two bytes is no name at all.
  EXPECT_FALSE(decode({}).ok);
  EXPECT_FALSE(decode({0x41}).ok);
}

TEST(Utf, BrokenUtf8DoesNotConvert) {
  EXPECT_TRUE(uni::utf8_to_wide(text_of({0xC3, 0x28})).empty());
  uni::wide_string out = U"stale";
  EXPECT_FALSE(uni::utf8_to_wide(text_of({0xC3, 0x28}), out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(uni::utf8_to_wide(text_of({'a', 0xE2, 0x82}), out));  // cut short
  EXPECT_FALSE(uni::utf8_to_wide(text_of({0x80, 'a'}), out));        // continuation first
  EXPECT_FALSE(uni::utf8_to_wide(text_of({0xFF}), out));             // no such lead byte
  EXPECT_TRUE(out.empty());

  EXPECT_EQ(uni::utf8_to_wide(text_of({0xC3, 0xA9})), U"\u00e9");
  EXPECT_EQ(uni::utf8_to_wide(text_of({0xF0, 0x9F, 0x98, 0x80})), U"\U0001F600");
  // Text typed by a user that is not UTF-8 is read as Latin-1.
  EXPECT_EQ(uni::to_wide(text_of({'c', 'a', 'f', 0xE9})), U"caf\u00e9");
}

}  // namespace
