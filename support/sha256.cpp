// SHA-256 after FIPS 180-4, section 6.2: the 64 steps written out over a
// 16-word rolling message schedule, and the same compression with the x86
// SHA extensions for processors that have them.
#include "support/sha256.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define BRINDLE_SHA_X86 1
#endif

namespace support {
namespace {

using block_function = void (*)(std::uint32_t*, const std::uint8_t*, std::size_t);

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
alignas(16) constexpr std::uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline std::uint32_t big_endian_word(const std::uint8_t* block, int index) {
  std::uint32_t value;
  std::memcpy(&value, block + 4 * index, 4);
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap32(value);
  return value;
}

// W[t] = sigma1(W[t-2]) + W[t-7] + sigma0(W[t-15]) + W[t-16], in place of W[t-16].
template <int t>
[[gnu::always_inline]] inline std::uint32_t expand(std::uint32_t (&w)[16]) {
  const std::uint32_t w15 = w[(t - 15) & 15];
  const std::uint32_t w2 = w[(t - 2) & 15];
  const std::uint32_t sigma0 = std::rotr(w15, 7) ^ std::rotr(w15, 18) ^ (w15 >> 3);
  const std::uint32_t sigma1 = std::rotr(w2, 17) ^ std::rotr(w2, 19) ^ (w2 >> 10);
  return w[t & 15] += sigma1 + w[(t - 7) & 15] + sigma0;
}

// One step, with the variables renamed instead of moved: T1 is added to d
// (the new e) and T1 + T2 is written into h (the new a); the caller passes
// the variables on shifted by one. `kw` is K[t] + W[t].
[[gnu::always_inline]] inline void step(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                                        std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                                        std::uint32_t kw) {
  const std::uint32_t big_sigma1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
  const std::uint32_t choose = g ^ (e & (f ^ g));
  h += kw + big_sigma1 + choose;
  d += h;
  const std::uint32_t big_sigma0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
  const std::uint32_t majority = (a & b) | (c & (a | b));
  h += big_sigma0 + majority;
}

void sha256_blocks_portable(std::uint32_t* state, const std::uint8_t* p, std::size_t count) {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  std::uint32_t w[16];
  for (; count != 0; --count, p += 64) {
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;

    step(a, b, c, d, e, f, g, h, round_constants[0] + (w[0] = big_endian_word(p, 0)));
    step(h, a, b, c, d, e, f, g, round_constants[1] + (w[1] = big_endian_word(p, 1)));
    step(g, h, a, b, c, d, e, f, round_constants[2] + (w[2] = big_endian_word(p, 2)));
    step(f, g, h, a, b, c, d, e, round_constants[3] + (w[3] = big_endian_word(p, 3)));
    step(e, f, g, h, a, b, c, d, round_constants[4] + (w[4] = big_endian_word(p, 4)));
    step(d, e, f, g, h, a, b, c, round_constants[5] + (w[5] = big_endian_word(p, 5)));
    step(c, d, e, f, g, h, a, b, round_constants[6] + (w[6] = big_endian_word(p, 6)));
    step(b, c, d, e, f, g, h, a, round_constants[7] + (w[7] = big_endian_word(p, 7)));
    step(a, b, c, d, e, f, g, h, round_constants[8] + (w[8] = big_endian_word(p, 8)));
    step(h, a, b, c, d, e, f, g, round_constants[9] + (w[9] = big_endian_word(p, 9)));
    step(g, h, a, b, c, d, e, f, round_constants[10] + (w[10] = big_endian_word(p, 10)));
    step(f, g, h, a, b, c, d, e, round_constants[11] + (w[11] = big_endian_word(p, 11)));
    step(e, f, g, h, a, b, c, d, round_constants[12] + (w[12] = big_endian_word(p, 12)));
    step(d, e, f, g, h, a, b, c, round_constants[13] + (w[13] = big_endian_word(p, 13)));
    step(c, d, e, f, g, h, a, b, round_constants[14] + (w[14] = big_endian_word(p, 14)));
    step(b, c, d, e, f, g, h, a, round_constants[15] + (w[15] = big_endian_word(p, 15)));

    step(a, b, c, d, e, f, g, h, round_constants[16] + expand<16>(w));
    step(h, a, b, c, d, e, f, g, round_constants[17] + expand<17>(w));
    step(g, h, a, b, c, d, e, f, round_constants[18] + expand<18>(w));
    step(f, g, h, a, b, c, d, e, round_constants[19] + expand<19>(w));
    step(e, f, g, h, a, b, c, d, round_constants[20] + expand<20>(w));
    step(d, e, f, g, h, a, b, c, round_constants[21] + expand<21>(w));
    step(c, d, e, f, g, h, a, b, round_constants[22] + expand<22>(w));
    step(b, c, d, e, f, g, h, a, round_constants[23] + expand<23>(w));
    step(a, b, c, d, e, f, g, h, round_constants[24] + expand<24>(w));
    step(h, a, b, c, d, e, f, g, round_constants[25] + expand<25>(w));
    step(g, h, a, b, c, d, e, f, round_constants[26] + expand<26>(w));
    step(f, g, h, a, b, c, d, e, round_constants[27] + expand<27>(w));
    step(e, f, g, h, a, b, c, d, round_constants[28] + expand<28>(w));
    step(d, e, f, g, h, a, b, c, round_constants[29] + expand<29>(w));
    step(c, d, e, f, g, h, a, b, round_constants[30] + expand<30>(w));
    step(b, c, d, e, f, g, h, a, round_constants[31] + expand<31>(w));

    step(a, b, c, d, e, f, g, h, round_constants[32] + expand<32>(w));
    step(h, a, b, c, d, e, f, g, round_constants[33] + expand<33>(w));
    step(g, h, a, b, c, d, e, f, round_constants[34] + expand<34>(w));
    step(f, g, h, a, b, c, d, e, round_constants[35] + expand<35>(w));
    step(e, f, g, h, a, b, c, d, round_constants[36] + expand<36>(w));
    step(d, e, f, g, h, a, b, c, round_constants[37] + expand<37>(w));
    step(c, d, e, f, g, h, a, b, round_constants[38] + expand<38>(w));
    step(b, c, d, e, f, g, h, a, round_constants[39] + expand<39>(w));
    step(a, b, c, d, e, f, g, h, round_constants[40] + expand<40>(w));
    step(h, a, b, c, d, e, f, g, round_constants[41] + expand<41>(w));
    step(g, h, a, b, c, d, e, f, round_constants[42] + expand<42>(w));
    step(f, g, h, a, b, c, d, e, round_constants[43] + expand<43>(w));
    step(e, f, g, h, a, b, c, d, round_constants[44] + expand<44>(w));
    step(d, e, f, g, h, a, b, c, round_constants[45] + expand<45>(w));
    step(c, d, e, f, g, h, a, b, round_constants[46] + expand<46>(w));
    step(b, c, d, e, f, g, h, a, round_constants[47] + expand<47>(w));

    step(a, b, c, d, e, f, g, h, round_constants[48] + expand<48>(w));
    step(h, a, b, c, d, e, f, g, round_constants[49] + expand<49>(w));
    step(g, h, a, b, c, d, e, f, round_constants[50] + expand<50>(w));
    step(f, g, h, a, b, c, d, e, round_constants[51] + expand<51>(w));
    step(e, f, g, h, a, b, c, d, round_constants[52] + expand<52>(w));
    step(d, e, f, g, h, a, b, c, round_constants[53] + expand<53>(w));
    step(c, d, e, f, g, h, a, b, round_constants[54] + expand<54>(w));
    step(b, c, d, e, f, g, h, a, round_constants[55] + expand<55>(w));
    step(a, b, c, d, e, f, g, h, round_constants[56] + expand<56>(w));
    step(h, a, b, c, d, e, f, g, round_constants[57] + expand<57>(w));
    step(g, h, a, b, c, d, e, f, round_constants[58] + expand<58>(w));
    step(f, g, h, a, b, c, d, e, round_constants[59] + expand<59>(w));
    step(e, f, g, h, a, b, c, d, round_constants[60] + expand<60>(w));
    step(d, e, f, g, h, a, b, c, round_constants[61] + expand<61>(w));
    step(c, d, e, f, g, h, a, b, round_constants[62] + expand<62>(w));
    step(b, c, d, e, f, g, h, a, round_constants[63] + expand<63>(w));

    a += a0;
    b += b0;
    c += c0;
    d += d0;
    e += e0;
    f += f0;
    g += g0;
    h += h0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
  state[5] = f;
  state[6] = g;
  state[7] = h;
}

#ifdef BRINDLE_SHA_X86

#define BRINDLE_SHA_TARGET __attribute__((target("sha,sse4.1")))

BRINDLE_SHA_TARGET inline __m128i load_128(const void* p) {
  __m128i value;
  std::memcpy(&value, p, 16);
  return value;
}

// Four steps as two SHA256RNDS2. The state lives in two registers, lanes
// from top to bottom: A B E F and C D G H. Two steps turn (ABEF, CDGH) into
// (ABEF', ABEF), so the registers swap roles after each instruction and are
// back in place after four steps. m[g % 4] holds W[4g..4g+3] (bottom lane
// first) and is replaced by W[4g+16..4g+19]: W[t-16] + sigma0(W[t-15])
// (MSG1), + W[t-7] (the words straddling m[g+2] and m[g+3]), then the
// sigma1 terms (MSG2).
template <int g>
BRINDLE_SHA_TARGET inline __attribute__((always_inline)) void sha256_four_steps(__m128i& abef, __m128i& cdgh,
                                                                               __m128i (&m)[4]) {
  constexpr int i = g % 4;
  __m128i kw = _mm_add_epi32(m[i], load_128(round_constants + 4 * g));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, kw);
  kw = _mm_shuffle_epi32(kw, 0x0E);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, kw);
  if constexpr (g + 4 < 16) {
    const __m128i w7 = _mm_alignr_epi8(m[(i + 3) % 4], m[(i + 2) % 4], 4);
    m[i] = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(m[i], m[(i + 1) % 4]), w7), m[(i + 3) % 4]);
  }
}

