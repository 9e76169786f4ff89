// PyInit_kestrand, the module's only exported symbol.
//
// The module is created once per process (single-phase initialisation, no
// module state) and belongs to the first interpreter that imports it: its
// process-wide state cannot be shared, so other interpreters are refused.
// Importing it again after removal from sys.modules returns the same object.
//
// It will not load in a process where its fork handlers could not be
// registered: a child could then deadlock on a lock copied held, or hand out
// its parent's values. The loader ran the registrations; the import reports
// their outcome, the same at every attempt.
#include <atomic>
#include <cstring>
#include <string>

#include "lib/entry.hpp"
#include "lib/interned.hpp"
#include "lib/once.hpp"
#include "lib/reopened_mutex.hpp"
#include "module/registration.hpp"
#include "platform/fork_locks.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kestrand",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// lib/ cannot reach platform/, so the module, which has both, lists it.
[[maybe_unused]] const bool mutexes_reopened = reset_in_child(reopen_mutexes_in_child);

void check_fork_registration() {
  ForkRegistrationFailure failure = fork_registration_failure();
  if (failure.atfork_error != 0) {
    panic("could not register the fork handlers: pthread_atfork returned " +
          std::to_string(failure.atfork_error));
  }
  if (failure.table_full) {
    panic("could not register the fork handlers: their table is full");
  }
}

std::atomic<int64_t> owning_interpreter{-1};
OnceCell<PyObject> module_cell;
OnceCell<PyObject> all_name_cell;
OnceCell<PyObject> name_name_cell;

Status check_interpreter() {
  int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) {
    return fetch_error();
  }
  int64_t expected = -1;
  if (owning_interpreter.compare_exchange_strong(expected, id) || expected == id) {
    return ok_status();
  }
  return Error::deferred(PyExc_ImportError,
                         "kestrand does not yet support subinterpreters: it keeps process-wide "
                         "state and belongs to the interpreter that imported it first; see "
                         "\"subinterpreter support\" on the kestrand issue tracker");
}

Result<PyObject*> all_list(PyObject* module) {
  PyObject* all_name = interned(all_name_cell, "__all__");
  OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, all_name));
  if (all) {
    if (!PyList_Check(all.get())) {
      return conversion_error(all.get(), "PyList");
    }
    return all.get();  // the module keeps it alive
  }
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
    return fetch_error();
  }
  PyErr_Clear();
  OwnedRef fresh = OwnedRef::steal(must(PyList_New(0)));
  if (PyObject_SetAttr(module, all_name, fresh.get()) < 0) {
    return fetch_error();
  }
  return fresh.get();
}

Status add_public_name(PyObject* module, PyObject* name, PyObject* value) {
  TRY(PyObject * all, all_list(module));
  if (PyList_Append(all, name) < 0) {
    PyErr_Print();
    panic("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name, value) < 0) {
    return fetch_error();
  }
  return ok_status();
}

Status add_function(PyObject* module, const PyMethodDef& definition) {
  OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
  if (!module_name) {
    return fetch_error();
  }
  // The function object points at its definition for the rest of the process.
  auto* kept = new PyMethodDef(definition);
  OwnedRef function =
      OwnedRef::steal(PyCMethod_New(kept, module, module_name.get(), nullptr));
  if (!function) {
    return fetch_error();
  }
  OwnedRef name =
      OwnedRef::steal(PyObject_GetAttr(function.get(), interned(name_name_cell, "__name__")));
  if (!name) {
    return fetch_error();
  }
  if (!PyUnicode_Check(name.get())) {
    return conversion_error(name.get(), "PyString");
  }
  return add_public_name(module, name.get(), function.get());
}

Status module_body(PyObject* module) {
  Result<PyTypeObject*> type = create_uuid_type();
  if (!type.ok()) {
    raise_error(std::move(type).error());
    OwnedRef cause = OwnedRef::steal(PyErr_GetRaisedException());
    OwnedRef error = OwnedRef::steal(must(PyObject_CallFunction(
        PyExc_RuntimeError, "s", "An error occurred while initializing class UUID")));
    PyException_SetCause(error.get(), cause.release());
    return Error::ready(std::move(error));
  }
  OwnedRef name = OwnedRef::steal(must(PyUnicode_FromString("UUID")));
  TRY_STATUS(add_public_name(module, name.get(), reinterpret_cast<PyObject*>(type.value())));
  for (const PyMethodDef& definition : module_functions()) {
    TRY_STATUS(add_function(module, definition));
  }
  return ok_status();
}

Result<OwnedRef> init_module() {
  check_fork_registration();
  TRY_STATUS(check_interpreter());
  TRY(PyObject * module, module_cell.get_or_init([]() -> Result<PyObject*> {
    OwnedRef created = OwnedRef::steal(PyModule_Create2(&module_def, 1013));
    if (!created) {
      return fetch_error();
    }
    TRY_STATUS(module_body(created.get()));
    return created.release();  // the cell keeps this reference for good
  }));
  return OwnedRef::new_ref(module);
}

}  // namespace
}  // namespace kestrand

PyMODINIT_FUNC PyInit_kestrand() {
  return kestrand::enter([] { return kestrand::init_module(); });
}
