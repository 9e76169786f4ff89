// ReopenedMutex across fork(): a lock another thread holds when the process
// forks is free in the child, which would otherwise wait for a thread it does
// not have. OnceCell's mutex is one: its holder may be waiting for the
// interpreter lock that the thread calling os.fork() holds.
#include "lib/reopened_mutex.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/fork_locks.hpp"
#include "support/forked_child.hpp"

namespace kestrand {
namespace {

// The module lists the reset the same way (module/module.cpp).
const bool listed = reset_in_child(reopen_mutexes_in_child);

ReopenedMutex guard;

TEST(ReopenedMutex, ChildTakesALockAnotherThreadHeldAtTheFork) {
  ASSERT_TRUE(listed);
  ASSERT_FALSE(fork_registration_failure());
  std::atomic<bool> holding{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    std::lock_guard<ReopenedMutex> hold(guard);
    holding = true;
    while (!release.load()) {
      std::this_thread::yield();
    }
  });
  while (!holding.load()) {
    std::this_thread::yield();
  }
  testing::ChildOutcome child = testing::run_in_child(
      1,
      [](uint8_t* out) {
        std::lock_guard<ReopenedMutex> mine(guard);
        out[0] = 1;
        return true;
      },
      std::chrono::seconds(5));
  release = true;
  holder.join();
  EXPECT_EQ(child.failure, "");
  // The parent's lock was left alone: free again once its holder let go.
  std::lock_guard<ReopenedMutex> after(guard);
}

}  // namespace
}  // namespace kestrand
