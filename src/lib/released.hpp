// without_interpreter_lock: runs pure work with the interpreter lock released.
//
// The work must touch no Python object. The lock is taken back however the
// work ends, so a Panic thrown inside reaches the entry guard with the lock held.
#pragma once

#include <Python.h>

namespace kestrand {

template <class Work>
auto without_interpreter_lock(Work&& work) {
  struct Reacquire {
    PyThreadState* state;
    ~Reacquire() { PyEval_RestoreThread(state); }
  } reacquire{PyEval_SaveThread()};
  return work();
}

}  // namespace kestrand
