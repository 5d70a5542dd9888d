// LZNT1 chunks and units: hand-made bytes for the token layout and unit rules,
// units made by a small compressor, and random input (no out of bounds).
// Units that ntfs-3g compressed are read by the stream reader test, whose
// every stream must have icat's MD5.
#include "ntfs/lznt1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }
bytes cat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
bytes repeated(const std::string& s, std::size_t n) {
  bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(s[i % s.size()]);
  return out;
}
bytes random_bytes(std::size_t n, unsigned seed) {
  bytes out(n);
  return std::generate(out.begin(), out.end(), std::independent_bits_engine<std::mt19937, 8, unsigned>(seed)), out;
}
bytes padded(bytes b, std::size_t n) { return b.resize(n, 0), b; }

// Greedy compressor for one chunk of up to 4096 bytes (data only, no
// header); it derives the token layout from the chunk position on its own.
bytes compress_chunk(const bytes& in) {
  bytes out;
  for (std::size_t p = 0; p < in.size();) {
    const std::size_t flag_at = out.size();
    out.push_back(0);
    for (int bit = 0; bit < 8 && p < in.size(); ++bit) {
      const unsigned k = p == 0 ? 0u : static_cast<unsigned>(std::bit_width((p - 1) >> 4));
      std::size_t best = 0, best_distance = 0;
      for (std::size_t d = 1; d <= std::min(p, std::size_t{16} << k); ++d) {
        std::size_t n = 0;
        while (n < (0xFFFu >> k) + 3 && p + n < in.size() && in[p + n] == in[p + n - d]) ++n;
        if (n > best) best = n, best_distance = d;
      }
      if (best < 3) {
        out.push_back(in[p++]);
        continue;
      }
      const std::size_t token = ((best_distance - 1) << (12 - k)) | (best - 3);
      out.insert(out.end(), {std::uint8_t(token & 0xFF), std::uint8_t(token >> 8)});
      out[flag_at] |= static_cast<std::uint8_t>(1 << bit);
      p += best;
    }
  }
  return out;
}

// A unit holding `data` as chunks (stored when compression does not help),
// padded with zeros to `unit_bytes`.
bytes make_unit(const bytes& data, std::size_t unit_bytes) {
  bytes unit;
  for (std::size_t at = 0; at < data.size(); at += 4096) {
    const bytes piece(data.begin() + at, data.begin() + std::min(data.size(), at + 4096));
    const bytes packed = compress_chunk(piece);
    const std::size_t header = packed.size() < 4096 ? 0xB000 | (packed.size() - 1) : 0x3FFF;
    const bytes header_bytes = {std::uint8_t(header & 0xFF), std::uint8_t(header >> 8)};
    unit = cat({unit, header_bytes, header == 0x3FFF ? padded(piece, 4096) : packed});
  }
  EXPECT_LE(unit.size(), unit_bytes);
  return padded(unit, unit_bytes);
}

TEST(Lznt1Chunk, HandMadeChunks) {
  const bytes groups = cat({{0x00}, text("ABCDEFGH"), {0x00}, text("IJKLMNOP")});  // 16 literals
  // `output` is followed by zeros to the end of the target.
  struct { const char* name; bytes source; std::size_t target_bytes; bool ok; bytes output; } cases[] = {
      // 0xF002 at position 16: 4-bit displacement 15+1, 12-bit length 2+3.
      {"token at 16", cat({groups, {0x01, 0x02, 0xF0}}), 4096, true, text("ABCDEFGHIJKLMNOPABCDE")},
      // 0x8001 at position 17: 5-bit displacement 16+1, 11-bit length 1+3
      // (a 4/12 split would copy "IJKL" from displacement 9).
      {"token at 17", cat({groups, {0x02, 'Q', 0x01, 0x80}}), 4096, true, text("ABCDEFGHIJKLMNOPQABCD")},
      {"overlapping copy", {0x04, 'a', 'b', 0x04, 0x10}, 4096, true, text("ababababa")},
      {"displacement before chunk start", {0x02, 'x', 0x00, 0x10, 'y'}, 4096, false, text("x")},
      {"copy cut at target end", {0x02, 'z', 0x07, 0x00, 'q'}, 5, true, text("zzzzz")},
      {"short source", {0x00, 'h', 'i'}, 4096, true, text("hi")},
      {"token cut short", {0x02, 'h', 0x05}, 4096, true, text("h")},
      {"target too large", {0x00, 'a'}, 16385, false, {}},
  };
  for (const auto& c : cases) {
    bytes target(c.target_bytes, 0xEE);
    std::size_t produced = 99;
    EXPECT_EQ(ntfs::lznt1_decompress_chunk(c.source, target, &produced), c.ok) << c.name;
    if (c.target_bytes > ntfs::lznt1_max_target_bytes) continue;
    EXPECT_EQ(produced, c.output.size()) << c.name;
    EXPECT_EQ(target, padded(c.output, c.target_bytes)) << c.name;
  }
}

