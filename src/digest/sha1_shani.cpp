// The SHA-1 compression on the x86 SHA extensions, built on x86-64 only
// (CMakeLists.txt; sha1_shani_none.cpp elsewhere). This file is compiled with the
// baseline flags like every other: only the functions below carry the target
// attribute, and they stay in an anonymous namespace, so no inline function
// from a header is ever compiled for these extensions and then shared with
// code that runs on processors without them.
#include "digest/sha1_compress.hpp"

#include <immintrin.h>

namespace kestrand {
namespace {

#define KESTRAND_SHANI_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four rounds, group g of 20, with the message words of this group in
// `words` and the three other word registers in the order they come round:
// `next` (group g + 1), `after_next` (g + 2) and `spent` (g - 1, which becomes
// g + 3). While the rounds run, the schedule finishes g + 1, adds its third
// term to g + 2 and starts g + 3, so every group's words are ready in time.
//
// ABCD sits in one register with A in the top lane. `e` carries the ABCD of
// the previous group (the first group gets E itself), from which sha1nexte
// derives this group's E and adds it to the first word.
template <int kGroup>
KESTRAND_SHANI_TARGET __attribute__((always_inline)) inline void four_rounds(
    __m128i& abcd, __m128i& e, const __m128i& words, __m128i& next, __m128i& after_next,
    __m128i& spent) noexcept {
  const __m128i e_and_words =
      kGroup == 0 ? _mm_add_epi32(e, words) : _mm_sha1nexte_epu32(e, words);
  e = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e_and_words, kGroup / 5);
  if constexpr (kGroup >= 3 && kGroup <= 18) {
    next = _mm_sha1msg2_epu32(next, words);
  }
  if constexpr (kGroup >= 2 && kGroup <= 17) {
    after_next = _mm_xor_si128(after_next, words);
  }
  if constexpr (kGroup >= 1 && kGroup <= 16) {
    spent = _mm_sha1msg1_epu32(spent, words);
  }
}

KESTRAND_SHANI_TARGET __m128i load_words(const uint8_t* p, __m128i byte_order) noexcept {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), byte_order);
}

KESTRAND_SHANI_TARGET void compress(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  // Reverses all 16 bytes: big-endian words, and the first word in the top
  // lane where the round instructions expect it.
  const __m128i byte_order = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e_lane = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; count != 0; --count, blocks += 64) {
    const __m128i abcd_start = abcd;
    const __m128i e_start = e_lane;
    __m128i w0 = load_words(blocks, byte_order);
    __m128i w1 = load_words(blocks + 16, byte_order);
    __m128i w2 = load_words(blocks + 32, byte_order);
    __m128i w3 = load_words(blocks + 48, byte_order);
    __m128i e = e_lane;

    four_rounds<0>(abcd, e, w0, w1, w2, w3);
    four_rounds<1>(abcd, e, w1, w2, w3, w0);
    four_rounds<2>(abcd, e, w2, w3, w0, w1);
    four_rounds<3>(abcd, e, w3, w0, w1, w2);
    four_rounds<4>(abcd, e, w0, w1, w2, w3);
    four_rounds<5>(abcd, e, w1, w2, w3, w0);
    four_rounds<6>(abcd, e, w2, w3, w0, w1);
    four_rounds<7>(abcd, e, w3, w0, w1, w2);
    four_rounds<8>(abcd, e, w0, w1, w2, w3);
    four_rounds<9>(abcd, e, w1, w2, w3, w0);
    four_rounds<10>(abcd, e, w2, w3, w0, w1);
    four_rounds<11>(abcd, e, w3, w0, w1, w2);
    four_rounds<12>(abcd, e, w0, w1, w2, w3);
    four_rounds<13>(abcd, e, w1, w2, w3, w0);
    four_rounds<14>(abcd, e, w2, w3, w0, w1);
    four_rounds<15>(abcd, e, w3, w0, w1, w2);
    four_rounds<16>(abcd, e, w0, w1, w2, w3);
    four_rounds<17>(abcd, e, w1, w2, w3, w0);
    four_rounds<18>(abcd, e, w2, w3, w0, w1);
    four_rounds<19>(abcd, e, w3, w0, w1, w2);

    // After the last group, E is A from four rounds back rotated by 30.
    e_lane = _mm_sha1nexte_epu32(e, e_start);
    abcd = _mm_add_epi32(abcd, abcd_start);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e_lane, 3));
}

#undef KESTRAND_SHANI_TARGET

}  // namespace

Sha1Compress sha1_shani_compress() noexcept { return compress; }

}  // namespace kestrand
