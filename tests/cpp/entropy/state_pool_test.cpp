// The opaque states' memory: layout in the pages, reuse through the free list,
// failure to map, and the process's pool under threads that come and go and
// across fork().
#include "sources/entropy/state_pool.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "sources/entropy/thread_state.hpp"
#include "sources/entropy/os_entropy.hpp"
#include "support/forked_child.hpp"

namespace kestrand {
namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

StateShape shape_of(size_t size) { return {size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS}; }

TEST(StatePool, StatesAtACacheLineStrideNeverStraddlingAPage) {
  for (size_t size : {size_t{1}, size_t{64}, size_t{144}, size_t{200}, size_t{1000}, kPage - 1, kPage + 1}) {
    SCOPED_TRACE(size);
    StatePool pool(shape_of(size));
    EXPECT_EQ(pool.stride() % 64, 0u);
    EXPECT_GE(pool.stride(), size);
    EXPECT_LT(pool.stride(), size + 64);
    std::set<uintptr_t> seen;
    for (int i = 0; i < 200; ++i) {
      auto* state = static_cast<unsigned char*>(pool.take());
      ASSERT_NE(state, nullptr);
      auto start = reinterpret_cast<uintptr_t>(state);
      EXPECT_EQ(start % 64, 0u);
      if (size <= kPage) {
        EXPECT_EQ(start / kPage, (start + size - 1) / kPage) << "straddles a page";
      }
      // No two states overlap: each is written whole and stays intact.
      std::memset(state, i & 0xFF, size);
      seen.insert(start);
    }
    EXPECT_EQ(seen.size(), 200u);
    std::vector<uintptr_t> sorted(seen.begin(), seen.end());
    for (size_t i = 1; i < sorted.size(); ++i) {
      EXPECT_GE(sorted[i] - sorted[i - 1], size);
    }
    size_t per_mapping = size <= kPage ? kPage / pool.stride() : 1;
    EXPECT_EQ(pool.mappings(), (200 + per_mapping - 1) / per_mapping);
  }
}

TEST(StatePool, GivenBackStatesServeBeforeNewMemory) {
  StatePool pool(shape_of(144));
  std::vector<void*> taken;
  for (int i = 0; i < 100; ++i) {
    taken.push_back(pool.take());
  }
  size_t mappings = pool.mappings();
  for (void* state : taken) {
    pool.give_back(state);
  }
  std::set<void*> again;
  for (int i = 0; i < 100; ++i) {
    again.insert(pool.take());
  }
  EXPECT_EQ(again, std::set<void*>(taken.begin(), taken.end()));
  EXPECT_EQ(pool.mappings(), mappings);
}

TEST(StatePool, FailedMappingYieldsNoStateAndALaterCallTriesAgain) {
  // MAP_SHARED_VALIDATE with an unknown flag is refused by every kernel.
  StatePool refused({144, PROT_READ | PROT_WRITE, MAP_SHARED_VALIDATE | MAP_ANONYMOUS | (1 << 30)});
  EXPECT_EQ(refused.take(), nullptr);
  EXPECT_EQ(refused.take(), nullptr);
  EXPECT_EQ(refused.mappings(), 0u);
  StatePool unshaped;
  EXPECT_EQ(unshaped.take(), nullptr);
}

bool vdso_active() { return process_vdso_getrandom().function != nullptr; }

TEST(ProcessStates, ThreadsComingAndGoingReuseTheirStates) {
  if (!vdso_active()) {
    GTEST_SKIP() << "this kernel has no getrandom in its vDSO";
  }
  constexpr int kWave = 8;
  auto wave = [] {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < kWave; ++i) {
      threads.emplace_back([&] {
        uint8_t bytes[16];
        failures += os_entropy_fill(bytes, sizeof bytes) != 0;
      });
    }
    for (std::thread& thread : threads) {
      thread.join();  // returns once the thread's exit, and so its state's return, is done
    }
    return failures.load();
  };
  ASSERT_EQ(wave(), 0);
  size_t after_first = process_state_mappings();
  EXPECT_GE(after_first, 1u);
  for (int i = 0; i < 250; ++i) {
    ASSERT_EQ(wave(), 0);
  }
  EXPECT_EQ(process_state_mappings(), after_first) << "2000 threads, never more than 9 at once";
}

TEST(StatePool, KeepOnlyPutsEveryOtherHandedOutStateBack) {
  StatePool pool(shape_of(200));
  size_t per_mapping = kPage / pool.stride();
  std::vector<void*> taken;
  for (size_t i = 0; i < per_mapping + 3; ++i) {  // into a second mapping
    taken.push_back(pool.take());
  }
  pool.give_back(taken[1]);
  ASSERT_EQ(pool.in_use(), taken.size() - 1);
  pool.keep_only(taken[2]);
  EXPECT_EQ(pool.in_use(), 1u);
  // Every state but the kept one comes back once, before new memory is mapped.
  std::set<void*> again;
  for (size_t i = 0; i + 1 < taken.size(); ++i) {
    again.insert(pool.take());
  }
  std::set<void*> expected(taken.begin(), taken.end());
  expected.erase(taken[2]);
  EXPECT_EQ(again, expected);
  EXPECT_EQ(pool.mappings(), 2u);
  EXPECT_NE(pool.take(), taken[2]);  // still the kept thread's
}

