// StatePool: memory for the vDSO getrandom's opaque states, one per thread.
//
// States are mapped with the protection and flags the kernel asked for, a
// page (or as many pages as one state needs) at a time, and handed out at a
// cache-line stride so that no state shares a line with another thread's or
// straddles a page. Mappings are never unmapped: a state given back goes on a
// free list and serves the next thread, so the memory follows the peak number
// of live threads, not how many came and went. The free list's room for every
// state is reserved when a mapping is added, so giving a state back (at
// thread exit) never allocates and cannot fail.
//
// Threads: every member but shape_ (fixed at construction) is guarded by
// lock_, which take, give_back and mappings hold throughout. A state handed
// out is its thread's alone until given back. Fork: the process's pool lock is
// held across fork() (thread_state.cpp), so the child finds it free; the
// states of threads that do not exist in the child are never given back there.
#pragma once

#include <cstddef>
#include <mutex>

#include "sources/entropy/vdso_getrandom.hpp"

namespace kestrand {

class StatePool {
 public:
  constexpr StatePool() = default;
  explicit StatePool(StateShape shape) noexcept : shape_(shape) {}
  StatePool(const StatePool&) = delete;
  StatePool& operator=(const StatePool&) = delete;

  // take: a state for one thread's exclusive use, or nullptr if no memory
  // could be had (a later call tries again).
  void* take() noexcept;

  // give_back: returns a state from take() for the next thread.
  void give_back(void* state) noexcept;

  // mappings: how many mappings the pool has made.
  size_t mappings() noexcept;

  // stride: bytes between neighbouring states (a multiple of the cache line).
  size_t stride() const noexcept;

  std::mutex& lock() noexcept { return lock_; }

 private:
  bool add_mapping() noexcept;  // with lock_ held

  StateShape shape_;
  std::mutex lock_;
  unsigned char* next_ = nullptr;  // the next state never handed out
  size_t left_ = 0;                // states left at next_ in the current mapping
  size_t carved_ = 0;              // states in all mappings
  size_t mapping_count_ = 0;
  void** free_ = nullptr;          // room for `carved_` states
  size_t free_count_ = 0;
};

}  // namespace kestrand
