// The allocation slots of class UUID, backed by the free list
// (uuid_type/free_list.hpp).
#include "uuid_type/free_list.hpp"

#include "lib/error.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {

constinit UuidFreeList uuid_free_list;

namespace {

// fresh_uuid: an instance of UUID itself (`type`) in a block from the
// interpreter's allocator, its fields unset. UUID itself has no
// garbage-collector header and no items, so a plain block will do; every
// caller sets the fields, so the block needs no zeroing either.
PyObject* fresh_uuid(PyTypeObject* type) {
  void* block = PyObject_Malloc(sizeof(UuidObject));
  if (block == nullptr) {
    return PyErr_NoMemory();
  }
  return PyObject_Init(static_cast<PyObject*>(block), type);
}

// exact_uuid: the same, from the free list when it has a block.
PyObject* exact_uuid(PyTypeObject* type) {
  void* block = uuid_free_list.pop();
  if (block == nullptr) {
    return fresh_uuid(type);
  }
  return PyObject_Init(static_cast<PyObject*>(block), type);
}

}  // namespace

PyObject* uuid_alloc(PyTypeObject* type, Py_ssize_t nitems) {
  if (nitems == 0 && type == uuid_type()) {
    return exact_uuid(type);
  }
  return PyType_GenericAlloc(type, nitems);
}

// The inline caller has found the free list empty: a bulk call past the
// list's thousand blocks comes here for every further object.
OwnedRef new_uuid_object_allocated() {
  OwnedRef object = OwnedRef::steal(fresh_uuid(uuid_type()));
  if (object) {
    uuid_fields(object)->hold = 0;
  }
  return object;
}

void uuid_free(void* block) {
  if (uuid_free_list.push(block)) {
    return;
  }
  PyTypeObject* type = Py_TYPE(static_cast<PyObject*>(block));
  if (PyType_HasFeature(type, Py_TPFLAGS_HAVE_GC)) {
    PyObject_GC_Del(block);
  } else {
    PyObject_Free(block);
  }
}

void uuid_dealloc(PyObject* object) {
  // Instances of Python subclasses arrive here from the subclass's own
  // deallocator and are released through that class's tp_free.
  PyTypeObject* type = Py_TYPE(object);
  if (type == uuid_type_created.load(std::memory_order_relaxed)) [[likely]] {
    // UUID itself: its own slot, called directly.
    uuid_free(object);
    Py_DECREF(type);
    return;
  }
  freefunc release = type->tp_free;
  if (release == nullptr) {
    abort_process("PyBaseObject_Type should have tp_free");
  }
  release(object);
  // Every instance holds a reference to its (heap) type; the interpreter's
  // subclass deallocator leaves dropping it to the first heap-type base.
  Py_DECREF(type);
}

}  // namespace kestrand