// Threads that fill until stopped; stopped and joined however the test ends.
class BusyFillers {
 public:
  explicit BusyFillers(int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this] {
        uint8_t bytes[16];
        failures_ += os_entropy_fill(bytes, sizeof bytes) != 0;
        started_.fetch_add(1);
        while (!stop_.load()) {
          failures_ += os_entropy_fill(bytes, sizeof bytes) != 0;
        }
      });
    }
    // Every thread past its start and its first request, which allocate
    // (thread start-up, the state's exit hook): from then on a request
    // allocates nothing. A fork in the middle of an allocation would hang the
    // child inside AddressSanitizer's allocator, whose locks are not held
    // across fork the way the C library's malloc locks are.
    while (started_.load() < count) {
      std::this_thread::yield();
    }
  }
  ~BusyFillers() { stop(); }
  int stop() {
    stop_ = true;
    for (std::thread& thread : threads_) {
      if (thread.joinable()) {
        thread.join();
      }
    }
    return failures_.load();
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> started_{0};
  std::atomic<int> failures_{0};
  std::vector<std::thread> threads_;
};

// Threads that make one request, so hold a state, and then wait without
// using the processor until stopped.
class StateHolders {
 public:
  explicit StateHolders(int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this] {
        uint8_t bytes[16];
        std::unique_lock<std::mutex> hold(mutex_);
        failures_ += os_entropy_fill(bytes, sizeof bytes) != 0;
        ++started_;
        changed_.notify_all();
        changed_.wait(hold, [this] { return stop_; });
      });
    }
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return started_ == count; });
  }
  ~StateHolders() { stop(); }
  int failures() {
    std::lock_guard<std::mutex> hold(mutex_);
    return failures_;
  }
  int stop() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
      if (thread.joinable()) {
        thread.join();  // returns once the thread's state went back
      }
    }
    return failures_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int started_ = 0;
  int failures_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// Forks with `busy` threads filling all the while; the child takes a new
// thread's state (so the pool's lock) and both sides report 32 bytes.
void fork_and_compare(int busy) {
  BusyFillers fillers(busy);
  uint8_t warm[16];
  ASSERT_EQ(os_entropy_fill(warm, sizeof warm), 0);  // this thread's state is seeded
  testing::ChildOutcome child = testing::run_in_child(32, [](uint8_t* out) {
    bool ok = os_entropy_fill(out, 16) == 0;
    std::thread fresh([&] { ok = ok && os_entropy_fill(out + 16, 16) == 0; });
    fresh.join();
    return ok;
  });
  std::array<uint8_t, 32> parent{};
  EXPECT_EQ(os_entropy_fill(parent.data(), 16), 0);
  std::thread fresh([&] { EXPECT_EQ(os_entropy_fill(parent.data() + 16, 16), 0); });
  fresh.join();
  EXPECT_EQ(fillers.stop(), 0);
  ASSERT_EQ(child.failure, "");
  // The same thread's next bytes, and a new thread's first, differ between
  // parent and child.
  EXPECT_NE(std::memcmp(parent.data(), child.bytes.data(), 16), 0);
  EXPECT_NE(std::memcmp(parent.data() + 16, child.bytes.data() + 16, 16), 0);
}

TEST(ProcessStates, ParentAndChildDrawDifferentBytesAfterFork) { fork_and_compare(0); }

// Threads that have each taken a state and wait: a fork leaves them behind.
// In every child the states of the threads that do not exist there go back to
// the pool, so along a chain of 50 forks, each from a process with four such
// threads, the bottom holds what a process that never forked holds: the one
// state of the thread that draws.
TEST(ProcessStates, ChainOfForksFromThreadedProcessesHoldsNoMoreStates) {
  if (process_vdso_getrandom().function == nullptr) {
    GTEST_SKIP() << "no vDSO getrandom here: the process has no states";
  }
  if (KESTRAND_TEST_UNDER_TSAN) {
    GTEST_SKIP() << "each child starts threads after a fork from a multithreaded process, which "
                    "ThreadSanitizer does not support; the other builds run this test";
  }
  uint8_t bytes[16];
  ASSERT_EQ(os_entropy_fill(bytes, sizeof bytes), 0);
  const size_t alone = process_states_in_use();
  ASSERT_EQ(alone, 1u);
  // Each level: four threads take a state and stay; the next level is a
  // child of this one. The bottom writes how many states it holds, and each
  // level passes that up.
  struct Level {
    static bool run(int depth, uint8_t* out) {
      StateHolders waiting(4);
      if (waiting.failures() != 0 || process_states_in_use() != 5) {
        return false;
      }
      if (depth == 0) {
        uint8_t fill[16];
        if (os_entropy_fill(fill, sizeof fill) != 0 || waiting.stop() != 0) {
          return false;
        }
        size_t held = process_states_in_use();
        std::memcpy(out, &held, sizeof held);
        return true;
      }
      testing::ChildOutcome child = testing::run_in_child(
          sizeof(size_t), [depth](uint8_t* below) {
            size_t here = process_states_in_use();  // right after the fork
            uint8_t fill[16];
            return here == 1 && os_entropy_fill(fill, sizeof fill) == 0 && run(depth - 1, below);
          },
          std::chrono::seconds(60));
      if (!child.failure.empty()) {
        return false;
      }
      std::memcpy(out, child.bytes.data(), sizeof(size_t));
      return waiting.stop() == 0;
    }
  };
  size_t at_bottom = 0;
  ASSERT_TRUE(Level::run(50, reinterpret_cast<uint8_t*>(&at_bottom)));
  EXPECT_EQ(at_bottom, alone);
}

TEST(ProcessStates, ParentAndChildDrawDifferentBytesAfterForkAmidBusyThreads) {
  if (KESTRAND_TEST_UNDER_TSAN) {
    GTEST_SKIP() << "the child starts a thread after a fork from a multithreaded process, which "
                    "ThreadSanitizer does not support; the other builds run this test";
  }
  fork_and_compare(2);
}

}  // namespace
}  // namespace kestrand
