// OwnedRef: the one owner of a strong Python reference inside the module.
//
// A raw PyObject* anywhere else in this code is borrowed. Every reference the
// module creates goes into an OwnedRef at once, so early returns and C++
// exceptions drop it; release() hands it on to Python.
#pragma once

#include <Python.h>

#include <utility>

namespace kestrand {

class OwnedRef {
 public:
  OwnedRef() = default;
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  OwnedRef(OwnedRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(ptr_);
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ~OwnedRef() { Py_XDECREF(ptr_); }

  // steal: takes over a new reference (may be null).
  static OwnedRef steal(PyObject* ptr) noexcept { return OwnedRef(ptr); }
  // new_ref: adds a reference to a borrowed object.
  static OwnedRef new_ref(PyObject* borrowed) noexcept { return OwnedRef(Py_XNewRef(borrowed)); }

  PyObject* get() const noexcept { return ptr_; }
  PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

 private:
  explicit OwnedRef(PyObject* ptr) noexcept : ptr_(ptr) {}
  PyObject* ptr_ = nullptr;
};

}  // namespace kestrand
