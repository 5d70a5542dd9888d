// MD5 after RFC 1321. The 64 steps are written out; each message word is
// loaded little-endian straight from the caller's block.
#include "support/md5.h"

#include <bit>
#include <cstring>

namespace support {
namespace {

inline std::uint32_t word(const std::uint8_t* block, int index) {
  std::uint32_t value;
  std::memcpy(&value, block + 4 * index, 4);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap32(value);
  return value;
}

// a = b + ((a + f(b, c, d) + x + t) <<< s), with the four auxiliary
// functions of the four rounds. Each is written so that b, the newest
// value, enters as late as possible.
template <int s>
[[gnu::always_inline]] inline void round_f(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                                           std::uint32_t x, std::uint32_t t) {
  a += x + t;
  a += d ^ (b & (c ^ d));  // (b & c) | (~b & d)
  a = std::rotl(a, s) + b;
}

template <int s>
[[gnu::always_inline]] inline void round_g(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                                           std::uint32_t x, std::uint32_t t) {
  a += x + t + (c & ~d);
  a += b & d;  // (b & d) | (c & ~d); the two terms share no bits
  a = std::rotl(a, s) + b;
}

template <int s>
[[gnu::always_inline]] inline void round_h(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                                           std::uint32_t x, std::uint32_t t) {
  a += x + t;
  a += b ^ (c ^ d);
  a = std::rotl(a, s) + b;
}

template <int s>
[[gnu::always_inline]] inline void round_i(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                                           std::uint32_t x, std::uint32_t t) {
  a += x + t;
  a += c ^ (b | ~d);
  a = std::rotl(a, s) + b;
}

void md5_blocks(std::uint32_t* state, const std::uint8_t* p, std::size_t count) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; count != 0; --count, p += 64) {
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    round_f<7>(a, b, c, d, word(p, 0), 0xd76aa478);
    round_f<12>(d, a, b, c, word(p, 1), 0xe8c7b756);
    round_f<17>(c, d, a, b, word(p, 2), 0x242070db);
    round_f<22>(b, c, d, a, word(p, 3), 0xc1bdceee);
    round_f<7>(a, b, c, d, word(p, 4), 0xf57c0faf);
    round_f<12>(d, a, b, c, word(p, 5), 0x4787c62a);
    round_f<17>(c, d, a, b, word(p, 6), 0xa8304613);
    round_f<22>(b, c, d, a, word(p, 7), 0xfd469501);
    round_f<7>(a, b, c, d, word(p, 8), 0x698098d8);
    round_f<12>(d, a, b, c, word(p, 9), 0x8b44f7af);
    round_f<17>(c, d, a, b, word(p, 10), 0xffff5bb1);
    round_f<22>(b, c, d, a, word(p, 11), 0x895cd7be);
    round_f<7>(a, b, c, d, word(p, 12), 0x6b901122);
    round_f<12>(d, a, b, c, word(p, 13), 0xfd987193);
    round_f<17>(c, d, a, b, word(p, 14), 0xa679438e);
    round_f<22>(b, c, d, a, word(p, 15), 0x49b40821);

    round_g<5>(a, b, c, d, word(p, 1), 0xf61e2562);
    round_g<9>(d, a, b, c, word(p, 6), 0xc040b340);
    round_g<14>(c, d, a, b, word(p, 11), 0x265e5a51);
    round_g<20>(b, c, d, a, word(p, 0), 0xe9b6c7aa);
    round_g<5>(a, b, c, d, word(p, 5), 0xd62f105d);
    round_g<9>(d, a, b, c, word(p, 10), 0x02441453);
    round_g<14>(c, d, a, b, word(p, 15), 0xd8a1e681);
    round_g<20>(b, c, d, a, word(p, 4), 0xe7d3fbc8);
    round_g<5>(a, b, c, d, word(p, 9), 0x21e1cde6);
    round_g<9>(d, a, b, c, word(p, 14), 0xc33707d6);
    round_g<14>(c, d, a, b, word(p, 3), 0xf4d50d87);
    round_g<20>(b, c, d, a, word(p, 8), 0x455a14ed);
    round_g<5>(a, b, c, d, word(p, 13), 0xa9e3e905);
    round_g<9>(d, a, b, c, word(p, 2), 0xfcefa3f8);
    round_g<14>(c, d, a, b, word(p, 7), 0x676f02d9);
    round_g<20>(b, c, d, a, word(p, 12), 0x8d2a4c8a);

    round_h<4>(a, b, c, d, word(p, 5), 0xfffa3942);
    round_h<11>(d, a, b, c, word(p, 8), 0x8771f681);
    round_h<16>(c, d, a, b, word(p, 11), 0x6d9d6122);
    round_h<23>(b, c, d, a, word(p, 14), 0xfde5380c);
    round_h<4>(a, b, c, d, word(p, 1), 0xa4beea44);
    round_h<11>(d, a, b, c, word(p, 4), 0x4bdecfa9);
    round_h<16>(c, d, a, b, word(p, 7), 0xf6bb4b60);
    round_h<23>(b, c, d, a, word(p, 10), 0xbebfbc70);
    round_h<4>(a, b, c, d, word(p, 13), 0x289b7ec6);
    round_h<11>(d, a, b, c, word(p, 0), 0xeaa127fa);
    round_h<16>(c, d, a, b, word(p, 3), 0xd4ef3085);
    round_h<23>(b, c, d, a, word(p, 6), 0x04881d05);
    round_h<4>(a, b, c, d, word(p, 9), 0xd9d4d039);
    round_h<11>(d, a, b, c, word(p, 12), 0xe6db99e5);
    round_h<16>(c, d, a, b, word(p, 15), 0x1fa27cf8);
    round_h<23>(b, c, d, a, word(p, 2), 0xc4ac5665);

    round_i<6>(a, b, c, d, word(p, 0), 0xf4292244);
    round_i<10>(d, a, b, c, word(p, 7), 0x432aff97);
    round_i<15>(c, d, a, b, word(p, 14), 0xab9423a7);
    round_i<21>(b, c, d, a, word(p, 5), 0xfc93a039);
    round_i<6>(a, b, c, d, word(p, 12), 0x655b59c3);
    round_i<10>(d, a, b, c, word(p, 3), 0x8f0ccc92);
    round_i<15>(c, d, a, b, word(p, 10), 0xffeff47d);
    round_i<21>(b, c, d, a, word(p, 1), 0x85845dd1);
    round_i<6>(a, b, c, d, word(p, 8), 0x6fa87e4f);
    round_i<10>(d, a, b, c, word(p, 15), 0xfe2ce6e0);
    round_i<15>(c, d, a, b, word(p, 6), 0xa3014314);
    round_i<21>(b, c, d, a, word(p, 13), 0x4e0811a1);
    round_i<6>(a, b, c, d, word(p, 4), 0xf7537e82);
    round_i<10>(d, a, b, c, word(p, 11), 0xbd3af235);
    round_i<15>(c, d, a, b, word(p, 2), 0x2ad7d2bb);
    round_i<21>(b, c, d, a, word(p, 9), 0xeb86d391);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace

void md5::init() {
  m_state[0] = 0x67452301;
  m_state[1] = 0xefcdab89;
  m_state[2] = 0x98badcfe;
  m_state[3] = 0x10325476;
  m_blocks.reset();
}

void md5::update(std::span<const std::uint8_t> bytes) {
  m_blocks.update(bytes, [this](const std::uint8_t* blocks, std::size_t count) { md5_blocks(m_state, blocks, count); });
}

void md5::final(digest& out) {
  m_blocks.finish(false, [this](const std::uint8_t* blocks, std::size_t count) { md5_blocks(m_state, blocks, count); });
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(m_state[i] >> (8 * j));
  }
  init();
}

md5::digest md5::of(std::span<const std::uint8_t> bytes) {
  md5 context;
  context.update(bytes);
  digest out;
  context.final(out);
  return out;
}

}  // namespace support
