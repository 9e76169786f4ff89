// Result objects the module builds from plain values. Creating them must not
// fail; if the interpreter cannot (memory exhausted), the must-succeed rule
// turns that into an internal failure.
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>

#include "lib/error.hpp"
#include "lib/ref.hpp"

namespace kestrand {

// new_ascii: a compact ASCII str of `len` characters written by `fill(char*)`
// straight into the string's storage, skipping a UTF-8 decoding pass.
template <class Fill>
OwnedRef new_ascii(size_t len, Fill&& fill) {
  OwnedRef text = OwnedRef::steal(must(PyUnicode_New(static_cast<Py_ssize_t>(len), 127)));
  fill(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.get())));
  return text;
}

inline OwnedRef new_bytes(const void* data, size_t len) {
  return OwnedRef::steal(
      must(PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(len))));
}

inline OwnedRef new_int(uint64_t value) {
  return OwnedRef::steal(must(PyLong_FromUnsignedLongLong(value)));
}

// new_int_be: an unsigned int from `len` big-endian bytes.
inline OwnedRef new_int_be(const uint8_t* bytes, size_t len) {
  return OwnedRef::steal(must(_PyLong_FromByteArray(bytes, len, /*little_endian=*/0,
                                                    /*is_signed=*/0)));
}

}  // namespace kestrand
