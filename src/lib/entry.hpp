// The entry guard: every function, method, property and slot that Python can
// call runs its operation through enter(). It turns an Error into the Python
// exception, a Panic into PanicException and std::bad_alloc into MemoryError,
// and lets no C++ exception reach the interpreter.
#pragma once

#include <Python.h>

#include <utility>

#include "lib/error.hpp"
#include "lib/ref.hpp"
#include "lib/result.hpp"

namespace kestrand {

// enter_with: `op` returns Result<T>; `on_error` is the slot's failure value.
template <class T, class Op>
T enter_with(T on_error, Op&& op) noexcept {
  try {
    Result<T> result = op();
    if (result.ok()) [[likely]] {
      return std::move(result).value();
    }
    raise_error(std::move(result).error());
  } catch (...) {
    raise_caught();
  }
  return on_error;
}

// enter: for operations that return a new object (Result<OwnedRef>). Written
// out rather than through enter_with, so the hottest entry points carry one
// Result, not a second one wrapped around the first.
template <class Op>
PyObject* enter(Op&& op) noexcept {
  try {
    Result<OwnedRef> result = op();
    if (result.ok()) [[likely]] {
      return std::move(result).value().release();
    }
    raise_error(std::move(result).error());
  } catch (...) {
    raise_caught();
  }
  return nullptr;
}

}  // namespace kestrand
