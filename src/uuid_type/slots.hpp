// The slot functions and tables that make up class UUID.
#pragma once

#include <Python.h>

namespace kestrand {

extern const char kUuidDoc[];

PyObject* uuid_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
PyObject* uuid_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                          PyObject* kwnames);
PyObject* uuid_str(PyObject* self);
PyObject* uuid_repr(PyObject* self);
PyObject* uuid_int(PyObject* self);
Py_hash_t uuid_hash(PyObject* self);
PyObject* uuid_richcompare(PyObject* self, PyObject* other, int op);

extern PyMethodDef uuid_methods[];
extern PyGetSetDef uuid_getset[];

}  // namespace kestrand
