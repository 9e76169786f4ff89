// The SSE2 refill, the x86-64 baseline: the four-lanes layout of
// chacha_four_lanes.hpp with every rotation as shift, shift, or.
//
// Hermetic, like every chacha_<isa>.cpp: see chacha_block.hpp.
#include <cstdint>

#include "sources/chacha/chacha_block.hpp"
#include "sources/chacha/chacha_four_lanes.hpp"

namespace kestrand::chacha_detail {

void refill_sse2(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  refill_four_lanes<ShiftRotation>(in, out);
}

}  // namespace kestrand::chacha_detail
