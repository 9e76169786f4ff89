// The AVX-512 refill: the AVX2 row layout (chacha_ymm_rows.hpp) with
// AVX-512VL's vprold on ymm registers for every rotation, one instruction where
// AVX2 needs a byte shuffle or shift, shift, or, so each round's chain of
// dependent instructions is 12 long instead of 14. No zmm register is used:
// the work fits ymm, and no 512-bit instruction means no 512-bit frequency
// penalty on the processors that have one.
//
// Hermetic, like every chacha_<isa>.cpp: see chacha_block.hpp.
#include <immintrin.h>

#include <cstdint>

#include "sources/chacha/chacha_block.hpp"
#include "sources/chacha/chacha_ymm_rows.hpp"

namespace kestrand::chacha_detail {
namespace {

// AVX-512VL rotates a ymm register by any count in one instruction (vprold).
struct VprolRotation {
  template <int N>
  [[gnu::always_inline]] static __m256i rotl(__m256i x) noexcept {
    return _mm256_rol_epi32(x, N);
  }
};

}  // namespace

void refill_avx512(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  refill_ymm_rows<VprolRotation>(in, out);
}

}  // namespace kestrand::chacha_detail
