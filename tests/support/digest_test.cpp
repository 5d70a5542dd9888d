// MD5, SHA-1 and SHA-256: the published test vectors, then pseudo-random
// data of lengths around the 64-byte block and its 56-byte padding limit,
// fed in many chunkings, against md5sum, sha1sum and sha256sum. SHA-1 and
// SHA-256 are checked on both the portable rounds and, where the processor
// has them, the SHA extensions. Then the combined digest set and the hex text.
#include "support/digest_set.h"
#include "support/digest_text.h"
#include "support/md5.h"
#include "support/sha1.h"
#include "support/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tests/common/test_support.h"

namespace {

using support::digest_engine;
using bytes = std::vector<std::uint8_t>;

constexpr digest_engine engines[] = {digest_engine::fastest, digest_engine::portable};

std::span<const std::uint8_t> span_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <std::size_t n>
std::string hex_of(const std::array<std::uint8_t, n>& digest) {
  char text[2 * n];
  return std::string(support::digest_hex(digest, text));
}

// Feeds `data` in pieces of `chunk` bytes (0: all at once; a negative value
// cycles through a mix of sizes) and returns the digest as text.
template <class context>
std::string chunked_hex(context& c, std::span<const std::uint8_t> data, int chunk) {
  static constexpr std::size_t mix[] = {1, 63, 3, 64, 65, 1000, 7, 129, 56, 4096};
  std::size_t offset = 0;
  for (std::size_t piece = 0; offset < data.size(); ++piece) {
    std::size_t size = chunk == 0 ? data.size() : chunk > 0 ? static_cast<std::size_t>(chunk) : mix[piece % 10];
    size = std::min(size, data.size() - offset);
    c.update(data.subspan(offset, size));
    offset += size;
  }
  typename context::digest out;
  c.final(out);
  return hex_of(out);
}

std::string md5_hex(std::string_view text) { return hex_of(support::md5::of(span_of(text))); }

template <class context>
std::string hex_with(digest_engine engine, std::span<const std::uint8_t> data, int chunk = 0) {
  context c(engine);
  return chunked_hex(c, data, chunk);
}

// The first word that `command` prints, or "" when it cannot be run.
std::string first_word_of(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
  }
  return out.substr(0, out.find_first_of(" \t\n"));
}

// ---------------------------------------------------------------------------
// Published vectors.

