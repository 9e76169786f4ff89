// The portable refill against published keystreams: every case of
// chacha_vectors.txt (8, 12 and 20 rounds, counters at the 2^32 and 2^64
// boundaries), and the RFC 8439 block function test vector.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "chacha_test_support.hpp"
#include "sources/chacha/chacha_block.hpp"

namespace kestrand {
namespace {

using chacha_test::keystream_hex;
using chacha_test::load_vectors;

TEST(ChaChaVectors, FileCoversEveryRoundCount) {
  std::set<int> rounds;
  for (const auto& c : load_vectors()) {
    rounds.insert(c.rounds);
  }
  EXPECT_EQ(rounds, (std::set<int>{8, 12, 20}));
}

TEST(ChaChaVectors, PortableMatchesEveryCase) {
  const auto cases = load_vectors();
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case at line " << c.line << ", " << c.rounds << " rounds");
    uint32_t out[kChaChaRefillWords];
    chacha_refill_portable(c.rounds, c.input, out);
    EXPECT_EQ(keystream_hex(out), c.keystream);
  }
}

// RFC 8439 section 2.3.2: the 20-round block for key 00 01 .. 1f, block
// counter 1 and nonce 00 00 00 09 00 00 00 4a 00 00 00 00. RFC 8439 has a
// 32-bit counter and a 96-bit nonce in words 12..15; read as little-endian
// words those are 1, 0x09000000, 0x4a000000, 0, which is our 64-bit counter
// 1 | 0x09000000 << 32 and stream 0x4a000000. Only that first block of the
// refill is published.
TEST(ChaChaVectors, PortableMatchesRfc8439BlockTest) {
  ChaChaInput in{};
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t b = 4 * i;  // key bytes b, b+1, b+2, b+3
    in.key[i] = b | (b + 1) << 8 | (b + 2) << 16 | (b + 3) << 24;
  }
  in.counter = 1 | uint64_t{0x09000000} << 32;
  in.stream = 0x4a000000;
  // clang-format off
  constexpr uint32_t kExpected[16] = {  // the state after the final addition
      0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3,
      0xc7f4d1c7, 0x0368c033, 0x9aaa2204, 0x4e6cd4c3,
      0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
      0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2,
  };
  // clang-format on
  uint32_t out[kChaChaRefillWords];
  chacha_refill_portable(20, in, out);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(out[i], kExpected[i]) << "word " << i;
  }
}

}  // namespace
}  // namespace kestrand
