// What fork() must not copy as it stands: locks held across it, and state
// reset in the child.
//
// fork() copies a mutex as it stands: had another thread held it at that
// moment, the child would wait for it forever. Every such lock of the module
// is listed here once, at load time; a fork waits until each is free, in a
// fixed order, and both processes release them afterwards. The order matters
// where one lock is taken while another is held (the version 7 step reseeds
// its counter, and so may reach the entropy states' lock, with its own lock
// held): a lock taken while another is held must come later in the order, or
// the forking thread and that thread could wait for each other.
//
// fork() also copies every sequence the module counts on, so a child would
// hand out what its parent hands out too. Each piece of state that must not
// outlive a fork lists a reset here; the child runs them all, on the one
// thread it has (the forking thread, whose thread-locals a reset may reach),
// before it releases the locks, so a reset may change what they guard. A
// reset is async-signal-safe: no allocation, no lock, no system call that is
// not on that list. The parent changes nothing.
//
// Registration cannot be undone and must not half succeed: a lock left off
// the list could leave a child deadlocked, a missing reset a child that
// repeats its parent's values. So a failure (pthread_atfork refusing, or a
// full table) is kept, and the module refuses to load
// (fork_registration_failure).
//
// Threads: the tables are written only by static initialisers while the
// module loads, on the loader's one thread, and only read afterwards, by the
// fork handlers on the forking thread.
#pragma once

#include <mutex>

namespace kestrand {

// Fork order: lower first. Layers call downwards while holding their locks,
// so the layer above locks first.
enum class ForkOrder : int { generators = 0, sources = 1, last = sources };

// hold_across_fork: takes `lock` before every fork() and releases it in the
// parent and the child after. Called from static initialisers; false when it
// could not be listed (see fork_registration_failure). A lock listed twice is
// listed once.
bool hold_across_fork(std::mutex& lock, ForkOrder order) noexcept;

// ChildReset: runs in the child after every fork(); async-signal-safe.
using ChildReset = void (*)() noexcept;

// reset_in_child: runs `reset` in every child, in the order of registration.
// Called from static initialisers; false when it could not be listed. A reset
// listed twice is listed once.
bool reset_in_child(ChildReset reset) noexcept;

// ForkRegistrationFailure: what went wrong registering the fork handlers, or
// nothing (atfork_error 0, table_full false).
struct ForkRegistrationFailure {
  int atfork_error;  // pthread_atfork's non-zero result
  bool table_full;   // a lock or reset found no room
  explicit operator bool() const noexcept { return atfork_error != 0 || table_full; }
};

// fork_registration_failure: the first failure of hold_across_fork or
// reset_in_child in this process, or none.
ForkRegistrationFailure fork_registration_failure() noexcept;

}  // namespace kestrand
