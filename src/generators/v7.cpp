#include "generators/functions.hpp"
#include "generators/v7_state.hpp"
#include "lib/args.hpp"
#include "lib/entry.hpp"

namespace kestrand {
namespace {

// METH_FASTCALL for the interpreter's direct call (see uuid4).
PyObject* uuid7(PyObject*, PyObject* const*, Py_ssize_t nargs) {
  return enter([&]() -> Result<OwnedRef> {
    if (nargs != 0) {
      return takes_no_arguments("kestrand.uuid7", nargs);
    }
    OwnedRef object = new_uuid_object();
    if (!object) {
      return fetch_error();
    }
    uuid_fields(object)->value = make_v7();
    return object;
  });
}

}  // namespace

const PyMethodDef uuid7_def = {"uuid7", as_fastcall<uuid7>(), METH_FASTCALL, "uuid7()\n--\n\n"};

}  // namespace kestrand
