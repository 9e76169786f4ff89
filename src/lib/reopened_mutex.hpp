// ReopenedMutex: a mutex that the child of a fork finds free.
//
// For a lock that a thread may hold while another thread forks, and that
// cannot be held across the fork instead: OnceCell's, whose holder waits for
// the interpreter lock, which the thread calling os.fork() holds, so taking
// it before the fork would never end. In the child the holder does not
// exist, and the copied lock would stay taken for good. So every
// ReopenedMutex is listed when it is constructed, and
// reopen_mutexes_in_child(), which the module runs in the child of every
// fork, makes each of them a fresh, free mutex. Whatever the lock guarded is
// left as the holder left it: a user must keep its data consistent at every
// point a holder can stop (OnceCell publishes its value in one atomic store).
//
// Threads: the list is pushed onto with a compare-and-swap (constructors run
// while the module loads, or as guarded statics) and never shrinks; the
// child walks it on its one thread.
#pragma once

#include <atomic>
#include <mutex>

namespace kestrand {

class ReopenedMutex {
 public:
  ReopenedMutex() noexcept;
  ReopenedMutex(const ReopenedMutex&) = delete;
  ReopenedMutex& operator=(const ReopenedMutex&) = delete;

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  friend void reopen_mutexes_in_child() noexcept;

  std::mutex mutex_;
  ReopenedMutex* next_ = nullptr;
};

// reopen_mutexes_in_child: every ReopenedMutex becomes free. Only for the
// child of a fork, on its one thread; async-signal-safe.
void reopen_mutexes_in_child() noexcept;

}  // namespace kestrand
