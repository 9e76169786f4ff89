// Method definitions of the module-level generator functions.
#pragma once

#include <Python.h>

namespace kestrand {

extern const PyMethodDef uuid4_def;
extern const PyMethodDef uuid7_def;
extern const PyMethodDef uuid4_bulk_def;
extern const PyMethodDef uuid7_bulk_def;
extern const PyMethodDef uuid4_as_strings_bulk_def;
extern const PyMethodDef uuid7_as_strings_bulk_def;

}  // namespace kestrand