TEST(Lznt1Unit, ChunkWalkAndStoredUnitRules) {
  const bytes prose = repeated("some text that repeats ", 3 * 4096), noise = random_bytes(4096, 7);
  const bytes compressed = make_unit(prose, 8192);
  // 4096 x 'A' and 'B': a literal, then a copy of 4095 at displacement 1.
  const bytes a_chunk = {0x03, 0xB0, 0x02, 'A', 0xFC, 0x0F}, b_chunk = {0x03, 0xB0, 0x02, 'B', 0xFC, 0x0F};
  const bytes bad_token = {0x04, 0xB0, 0x01, 0x00, 0x20, 0, 0, 0};    // a copy at position 0
  const bytes past_end = cat({{0xFF, 0xBF}, random_bytes(998, 8)});  // 4096 data bytes declared
  const bytes odd_stored = cat({{0x05, 0x30}, random_bytes(4094, 9)});
  // The first `wanted` bytes of `output`, then zeros up to `wanted`.
  struct { const char* name; bytes unit; bool sparse; std::size_t wanted; bool ok; bytes output; } cases[] = {
      {"partly sparse unit is decompressed", compressed, true, 3 * 4096, true, prose},
      {"wanted cuts the output", compressed, true, 100, true, prose},
      {"unit without sparse clusters is stored", compressed, false, 8192, true, compressed},
      {"stored chunk header first: chunks", make_unit(cat({noise, prose}), 16386), false, 16384, true,
       cat({noise, prose})},
      {"zero header skips to the next 4096 bytes", cat({padded(a_chunk, 4096), padded(b_chunk, 4096)}), true, 8192,
       true, cat({repeated("A", 4096), repeated("B", 4096)})},
      {"short chunk stands for 4096 bytes", padded(cat({{0x01, 0xB0, 0x00, 'Q'}, b_chunk}), 8192), true, 8192, true,
       cat({padded(text("Q"), 4096), repeated("B", 4096)})},
      {"chunk past the unit: unit stored", past_end, true, 1000, true, past_end},
      {"bad displacement: unit stored", cat({bad_token, noise}), true, 4104, true, cat({bad_token, noise})},
      {"bad displacement, zero tail: fails", padded(bad_token, 8192), true, 8192, false, {}},
      {"stored chunk of another size: unit stored", odd_stored, true, 4096, true, odd_stored},
      {"all zero unit is a hole", bytes(8192, 0), true, 8192, true, {}},
  };
  for (const auto& c : cases) {
    bytes out(c.wanted, 0xEE);
    std::size_t produced = 0;
    ASSERT_EQ(ntfs::decompress_unit(c.unit, c.sparse, out, produced), c.ok) << c.name;
    if (!c.ok) continue;
    const bytes head(c.output.begin(), c.output.begin() + std::min(c.output.size(), c.wanted));
    EXPECT_EQ(out, padded(head, c.wanted)) << c.name;
  }
}

TEST(Lznt1Unit, GarbageIsNeverReadOrWrittenOutOfBounds) {
  // For the sanitizers: random bytes and damaged real units, at random sizes.
  std::mt19937 rng(2024);
  const bytes good = make_unit(cat({repeated("pattern ", 6000), random_bytes(3000, 11)}), 16384);
  for (int round = 0; round < 3000; ++round) {
    bytes unit = round % 2 == 0 ? random_bytes(rng() % 9000, rng()) : good;
    for (int flips = round % 2 ? 1 + int(rng() % 8) : 0; flips > 0; --flips) unit[rng() % unit.size()] = rng() & 0xFF;
    unit.resize(rng() % (unit.size() + 1));
    bytes out(rng() % 20000), target(rng() % (ntfs::lznt1_max_target_bytes + 1));
    std::size_t produced = 0;
    EXPECT_LE(ntfs::decompress_unit(unit, rng() % 4 != 0, out, produced) ? produced : 0, out.size());
    ntfs::lznt1_decompress_chunk(std::span(unit).first(std::min<std::size_t>(unit.size(), rng() % 5000)), target,
                                 &produced);
    EXPECT_LE(produced, target.size());
  }
}

}  // namespace
