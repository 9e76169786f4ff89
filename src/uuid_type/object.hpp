// UuidObject: an instance of class UUID, and the holds taken on its value.
//
// The value lives inline, 16 bytes in network order, so an instance owns no
// further memory (40 bytes with the object header, 48 in the small-object
// allocator). __setstate__, the one writer, takes the exclusive hold while it
// overwrites the value; a reader meeting it is refused ("Already mutably
// borrowed") and the writer is refused while a reader holds the value.
//
// Every hold is taken and released with the interpreter lock held (the module
// never declares that it can run without it), and every reader holds the
// value only while copying its 16 bytes out, with nothing else running in
// between. A read hold is therefore exactly a check that no exclusive hold is
// active, and the flag is read and written with plain atomic loads and stores
// rather than read-modify-write instructions, which cost more than a whole
// comparison or hash.
#pragma once

#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "lib/error.hpp"
#include "lib/ref.hpp"
#include "lib/result.hpp"
#include "uuid_type/free_list.hpp"

namespace kestrand {

using UuidValue = std::array<uint8_t, 16>;

struct UuidObject {
  PyObject_HEAD
  UuidValue value;
  int64_t hold;  // 0: free; -1: exclusive hold. Atomic access only.
};

inline std::atomic_ref<int64_t> hold_flag(UuidObject* object) {
  return std::atomic_ref<int64_t>(object->hold);
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

// copy_value: the value of a UUID, or nothing when it is held exclusively.
// A read hold that covers nothing but this copy, with the interpreter lock
// held throughout, is exactly a check that no exclusive hold is active.
inline bool copy_value(UuidObject* object, UuidValue& out) {
  if (hold_flag(object).load(std::memory_order_relaxed) == -1) {
    return false;
  }
  out = object->value;
  return true;
}

Result<UuidValue> read_value_checked(PyObject* object);

// readable_exact: the value of `object` in place when it is a UUID of the
// exact type and not held exclusively (nearly every read), else null, and
// the caller takes read_value_checked's path. The pointer is good while the
// interpreter lock stays held and nothing else runs.
inline const UuidValue* readable_exact(PyObject* object) {
  if (!Py_IS_TYPE(object, uuid_type_created.load(std::memory_order_relaxed))) {
    return nullptr;
  }
  auto* uuid = reinterpret_cast<UuidObject*>(object);
  return hold_flag(uuid).load(std::memory_order_relaxed) == -1 ? nullptr : &uuid->value;
}

// read_value: the value of `object`, which must be a UUID (or subclass) that
// is not held exclusively. Exact UUIDs take an inline path.
inline Result<UuidValue> read_value(PyObject* object) {
  if (const UuidValue* value = readable_exact(object)) [[likely]] {
    return *value;
  }
  return read_value_checked(object);
}

// new_instance: a new instance of `type` (UUID or a subclass) holding `value`,
// allocated through the type's own allocation slot.
Result<OwnedRef> new_instance(PyTypeObject* type, const UuidValue& value);

// init_uuid_object: `block` (from the free list or the interpreter's
// allocator) initialised as a new instance of UUID itself, hold clear.
inline OwnedRef init_uuid_object(void* block, PyTypeObject* uuid) {
  PyObject* object = PyObject_Init(static_cast<PyObject*>(block), uuid);
  reinterpret_cast<UuidObject*>(object)->hold = 0;
  return OwnedRef::steal(object);
}

// fresh_uuid_object: the same in a new block from the interpreter's
// allocator; null with MemoryError set when memory runs out. UUID itself has
// no garbage-collector header and no items, so a plain block will do; every
// caller writes the value, so the block needs no zeroing either.
inline OwnedRef fresh_uuid_object(PyTypeObject* uuid) {
  void* block = PyObject_Malloc(sizeof(UuidObject));
  if (block == nullptr) [[unlikely]] {
    return OwnedRef::steal(PyErr_NoMemory());
  }
  return init_uuid_object(block, uuid);
}

// new_uuid_object_allocated: new_uuid_object when the free list is empty.
OwnedRef new_uuid_object_allocated();

// new_uuid_object: a new instance of UUID itself (never a subclass) with its
// hold clear and its value unset, for the caller to write before the object
// goes anywhere; null with MemoryError set when memory runs out. The
// generators' path: the type's own allocation slot, inlined, without the
// indirect call and the check for subclasses. The allocation when the list is
// empty stays out of line, keeping uuid4() and uuid7() short.
inline OwnedRef new_uuid_object() {
  void* block = uuid_free_list.pop();
  if (block == nullptr) [[unlikely]] {
    return new_uuid_object_allocated();
  }
  return init_uuid_object(block, uuid_type());
}

// new_uuid_object: the same with the type given by the caller (`uuid` is
// uuid_type()) and both paths inline: for many objects made in a row (a bulk
// call), which past the free list's blocks all come from the allocator, and
// for the type's allocation slot.
inline OwnedRef new_uuid_object(PyTypeObject* uuid) {
  void* block = uuid_free_list.pop();
  return block != nullptr ? init_uuid_object(block, uuid) : fresh_uuid_object(uuid);
}

// uuid_fields: the instance behind a reference from new_uuid_object.
inline UuidObject* uuid_fields(const OwnedRef& object) {
  return reinterpret_cast<UuidObject*>(object.get());
}

// wrap_value: a new instance of UUID itself (never a subclass) holding `value`.
Result<OwnedRef> wrap_value(const UuidValue& value);

// Allocation slots, backed by the free list.
PyObject* uuid_alloc(PyTypeObject* type, Py_ssize_t nitems);
void uuid_free(void* object);
void uuid_dealloc(PyObject* object);

}  // namespace kestrand
