// Method definitions of the module-level generator functions.
#pragma once

#include <Python.h>

namespace kestrand {

// as_cfunction: a fast-call-with-keywords implementation in the pointer type
// that PyMethodDef stores (the interpreter calls it by its flags).
template <PyObject* (*Function)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

// as_fastcall: the same for a fast-call implementation without keywords.
template <PyObject* (*Function)(PyObject*, PyObject* const*, Py_ssize_t)>
PyCFunction as_fastcall() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

extern const PyMethodDef uuid3_def;
extern const PyMethodDef uuid5_def;
extern const PyMethodDef uuid4_def;
extern const PyMethodDef uuid1_def;
extern const PyMethodDef uuid_v1mc_def;
extern const PyMethodDef uuid7_def;
extern const PyMethodDef uuid4_bulk_def;
extern const PyMethodDef uuid7_bulk_def;
extern const PyMethodDef uuid4_as_strings_bulk_def;
extern const PyMethodDef uuid7_as_strings_bulk_def;

}  // namespace kestrand
