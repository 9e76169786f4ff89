// The process-wide state of versions 1 and 7 under several threads at once,
// and the locks held across fork() while threads use them. What a race would
// break is checked directly: values distinct, each thread's version 7 values
// strictly increasing, the clock sequence neither skipping nor repeating.
// Short enough for the ThreadSanitizer run, which checks the same code for
// races.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "generators/v1_state.hpp"
#include "generators/v4.hpp"
#include "generators/v7_state.hpp"
#include "support/forked_child.hpp"

namespace kestrand {
namespace {

constexpr int kThreads = 4;

template <class Body>
void run_threads(int count, Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back(body, t);
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
}

TEST(V7Threads, ProcessValuesIncreaseWithinEachThreadAndAreAllDistinct) {
  constexpr int kValues = 5000;
  std::vector<std::vector<UuidValue>> made(kThreads);
  run_threads(kThreads, [&](int t) {
    auto& mine = made[static_cast<size_t>(t)];
    for (int i = 0; i < kValues; ++i) {
      mine.push_back(make_v7());
    }
  });
  std::set<UuidValue> all;
  for (const auto& mine : made) {
    EXPECT_TRUE(std::adjacent_find(mine.begin(), mine.end(), std::greater_equal<>()) == mine.end())
        << "not strictly increasing within a thread";
    all.insert(mine.begin(), mine.end());
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kValues));
}

// --- the version 1 clock sequence, on a clock that stands still ----------------

// The seed is 65534, so the 16-bit counter wraps after two steps: a value
// drawn from the counter before the seed landed would come round again.
std::atomic<int> v1_drawn{0};
std::atomic<int> v1_seed_requests{0};

WallTime still_clock() { return {1'800'000'000, 0}; }

// The seed request lingers until some thread has made a value, or 200 ms: a
// thread that could use the sequence before it is seeded gets the chance.
void slow_seed(void* out, size_t len) {
  v1_seed_requests.fetch_add(1);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (v1_drawn.load() == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::yield();
  }
  const uint8_t seed[2] = {0xFE, 0xFF};
  std::memcpy(out, seed, std::min(len, sizeof seed));
}

TEST(V1Threads, ClockSequenceStepsOncePerValueFromItsSeedAcrossThreads) {
  constexpr TimeSources sources = {still_clock, slow_seed};
  constexpr Node node = {1, 2, 3, 4, 5, 6};
  constexpr int kValues = 2000;  // 8000 in all, fewer than the 16384 sequence values
  V1ClockSequence sequence;
  std::vector<std::vector<uint16_t>> seen(kThreads);
  run_threads(kThreads, [&](int t) {
    for (int i = 0; i < kValues; ++i) {
      UuidValue value = v1_value(sequence, sources, node, std::nullopt);
      v1_drawn.fetch_add(1);
      seen[static_cast<size_t>(t)].push_back(static_cast<uint16_t>((value[8] & 0x3F) << 8 | value[9]));
    }
  });
  // With the clock standing still, the clock sequence alone tells the values
  // apart: together they are exactly the 8000 steps from the seed, 0x3FFE on.
  std::multiset<uint16_t> all;
  for (const auto& mine : seen) {
    all.insert(mine.begin(), mine.end());
  }
  std::multiset<uint16_t> expected;
  for (int i = 0; i < kThreads * kValues; ++i) {
    expected.insert(static_cast<uint16_t>((0x3FFE + i) & 0x3FFF));
  }
  std::vector<uint16_t> twice;
  for (auto it = all.begin(); it != all.end(); it = all.upper_bound(*it)) {
    if (all.count(*it) > 1) {
      twice.push_back(*it);
    }
  }
  EXPECT_EQ(twice, std::vector<uint16_t>{}) << "clock sequence values handed out twice";
  EXPECT_TRUE(all == expected) << "the values are not the steps from the seed";
  EXPECT_GE(v1_seed_requests.load(), 1);
}

// --- fork() while threads hold the generators' locks -------------------------

// Threads make version 7 and version 4 values without pause, so the fork
// often comes while one holds the version 7 lock or the entropy states' lock;
// the child, on its one thread, must still get both locks, and makes values
// of its own that the parent does not make.
TEST(ForkLocks, ChildMakesValuesWhileParentThreadsHeldTheLocks) {
  std::atomic<bool> stop{false};
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  struct Stopper {
    std::atomic<bool>& stop;
    std::vector<std::thread>& threads;
    ~Stopper() {
      stop = true;
      for (std::thread& thread : threads) {
        thread.join();
      }
    }
  } stopper{stop, threads};
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      make_v7();
      make_v4();  // thread start-up and the first requests allocate; the rest do not
      started.fetch_add(1);
      while (!stop.load()) {
        make_v7();
        make_v4();
      }
    });
  }
  while (started.load() < 2) {
    std::this_thread::yield();
  }
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    testing::ChildOutcome child = testing::run_in_child(32, [](uint8_t* out) {
      UuidValue v7 = make_v7();
      UuidValue v4 = make_v4();
      std::memcpy(out, v7.data(), 16);
      std::memcpy(out + 16, v4.data(), 16);
      return true;
    });
    UuidValue v7 = make_v7();
    UuidValue v4 = make_v4();
    ASSERT_EQ(child.failure, "");
    UuidValue child_v7;
    UuidValue child_v4;
    std::memcpy(child_v7.data(), child.bytes.data(), 16);
    std::memcpy(child_v4.data(), child.bytes.data() + 16, 16);
    EXPECT_NE(child_v7, v7);
    EXPECT_NE(child_v4, v4);
    EXPECT_EQ(child_v7[6] >> 4, 7);
    EXPECT_EQ(child_v4[6] >> 4, 4);
  }
}

}  // namespace
}  // namespace kestrand
