// The SSSE3 refill: the four-lanes layout of chacha_four_lanes.hpp with the
// rotations by 16 and 8 done as one byte shuffle (pshufb) in place of shift,
// shift, or.
//
// Hermetic, like every chacha_<isa>.cpp: see chacha_block.hpp.
#include <cstdint>

#include "sources/chacha/chacha_block.hpp"
#include "sources/chacha/chacha_four_lanes.hpp"

namespace kestrand::chacha_detail {

void refill_ssse3(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  refill_four_lanes<ByteShuffleRotation>(in, out);
}

}  // namespace kestrand::chacha_detail
