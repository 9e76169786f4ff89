// OnceCell<T>: a process-wide object created once, on first need, and never freed.
//
// The creating thread runs with the interpreter lock held; every other thread
// waits for it with the lock released, so a thread holding the cell's mutex and
// waiting for the interpreter lock can never deadlock with one holding the lock
// and waiting for the cell. A failed creation leaves the cell empty, and the
// next caller tries again.
//
// Fork: that is also why the cell's mutex cannot be held across a fork (its
// holder may be waiting for the interpreter lock that the forking thread
// holds); in the child it is made free again instead (ReopenedMutex), and an
// empty cell is then created afresh there.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>

#include "lib/reopened_mutex.hpp"
#include "lib/result.hpp"

namespace kestrand {

template <class T>
class OnceCell {
 public:
  OnceCell() = default;

  T* get() const noexcept { return value_.load(std::memory_order_acquire); }

  // get_or_init: `init` returns Result<T*>; called with the interpreter lock held.
  template <class Init>
  Result<T*> get_or_init(Init&& init) {
    if (T* value = get()) {
      return value;
    }
    PyThreadState* saved = PyEval_SaveThread();
    std::unique_lock<ReopenedMutex> lock(mutex_);
    PyEval_RestoreThread(saved);
    if (T* value = get()) {
      return value;
    }
    Result<T*> created = init();
    if (created.ok()) {
      value_.store(created.value(), std::memory_order_release);
    }
    return created;
  }

 private:
  std::atomic<T*> value_{nullptr};
  ReopenedMutex mutex_;
};

}  // namespace kestrand
