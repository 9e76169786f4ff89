// Every vector variant against the portable reference, and the run-time choice
// among them. A variant this machine cannot run is skipped, by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "chacha_test_support.hpp"
#include "sources/chacha/chacha_block.hpp"

namespace kestrand {
namespace {

using chacha_test::keystream_hex;

constexpr uint64_t k2To32 = uint64_t{1} << 32;
constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

std::string portable12_hex(const ChaChaInput& in) {
  uint32_t out[kChaChaRefillWords];
  chacha_refill_portable(12, in, out);
  return keystream_hex(out);
}

// Inputs for the differential checks: every counter below (the refill's four
// counters straddle the carry into word 13 and the wrap at 2^64 from both
// sides), each with random keys and with stream numbers 0, all ones and random.
std::vector<ChaChaInput> differential_inputs() {
  std::vector<uint64_t> counters = {0,           1,           k2To32 - 4,  k2To32 - 3,
                                    k2To32 - 2,  k2To32 - 1,  k2To32,      0x7fffffffffffffff,
                                    kU64Max - 3, kU64Max - 2, kU64Max - 1, kU64Max};
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 50; ++i) {
    counters.push_back(rng());
  }
  std::vector<ChaChaInput> inputs;
  for (const uint64_t counter : counters) {
    for (const uint64_t stream : {uint64_t{0}, kU64Max, uint64_t{rng()}}) {
      ChaChaInput in{};
      for (uint32_t& word : in.key) {
        word = static_cast<uint32_t>(rng());
      }
      in.counter = counter;
      in.stream = stream;
      inputs.push_back(in);
    }
  }
  return inputs;
}

class ChaChaVariant12 : public testing::TestWithParam<ChaChaVariant> {
 protected:
  void SetUp() override {
    if (!chacha_variant_available(GetParam())) {
      GTEST_SKIP() << chacha_variant_name(GetParam()) << " does not run on this machine";
    }
  }

  std::string refill_hex(const ChaChaInput& in) const {
    uint32_t out[kChaChaRefillWords];
    chacha12_refill_with(GetParam(), in, out);
    return keystream_hex(out);
  }
};

INSTANTIATE_TEST_SUITE_P(Variants, ChaChaVariant12, testing::ValuesIn(chacha_test::kVectorVariants),
                         [](const testing::TestParamInfo<ChaChaVariant>& param) {
                           return std::string(chacha_variant_name(param.param));
                         });

TEST_P(ChaChaVariant12, MatchesTwelveRoundVectors) {
  int checked = 0;
  for (const auto& c : chacha_test::load_vectors()) {
    if (c.rounds == 12) {
      SCOPED_TRACE(testing::Message() << "case at line " << c.line);
      EXPECT_EQ(refill_hex(c.input), c.keystream);
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

TEST_P(ChaChaVariant12, MatchesPortable) {
  for (const ChaChaInput& in : differential_inputs()) {
    SCOPED_TRACE(testing::Message() << std::hex << "counter " << in.counter << ", stream "
                                    << in.stream << ", key[0] " << in.key[0]);
    EXPECT_EQ(refill_hex(in), portable12_hex(in));
  }
}

// Vector stores must not assume an aligned buffer, nor spill past 64 words.
TEST_P(ChaChaVariant12, WritesExactlyTheBufferAtAnUnalignedAddress) {
  constexpr uint32_t kCanary = 0xa5a5a5a5;
  constexpr size_t kOffset = 1;  // 4 bytes past a 64-byte boundary
  alignas(64) uint32_t buffer[kChaChaRefillWords + 16];
  std::fill(std::begin(buffer), std::end(buffer), kCanary);
  ChaChaInput in{};
  in.counter = k2To32 - 2;
  in.stream = 3;
  chacha12_refill_with(GetParam(), in, buffer + kOffset);

  EXPECT_EQ(keystream_hex(buffer + kOffset), portable12_hex(in));
  for (size_t i = 0; i < std::size(buffer); ++i) {
    if (i < kOffset || i >= kOffset + kChaChaRefillWords) {
      EXPECT_EQ(buffer[i], kCanary) << "word " << i << " outside the output was written";
    }
  }
}

TEST(ChaChaDispatch, PicksTheFirstAvailableInOrderOfPreference) {
  ChaChaVariant expected = ChaChaVariant::portable;
  for (const ChaChaVariant v : {ChaChaVariant::avx512, ChaChaVariant::avx2, ChaChaVariant::avx,
                                ChaChaVariant::sse41, ChaChaVariant::ssse3, ChaChaVariant::sse2}) {
    if (chacha_variant_available(v)) {
      expected = v;
      break;
    }
  }
  EXPECT_EQ(chacha_selected_variant(), expected)
      << "picked " << chacha_variant_name(chacha_selected_variant());
  EXPECT_TRUE(chacha_variant_available(ChaChaVariant::portable));
#if defined(__x86_64__)
  EXPECT_TRUE(chacha_variant_available(ChaChaVariant::sse2)) << "SSE2 is the x86-64 baseline";
#endif
}

TEST(ChaChaDispatch, ProductionRefillMatchesPortable) {
  for (const ChaChaInput& in : differential_inputs()) {
    SCOPED_TRACE(testing::Message() << std::hex << "counter " << in.counter);
    uint32_t out[kChaChaRefillWords];
    chacha12_refill(in, out);
    EXPECT_EQ(keystream_hex(out), portable12_hex(in));
  }
}

TEST(ChaChaDispatch, ValueOutsideTheEnumRunsPortable) {
  const auto unknown = static_cast<ChaChaVariant>(200);
  EXPECT_FALSE(chacha_variant_available(unknown));
  EXPECT_STREQ(chacha_variant_name(unknown), "unknown");
  ChaChaInput in{};
  in.counter = kU64Max;
  uint32_t out[kChaChaRefillWords];
  chacha12_refill_with(unknown, in, out);
  EXPECT_EQ(keystream_hex(out), portable12_hex(in));
}

}  // namespace
}  // namespace kestrand
