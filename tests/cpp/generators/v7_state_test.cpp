// The version 7 step against a clock and a random source the test controls.
//
// The fake clock returns whatever reading the test set, or panics; the fake
// random source hands out counting bytes (0, 1, 2, ... across requests) or
// bytes the test queued, records every request's length, and panics on the
// request the test chose. So every value, and the context after every failure,
// is known exactly.
#include "generators/v7_state.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <set>
#include <thread>
#include <vector>

#include "lib/error.hpp"

namespace kestrand {
namespace {

constexpr uint64_t kCounterLimit = uint64_t{1} << 42;
constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();
constexpr const char kEntropyFailure[] = "could not retrieve random bytes for uuid: OS Error: 5";

// --- the fake sources -------------------------------------------------------

struct FakeWorld {
  WallTime now{};
  bool clock_fails = false;
  uint8_t next_byte = 0;           // counting bytes when nothing is queued
  std::deque<uint8_t> queued;      // bytes handed out first
  std::vector<size_t> requests;    // length of every fill request
  int fail_request = -1;           // index of the request that fails, or -1
};

FakeWorld world;

WallTime fake_now() {
  if (world.clock_fails) {
    panic("Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated "
          "causality: SystemTimeError(500ms)");
  }
  return world.now;
}

void fake_fill(void* out, size_t out_len) {
  auto index = static_cast<int>(world.requests.size());
  world.requests.push_back(out_len);
  if (index == world.fail_request) {
    panic(kEntropyFailure);
  }
  auto* bytes = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < out_len; ++i) {
    if (!world.queued.empty()) {
      bytes[i] = world.queued.front();
      world.queued.pop_front();
    } else {
      bytes[i] = world.next_byte++;
    }
  }
}

constexpr TimeSources kFakeSources = {fake_now, fake_fill};

// --- the layout, written out independently ------------------------------------

uint64_t seed_of(const std::array<uint8_t, 8>& draw) {
  uint64_t word = 0;
  for (size_t i = 0; i < 8; ++i) {
    word |= uint64_t{draw[i]} << (8 * i);
  }
  return word & 0x1FFFFFFFFFF;
}

std::array<uint8_t, 8> counting(uint8_t first) {
  std::array<uint8_t, 8> draw{};
  for (size_t i = 0; i < draw.size(); ++i) {
    draw[i] = static_cast<uint8_t>(first + i);
  }
  return draw;
}

UuidValue layout(uint64_t ms, uint64_t counter, const uint8_t (&tail)[16]) {
  UuidValue v{};
  for (size_t i = 0; i < 6; ++i) {
    v[i] = static_cast<uint8_t>((ms >> (40 - 8 * i)) & 0xFF);
  }
  v[6] = static_cast<uint8_t>(0x70 | ((counter >> 38) & 0x0F));
  v[7] = static_cast<uint8_t>((counter >> 30) & 0xFF);
  v[8] = static_cast<uint8_t>(0x80 | ((counter >> 24) & 0x3F));
  v[9] = static_cast<uint8_t>((counter >> 16) & 0xFF);
  v[10] = static_cast<uint8_t>((counter >> 8) & 0xFF);
  v[11] = static_cast<uint8_t>(counter & 0xFF);
  v[12] = tail[9];
  v[13] = tail[8];
  v[14] = tail[7];
  v[15] = tail[6];
  return v;
}

uint64_t ms_field(const UuidValue& v) {
  uint64_t ms = 0;
  for (size_t i = 0; i < 6; ++i) {
    ms = (ms << 8) | v[i];
  }
  return ms;
}

uint64_t counter_field(const UuidValue& v) {
  return (uint64_t{v[6] & 0x0Fu} << 38) | (uint64_t{v[7]} << 30) | (uint64_t{v[8] & 0x3Fu} << 24) |
         (uint64_t{v[9]} << 16) | (uint64_t{v[10]} << 8) | uint64_t{v[11]};
}

class V7StepTest : public ::testing::Test {
 protected:
  void SetUp() override { world = FakeWorld{}; }

  void set_state(uint64_t last_millisecond, uint64_t counter) {
    context.last_millisecond = last_millisecond;
    context.counter = counter;
  }

  void expect_state(uint64_t last_millisecond, uint64_t counter) {
    EXPECT_EQ(context.last_millisecond, last_millisecond);
    EXPECT_EQ(context.counter, counter);
  }

