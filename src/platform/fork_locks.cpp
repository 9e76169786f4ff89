#include "platform/fork_locks.hpp"

#include <pthread.h>

#include <array>
#include <atomic>

namespace kestrand {
namespace {

struct Entry {
  std::mutex* lock;
  ForkOrder order;
};

// Filled by static initialisers while the module is being loaded, which the
// dynamic loader does on one thread; read by the fork handlers.
constexpr size_t kCapacity = 8;
constinit std::array<Entry, kCapacity> entries{};
constinit size_t entry_count = 0;
constinit int registration = -1;  // -1: not yet registered

void lock_all() {
  for (int order = 0; order <= static_cast<int>(ForkOrder::last); ++order) {
    for (size_t i = 0; i < entry_count; ++i) {
      if (static_cast<int>(entries[i].order) == order) {
        entries[i].lock->lock();
      }
    }
  }
}

void unlock_all() {
  for (size_t i = 0; i < entry_count; ++i) {
    entries[i].lock->unlock();
  }
}

}  // namespace

int hold_across_fork(std::mutex& lock, ForkOrder order) noexcept {
  for (size_t i = 0; i < entry_count; ++i) {
    if (entries[i].lock == &lock) {
      return registration;
    }
  }
  if (entry_count == kCapacity) {
    return -1;
  }
  if (registration == -1) {
    registration = pthread_atfork(lock_all, unlock_all, unlock_all);
  }
  if (registration == 0) {
    entries[entry_count++] = {&lock, order};
  }
  return registration;
}

}  // namespace kestrand
