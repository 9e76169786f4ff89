// The module's public functions, in registration order (also their order in
// __all__, after "UUID").
#pragma once

#include <Python.h>

#include <span>

namespace kestrand {

std::span<const PyMethodDef> module_functions();

}  // namespace kestrand
