#include "uuid_type/object.hpp"

#include <cstring>

#include "lib/error.hpp"

namespace kestrand {

Result<ReadHold> ReadHold::take(UuidObject* object) {
  std::atomic_ref<int64_t> flag = hold_flag(object);
  int64_t seen = flag.load(std::memory_order_relaxed);
  while (seen != -1) {
    if (flag.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                   std::memory_order_relaxed)) {
      return ReadHold(object);
    }
  }
  return Error::deferred(PyExc_RuntimeError, "Already mutably borrowed");
}

Result<ExclusiveHold> ExclusiveHold::take(UuidObject* object) {
  int64_t expected = 0;
  if (!hold_flag(object).compare_exchange_strong(expected, -1, std::memory_order_acquire,
                                                 std::memory_order_relaxed)) {
    return Error::deferred(PyExc_RuntimeError, "Already borrowed");
  }
  return ExclusiveHold(object);
}

bool is_uuid(PyObject* object) {
  PyTypeObject* type = uuid_type();
  return Py_IS_TYPE(object, type) || PyType_IsSubtype(Py_TYPE(object), type);
}

Result<UuidObject*> as_uuid(PyObject* object) {
  if (!is_uuid(object)) {
    return conversion_error(object, "UUID");
  }
  return reinterpret_cast<UuidObject*>(object);
}

Result<UuidValue> read_value(PyObject* object) {
  TRY(UuidObject* uuid, as_uuid(object));
  TRY(ReadHold hold, ReadHold::take(uuid));
  return uuid->value;
}

Result<OwnedRef> wrap_value(const UuidValue& value) {
  PyTypeObject* type = uuid_type();
  allocfunc alloc = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
  OwnedRef object = OwnedRef::steal(alloc(type, 0));
  if (!object) {
    return fetch_error();
  }
  auto* uuid = reinterpret_cast<UuidObject*>(object.get());
  uuid->value = value;
  uuid->hold = 0;
  return object;
}

}  // namespace kestrand
