// interned: a process-wide interned str, created on first use and kept for
// the life of the process (attribute and module names looked up per call).
#pragma once

#include <Python.h>

#include "lib/error.hpp"
#include "lib/once.hpp"

namespace kestrand {

inline PyObject* interned(OnceCell<PyObject>& cell, const char* text) {
  if (PyObject* name = cell.get()) [[likely]] {
    return name;
  }
  return cell
      .get_or_init([&]() -> Result<PyObject*> { return must(PyUnicode_InternFromString(text)); })
      .value();
}

}  // namespace kestrand
