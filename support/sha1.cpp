// SHA-1 after FIPS 180-4, section 6.1: the 80 steps written out over a
// 16-word rolling message schedule, and the same compression with the x86
// SHA extensions for processors that have them.
#include "support/sha1.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define BRINDLE_SHA_X86 1
#endif

namespace support {
namespace {

using block_function = void (*)(std::uint32_t*, const std::uint8_t*, std::size_t);

inline std::uint32_t big_endian_word(const std::uint8_t* block, int index) {
  std::uint32_t value;
  std::memcpy(&value, block + 4 * index, 4);
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap32(value);
  return value;
}

constexpr std::uint32_t k_ch = 0x5a827999;        // steps 0-19
constexpr std::uint32_t k_parity1 = 0x6ed9eba1;   // steps 20-39
constexpr std::uint32_t k_majority = 0x8f1bbcdc;  // steps 40-59
constexpr std::uint32_t k_parity2 = 0xca62c1d6;   // steps 60-79

// W[t] = (W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]) <<< 1, in place of W[t-16].
template <int t>
[[gnu::always_inline]] inline std::uint32_t expand(std::uint32_t (&w)[16]) {
  const std::uint32_t mixed = w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15];
  return w[t & 15] = std::rotl(mixed, 1);
}

// One step, with the variables renamed instead of moved: the new a is
// written into e and b is rotated in place; the caller passes them on
// shifted by one. `kw` is the step constant plus the schedule word.
[[gnu::always_inline]] inline void step_ch(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                                           std::uint32_t& e, std::uint32_t kw) {
  e += kw + std::rotl(a, 5) + (d ^ (b & (c ^ d)));
  b = std::rotl(b, 30);
}

[[gnu::always_inline]] inline void step_parity(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                                               std::uint32_t& e, std::uint32_t kw) {
  e += kw + std::rotl(a, 5) + (b ^ c ^ d);
  b = std::rotl(b, 30);
}

[[gnu::always_inline]] inline void step_majority(std::uint32_t a, std::uint32_t& b, std::uint32_t c,
                                                 std::uint32_t d, std::uint32_t& e, std::uint32_t kw) {
  // (b & c) | (b & d) | (c & d) as two terms that share no bits.
  e += kw + std::rotl(a, 5) + (b & c) + (d & (b ^ c));
  b = std::rotl(b, 30);
}

void sha1_blocks_portable(std::uint32_t* state, const std::uint8_t* p, std::size_t count) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  std::uint32_t w[16];
  for (; count != 0; --count, p += 64) {
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

    step_ch(a, b, c, d, e, k_ch + (w[0] = big_endian_word(p, 0)));
    step_ch(e, a, b, c, d, k_ch + (w[1] = big_endian_word(p, 1)));
    step_ch(d, e, a, b, c, k_ch + (w[2] = big_endian_word(p, 2)));
    step_ch(c, d, e, a, b, k_ch + (w[3] = big_endian_word(p, 3)));
    step_ch(b, c, d, e, a, k_ch + (w[4] = big_endian_word(p, 4)));
    step_ch(a, b, c, d, e, k_ch + (w[5] = big_endian_word(p, 5)));
    step_ch(e, a, b, c, d, k_ch + (w[6] = big_endian_word(p, 6)));
    step_ch(d, e, a, b, c, k_ch + (w[7] = big_endian_word(p, 7)));
    step_ch(c, d, e, a, b, k_ch + (w[8] = big_endian_word(p, 8)));
    step_ch(b, c, d, e, a, k_ch + (w[9] = big_endian_word(p, 9)));
    step_ch(a, b, c, d, e, k_ch + (w[10] = big_endian_word(p, 10)));
    step_ch(e, a, b, c, d, k_ch + (w[11] = big_endian_word(p, 11)));
    step_ch(d, e, a, b, c, k_ch + (w[12] = big_endian_word(p, 12)));
    step_ch(c, d, e, a, b, k_ch + (w[13] = big_endian_word(p, 13)));
    step_ch(b, c, d, e, a, k_ch + (w[14] = big_endian_word(p, 14)));
    step_ch(a, b, c, d, e, k_ch + (w[15] = big_endian_word(p, 15)));
    step_ch(e, a, b, c, d, k_ch + expand<16>(w));
    step_ch(d, e, a, b, c, k_ch + expand<17>(w));
    step_ch(c, d, e, a, b, k_ch + expand<18>(w));
    step_ch(b, c, d, e, a, k_ch + expand<19>(w));

    step_parity(a, b, c, d, e, k_parity1 + expand<20>(w));
    step_parity(e, a, b, c, d, k_parity1 + expand<21>(w));
    step_parity(d, e, a, b, c, k_parity1 + expand<22>(w));
    step_parity(c, d, e, a, b, k_parity1 + expand<23>(w));
    step_parity(b, c, d, e, a, k_parity1 + expand<24>(w));
    step_parity(a, b, c, d, e, k_parity1 + expand<25>(w));
    step_parity(e, a, b, c, d, k_parity1 + expand<26>(w));
    step_parity(d, e, a, b, c, k_parity1 + expand<27>(w));
    step_parity(c, d, e, a, b, k_parity1 + expand<28>(w));
    step_parity(b, c, d, e, a, k_parity1 + expand<29>(w));
    step_parity(a, b, c, d, e, k_parity1 + expand<30>(w));
    step_parity(e, a, b, c, d, k_parity1 + expand<31>(w));
    step_parity(d, e, a, b, c, k_parity1 + expand<32>(w));
    step_parity(c, d, e, a, b, k_parity1 + expand<33>(w));
    step_parity(b, c, d, e, a, k_parity1 + expand<34>(w));
    step_parity(a, b, c, d, e, k_parity1 + expand<35>(w));
    step_parity(e, a, b, c, d, k_parity1 + expand<36>(w));
    step_parity(d, e, a, b, c, k_parity1 + expand<37>(w));
    step_parity(c, d, e, a, b, k_parity1 + expand<38>(w));
    step_parity(b, c, d, e, a, k_parity1 + expand<39>(w));

    step_majority(a, b, c, d, e, k_majority + expand<40>(w));
    step_majority(e, a, b, c, d, k_majority + expand<41>(w));
    step_majority(d, e, a, b, c, k_majority + expand<42>(w));
    step_majority(c, d, e, a, b, k_majority + expand<43>(w));
    step_majority(b, c, d, e, a, k_majority + expand<44>(w));
    step_majority(a, b, c, d, e, k_majority + expand<45>(w));
    step_majority(e, a, b, c, d, k_majority + expand<46>(w));
    step_majority(d, e, a, b, c, k_majority + expand<47>(w));
    step_majority(c, d, e, a, b, k_majority + expand<48>(w));
    step_majority(b, c, d, e, a, k_majority + expand<49>(w));
    step_majority(a, b, c, d, e, k_majority + expand<50>(w));
    step_majority(e, a, b, c, d, k_majority + expand<51>(w));
    step_majority(d, e, a, b, c, k_majority + expand<52>(w));
    step_majority(c, d, e, a, b, k_majority + expand<53>(w));
    step_majority(b, c, d, e, a, k_majority + expand<54>(w));
    step_majority(a, b, c, d, e, k_majority + expand<55>(w));
    step_majority(e, a, b, c, d, k_majority + expand<56>(w));
    step_majority(d, e, a, b, c, k_majority + expand<57>(w));
    step_majority(c, d, e, a, b, k_majority + expand<58>(w));
    step_majority(b, c, d, e, a, k_majority + expand<59>(w));

    step_parity(a, b, c, d, e, k_parity2 + expand<60>(w));
    step_parity(e, a, b, c, d, k_parity2 + expand<61>(w));
    step_parity(d, e, a, b, c, k_parity2 + expand<62>(w));
    step_parity(c, d, e, a, b, k_parity2 + expand<63>(w));
    step_parity(b, c, d, e, a, k_parity2 + expand<64>(w));
    step_parity(a, b, c, d, e, k_parity2 + expand<65>(w));
    step_parity(e, a, b, c, d, k_parity2 + expand<66>(w));
    step_parity(d, e, a, b, c, k_parity2 + expand<67>(w));
    step_parity(c, d, e, a, b, k_parity2 + expand<68>(w));
    step_parity(b, c, d, e, a, k_parity2 + expand<69>(w));
    step_parity(a, b, c, d, e, k_parity2 + expand<70>(w));
    step_parity(e, a, b, c, d, k_parity2 + expand<71>(w));
    step_parity(d, e, a, b, c, k_parity2 + expand<72>(w));
    step_parity(c, d, e, a, b, k_parity2 + expand<73>(w));
    step_parity(b, c, d, e, a, k_parity2 + expand<74>(w));
    step_parity(a, b, c, d, e, k_parity2 + expand<75>(w));
    step_parity(e, a, b, c, d, k_parity2 + expand<76>(w));
    step_parity(d, e, a, b, c, k_parity2 + expand<77>(w));
    step_parity(c, d, e, a, b, k_parity2 + expand<78>(w));
    step_parity(b, c, d, e, a, k_parity2 + expand<79>(w));

    a += a0;
    b += b0;
    c += c0;
    d += d0;
    e += e0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

#ifdef BRINDLE_SHA_X86

#define BRINDLE_SHA_TARGET __attribute__((target("sha,sse4.1")))

BRINDLE_SHA_TARGET inline __m128i load_128(const std::uint8_t* p) {
  __m128i value;
  std::memcpy(&value, p, 16);
  return value;
}

// Four steps with SHA1RNDS4. `abcd` holds A in its top lane down to D in
// its bottom lane; `e_and_w` holds the four schedule words, the first in
// the top lane with E added to it. E after four steps is the A before them
// rotated by 30, which SHA1NEXTE adds to the next four words. m[g % 4]
// holds the schedule words of this group and is replaced by those of
// group g + 4: W[t-16..] ^ W[t-14..] (MSG1), ^ W[t-8..], then ^ W[t-3..]
// and the rotation (MSG2).
template <int g>
BRINDLE_SHA_TARGET inline __attribute__((always_inline)) void sha1_four_steps(__m128i& abcd, __m128i& abcd_before,
                                                                             __m128i& e_and_w, __m128i (&m)[4]) {
  constexpr int i = g % 4;
  if constexpr (g > 0) e_and_w = _mm_sha1nexte_epu32(abcd_before, m[i]);
  abcd_before = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e_and_w, g / 5);
  if constexpr (g + 4 < 20) {
    m[i] = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(m[i], m[(i + 1) % 4]), m[(i + 2) % 4]), m[(i + 3) % 4]);
  }
}

