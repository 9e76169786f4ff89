#include "lib/reopened_mutex.hpp"

#include <new>

namespace kestrand {
namespace {

constinit std::atomic<ReopenedMutex*> listed{nullptr};

}  // namespace

ReopenedMutex::ReopenedMutex() noexcept {
  ReopenedMutex* head = listed.load(std::memory_order_relaxed);
  do {
    next_ = head;
  } while (!listed.compare_exchange_weak(head, this, std::memory_order_release,
                                         std::memory_order_relaxed));
}

void reopen_mutexes_in_child() noexcept {
  for (ReopenedMutex* m = listed.load(std::memory_order_acquire); m != nullptr; m = m->next_) {
    // A fresh mutex over the copied one; not destroyed first, as destroying
    // a mutex that is held is undefined.
    new (&m->mutex_) std::mutex();
  }
}

}  // namespace kestrand
