// The AVX2 refill: the two-blocks-per-ymm row layout of chacha_ymm_rows.hpp
// with the rotations by 16 and 8 done as one byte shuffle (vpshufb) in place
// of shift, shift, or.
//
// Hermetic, like every chacha_<isa>.cpp: see chacha_block.hpp.
#include <immintrin.h>

#include <cstdint>

#include "sources/chacha/chacha_block.hpp"
#include "sources/chacha/chacha_ymm_rows.hpp"

namespace kestrand::chacha_detail {
namespace {

// Rotations by whole bytes are one byte shuffle; the others shift, shift, or.
struct ByteShuffleRotation {
  template <int N>
  [[gnu::always_inline]] static __m256i rotl(__m256i x) noexcept {
    if constexpr (N == 16) {
      return _mm256_shuffle_epi8(
          x, _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13,  //
                              2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
    } else if constexpr (N == 8) {
      return _mm256_shuffle_epi8(
          x, _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14,  //
                              3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14));
    } else {
      return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
    }
  }
};

}  // namespace

void refill_avx2(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  refill_ymm_rows<ByteShuffleRotation>(in, out);
}

}  // namespace kestrand::chacha_detail
