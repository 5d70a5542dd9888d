// The three digests of known streams fed in uneven pieces; an abandoned
// stream has no values.
#include "support/digest_set.h"
#include "support/digest_text.h"

#include <gtest/gtest.h>

#include <string>

template <class digest>
std::string hex_of(const digest* value) {
  char text[2 * sizeof(digest)];
  return value ? std::string(support::digest_hex(*value, text)) : "none";
}

TEST(DigestSet, KnownStreamsInPieces) {
  struct case_row {
    std::string text;
    std::size_t piece;
    std::string md5, sha1, sha256;
  } const cases[] = {
      {"abc", 2, "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), 777, "7707d6ae4e027c70eea2a935c2296f21", "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  support::digest_set digests;
  for (const case_row& row : cases) {
    digests.start(true, true, true);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(row.text.data());
    for (std::size_t at = 0; at < row.text.size(); at += row.piece) {
      digests.update({bytes + at, std::min(row.piece, row.text.size() - at)});
    }
    digests.finish();
    EXPECT_EQ(hex_of(digests.md5_value()) + hex_of(digests.sha1_value()) + hex_of(digests.sha256_value()),
              row.md5 + row.sha1 + row.sha256);
  }
  digests.start(false, true, false);
  digests.abandon();
  EXPECT_EQ(hex_of(digests.md5_value()) + hex_of(digests.sha1_value()), "nonenone");
}
