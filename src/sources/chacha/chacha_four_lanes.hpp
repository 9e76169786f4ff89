// The 128-bit ChaCha layout of the SSE2, SSSE3 and AVX refills: four blocks
// side by side, one 32-bit lane per block, so state word i of all four blocks
// is one register and a quarter round works on four blocks at once. A 4x4
// transpose at the end turns lanes back into blocks. The variants differ only
// in how they rotate (the Rotation policies below) and in the encoding their
// -m flags select.
//
// Instruction sets: everything here is in an unnamed namespace, so each
// variant file gets its own copy, with internal linkage, compiled with that
// file's flags; none of it can be merged with a copy built for another
// instruction set. Like the variant files (see chacha_block.hpp), this header
// includes only <cstdint>, <cstddef>, <immintrin.h> and chacha_block.hpp.
// x86-64 only: only the x86-64 variant files, which CMake builds on x86-64
// alone, include it.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "sources/chacha/chacha_block.hpp"

namespace kestrand::chacha_detail {
namespace {

// A Rotation policy's rotl<N>(x) rotates each 32-bit lane of x left by N.

// Shift, shift, or: all SSE2 offers.
struct ShiftRotation {
  template <int N>
  [[gnu::always_inline]] static __m128i rotl(__m128i x) noexcept {
    return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
  }
};

// Needs SSSE3: rotations by whole bytes are one byte shuffle (pshufb), the
// others shift, shift, or. A member template is compiled only where it is
// used, so the SSE2 file, which never names it, gets no pshufb.
struct ByteShuffleRotation {
  template <int N>
  [[gnu::always_inline]] static __m128i rotl(__m128i x) noexcept {
    if constexpr (N == 16) {
      return _mm_shuffle_epi8(x,
                              _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
    } else if constexpr (N == 8) {
      return _mm_shuffle_epi8(x,
                              _mm_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14));
    } else {
      return ShiftRotation::rotl<N>(x);
    }
  }
};

template <typename Rotation>
[[gnu::always_inline]] inline void quarter_round(__m128i& a, __m128i& b, __m128i& c,
                                                 __m128i& d) noexcept {
  a = _mm_add_epi32(a, b);
  d = Rotation::template rotl<16>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d);
  b = Rotation::template rotl<12>(_mm_xor_si128(b, c));
  a = _mm_add_epi32(a, b);
  d = Rotation::template rotl<8>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d);
  b = Rotation::template rotl<7>(_mm_xor_si128(b, c));
}

[[gnu::always_inline]] inline __m128i splat(uint32_t word) noexcept {
  return _mm_set1_epi32(static_cast<int>(word));
}

// Rows a, b, c, d hold one word position of blocks 0..3 (lane = block); the
// transpose writes each block's four words at out + 16 * block.
//   a = a0 a1 a2 a3       out +  0: a0 b0 c0 d0
//   b = b0 b1 b2 b3  -->  out + 16: a1 b1 c1 d1
//   c = c0 c1 c2 c3       out + 32: a2 b2 c2 d2
//   d = d0 d1 d2 d3       out + 48: a3 b3 c3 d3
[[gnu::always_inline]] inline void store_transposed(__m128i a, __m128i b, __m128i c, __m128i d,
                                                    uint32_t* out) noexcept {
  const __m128i ab_lo = _mm_unpacklo_epi32(a, b);  // a0 b0 a1 b1
  const __m128i cd_lo = _mm_unpacklo_epi32(c, d);  // c0 d0 c1 d1
  const __m128i ab_hi = _mm_unpackhi_epi32(a, b);  // a2 b2 a3 b3
  const __m128i cd_hi = _mm_unpackhi_epi32(c, d);  // c2 d2 c3 d3
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(ab_lo, cd_lo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi64(ab_lo, cd_lo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi64(ab_hi, cd_hi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi64(ab_hi, cd_hi));
}

// The whole 12-round refill in this layout; a variant's entry point is this
// with its Rotation.
template <typename Rotation>
[[gnu::always_inline]] inline void refill_four_lanes(const ChaChaInput& in,
                                                     uint32_t out[kChaChaRefillWords]) noexcept {
  // Lane i of the counter words is c + i mod 2^64: 64-bit adds carry into the
  // high word, then the low and the high words are gathered apart.
  const __m128i base = _mm_set1_epi64x(static_cast<long long>(in.counter));
  const __m128i c01 = _mm_add_epi64(base, _mm_set_epi64x(1, 0));  // lo0 hi0 lo1 hi1
  const __m128i c23 = _mm_add_epi64(base, _mm_set_epi64x(3, 2));  // lo2 hi2 lo3 hi3
  const __m128i counter_lo = _mm_castps_si128(
      _mm_shuffle_ps(_mm_castsi128_ps(c01), _mm_castsi128_ps(c23), _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i counter_hi = _mm_castps_si128(
      _mm_shuffle_ps(_mm_castsi128_ps(c01), _mm_castsi128_ps(c23), _MM_SHUFFLE(3, 1, 3, 1)));

  // "expand 32-byte k", key, counter, stream (see chacha_block.hpp).
  // clang-format off
  const __m128i input[16] = {
      splat(0x61707865),  splat(0x3320646e),  splat(0x79622d32),  splat(0x6b206574),
      splat(in.key[0]),   splat(in.key[1]),   splat(in.key[2]),   splat(in.key[3]),
      splat(in.key[4]),   splat(in.key[5]),   splat(in.key[6]),   splat(in.key[7]),
      counter_lo,         counter_hi,
      splat(static_cast<uint32_t>(in.stream)), splat(static_cast<uint32_t>(in.stream >> 32)),
  };
  // clang-format on
  __m128i x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = input[i];
  }
  for (int r = 0; r < 12; r += 2) {
    quarter_round<Rotation>(x[0], x[4], x[8], x[12]);
    quarter_round<Rotation>(x[1], x[5], x[9], x[13]);
    quarter_round<Rotation>(x[2], x[6], x[10], x[14]);
    quarter_round<Rotation>(x[3], x[7], x[11], x[15]);
    quarter_round<Rotation>(x[0], x[5], x[10], x[15]);
    quarter_round<Rotation>(x[1], x[6], x[11], x[12]);
    quarter_round<Rotation>(x[2], x[7], x[8], x[13]);
    quarter_round<Rotation>(x[3], x[4], x[9], x[14]);
  }
  for (int i = 0; i < 16; ++i) {
    x[i] = _mm_add_epi32(x[i], input[i]);
  }
  for (int g = 0; g < 4; ++g) {
    store_transposed(x[4 * g], x[4 * g + 1], x[4 * g + 2], x[4 * g + 3], out + 4 * g);
  }
}

}  // namespace
}  // namespace kestrand::chacha_detail
