#include "platform/fork_locks.hpp"

#include <pthread.h>

#include <array>

namespace kestrand {
namespace {

struct LockEntry {
  std::mutex* lock;
  ForkOrder order;
};

// Filled by static initialisers while the module is being loaded, which the
// dynamic loader does on one thread; read by the fork handlers.
constexpr size_t kLockCapacity = 8;
constexpr size_t kResetCapacity = 8;
constinit std::array<LockEntry, kLockCapacity> locks{};
constinit size_t lock_count = 0;
constinit std::array<ChildReset, kResetCapacity> resets{};
constinit size_t reset_count = 0;
constinit bool registered = false;
constinit ForkRegistrationFailure failure{0, false};

void lock_all() {
  for (int order = 0; order <= static_cast<int>(ForkOrder::last); ++order) {
    for (size_t i = 0; i < lock_count; ++i) {
      if (static_cast<int>(locks[i].order) == order) {
        locks[i].lock->lock();
      }
    }
  }
}

void unlock_all() {
  for (size_t i = 0; i < lock_count; ++i) {
    locks[i].lock->unlock();
  }
}

void reset_then_unlock_all() {
  for (size_t i = 0; i < reset_count; ++i) {
    resets[i]();
  }
  unlock_all();
}

// The one pthread_atfork registration, made by the first entry of either table.
bool ensure_registered() noexcept {
  if (!registered && failure.atfork_error == 0) {
    int error = pthread_atfork(lock_all, unlock_all, reset_then_unlock_all);
    registered = error == 0;
    failure.atfork_error = error;
  }
  return registered;
}

}  // namespace

bool hold_across_fork(std::mutex& lock, ForkOrder order) noexcept {
  for (size_t i = 0; i < lock_count; ++i) {
    if (locks[i].lock == &lock) {
      return true;
    }
  }
  if (lock_count == kLockCapacity) {
    failure.table_full = true;
    return false;
  }
  if (!ensure_registered()) {
    return false;
  }
  locks[lock_count++] = {&lock, order};
  return true;
}

bool reset_in_child(ChildReset reset) noexcept {
  for (size_t i = 0; i < reset_count; ++i) {
    if (resets[i] == reset) {
      return true;
    }
  }
  if (reset_count == kResetCapacity) {
    failure.table_full = true;
    return false;
  }
  if (!ensure_registered()) {
    return false;
  }
  resets[reset_count++] = reset;
  return true;
}

ForkRegistrationFailure fork_registration_failure() noexcept { return failure; }

}  // namespace kestrand
