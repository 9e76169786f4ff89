// The 256-bit ChaCha layout of the AVX2 and AVX-512 refills: two blocks per
// set of four ymm rows, one block in each 128-bit half, and two such sets
// (blocks c, c+1 and c+2, c+3) interleaved so the two dependency chains
// overlap. A row holds four words of the 4x4 state, so a quarter-round step
// covers all four columns of both blocks; the diagonal round rotates rows a, c
// and d within each half (vpshufd never crosses halves), and the end needs
// only half swaps, no transpose. The variants differ only in how they rotate:
// each passes its Rotation policy, whose rotl<N>(x) rotates each 32-bit lane
// of x left by N.
//
// Why this layout: a refill is bound by latency, not by instruction count. Each
// block is a chain of 12 rounds of 14 dependent instructions, and on the
// development machine (AMD Zen 5: two-cycle latency for vector integer
// instructions) one set of two blocks took as long as both sets. So what counts
// is that no shuffle sits in the chain, which the one-lane-per-block layout of
// chacha_four_lanes.hpp also achieves, but it needs 16 state registers plus
// temporaries and spills; measured 106 ns (AVX) against 92 ns (AVX2) here.
//
// Instruction sets: everything here is in an unnamed namespace, so each
// variant file gets its own copy, with internal linkage, compiled with that
// file's flags; none of it can be merged with a copy built for another
// instruction set. Like the variant files (see chacha_block.hpp), this header
// includes only <cstdint>, <cstddef>, <immintrin.h> and chacha_block.hpp.
// x86-64 with AVX2 only: only the x86-64 variant files, which CMake builds on
// x86-64 alone, include it.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "sources/chacha/chacha_block.hpp"

namespace kestrand::chacha_detail {
namespace {

// The counter and stream words (12..15) are read straight from ChaChaInput as
// one row: two little-endian 64-bit fields are the four words, low word first.
static_assert(offsetof(ChaChaInput, stream) == offsetof(ChaChaInput, counter) + 8);
static_assert(sizeof(ChaChaInput) == offsetof(ChaChaInput, counter) + 16);

struct Rows {
  __m256i a, b, c, d;
};

template <typename Rotation>
[[gnu::always_inline]] inline void quarter_round(Rows& s) noexcept {
  s.a = _mm256_add_epi32(s.a, s.b);
  s.d = Rotation::template rotl<16>(_mm256_xor_si256(s.d, s.a));
  s.c = _mm256_add_epi32(s.c, s.d);
  s.b = Rotation::template rotl<12>(_mm256_xor_si256(s.b, s.c));
  s.a = _mm256_add_epi32(s.a, s.b);
  s.d = Rotation::template rotl<8>(_mm256_xor_si256(s.d, s.a));
  s.c = _mm256_add_epi32(s.c, s.d);
  s.b = Rotation::template rotl<7>(_mm256_xor_si256(s.b, s.c));
}

// Diagonals to columns, in each half. Row b, the last one a round finishes,
// stays put, so the next round's first add need not wait for a shuffle:
//   a = a0 a1 a2 a3 -> a3 a0 a1 a2
//   b = b0 b1 b2 b3    (stays)
//   c = c0 c1 c2 c3 -> c1 c2 c3 c0
//   d = d0 d1 d2 d3 -> d2 d3 d0 d1
// Column j then holds the diagonal through b_j: a_{j-1}, b_j, c_{j+1}, d_{j+2}
// (indices mod 4), e.g. column 1 is words 0, 5, 10, 15.
[[gnu::always_inline]] inline void diagonalize(Rows& s) noexcept {
  s.a = _mm256_shuffle_epi32(s.a, _MM_SHUFFLE(2, 1, 0, 3));
  s.c = _mm256_shuffle_epi32(s.c, _MM_SHUFFLE(0, 3, 2, 1));
  s.d = _mm256_shuffle_epi32(s.d, _MM_SHUFFLE(1, 0, 3, 2));
}

[[gnu::always_inline]] inline void undiagonalize(Rows& s) noexcept {
  s.a = _mm256_shuffle_epi32(s.a, _MM_SHUFFLE(0, 3, 2, 1));
  s.c = _mm256_shuffle_epi32(s.c, _MM_SHUFFLE(2, 1, 0, 3));
  s.d = _mm256_shuffle_epi32(s.d, _MM_SHUFFLE(1, 0, 3, 2));
}

// Adds the input rows and writes the two blocks: low halves are the first
// block, high halves the second.
//   [a0|a1] [b0|b1] [c0|c1] [d0|d1]  ->  out: [a0|b0] [c0|d0] [a1|b1] [c1|d1]
[[gnu::always_inline]] inline void finish(Rows s, const Rows& input, uint32_t* out) noexcept {
  s.a = _mm256_add_epi32(s.a, input.a);
  s.b = _mm256_add_epi32(s.b, input.b);
  s.c = _mm256_add_epi32(s.c, input.c);
  s.d = _mm256_add_epi32(s.d, input.d);
  auto* o = reinterpret_cast<__m256i*>(out);
  _mm256_storeu_si256(o + 0, _mm256_permute2x128_si256(s.a, s.b, 0x20));
  _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(s.c, s.d, 0x20));
  _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(s.a, s.b, 0x31));
  _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(s.c, s.d, 0x31));
}

[[gnu::always_inline]] inline __m256i broadcast_row(const void* p) noexcept {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(p)));
}

// The whole 12-round refill in this layout; a variant's entry point is this
// with its Rotation.
template <typename Rotation>
[[gnu::always_inline]] inline void refill_ymm_rows(const ChaChaInput& in,
                                                   uint32_t out[kChaChaRefillWords]) noexcept {
  // "expand 32-byte k" (RFC 8439 section 2.3) in both halves.
  const __m256i sigma = _mm256_setr_epi32(0x61707865, 0x3320646e, 0x79622d32, 0x6b206574,
                                          0x61707865, 0x3320646e, 0x79622d32, 0x6b206574);
  const __m256i key_lo = broadcast_row(&in.key[0]);
  const __m256i key_hi = broadcast_row(&in.key[4]);
  const __m256i tail = broadcast_row(&in.counter);  // counter lo, hi, stream lo, hi
  // 64-bit adds to the counter field carry into word 13 and wrap at 2^64.
  // _mm256_set_epi64x lists the 64-bit lanes high to low: [counter|stream] per half.
  const Rows input01{sigma, key_lo, key_hi, _mm256_add_epi64(tail, _mm256_set_epi64x(0, 1, 0, 0))};
  const Rows input23{sigma, key_lo, key_hi, _mm256_add_epi64(tail, _mm256_set_epi64x(0, 3, 0, 2))};

  Rows s01 = input01;
  Rows s23 = input23;
  for (int r = 0; r < 12; r += 2) {
    quarter_round<Rotation>(s01);
    quarter_round<Rotation>(s23);
    diagonalize(s01);
    diagonalize(s23);
    quarter_round<Rotation>(s01);
    quarter_round<Rotation>(s23);
    undiagonalize(s01);
    undiagonalize(s23);
  }
  finish(s01, input01, out);
  finish(s23, input23, out + 32);
}

}  // namespace
}  // namespace kestrand::chacha_detail
