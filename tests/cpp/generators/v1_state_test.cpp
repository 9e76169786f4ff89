// Version 1 values against a clock and a random source the test controls:
// the layout, the clock sequence's seeding and stepping, and what a failing
// source leaves behind.
#include "generators/v1_state.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "lib/error.hpp"

namespace kestrand {
namespace {

struct Fakes {
  WallTime now{};
  bool clock_fails = false;
  bool fill_fails = false;
  std::vector<uint8_t> seed = {0x34, 0x12};
  std::vector<size_t> requests;
};
Fakes fakes;

WallTime fake_now() {
  if (fakes.clock_fails) {
    panic("clock failed");
  }
  return fakes.now;
}

void fake_fill(void* out, size_t len) {
  fakes.requests.push_back(len);
  if (fakes.fill_fails) {
    panic("could not retrieve random bytes for uuid: OS Error: 5");
  }
  std::memcpy(out, fakes.seed.data(), len);
}

constexpr TimeSources kFakeSources = {fake_now, fake_fill};
constexpr Node kNode = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};

uint16_t clock_seq_of(const UuidValue& value) {
  return static_cast<uint16_t>((value[8] & 0x3F) << 8 | value[9]);
}

class V1Test : public ::testing::Test {
 protected:
  void SetUp() override { fakes = Fakes{}; }
  UuidValue make(std::optional<uint16_t> clock_seq = std::nullopt) {
    return v1_value(sequence, kFakeSources, kNode, clock_seq);
  }
  V1ClockSequence sequence;
};

TEST_F(V1Test, LaysOutTicksClockSequenceAndNode) {
  // 2026-12-10T01:02:03.123456789Z: ticks = s * 10^7 + ns / 100 + offset.
  fakes.now = {1796864523, 123456789};
  uint64_t ticks = 1796864523ull * 10'000'000 + 1234567 + kGregorianOffset;
  UuidValue value = make(0xC123);
  const UuidValue expected = {
      static_cast<uint8_t>(ticks >> 24), static_cast<uint8_t>(ticks >> 16),
      static_cast<uint8_t>(ticks >> 8),  static_cast<uint8_t>(ticks),
      static_cast<uint8_t>(ticks >> 40), static_cast<uint8_t>(ticks >> 32),
      static_cast<uint8_t>(0x10 | (ticks >> 56)), static_cast<uint8_t>(ticks >> 48),
      0x81, 0x23,  // the top two bits of 0xC123 are dropped
      0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
  EXPECT_EQ(value, expected);
}

TEST_F(V1Test, TicksKeepTheirLow60Bits) {
  fakes.now = {UINT64_MAX / 10'000'000, 999'999'999};
  UuidValue value = make(0);
  uint64_t ticks = (UINT64_MAX / 10'000'000) * 10'000'000 + 9'999'999 + kGregorianOffset;
  EXPECT_EQ(value[6], 0x10 | ((ticks >> 56) & 0x0F));
  EXPECT_EQ(value[7], static_cast<uint8_t>(ticks >> 48));
  EXPECT_EQ(value[3], static_cast<uint8_t>(ticks));
}

TEST_F(V1Test, SequenceIsSeededOnceLittleEndianAndStepsByOne) {
  std::vector<uint16_t> seen;
  for (int i = 0; i < 3; ++i) {
    seen.push_back(clock_seq_of(make()));
  }
  EXPECT_EQ(seen, (std::vector<uint16_t>{0x1234, 0x1235, 0x1236}));
  EXPECT_EQ(fakes.requests, std::vector<size_t>{2});
}

TEST_F(V1Test, SequenceWrapsThroughAll16384Values) {
  fakes.seed = {0xFE, 0xFF};  // 65534: the 16-bit counter wraps after two
  std::vector<uint16_t> seen;
  for (int i = 0; i < 4; ++i) {
    seen.push_back(clock_seq_of(make()));
  }
  EXPECT_EQ(seen, (std::vector<uint16_t>{0x3FFE, 0x3FFF, 0x0000, 0x0001}));
}

TEST_F(V1Test, CallerClockSequenceNeitherSeedsNorSteps) {
  EXPECT_EQ(clock_seq_of(make(5)), 5);
  EXPECT_EQ(clock_seq_of(make(16389)), 5);
  EXPECT_TRUE(fakes.requests.empty());
  EXPECT_EQ(clock_seq_of(make()), 0x1234);
  EXPECT_EQ(clock_seq_of(make(7)), 7);
  EXPECT_EQ(clock_seq_of(make()), 0x1235);
}

TEST_F(V1Test, FailedSeedIsNeverRetriedAndCountingGoesOn) {
  fakes.fill_fails = true;
  EXPECT_THROW(make(), Panic);
  fakes.fill_fails = false;
  EXPECT_EQ(clock_seq_of(make()), 0);
  EXPECT_EQ(clock_seq_of(make()), 1);
  EXPECT_EQ(fakes.requests, std::vector<size_t>{2});
}

// What a forked child does to the process's sequence: the next value seeds
// it afresh instead of counting on; so does one after a failed seed.
TEST_F(V1Test, UnseededSequenceSeedsAgainAtItsNextUse) {
  EXPECT_EQ(clock_seq_of(make()), 0x1234);
  EXPECT_EQ(clock_seq_of(make()), 0x1235);
  v1_unseed(sequence);
  fakes.seed = {0x78, 0x06};
  EXPECT_EQ(clock_seq_of(make()), 0x0678);
  EXPECT_EQ(clock_seq_of(make()), 0x0679);
  EXPECT_EQ(clock_seq_of(make(9)), 9);
  fakes.fill_fails = true;
  v1_unseed(sequence);
  EXPECT_THROW(make(), Panic);
  v1_unseed(sequence);
  fakes.fill_fails = false;
  EXPECT_EQ(clock_seq_of(make()), 0x0678);
  EXPECT_EQ(fakes.requests, (std::vector<size_t>{2, 2, 2, 2}));
}

TEST_F(V1Test, ClockFailureAfterSeedingKeepsTheSeedAndConsumesNothing) {
  fakes.clock_fails = true;
  EXPECT_THROW(make(), Panic);
  fakes.clock_fails = false;
  EXPECT_EQ(clock_seq_of(make()), 0x1234);
  EXPECT_EQ(fakes.requests, std::vector<size_t>{2});
}

TEST(V1Node, KeepsBits47To0BigEndian) {
  EXPECT_EQ(node_of(0xFFFF0123456789ABull), (Node{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}));
  EXPECT_EQ(node_of(1), (Node{0, 0, 0, 0, 0, 1}));
}

}  // namespace
}  // namespace kestrand
