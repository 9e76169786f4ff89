// The AVX refill: the SSSE3 kernel (chacha_four_lanes.hpp with pshufb for the
// rotations by 16 and 8) in VEX encoding, whose three-operand forms save the
// register copies the two-operand SSE forms need. Same source, other -m flags.
//
// Hermetic, like every chacha_<isa>.cpp: see chacha_block.hpp.
#include <cstdint>

#include "sources/chacha/chacha_block.hpp"
#include "sources/chacha/chacha_four_lanes.hpp"

namespace kestrand::chacha_detail {

void refill_avx(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  refill_four_lanes<ByteShuffleRotation>(in, out);
}

}  // namespace kestrand::chacha_detail
