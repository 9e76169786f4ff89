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
// has wiped it, and the states of the other threads go back to the pool.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "sources/entropy/vdso_getrandom.hpp"

namespace kestrand {

// process_vdso_getrandom: the function (nullptr where the system call serves)
// and its state shape.
const VdsoGetrandom& process_vdso_getrandom() noexcept;

// What a lease reads on every request, declared here so that taking and
// giving back a lease compiles to a few instructions in the caller.
namespace thread_state_detail {

enum class Status : uint8_t {
  none,       // no state yet
  has_state,  // state is this thread's
  no_state,   // no memory for one: the system call serves this thread
  exited,     // the state went back at thread exit
};

// Trivially destructible, so a request reaches it without a lazy
// initialisation check; a separate object with a destructor, created with the
// state, gives the state back when the thread exits.
struct ThreadState {
  void* state;
  Status status;
  bool busy;  // a request is using the state
};

// Initial-exec: the module's thread-locals sit in the static TLS block,
// reached at a fixed offset from the thread pointer instead of through
// __tls_get_addr on every request (general-dynamic, the default in a shared
// object). A module loaded later gets its static TLS from a small reserve the
// C library keeps (512 bytes by default on glibc); all of the module's
// thread-locals together take a few dozen bytes of it, and anything bigger
// lives on the heap (sources/thread_rng.cpp).
[[gnu::visibility("hidden"), gnu::tls_model("initial-exec")]] extern constinit thread_local ThreadState
    own;
[[gnu::visibility("hidden")]] extern const VdsoGetrandom process_entry;

// first_state: the thread's first request takes a state from the pool.
[[gnu::visibility("hidden")]] void* first_state() noexcept;

}  // namespace thread_state_detail

// ThreadStateLease: this thread's state for the duration of one request, or
// nullptr when the request must go through the system call.
class ThreadStateLease {
 public:
  inline ThreadStateLease() noexcept;
  inline ~ThreadStateLease();
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

ThreadStateLease::ThreadStateLease() noexcept {
  using namespace thread_state_detail;
  VgetrandomFn vdso = process_entry.function;
  if (vdso == nullptr) {
    return;
  }
  ThreadState& mine = own;
  if (mine.busy) {
    return;
  }
  void* state = mine.status == Status::has_state ? mine.state : first_state();
  if (state != nullptr) {
    mine.busy = true;
    // A signal handler that runs from here on sees the state in use.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    state_ = state;
    busy_ = &mine.busy;
    function_ = vdso;
    state_size_ = process_entry.shape.size;
  }
}

ThreadStateLease::~ThreadStateLease() {
  if (busy_ != nullptr) {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    *busy_ = false;
  }
}

// process_state_mappings: how many mappings the process's pool has made.
size_t process_state_mappings() noexcept;

// process_states_in_use: how many of its states threads hold.
size_t process_states_in_use() noexcept;

}  // namespace kestrand