BRINDLE_SHA_TARGET void sha1_blocks_x86(std::uint32_t* state, const std::uint8_t* p, std::size_t count) {
  // Reverses all 16 bytes: the first big-endian word lands in the top lane.
  const __m128i reverse_bytes = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd;
  std::memcpy(&abcd, state, 16);
  abcd = _mm_shuffle_epi32(abcd, 0x1B);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count != 0; --count, p += 64) {
    const __m128i abcd_saved = abcd;
    __m128i m[4] = {
        _mm_shuffle_epi8(load_128(p), reverse_bytes),
        _mm_shuffle_epi8(load_128(p + 16), reverse_bytes),
        _mm_shuffle_epi8(load_128(p + 32), reverse_bytes),
        _mm_shuffle_epi8(load_128(p + 48), reverse_bytes),
    };
    __m128i abcd_before = abcd;
    __m128i e_and_w = _mm_add_epi32(e, m[0]);
    sha1_four_steps<0>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<1>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<2>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<3>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<4>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<5>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<6>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<7>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<8>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<9>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<10>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<11>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<12>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<13>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<14>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<15>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<16>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<17>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<18>(abcd, abcd_before, e_and_w, m);
    sha1_four_steps<19>(abcd, abcd_before, e_and_w, m);
    // The new E (top lane): the old E plus the A before the last four steps
    // rotated by 30; the lower lanes of `e` stay zero.
    e = _mm_sha1nexte_epu32(abcd_before, e);
    abcd = _mm_add_epi32(abcd, abcd_saved);
  }
  abcd = _mm_shuffle_epi32(abcd, 0x1B);
  std::memcpy(state, &abcd, 16);
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