TEST(DigestVectors, Md5Rfc1321Suite) {
  EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5_hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5_hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(md5_hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

constexpr std::string_view message_448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
constexpr std::string_view message_896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

// One million 'a', fed 1000 at a time and once as a whole.
template <class context>
void expect_million_a(digest_engine engine, const std::string& expected) {
  const std::string thousand(1000, 'a');
  context c(engine);
  for (int i = 0; i < 1000; ++i) c.update(span_of(thousand));
  typename context::digest out;
  c.final(out);
  EXPECT_EQ(hex_of(out), expected);
  const std::string million(1000000, 'a');
  EXPECT_EQ(hex_with<context>(engine, span_of(million)), expected);
}

TEST(DigestVectors, Sha1Fips180Messages) {
  for (digest_engine engine : engines) {
    SCOPED_TRACE(engine == digest_engine::portable ? "portable" : "fastest");
    EXPECT_EQ(hex_with<support::sha1>(engine, span_of("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex_with<support::sha1>(engine, span_of(message_448)), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(hex_with<support::sha1>(engine, span_of(message_896)), "a49b2446a02c645bf419f995b67091253a04a259");
    expect_million_a<support::sha1>(engine, "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  }
}

TEST(DigestVectors, Sha256Fips180Messages) {
  for (digest_engine engine : engines) {
    SCOPED_TRACE(engine == digest_engine::portable ? "portable" : "fastest");
    EXPECT_EQ(hex_with<support::sha256>(engine, span_of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex_with<support::sha256>(engine, span_of(message_448)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex_with<support::sha256>(engine, span_of(message_896)),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    expect_million_a<support::sha256>(engine, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
}

// ---------------------------------------------------------------------------
// Against coreutils, on lengths where the padding changes shape (55 is the
// last length with one final block, 56 the first with two, 119 and 120 the
// same one block later) and on page and larger sizes, in many chunkings.

TEST(DigestAgainstCoreutils, LengthsAndChunkings) {
  const std::size_t lengths[] = {0, 1, 55, 56, 63, 64, 65, 119, 120, 4095, 4096, 4097, (1u << 20) + 7};
  const int chunkings[] = {1, 3, 63, 64, 65, 1000, 0, -1};

  bytes all((1u << 20) + 7);
  std::mt19937 random(20240611);
  for (auto& byte : all) byte = static_cast<std::uint8_t>(random() >> 24);

  testing_support::scratch_folder folder("digest_test");
  const std::string path = folder.file("data.bin");
  for (std::size_t length : lengths) {
    SCOPED_TRACE("length " + std::to_string(length));
    // A different stretch of the random bytes for each length.
    const std::size_t start = (length * 7919) % (all.size() - length + 1);
    const std::span<const std::uint8_t> data(all.data() + start, length);
    testing_support::write_bytes(path, bytes(data.begin(), data.end()));

    const std::string md5_expected = first_word_of("md5sum < '" + path + "'");
    const std::string sha1_expected = first_word_of("sha1sum < '" + path + "'");
    const std::string sha256_expected = first_word_of("sha256sum < '" + path + "'");
    ASSERT_EQ(md5_expected.size(), 32u) << "md5sum did not run";
    ASSERT_EQ(sha1_expected.size(), 40u) << "sha1sum did not run";
    ASSERT_EQ(sha256_expected.size(), 64u) << "sha256sum did not run";

    for (int chunk : chunkings) {
      SCOPED_TRACE("chunk " + std::to_string(chunk));
      support::md5 md5;
      EXPECT_EQ(chunked_hex(md5, data, chunk), md5_expected);
      for (digest_engine engine : engines) {
        SCOPED_TRACE(engine == digest_engine::portable ? "portable" : "fastest");
        EXPECT_EQ(hex_with<support::sha1>(engine, data, chunk), sha1_expected);
        EXPECT_EQ(hex_with<support::sha256>(engine, data, chunk), sha256_expected);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The life of a context: empty updates, a new message after final() and
// after init() in the middle of one.

TEST(DigestStreaming, EmptyUpdatesAndRestarts) {
  const std::string text = "The quick brown fox jumps over the lazy dog, then over the lazy cat and the sleepy owl.";
  const std::string other = "a second message";
  const std::string md5_text = md5_hex(text);
  const std::string md5_other = md5_hex(other);

  support::md5 md5;
  md5.update({});
  md5.update(span_of(text).first(10));
  md5.update(std::span<const std::uint8_t>(span_of(text).data() + 10, 0));
  md5.update(span_of(text).subspan(10));
  md5.update({});
  support::md5::digest out;
  md5.final(out);
  EXPECT_EQ(hex_of(out), md5_text);
  // final() started a new message.
  md5.update(span_of(other));
  md5.final(out);
  EXPECT_EQ(hex_of(out), md5_other);
  // init() drops what was fed, including a partly filled block.
  md5.update(span_of(text).first(70));
  md5.init();
  md5.update(span_of(other));
  md5.final(out);
  EXPECT_EQ(hex_of(out), md5_other);

  for (digest_engine engine : engines) {
    support::sha256 sha(engine);
    sha.update(span_of(text).first(70));
    sha.init();
    EXPECT_EQ(chunked_hex(sha, span_of(other), 0), hex_with<support::sha256>(engine, span_of(other)));
    EXPECT_EQ(chunked_hex(sha, span_of(text), 0), hex_with<support::sha256>(engine, span_of(text), 1));
    support::sha1 sha1(engine);
    sha1.update(span_of(text).first(70));
    sha1.init();
    EXPECT_EQ(chunked_hex(sha1, span_of(other), 0), hex_with<support::sha1>(engine, span_of(other)));
  }
}

// ---------------------------------------------------------------------------
// The digest set feeds exactly the chosen digests and reports only those.

TEST(DigestSet, FeedsTheChosenDigestsOnce) {
  bytes data(10000);
  std::mt19937 random(7);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  const std::span<const std::uint8_t> all(data);
  const std::string md5_expected = hex_of(support::md5::of(all));
  const std::string sha1_expected = hex_of(support::sha1::of(all));
  const std::string sha256_expected = hex_of(support::sha256::of(all));

  support::digest_set set;
  EXPECT_FALSE(set.any_chosen());
  for (int choice = 0; choice < 8; ++choice) {
    const bool with_md5 = choice & 1, with_sha1 = choice & 2, with_sha256 = choice & 4;
    SCOPED_TRACE("choice " + std::to_string(choice));
    set.start(with_md5, with_sha1, with_sha256);
    EXPECT_EQ(set.any_chosen(), choice != 0);
    for (std::size_t offset = 0; offset < data.size(); offset += 777) {
      set.update(all.subspan(offset, std::min<std::size_t>(777, data.size() - offset)));
    }
    EXPECT_EQ(set.md5_value(), nullptr) << "no value before finish()";
    set.finish();
    ASSERT_EQ(set.md5_value() != nullptr, with_md5);
    ASSERT_EQ(set.sha1_value() != nullptr, with_sha1);
    ASSERT_EQ(set.sha256_value() != nullptr, with_sha256);
    if (with_md5) {
      EXPECT_EQ(hex_of(*set.md5_value()), md5_expected);
    }
    if (with_sha1) {
      EXPECT_EQ(hex_of(*set.sha1_value()), sha1_expected);
    }
    if (with_sha256) {
      EXPECT_EQ(hex_of(*set.sha256_value()), sha256_expected);
    }
  }

  // A stream abandoned half-way leaves no values, and the next stream
  // starts clean.
  set.start(true, true, true);
  set.update(all.first(100));
  set.abandon();
  EXPECT_EQ(set.md5_value(), nullptr);
  EXPECT_EQ(set.sha1_value(), nullptr);
  EXPECT_EQ(set.sha256_value(), nullptr);
  set.start(true, true, true);
  set.update(all.first(100));
  set.start(true, false, true);
  set.update(all);
  set.finish();
  EXPECT_EQ(hex_of(*set.md5_value()), md5_expected);
  EXPECT_EQ(set.sha1_value(), nullptr);
  EXPECT_EQ(hex_of(*set.sha256_value()), sha256_expected);
}

// ---------------------------------------------------------------------------
// Hex text.

TEST(DigestText, LowerCaseZeroFilledIntoTheCallersBuffer) {
  const std::uint8_t digest[] = {0x00, 0x0f, 0xf0, 0xff, 0x5a, 0xa5, 0x01, 0x10};
  char text[17];
  std::fill(std::begin(text), std::end(text), 'x');
  const std::string_view written = support::digest_hex(digest, text);
  EXPECT_EQ(written, "000ff0ff5aa50110");
  EXPECT_EQ(written.data(), text);
  EXPECT_EQ(text[16], '\0') << "terminated when there is room";

  char exact[16];
  EXPECT_EQ(support::digest_hex(digest, exact), "000ff0ff5aa50110");

  char small[15];
  std::fill(std::begin(small), std::end(small), 'x');
  EXPECT_TRUE(support::digest_hex(digest, small).empty());
  EXPECT_EQ(std::string_view(small, 15), std::string(15, 'x')) << "nothing written into a short buffer";
}

}  // namespace