BRINDLE_SHA_TARGET void sha256_blocks_x86(std::uint32_t* state, const std::uint8_t* p, std::size_t count) {
  // Swaps the bytes of each 32-bit lane.
  const __m128i swap_words = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i abcd = load_128(state);      // lanes bottom to top: a b c d
  const __m128i efgh = load_128(state + 4);  // e f g h
  const __m128i badc = _mm_shuffle_epi32(abcd, 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(efgh, 0x1B);
  __m128i abef = _mm_alignr_epi8(badc, hgfe, 8);    // f e b a
  __m128i cdgh = _mm_blend_epi16(hgfe, badc, 0xF0);  // h g d c
  for (; count != 0; --count, p += 64) {
    const __m128i abef_saved = abef;
    const __m128i cdgh_saved = cdgh;
    __m128i m[4] = {
        _mm_shuffle_epi8(load_128(p), swap_words),
        _mm_shuffle_epi8(load_128(p + 16), swap_words),
        _mm_shuffle_epi8(load_128(p + 32), swap_words),
        _mm_shuffle_epi8(load_128(p + 48), swap_words),
    };
    sha256_four_steps<0>(abef, cdgh, m);
    sha256_four_steps<1>(abef, cdgh, m);
    sha256_four_steps<2>(abef, cdgh, m);
    sha256_four_steps<3>(abef, cdgh, m);
    sha256_four_steps<4>(abef, cdgh, m);
    sha256_four_steps<5>(abef, cdgh, m);
    sha256_four_steps<6>(abef, cdgh, m);
    sha256_four_steps<7>(abef, cdgh, m);
    sha256_four_steps<8>(abef, cdgh, m);
    sha256_four_steps<9>(abef, cdgh, m);
    sha256_four_steps<10>(abef, cdgh, m);
    sha256_four_steps<11>(abef, cdgh, m);
    sha256_four_steps<12>(abef, cdgh, m);
    sha256_four_steps<13>(abef, cdgh, m);
    sha256_four_steps<14>(abef, cdgh, m);
    sha256_four_steps<15>(abef, cdgh, m);
    abef = _mm_add_epi32(abef, abef_saved);
    cdgh = _mm_add_epi32(cdgh, cdgh_saved);
  }
  const __m128i abef_up = _mm_shuffle_epi32(abef, 0x1B);  // a b e f
  const __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xB1);     // g h c d
  const __m128i out_abcd = _mm_blend_epi16(abef_up, ghcd, 0xF0);
  const __m128i out_efgh = _mm_alignr_epi8(ghcd, abef_up, 8);
  std::memcpy(state, &out_abcd, 16);
  std::memcpy(state + 4, &out_efgh, 16);
}

