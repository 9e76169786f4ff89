#include "uuid_type/object.hpp"

#include <cstring>

#include "lib/error.hpp"

namespace kestrand {

Error already_mutably_borrowed() {
  return Error::deferred(PyExc_RuntimeError, "Already mutably borrowed");
}

Result<ExclusiveHold> ExclusiveHold::take(UuidObject* object) {
  std::atomic_ref<int64_t> flag = hold_flag(object);
  if (flag.load(std::memory_order_relaxed) != 0) {
    return Error::deferred(PyExc_RuntimeError, "Already borrowed");
  }
  flag.store(-1, std::memory_order_relaxed);
  return ExclusiveHold(object);
}

Result<UuidValue> read_value_checked(PyObject* object) {
  TRY(UuidObject * uuid, as_uuid(object));
  UuidValue value;
  if (!copy_value(uuid, value)) {
    return already_mutably_borrowed();
  }
  return value;
}

Result<OwnedRef> new_instance(PyTypeObject* type, const UuidValue& value) {
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

Result<OwnedRef> wrap_value(const UuidValue& value) {
  OwnedRef object = new_uuid_object();
  if (!object) {
    return fetch_error();
  }
  uuid_fields(object)->value = value;
  return object;
}

}  // namespace kestrand
