// UuidObject: an instance of class UUID, and the holds taken on its value.
//
// The value lives inline, 16 bytes in network order, so an instance owns no
// further memory (40 bytes with the object header, 48 in the small-object
// allocator). Readers take a shared hold for as long as they read the value;
// __setstate__, the one writer, takes the exclusive hold. With the interpreter
// lock held a hold is never found taken; the flag keeps the rule exact should
// the module ever run without it.
#pragma once

#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "lib/ref.hpp"
#include "lib/result.hpp"

namespace kestrand {

using UuidValue = std::array<uint8_t, 16>;

struct UuidObject {
  PyObject_HEAD
  UuidValue value;
  int64_t hold;  // 0: free; n > 0: n read holds; -1: exclusive hold. Atomic access only.
};

inline std::atomic_ref<int64_t> hold_flag(UuidObject* object) {
  return std::atomic_ref<int64_t>(object->hold);
}

class ReadHold {
 public:
  static Result<ReadHold> take(UuidObject* object);
  ReadHold(ReadHold&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ReadHold(const ReadHold&) = delete;
  ReadHold& operator=(const ReadHold&) = delete;
  ReadHold& operator=(ReadHold&&) = delete;
  ~ReadHold() {
    if (object_ != nullptr) {
      hold_flag(object_).fetch_sub(1, std::memory_order_release);
    }
  }

 private:
  explicit ReadHold(UuidObject* object) : object_(object) {}
  UuidObject* object_;
};

class ExclusiveHold {
 public:
  static Result<ExclusiveHold> take(UuidObject* object);
  ExclusiveHold(ExclusiveHold&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)) {}
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(ExclusiveHold&&) = delete;
  ~ExclusiveHold() {
    if (object_ != nullptr) {
      hold_flag(object_).store(0, std::memory_order_release);
    }
  }

 private:
  explicit ExclusiveHold(UuidObject* object) : object_(object) {}
  UuidObject* object_;
};

// uuid_type: the UUID type object, created on first use. A failure to create
// it is reported as unraisable and ends the operation as an internal failure.
PyTypeObject* uuid_type();

// create_uuid_type: the same, but hands a creation failure back to the caller
// (the module body reports it in its own words).
Result<PyTypeObject*> create_uuid_type();

// is_uuid: `object` is a UUID or an instance of a subclass.
bool is_uuid(PyObject* object);

// as_uuid: the instance check, failing with the conversion error naming 'UUID'.
Result<UuidObject*> as_uuid(PyObject* object);

// read_value: copies the value of `object` out under a read hold.
Result<UuidValue> read_value(PyObject* object);

// wrap_value: a new instance of UUID itself (never a subclass) holding `value`.
Result<OwnedRef> wrap_value(const UuidValue& value);

// Allocation slots, backed by the free list.
PyObject* uuid_alloc(PyTypeObject* type, Py_ssize_t nitems);
void uuid_free(void* object);
void uuid_dealloc(PyObject* object);

}  // namespace kestrand
