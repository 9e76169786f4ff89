// Pickling and copying. The persistent form of a UUID is its 16 bytes as the
// pickle state; unpickling calls UUID(None, None, None, None, 0, None) (the nil
// UUID) and then __setstate__ with those bytes.
#include <cstring>
#include <string_view>

#include "lib/args.hpp"
#include "lib/entry.hpp"
#include "lib/objects.hpp"
#include "lib/once.hpp"
#include "uuid_type/object.hpp"
#include "uuid_type/slots.hpp"

namespace kestrand {
namespace {

constexpr std::string_view kStateParam[] = {"state"};
constexpr ParamTable kSetstateParams{"__setstate__", "UUID", kStateParam, 0, 1};
constexpr std::string_view kMemoParam[] = {"_memo"};
constexpr ParamTable kDeepcopyParams{"__deepcopy__", "UUID", kMemoParam, 0, 1};

// The constructor arguments are the same for every UUID, so one shared
// (immutable) tuple serves every call instead of a new one each time.
OnceCell<PyObject> newargs_cell;

Result<OwnedRef> newargs() {
  TRY(PyObject * args, newargs_cell.get_or_init([]() -> Result<PyObject*> {
    return must(Py_BuildValue("(OOOOiO)", Py_None, Py_None, Py_None, Py_None, 0, Py_None));
  }));
  return OwnedRef::new_ref(args);
}

PyObject* getstate(PyObject* self, PyObject*) {
  return enter([&]() -> Result<OwnedRef> {
    TRY(UuidValue value, read_value(self));
    return new_bytes(value.data(), value.size());
  });
}

PyObject* getnewargs(PyObject* self, PyObject*) {
  return enter([&]() -> Result<OwnedRef> {
    TRY(UuidValue value, read_value(self));
    (void)value;
    return newargs();
  });
}

PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return enter([&]() -> Result<OwnedRef> {
    PyObject* slots[1] = {};
    TRY_STATUS(bind_fastcall(kSetstateParams, args, nargs, kwnames, slots));
    TRY(UuidObject * uuid, as_uuid(self));
    TRY(ExclusiveHold hold, ExclusiveHold::take(uuid));
    PyObject* state = slots[0];
    if (!PyBytes_Check(state)) {
      return conversion_error(state, "PyBytes");
    }
    if (PyBytes_GET_SIZE(state) != 16) {
      return Error::value_error("bytes is not a 16-char string");
    }
    std::memcpy(uuid->value.data(), PyBytes_AS_STRING(state), 16);
    return OwnedRef::new_ref(Py_None);
  });
}

PyObject* copy(PyObject* self, PyObject*) {
  return enter([&]() -> Result<OwnedRef> {
    TRY(UuidValue value, read_value(self));
    return wrap_value(value);
  });
}

PyObject* deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return enter([&]() -> Result<OwnedRef> {
    PyObject* slots[1] = {};
    TRY_STATUS(bind_fastcall(kDeepcopyParams, args, nargs, kwnames, slots));
    TRY(UuidValue value, read_value(self));
    if (!PyDict_Check(slots[0])) {
      return argument_error("_memo", conversion_error(slots[0], "PyDict"));
    }
    return wrap_value(value);
  });
}

}  // namespace

PyMethodDef uuid_methods[] = {
    {"__getstate__", getstate, METH_NOARGS, "__getstate__($self)\n--\n\n"},
    {"__setstate__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(setstate)),
     METH_FASTCALL | METH_KEYWORDS, "__setstate__($self, state)\n--\n\n"},
    {"__getnewargs__", getnewargs, METH_NOARGS, "__getnewargs__($self)\n--\n\n"},
    {"__copy__", copy, METH_NOARGS, "__copy__($self)\n--\n\n"},
    {"__deepcopy__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(deepcopy)),
     METH_FASTCALL | METH_KEYWORDS, "__deepcopy__($self, _memo)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace kestrand
