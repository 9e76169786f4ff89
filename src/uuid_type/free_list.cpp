// The UUID free list: up to 1000 memory blocks of freed UUID instances, reused
// last in, first out, so that making and dropping UUIDs in a loop mostly
// bypasses the interpreter's allocator.
//
// Its mutex is the interpreter lock. The interpreter allocates and frees
// objects only with that lock held, and the module never declares that it can
// run without it (a free-threaded interpreter re-enables the lock when it
// imports the module), so every push and pop is already serialised. A lock of
// its own would add two bus-locked instructions to every UUID made and freed,
// a sixth of the cost of UUID(text).
//
// A block on the list holds no reference to the type: the deallocator drops
// the instance's type reference as for any heap type, and reuse takes a new
// one, so the type's reference count stays exact.
#include <array>

#include "lib/error.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {
namespace {

constexpr size_t kFreeListCapacity = 1000;

class FreeList {
 public:
  // pop: the block freed last, or null when the list is empty.
  void* pop() noexcept {
    if (count_ == 0) {
      return nullptr;
    }
    void* block = std::exchange(blocks_[--count_], nullptr);
    if (block == nullptr) {
      abort_process("PyObjectFreeList is corrupt");
    }
    return block;
  }

  // push: false when the list is full and the caller must free the block itself.
  bool push(void* block) noexcept {
    if (count_ == kFreeListCapacity) {
      return false;
    }
    blocks_[count_++] = block;
    return true;
  }

 private:
  size_t count_ = 0;
  std::array<void*, kFreeListCapacity> blocks_{};
};

constinit FreeList free_list;

}  // namespace

namespace {

// exact_uuid: an instance of UUID itself (`type`), its fields unset.
PyObject* exact_uuid(PyTypeObject* type) {
  void* block = free_list.pop();
  if (block == nullptr) {
    // UUID itself has no garbage-collector header and no items, so a plain
    // block will do; every caller sets the fields, so the block needs no
    // zeroing either.
    block = PyObject_Malloc(sizeof(UuidObject));
    if (block == nullptr) {
      return PyErr_NoMemory();
    }
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

// The generators' path: the type's own allocation slot, without the indirect
// call and the check for subclasses.
OwnedRef new_uuid_object() {
  OwnedRef object = OwnedRef::steal(exact_uuid(uuid_type()));
  if (object) {
    uuid_fields(object)->hold = 0;
  }
  return object;
}

void uuid_free(void* block) {
  if (free_list.push(block)) {
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
