// The UUID type object, made once from a PyType_Spec and kept for the life of
// the process.
#include "lib/error.hpp"
#include "lib/once.hpp"
#include "uuid_type/object.hpp"
#include "uuid_type/slots.hpp"

namespace kestrand {

const char kUuidDoc[] =
    "UUID(hex=None, bytes=None, bytes_le=None, fields=None, int=None, version=None)\n--\n\n";

namespace {

OnceCell<PyTypeObject> type_cell;

template <class F>
void* slot_fn(F* function) {
  return reinterpret_cast<void*>(function);
}

Result<PyTypeObject*> make_type() {
  static PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(kUuidDoc)},
      {Py_tp_new, slot_fn(uuid_new)},
      {Py_tp_str, slot_fn(uuid_str)},
      {Py_tp_repr, slot_fn(uuid_repr)},
      {Py_tp_richcompare, slot_fn(uuid_richcompare)},
      {Py_tp_hash, slot_fn(uuid_hash)},
      {Py_nb_int, slot_fn(uuid_int)},
      {Py_tp_alloc, slot_fn(uuid_alloc)},
      {Py_tp_free, slot_fn(uuid_free)},
      {Py_tp_methods, uuid_methods},
      {Py_tp_getset, uuid_getset},
      {Py_tp_base, &PyBaseObject_Type},
      {Py_tp_dealloc, slot_fn(uuid_dealloc)},
      {0, nullptr},
  };
  static PyType_Spec uuid_type_spec = {
      "kestrand.UUID", static_cast<int>(sizeof(UuidObject)), 0, Py_TPFLAGS_BASETYPE, slots,
  };
  PyObject* type = PyType_FromSpec(&uuid_type_spec);
  if (type == nullptr) {
    return fetch_error();
  }
  // UUID(...) calls skip building an argument tuple and dict. PyType_Slot has
  // no entry for this on the interpreters supported, so it is set here,
  // before the type is used.
  auto* uuid = reinterpret_cast<PyTypeObject*>(type);
  uuid->tp_vectorcall = uuid_vectorcall;
  return uuid;
}

}  // namespace

std::atomic<PyTypeObject*> uuid_type_created{nullptr};

Result<PyTypeObject*> create_uuid_type() {
  Result<PyTypeObject*> created = type_cell.get_or_init(make_type);
  if (created.ok()) {
    uuid_type_created.store(created.value(), std::memory_order_release);
  }
  return created;
}

PyTypeObject* uuid_type_slow() {
  Result<PyTypeObject*> created = create_uuid_type();
  if (!created.ok()) {
    raise_error(std::move(created).error());
    PyErr_WriteUnraisable(nullptr);
    panic("failed to create type object for `UUID`");
  }
  return created.value();
}

}  // namespace kestrand
