// Locks held across fork().
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
// Threads: the table is written only by static initialisers while the module
// loads, on the loader's one thread, and only read afterwards, by the fork
// handlers on the forking thread.
#pragma once

#include <mutex>

namespace kestrand {

// Fork order: lower first. Layers call downwards while holding their locks,
// so the layer above locks first.
enum class ForkOrder : int { generators = 0, sources = 1, last = sources };

// hold_across_fork: takes `lock` before every fork() and releases it in the
// parent and the child after. Called from static initialisers; returns 0, or
// the error of the fork handler's registration. A lock listed twice is ignored.
int hold_across_fork(std::mutex& lock, ForkOrder order) noexcept;

}  // namespace kestrand
