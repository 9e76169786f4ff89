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
// lock_, which take, give_back, mappings and in_use hold throughout. A state
// handed out is its thread's alone until given back. Fork: the process's pool
// lock is held across fork() (thread_state.cpp), so the child finds it free;
// there the states of the threads that do not exist in the child go back on
// the free list (keep_only), so a chain of forks from threaded processes does
// not lose states at every step.
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

  // in_use: how many states are handed out and not given back.
  size_t in_use() noexcept;

  // keep_only: every state handed out goes back on the free list but `kept`
  // (nullptr: none). For the child of a fork, where only the forking thread
  // lives on: run with lock_ held or by the only thread, as it does not take
  // it; async-signal-safe (it allocates nothing).
  void keep_only(const void* kept) noexcept;

  // stride: bytes between neighbouring states (a multiple of the cache line).
  size_t stride() const noexcept;

  std::mutex& lock() noexcept { return lock_; }

 private:
  bool add_mapping() noexcept;  // with lock_ held
  size_t states_per_mapping() const noexcept;
  size_t mapping_length() const noexcept;

  StateShape shape_;
  std::mutex lock_;
  unsigned char* next_ = nullptr;  // the next state never handed out
  size_t left_ = 0;                // states left at next_ in the current mapping
  size_t carved_ = 0;              // states in all mappings
  size_t mapping_count_ = 0;
  unsigned char** mapping_starts_ = nullptr;  // in the order they were made
  size_t per_mapping_ = 0;                     // states in each mapping
  void** free_ = nullptr;          // room for `carved_` states
  size_t free_count_ = 0;
};

}  // namespace kestrand
