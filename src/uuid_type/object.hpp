// UuidObject: an instance of class UUID, and the holds taken on its value.
//
// The value lives inline, 16 bytes in network order, so an instance owns no
// further memory (40 bytes with the object header, 48 in the small-object
// allocator). Readers take a shared hold for as long as they read the value;
// __setstate__, the one writer, takes the exclusive hold.
//
// Every hold is taken and released with the interpreter lock held (the module
// never declares that it can run without it), so the lock already orders all
// accesses to the flag. The flag is therefore read and written with plain
// atomic loads and stores rather than read-modify-write instructions: the
// count stays exact, and a comparison or hash does not pay for bus-locked
// instructions that cost more than the whole operation.
#pragma once

#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "lib/error.hpp"
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

// take_read_hold: false when the value is held exclusively.
inline bool take_read_hold(UuidObject* object) {
  std::atomic_ref<int64_t> flag = hold_flag(object);
  int64_t seen = flag.load(std::memory_order_relaxed);
  if (seen == -1) {
    return false;
  }
  flag.store(seen + 1, std::memory_order_relaxed);
  return true;
}

inline void release_read_hold(UuidObject* object) {
  std::atomic_ref<int64_t> flag = hold_flag(object);
  flag.store(flag.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
}

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
      hold_flag(object_).store(0, std::memory_order_relaxed);
    }
  }

 private:
  explicit ExclusiveHold(UuidObject* object) : object_(object) {}
  UuidObject* object_;
};

// uuid_type: the UUID type object, created on first use. A failure to create
// it is reported as unraisable and ends the operation as an internal failure.
PyTypeObject* uuid_type_slow();
extern std::atomic<PyTypeObject*> uuid_type_created;
inline PyTypeObject* uuid_type() {
  PyTypeObject* type = uuid_type_created.load(std::memory_order_acquire);
  return type != nullptr ? type : uuid_type_slow();
}

// create_uuid_type: the same, but hands a creation failure back to the caller
// (the module body reports it in its own words).
Result<PyTypeObject*> create_uuid_type();

// is_uuid: `object` is a UUID or an instance of a subclass.
inline bool is_uuid(PyObject* object) {
  PyTypeObject* type = uuid_type();
  return Py_IS_TYPE(object, type) || PyType_IsSubtype(Py_TYPE(object), type);
}

Error already_mutably_borrowed();

// as_uuid: the instance check, failing with the conversion error naming 'UUID'.
inline Result<UuidObject*> as_uuid(PyObject* object) {
  if (!is_uuid(object)) {
    return conversion_error(object, "UUID");
  }
  return reinterpret_cast<UuidObject*>(object);
}

// read_value: copies the value of `object` out under a read hold.
inline Result<UuidValue> read_value(PyObject* object) {
  TRY(UuidObject * uuid, as_uuid(object));
  if (!take_read_hold(uuid)) {
    return already_mutably_borrowed();
  }
  UuidValue value = uuid->value;
  release_read_hold(uuid);
  return value;
}

// new_instance: a new instance of `type` (UUID or a subclass) holding `value`,
// allocated through the type's own allocation slot.
Result<OwnedRef> new_instance(PyTypeObject* type, const UuidValue& value);

// wrap_value: a new instance of UUID itself (never a subclass) holding `value`.
Result<OwnedRef> wrap_value(const UuidValue& value);

// Allocation slots, backed by the free list.
PyObject* uuid_alloc(PyTypeObject* type, Py_ssize_t nitems);
void uuid_free(void* object);
void uuid_dealloc(PyObject* object);

}  // namespace kestrand
