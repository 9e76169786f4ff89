// The process's vDSO getrandom and each thread's opaque state for it.
//
// The vDSO is looked up once, when the module is loaded. A thread gets its
// state from the process's StatePool on its first request and gives it back
// when it exits. Whatever stands in the way falls back to the system call
// without a word: for the whole process when the kernel offers no vDSO
// getrandom (or refuses the query), for one thread when no state memory could
// be had for it, and for a single request made while the thread's state is
// already in use (a signal handler interrupting a request) or after the
// thread has given its state back.
//
// Threads: the vDSO entry is written once while the module loads and only
// read afterwards. A thread's state, status and in-use mark are thread-local:
// only that thread touches them (and a signal handler on it, which the in-use
// mark keeps away from the state); the state passes between threads only
// through the pool, under the pool's lock. Fork: that lock is held across
// fork(); the forking thread keeps its state in the child, where the kernel
// has wiped it.
#pragma once

#include <cstddef>

#include "sources/entropy/vdso_getrandom.hpp"

namespace kestrand {

// process_vdso_getrandom: the function (nullptr where the system call serves)
// and its state shape.
const VdsoGetrandom& process_vdso_getrandom() noexcept;

// ThreadStateLease: this thread's state for the duration of one request, or
// nullptr when the request must go through the system call.
class ThreadStateLease {
 public:
  ThreadStateLease() noexcept;
  ~ThreadStateLease();
  ThreadStateLease(const ThreadStateLease&) = delete;
  ThreadStateLease& operator=(const ThreadStateLease&) = delete;

  void* state() const noexcept { return state_; }
  // function: the vDSO's getrandom when there is a state, else nullptr.
  VgetrandomFn function() const noexcept { return function_; }
  size_t state_size() const noexcept { return state_size_; }

 private:
  void* state_ = nullptr;
  VgetrandomFn function_ = nullptr;
  size_t state_size_ = 0;
  bool* busy_ = nullptr;  // this thread's in-use mark, found once
};

// process_state_mappings: how many mappings the process's pool has made.
size_t process_state_mappings() noexcept;

}  // namespace kestrand
