#include "sources/entropy/thread_state.hpp"

#include <sys/auxv.h>

#include <atomic>
#include <cstdint>

#include "platform/fork_locks.hpp"
#include "sources/entropy/state_pool.hpp"

namespace kestrand {
namespace thread_state_detail {

// Both are set up while the module is loaded, on one thread. A request made
// before that (from another static initialiser) sees no function and takes
// the system call.
const VdsoGetrandom process_entry =
    find_vdso_getrandom(reinterpret_cast<const void*>(getauxval(AT_SYSINFO_EHDR)));
constinit thread_local ThreadState own{};

}  // namespace thread_state_detail

namespace {

using namespace thread_state_detail;

StatePool process_pool{process_entry.shape};

// The pool's lock is taken on thread exit and on a thread's first request,
// also inside the version 7 reseed; a fork must not copy it held. The states
// themselves need nothing: the kernel wipes them in the child, and the vDSO
// reseeds a wiped state before its next use.
[[maybe_unused]] const bool lock_listed = hold_across_fork(process_pool.lock(), ForkOrder::sources);

// In the child only the forking thread lives on; the states of all the others
// would never be given back there. Runs with the pool's lock held.
void return_other_threads_states() noexcept {
  process_pool.keep_only(own.status == Status::has_state ? own.state : nullptr);
}
[[maybe_unused]] const bool reset_listed = reset_in_child(return_other_threads_states);

struct StateReturner {
  ~StateReturner() {
    if (own.status == Status::has_state) {
      process_pool.give_back(own.state);
      own.state = nullptr;
    }
    own.status = Status::exited;
  }
};

}  // namespace

[[gnu::noinline]] void* thread_state_detail::first_state() noexcept {
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

const VdsoGetrandom& process_vdso_getrandom() noexcept { return process_entry; }

size_t process_state_mappings() noexcept { return process_pool.mappings(); }

size_t process_states_in_use() noexcept { return process_pool.in_use(); }

}  // namespace kestrand