  // The lock must be free again, whatever happened inside the step.
  void expect_unlocked() {
    ASSERT_TRUE(context.lock.try_lock());
    context.lock.unlock();
  }

  std::string step_panic_message() {
    try {
      v7_step(context, kFakeSources);
    } catch (const Panic& failure) {
      return failure.message;
    }
    ADD_FAILURE() << "v7_step did not panic";
    return "";
  }

  V7Context context;
};

// --- reseeding and counting -------------------------------------------------

TEST_F(V7StepTest, FirstStepReseedsFromEightBytesThenDrawsTheTail) {
  world.now = {1'700'000'000, 123'456'789};
  UuidValue value = v7_step(context, kFakeSources);

  const uint64_t ms = 1'700'000'000'123;
  const uint64_t seed = seed_of(counting(0));
  uint8_t tail[16];
  for (uint8_t i = 0; i < 16; ++i) {
    tail[i] = static_cast<uint8_t>(8 + i);
  }
  EXPECT_EQ(value, layout(ms, seed, tail));
  // bytes 12..15 are bytes 9, 8, 7, 6 of the tail draw (17, 16, 15, 14 here)
  EXPECT_EQ(value[12], 17);
  EXPECT_EQ(value[15], 14);
  EXPECT_EQ(world.requests, (std::vector<size_t>{8, 16}));
  expect_state(ms, seed);
  expect_unlocked();
}

struct SeedCase {
  std::array<uint8_t, 8> draw;
  uint64_t counter;
  uint8_t byte6;
};

// The 8 reseed bytes are read little-endian and only their low 41 bits kept,
// so the counter's 42nd bit is clear and byte 6 stays within 0x70..0x77.
constexpr SeedCase kSeedCases[] = {
    {{0, 0, 0, 0, 0, 0, 0, 0}, 0, 0x70},
    {{1, 0, 0, 0, 0, 0, 0, 0}, 1, 0x70},
    {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x1FFFFFFFFFF, 0x77},
    {{0, 0, 0, 0, 0, 0x01, 0, 0}, 0x10000000000, 0x74},  // bit 40: kept
    {{0, 0, 0, 0, 0, 0x02, 0, 0}, 0, 0x70},              // bit 41: dropped
    {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 0x05544332211, 0x71},
};

TEST_F(V7StepTest, ReseedKeepsTheLow41BitsOfALittleEndianDraw) {
  for (const SeedCase& c : kSeedCases) {
    SCOPED_TRACE(c.counter);
    SetUp();
    V7Context fresh;
    world.now = {1'000, 0};
    world.queued.assign(c.draw.begin(), c.draw.end());
    UuidValue value = v7_step(fresh, kFakeSources);
    EXPECT_EQ(fresh.counter, c.counter);
    EXPECT_EQ(counter_field(value), c.counter);
    EXPECT_EQ(value[6], c.byte6);
  }
}

TEST_F(V7StepTest, SameMillisecondIncrementsWithoutReseeding) {
  world.now = {1, 5'000'000};  // 1005 ms
  UuidValue first = v7_step(context, kFakeSources);
  world.now = {1, 5'999'999};  // still 1005 ms
  UuidValue second = v7_step(context, kFakeSources);
  UuidValue third = v7_step(context, kFakeSources);

  const uint64_t seed = seed_of(counting(0));
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 6, second.begin()));
  EXPECT_EQ(counter_field(second), seed + 1);
  EXPECT_EQ(counter_field(third), seed + 2);
  EXPECT_EQ(ms_field(third), 1'005u);
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_EQ(world.requests, (std::vector<size_t>{8, 16, 16, 16}));
  expect_state(1'005, seed + 2);
}

TEST_F(V7StepTest, ClockBehindTheStoredMillisecondKeepsItAndIncrements) {
  set_state(5'000'000, 41);
  world.now = {4'990, 0};  // ten seconds behind
  UuidValue value = v7_step(context, kFakeSources);
  EXPECT_EQ(ms_field(value), 5'000'000u);
  EXPECT_EQ(counter_field(value), 42u);
  EXPECT_EQ(world.requests, (std::vector<size_t>{16}));
  expect_state(5'000'000, 42);

  world.now = {0, 0};  // the epoch itself is behind too
  value = v7_step(context, kFakeSources);
  EXPECT_EQ(counter_field(value), 43u);
  expect_state(5'000'000, 43);
}

TEST_F(V7StepTest, NewMillisecondAfterAClockThatWasBehindReseeds) {
  set_state(5'000'000, 41);
  world.now = {5'000, 1'000'000};  // 5000001 ms
  UuidValue value = v7_step(context, kFakeSources);
  EXPECT_EQ(ms_field(value), 5'000'001u);
  EXPECT_EQ(counter_field(value), seed_of(counting(0)));
  EXPECT_EQ(world.requests, (std::vector<size_t>{8, 16}));
}

struct OverflowCase {
  const char* name;
  uint64_t counter_before;
  WallTime now;
  uint64_t ms_after;
  bool reseeds;
};

// Stored millisecond 5000, clock at or behind it: the counter counts on until
// it would reach 2^42, which carries into the millisecond and reseeds.
constexpr OverflowCase kOverflowCases[] = {
    {"below the limit", kCounterLimit - 3, {5, 0}, 5'000, false},
    {"last counter value", kCounterLimit - 2, {5, 0}, 5'000, false},
    {"overflow, same ms", kCounterLimit - 1, {5, 0}, 5'001, true},
    {"overflow, clock behind", kCounterLimit - 1, {3, 0}, 5'001, true},
};

TEST_F(V7StepTest, CounterOverflowMovesTheMillisecondAheadAndReseeds) {
  for (const OverflowCase& c : kOverflowCases) {
    SCOPED_TRACE(c.name);
    SetUp();
    V7Context fresh;
    fresh.last_millisecond = 5'000;
    fresh.counter = c.counter_before;
    world.now = c.now;
    UuidValue value = v7_step(fresh, kFakeSources);
    uint64_t counter = c.reseeds ? seed_of(counting(0)) : c.counter_before + 1;
    EXPECT_EQ(fresh.last_millisecond, c.ms_after);
    EXPECT_EQ(fresh.counter, counter);
    EXPECT_LT(fresh.counter, kCounterLimit);
    EXPECT_EQ(ms_field(value), c.ms_after);
    EXPECT_EQ(counter_field(value), counter);
    EXPECT_EQ(world.requests,
              (c.reseeds ? std::vector<size_t>{8, 16} : std::vector<size_t>{16}));
  }
}

// What a forked child does to the process's context: its next step leaves
// the stored millisecond, with a fresh counter, whatever the counter was; the
// values go on increasing.
TEST_F(V7StepTest, AfterLeavingTheMillisecondTheNextStepStartsAFreshOne) {
  const struct {
    const char* name;
    WallTime now;
    uint64_t ms_after;
  } cases[] = {
      {"clock stands still", {5, 0}, 5'001},
      {"clock behind", {3, 0}, 5'001},
      {"clock moved on", {7, 0}, 7'000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_state(5'000, 17);
    world.now = {5, 0};
    UuidValue before = v7_step(context, kFakeSources);
    v7_leave_millisecond(context);
    world.now = c.now;
    world.requests.clear();
    UuidValue after = v7_step(context, kFakeSources);
    EXPECT_EQ(ms_field(after), c.ms_after);
    EXPECT_EQ(context.counter, counter_field(after));
    EXPECT_EQ(world.requests, (std::vector<size_t>{8, 16}));  // a reseed
    EXPECT_LT(before, after);
    expect_unlocked();
  }
}

TEST_F(V7StepTest, CounterAtTheTopStillLaysOutEveryBit) {
  set_state(5'000, kCounterLimit - 2);
  world.now = {5, 0};
  world.queued.assign(16, 0);
  UuidValue value = v7_step(context, kFakeSources);
  // counter 2^42 - 1: all 42 bits set around the version and variant bits
  const UuidValue expected = {0x00, 0x00, 0x00, 0x00, 0x13, 0x88, 0x7F, 0xFF,
                              0xBF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(value, expected);
}

struct CounterBytesCase {
  uint64_t counter;
  std::array<uint8_t, 6> bytes_6_to_11;
};

constexpr CounterBytesCase kCounterBytes[] = {
    {0x00000000000, {0x70, 0x00, 0x80, 0x00, 0x00, 0x00}},
    {0x00000000001, {0x70, 0x00, 0x80, 0x00, 0x00, 0x01}},
    {0x00000FFFFFF, {0x70, 0x00, 0x80, 0xFF, 0xFF, 0xFF}},
    {0x00001000000, {0x70, 0x00, 0x81, 0x00, 0x00, 0x00}},  // bit 24: after the variant
    {0x0003F000000, {0x70, 0x00, 0xBF, 0x00, 0x00, 0x00}},
    {0x00040000000, {0x70, 0x01, 0x80, 0x00, 0x00, 0x00}},  // bit 30: byte 7
    {0x04000000000, {0x71, 0x00, 0x80, 0x00, 0x00, 0x00}},  // bit 38: version byte
    {0x20000000000, {0x78, 0x00, 0x80, 0x00, 0x00, 0x00}},  // bit 41, the top one
    {0x2AAAAAAAAAA, {0x7A, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
};

TEST_F(V7StepTest, CounterBitsFillTheGapsAroundVersionAndVariant) {
  for (const CounterBytesCase& c : kCounterBytes) {
    SCOPED_TRACE(c.counter);
    SetUp();
    V7Context fresh;
    if (c.counter == 0) {
      fresh.last_millisecond = 4'999;  // a new millisecond, reseeded to 0
      world.queued.assign(8, 0);
    } else {
      fresh.last_millisecond = 5'000;
      fresh.counter = c.counter - 1;
    }
    world.now = {5, 0};
    UuidValue value = v7_step(fresh, kFakeSources);
    EXPECT_TRUE(std::equal(c.bytes_6_to_11.begin(), c.bytes_6_to_11.end(), value.begin() + 6));
  }
}

// --- the millisecond ----------------------------------------------------------

TEST_F(V7StepTest, MillisecondsFrom2To48OnKeepOnlyTheirLow48Bits) {
  const uint64_t ms = (uint64_t{1} << 48) + 0x123456;  // the year 10889 and a bit
  world.now = {ms / 1000, static_cast<uint32_t>(ms % 1000) * 1'000'000};
  UuidValue value = v7_step(context, kFakeSources);
  EXPECT_EQ(ms_field(value), 0x123456u);
  EXPECT_EQ(context.last_millisecond, ms);  // the stored millisecond is whole

  const uint64_t below = (uint64_t{1} << 48) - 1;
  V7Context earlier;
  world.now = {below / 1000, static_cast<uint32_t>(below % 1000) * 1'000'000};
  value = v7_step(earlier, kFakeSources);
  EXPECT_EQ(ms_field(value), below);
  EXPECT_TRUE(std::all_of(value.begin(), value.begin() + 6, [](uint8_t b) { return b == 0xFF; }));
}

struct SaturationCase {
  const char* name;
  WallTime now;
  uint64_t ms;
};

constexpr SaturationCase kSaturationCases[] = {
    {"largest exact", {18'446'744'073'709'551, 615'999'999}, kU64Max},
    {"one below", {18'446'744'073'709'551, 614'999'999}, kU64Max - 1},
    {"sum overflows", {18'446'744'073'709'551, 616'000'000}, kU64Max},
    {"product overflows", {18'446'744'073'709'552, 0}, kU64Max},
    {"largest seconds", {kU64Max, 999'999'999}, kU64Max},
    {"2^62 seconds", {uint64_t{1} << 62, 0}, kU64Max},
};

TEST_F(V7StepTest, SecondsTimesThousandSaturates) {
  for (const SaturationCase& c : kSaturationCases) {
    SCOPED_TRACE(c.name);
    SetUp();
    V7Context fresh;
    world.now = c.now;
    UuidValue value = v7_step(fresh, kFakeSources);
    EXPECT_EQ(fresh.last_millisecond, c.ms);
    EXPECT_EQ(ms_field(value), c.ms & 0xFFFFFFFFFFFF);
    EXPECT_EQ(world.requests, (std::vector<size_t>{8, 16}));  // a new millisecond
  }
}

TEST_F(V7StepTest, SaturatedClockCountsOnAtTheLargestMillisecond) {
  world.now = {uint64_t{1} << 62, 0};
  v7_step(context, kFakeSources);
  uint64_t seed = context.counter;
  world.now = {kU64Max, 0};
  UuidValue value = v7_step(context, kFakeSources);
  EXPECT_EQ(counter_field(value), seed + 1);
  expect_state(kU64Max, seed + 1);
}

// --- failures -------------------------------------------------------------------

TEST_F(V7StepTest, ClockFailureChangesNothingAndDrawsNothing) {
  set_state(5'000, 7);
  world.clock_fails = true;
  EXPECT_EQ(step_panic_message(),
            "Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated "
            "causality: SystemTimeError(500ms)");
  expect_state(5'000, 7);
  EXPECT_TRUE(world.requests.empty());
  expect_unlocked();
}

struct ReseedFailureCase {
  const char* name;
  uint64_t counter_before;
  WallTime now;
  uint64_t ms_next;       // of the next step, back at 5000 ms
  bool next_reseeds;      // else the counter continues from counter_before
};

constexpr ReseedFailureCase kReseedFailures[] = {
    {"new millisecond", 7, {6, 0}, 5'000, false},
    {"counter overflow", kCounterLimit - 1, {5, 0}, 5'001, true},
};

TEST_F(V7StepTest, ReseedFailureLeavesTheContextAsItWasAndUnlocked) {
  for (const ReseedFailureCase& c : kReseedFailures) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_state(5'000, c.counter_before);
    world.now = c.now;
    world.fail_request = 0;
    EXPECT_EQ(step_panic_message(), kEntropyFailure);
    EXPECT_EQ(world.requests, (std::vector<size_t>{8}));
    expect_state(5'000, c.counter_before);
    expect_unlocked();

    // The lock has no poisoned state: the next step proceeds normally.
    world.fail_request = -1;
    world.now = {5, 0};
    UuidValue value = v7_step(context, kFakeSources);
    EXPECT_EQ(ms_field(value), c.ms_next);
    EXPECT_EQ(counter_field(value),
              c.next_reseeds ? seed_of(counting(0)) : c.counter_before + 1);
    expect_unlocked();
  }
}

TEST_F(V7StepTest, TailFailureKeepsTheAdvancedState) {
  set_state(5'000, 7);
  world.now = {5, 0};
  world.fail_request = 0;  // same millisecond: the tail is the only request
  EXPECT_EQ(step_panic_message(), kEntropyFailure);
  expect_state(5'000, 8);
  expect_unlocked();

  SetUp();
  world.now = {6, 0};
  world.fail_request = 1;  // new millisecond: the reseed succeeds, the tail fails
  EXPECT_EQ(step_panic_message(), kEntropyFailure);
  EXPECT_EQ(world.requests, (std::vector<size_t>{8, 16}));
  const uint64_t seed = seed_of(counting(0));
  expect_state(6'000, seed);
  expect_unlocked();

  world.fail_request = -1;
  UuidValue value = v7_step(context, kFakeSources);
  EXPECT_EQ(counter_field(value), seed + 1);
}

// --- threads --------------------------------------------------------------------

WallTime fixed_now() { return {7, 0}; }
void zero_fill(void* out, size_t out_len) { std::memset(out, 0, out_len); }

TEST(V7StepThreads, ConcurrentStepsHandOutConsecutiveCounters) {
  constexpr TimeSources sources = {fixed_now, zero_fill};
  constexpr int kThreads = 4;
  constexpr int kSteps = 20'000;
  V7Context context;
  context.last_millisecond = 6'999;  // the first step reseeds to 0
  std::vector<std::vector<uint64_t>> counters(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto& mine = counters[static_cast<size_t>(t)];
      mine.reserve(kSteps);
      for (int i = 0; i < kSteps; ++i) {
        UuidValue value = v7_step(context, sources);
        mine.push_back(counter_field(value));
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  std::set<uint64_t> all;
  for (const auto& mine : counters) {
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
    EXPECT_EQ(std::adjacent_find(mine.begin(), mine.end()), mine.end());
    all.insert(mine.begin(), mine.end());
  }
  // Every value distinct, and together exactly the counters 0 .. N-1.
  ASSERT_EQ(all.size(), static_cast<size_t>(kThreads) * kSteps);
  EXPECT_EQ(*all.begin(), 0u);
  EXPECT_EQ(*all.rbegin(), static_cast<uint64_t>(kThreads) * kSteps - 1);
  EXPECT_EQ(context.last_millisecond, 7'000u);
}

// --- the process's own context ------------------------------------------------------

TEST(MakeV7, UsesTheSystemClockAndIncreases) {
  UuidValue first = make_v7();
  UuidValue second = make_v7();
  EXPECT_LT(first, second);
  EXPECT_EQ(first[6] >> 4, 7);
  EXPECT_EQ(first[8] >> 6, 2);
  // After 2020-01-01 (1577836800000 ms) and before 2100.
  EXPECT_GT(ms_field(second), 1'577'836'800'000u);
  EXPECT_LT(ms_field(second), 4'102'444'800'000u);
}

}  // namespace
}  // namespace kestrand
