// The entry guard: every function, method, property and slot that Python can
// call runs its operation through enter(). It turns an Error into the Python
// exception, a Panic into PanicException and std::bad_alloc into MemoryError,
// and lets no C++ exception reach the interpreter.
#pragma once

#include <Python.h>

#include <new>
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
    if (result.ok()) {
      return std::move(result).value();
    }
    raise_error(std::move(result).error());
  } catch (const Panic& failure) {
    raise_panic(failure.message);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    raise_panic("kestrand failed internally without a message");
  }
  return on_error;
}

// enter: for operations that return a new object (Result<OwnedRef>).
template <class Op>
PyObject* enter(Op&& op) noexcept {
  return enter_with<PyObject*>(nullptr, [&]() -> Result<PyObject*> {
    Result<OwnedRef> result = op();
    if (!result.ok()) {
      return std::move(result).error();
    }
    return std::move(result).value().release();
  });
}

}  // namespace kestrand