#undef BRINDLE_SHA_TARGET
#endif

block_function choose_blocks(digest_engine engine) {
#ifdef BRINDLE_SHA_X86
  if (engine == digest_engine::fastest && cpu_has_sha_extensions()) return sha256_blocks_x86;
#else
  (void)engine;
#endif
  return sha256_blocks_portable;
}

}  // namespace

sha256::sha256(digest_engine engine) : m_compress(choose_blocks(engine)) { init(); }

bool sha256::accelerated() const { return m_compress != sha256_blocks_portable; }

void sha256::init() {
  // The first 32 bits of the fractional parts of the square roots of the
  // first 8 primes.
  m_state[0] = 0x6a09e667;
  m_state[1] = 0xbb67ae85;
  m_state[2] = 0x3c6ef372;
  m_state[3] = 0xa54ff53a;
  m_state[4] = 0x510e527f;
  m_state[5] = 0x9b05688c;
  m_state[6] = 0x1f83d9ab;
  m_state[7] = 0x5be0cd19;
  m_blocks.reset();
}

void sha256::update(std::span<const std::uint8_t> bytes) {
  m_blocks.update(bytes, [this](const std::uint8_t* blocks, std::size_t count) { m_compress(m_state, blocks, count); });
}

void sha256::final(digest& out) {
  m_blocks.finish(true, [this](const std::uint8_t* blocks, std::size_t count) { m_compress(m_state, blocks, count); });
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * j));
  }
  init();
}

sha256::digest sha256::of(std::span<const std::uint8_t> bytes) {
  sha256 context;
  context.update(bytes);
  digest out;
  context.final(out);
  return out;
}

}  // namespace support
