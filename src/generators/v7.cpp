#include "generators/functions.hpp"
#include "generators/v7_state.hpp"
#include "lib/entry.hpp"

namespace kestrand {
namespace {

PyObject* uuid7(PyObject*, PyObject*) {
  return enter([]() -> Result<OwnedRef> { return wrap_value(make_v7()); });
}

}  // namespace

const PyMethodDef uuid7_def = {"uuid7", uuid7, METH_NOARGS, "uuid7()\n--\n\n"};

}  // namespace kestrand
