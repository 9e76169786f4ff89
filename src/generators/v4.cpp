#include "generators/v4.hpp"

#include "generators/functions.hpp"
#include "lib/args.hpp"
#include "lib/entry.hpp"
#include "sources/entropy/os_entropy.hpp"

namespace kestrand {

UuidValue make_v4() {
  EntropyRun run;
  UuidValue value;
  make_v4(run, value);
  return value;
}

namespace {

// METH_FASTCALL rather than METH_NOARGS: CPython 3.12 specialises a call of
// a fast-call function into a direct call, but sends METH_NOARGS functions
// through its generic call path (3.14 specialises both).
PyObject* uuid4(PyObject*, PyObject* const*, Py_ssize_t nargs) {
  return enter([&]() -> Result<OwnedRef> {
    if (nargs != 0) {
      return takes_no_arguments("kestrand.uuid4", nargs);
    }
    // The object first, so the value is written once, into it.
    OwnedRef object = new_uuid_object();
    if (!object) {
      return fetch_error();
    }
    EntropyRun run;
    make_v4(run, uuid_fields(object)->value);
    return object;
  });
}

}  // namespace

const PyMethodDef uuid4_def = {"uuid4", as_fastcall<uuid4>(), METH_FASTCALL, "uuid4()\n--\n\n"};

}  // namespace kestrand
