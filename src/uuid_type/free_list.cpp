// The allocation slots of class UUID, backed by the free list
// (uuid_type/free_list.hpp).
#include "uuid_type/free_list.hpp"

#include "lib/error.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {

constinit UuidFreeList uuid_free_list;

PyObject* uuid_alloc(PyTypeObject* type, Py_ssize_t nitems) {
  if (nitems == 0 && type == uuid_type()) {
    return new_uuid_object(type).release();
  }
  return PyType_GenericAlloc(type, nitems);
}

// The inline caller has found the free list empty.
OwnedRef new_uuid_object_allocated() { return fresh_uuid_object(uuid_type()); }

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
