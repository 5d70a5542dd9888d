// The three digests of known streams, fed in uneven pieces; only the chosen
// digests have values, and an abandoned stream has none.
#include "support/digest_set.h"
#include "support/digest_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <class digest>
std::string hex_of(const digest* value) {
  char text[2 * sizeof(digest)];
  return value ? std::string(support::digest_hex(*value, text)) : "none";
}

TEST(DigestSet, KnownStreamsInPieces) {
  struct case_row {
    std::string text;
    std::size_t piece;
    const char *md5, *sha1, *sha256;
  };
  const case_row cases[] = {
      {"", 1, "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 2, "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), 777, "7707d6ae4e027c70eea2a935c2296f21", "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  support::digest_set digests;
  for (const case_row& row : cases) {
    SCOPED_TRACE(row.text.substr(0, 8));
    digests.start(true, true, true);
    const std::vector<std::uint8_t> bytes(row.text.begin(), row.text.end());
    for (std::size_t at = 0; at < bytes.size(); at += row.piece) {
      digests.update(std::span(bytes).subspan(at, std::min(row.piece, bytes.size() - at)));
    }
    EXPECT_EQ(hex_of(digests.md5_value()), "none") << "no value before finish()";
    digests.finish();
    EXPECT_EQ(hex_of(digests.md5_value()), row.md5);
    EXPECT_EQ(hex_of(digests.sha1_value()), row.sha1);
    EXPECT_EQ(hex_of(digests.sha256_value()), row.sha256);
  }
  digests.start(false, true, false);
  digests.finish();
  EXPECT_EQ(hex_of(digests.md5_value()), "none");
  EXPECT_EQ(hex_of(digests.sha1_value()), cases[0].sha1);
  digests.abandon();
  EXPECT_EQ(hex_of(digests.sha1_value()), "none");
}

}  // namespace