#undef BRINDLE_SHA_TARGET
#endif

block_function choose_blocks(digest_engine engine) {
#ifdef BRINDLE_SHA_X86
  if (engine == digest_engine::fastest && cpu_has_sha_extensions()) return sha1_blocks_x86;
#else
  (void)engine;
#endif
  return sha1_blocks_portable;
}

}  // namespace

sha1::sha1(digest_engine engine) : m_compress(choose_blocks(engine)) { init(); }

bool sha1::accelerated() const { return m_compress != sha1_blocks_portable; }

void sha1::init() {
  m_state[0] = 0x67452301;
  m_state[1] = 0xefcdab89;
  m_state[2] = 0x98badcfe;
  m_state[3] = 0x10325476;
  m_state[4] = 0xc3d2e1f0;
  m_blocks.reset();
}

void sha1::update(std::span<const std::uint8_t> bytes) {
  m_blocks.update(bytes, [this](const std::uint8_t* blocks, std::size_t count) { m_compress(m_state, blocks, count); });
}

void sha1::final(digest& out) {
  m_blocks.finish(true, [this](const std::uint8_t* blocks, std::size_t count) { m_compress(m_state, blocks, count); });
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * j));
  }
  init();
}

sha1::digest sha1::of(std::span<const std::uint8_t> bytes) {
  sha1 context;
  context.update(bytes);
  digest out;
  context.final(out);
  return out;
}

}  // namespace support
