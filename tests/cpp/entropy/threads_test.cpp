// The entropy path under many threads at once, with threads starting and
// exiting all the while, so that states leave and rejoin the pool: no state
// is ever held by two threads, none is lost, and no two requests return the
// same bytes. Short enough for the ThreadSanitizer run, which checks the same
// code for races.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "generators/v4.hpp"
#include "sources/entropy/os_entropy.hpp"
#include "sources/entropy/state_pool.hpp"
#include "sources/entropy/thread_state.hpp"

namespace kestrand {
namespace {

TEST(StatePoolThreads, NoStateIsEverHeldTwiceOrLost) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 2000;
  constexpr size_t kSize = 200;
  StatePool pool({kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS});
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread holds up to three states at once, stamped with its own
      // byte; a state also handed to another thread would lose the stamp.
      auto mark = static_cast<unsigned char>(t + 1);
      std::vector<unsigned char*> held;
      for (int round = 0; round < kRounds; ++round) {
        auto* state = static_cast<unsigned char*>(pool.take());
        if (state == nullptr) {
          ++faults;
          continue;
        }
        std::memset(state, mark, kSize);
        held.push_back(state);
        if (held.size() == 3 || round + 1 == kRounds) {
          for (unsigned char* mine : held) {
            for (size_t i = 0; i < kSize; ++i) {
              faults += mine[i] != mark;
            }
            pool.give_back(mine);
          }
          held.clear();
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(faults.load(), 0);
  // Every state is back: all the states the pool ever carved can be taken
  // again, each once, without a new mapping.
  size_t mappings = pool.mappings();
  size_t carved = mappings * std::max<size_t>(1, static_cast<size_t>(sysconf(_SC_PAGESIZE)) / pool.stride());
  std::set<void*> again;
  for (size_t i = 0; i < carved; ++i) {
    again.insert(pool.take());
  }
  again.erase(nullptr);
  EXPECT_EQ(again.size(), carved);
  EXPECT_EQ(pool.mappings(), mappings);
}

using Draw = std::array<uint8_t, 16>;

// Draws kept by all threads; a lease's state is registered while its thread
// is live, and must not be anyone else's at that moment.
struct Ledger {
  std::mutex lock;
  std::set<Draw> draws;
  size_t draw_count = 0;
  std::set<void*> live_states;
  int faults = 0;

  void add(const std::vector<Draw>& mine) {
    std::lock_guard<std::mutex> guard(lock);
    draws.insert(mine.begin(), mine.end());
    draw_count += mine.size();
  }
  void claim(void* state) {
    std::lock_guard<std::mutex> guard(lock);
    faults += state != nullptr && !live_states.insert(state).second;
  }
  void release(void* state) {
    std::lock_guard<std::mutex> guard(lock);
    live_states.erase(state);
  }
};

// One thread's requests: single fills and a run of version 4 values, as the
// bulk call makes them. Its state goes back to the pool when the thread exits.
void draw_for_a_while(Ledger& ledger, int requests) {
  void* state = nullptr;
  {
    ThreadStateLease lease;
    state = lease.state();
  }
  ledger.claim(state);
  std::vector<Draw> mine;
  for (int i = 0; i < requests; ++i) {
    Draw draw;
    if (os_entropy_fill(draw.data(), draw.size()) != 0) {
      std::lock_guard<std::mutex> guard(ledger.lock);
      ++ledger.faults;
      return;
    }
    mine.push_back(draw);
  }
  EntropyRun run;
  for (int i = 0; i < requests; ++i) {
    mine.push_back(make_v4(run));
  }
  ledger.add(mine);
  ledger.release(state);
}

TEST(ProcessStatesThreads, DrawersAmongThreadsComingAndGoingGetTheirOwnStatesAndBytes) {
  constexpr int kSteady = 3;
  constexpr int kSteadyRounds = 40;
  constexpr int kWaves = 40;
  constexpr int kPerWave = 4;
  Ledger ledger;
  std::vector<std::thread> steady;
  for (int i = 0; i < kSteady; ++i) {
    steady.emplace_back([&] {
      for (int round = 0; round < kSteadyRounds; ++round) {
        draw_for_a_while(ledger, 20);
      }
    });
  }
  for (int wave = 0; wave < kWaves; ++wave) {
    std::vector<std::thread> passing;
    for (int i = 0; i < kPerWave; ++i) {
      passing.emplace_back([&] { draw_for_a_while(ledger, 5); });
    }
    for (std::thread& thread : passing) {
      thread.join();
    }
  }
  for (std::thread& thread : steady) {
    thread.join();
  }
  EXPECT_EQ(ledger.faults, 0);
  EXPECT_EQ(ledger.draw_count, static_cast<size_t>(kSteady * kSteadyRounds * 40 + kWaves * kPerWave * 10));
  EXPECT_EQ(ledger.draws.size(), ledger.draw_count) << "two requests returned the same bytes";
  if (process_vdso_getrandom().function != nullptr) {
    // At most 3 steady threads, 4 passing ones and this one live at once, and
    // every state went back: the pool never needed more than those 8.
    size_t stride = (process_vdso_getrandom().shape.size + 63) / 64 * 64;
    size_t per_page = std::max<size_t>(1, static_cast<size_t>(sysconf(_SC_PAGESIZE)) / stride);
    EXPECT_LE(process_state_mappings(), (8 + per_page - 1) / per_page);
  }
}

}  // namespace
}  // namespace kestrand
