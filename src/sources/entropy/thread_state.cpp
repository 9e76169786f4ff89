#include "sources/entropy/thread_state.hpp"

#include <sys/auxv.h>

#include <atomic>
#include <cstdint>

#include "platform/fork_locks.hpp"
#include "sources/entropy/state_pool.hpp"

namespace kestrand {
namespace {

// Both are set up while the module is loaded, on one thread. A request made
// before that (from another static initialiser) sees no function and takes
// the system call.
const VdsoGetrandom process_entry =
    find_vdso_getrandom(reinterpret_cast<const void*>(getauxval(AT_SYSINFO_EHDR)));
StatePool process_pool{process_entry.shape};

// The pool's lock is taken on thread exit and on a thread's first request,
// also inside the version 7 reseed; a fork must not copy it held. The states
// themselves need nothing: the kernel wipes them in the child, and the vDSO
// reseeds a wiped state before its next use.
[[maybe_unused]] const int fork_handler = hold_across_fork(process_pool.lock(), ForkOrder::sources);

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
constinit thread_local ThreadState own{};

struct StateReturner {
  ~StateReturner() {
    if (own.status == Status::has_state) {
      process_pool.give_back(own.state);
      own.state = nullptr;
    }
    own.status = Status::exited;
  }
};

[[gnu::noinline]] void* first_state() noexcept {
  if (own.status != Status::none || process_entry.function == nullptr) {
    return nullptr;
  }
  void* state = process_pool.take();
  if (state == nullptr) {
    own.status = Status::no_state;
    return nullptr;
  }
  thread_local StateReturner returner;
  static_cast<void>(returner);
  own.state = state;
  own.status = Status::has_state;
  return state;
}

}  // namespace

const VdsoGetrandom& process_vdso_getrandom() noexcept { return process_entry; }

ThreadStateLease::ThreadStateLease() noexcept {
  if (process_entry.function == nullptr) {
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
    function_ = process_entry.function;
    state_size_ = process_entry.shape.size;
  }
}

ThreadStateLease::~ThreadStateLease() {
  if (busy_ != nullptr) {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    *busy_ = false;
  }
}

size_t process_state_mappings() noexcept { return process_pool.mappings(); }

}  // namespace kestrand
