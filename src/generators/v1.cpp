// uuid1 and uuid_v1mc: version 1 UUIDs from the wall clock, the process's
// clock sequence and a node: the caller's, the host's (uuid.getnode(), asked
// on every call so a replaced getnode is honoured), or a random multicast one.
#include <optional>
#include <string_view>

#include "generators/functions.hpp"
#include "generators/v1_state.hpp"
#include "lib/args.hpp"
#include "lib/convert.hpp"
#include "lib/entry.hpp"
#include "lib/interned.hpp"
#include "sources/thread_rng.hpp"

namespace kestrand {
namespace {

OnceCell<PyObject> uuid_module_name;
OnceCell<PyObject> getnode_name;

// host_uuid_module: the host's "uuid" module as sys.modules has it now, or
// imported through the interpreter's import function when it is not there.
// The full import call costs more than the rest of uuid1() together, and the
// lookup sees a module that was replaced in sys.modules just the same.
Result<OwnedRef> host_uuid_module() {
  PyObject* name = interned(uuid_module_name, "uuid");
  PyObject* modules = PyImport_GetModuleDict();  // borrowed
  if (PyDict_CheckExact(modules)) {
    PyObject* module = PyDict_GetItemWithError(modules, name);  // borrowed
    if (module != nullptr && module != Py_None) {
      return OwnedRef::new_ref(module);
    }
    if (PyErr_Occurred()) {
      return fetch_error();
    }
  }
  OwnedRef module = OwnedRef::steal(PyImport_Import(name));
  if (!module) {
    return fetch_error();
  }
  return module;
}

// host_node: uuid.getnode() of the host interpreter. Its failures, and a
// result that is not an unsigned 64-bit int, propagate as they are.
Result<uint64_t> host_node() {
  TRY(OwnedRef module, host_uuid_module());
  OwnedRef getnode = OwnedRef::steal(PyObject_GetAttr(module.get(), interned(getnode_name, "getnode")));
  if (!getnode) {
    return fetch_error();
  }
  OwnedRef node = OwnedRef::steal(PyObject_CallNoArgs(getnode.get()));
  if (!node) {
    return fetch_error();
  }
  return to_u64(node.get());
}

bool given(PyObject* argument) { return argument != nullptr && argument != Py_None; }

constexpr std::string_view kUuid1Positional[] = {"node", "clock_seq"};
constexpr ParamTable kUuid1Params = {
    .function = "uuid1", .class_name = {}, .positional = kUuid1Positional};

// Converted in this order, both before the host is asked for its node, and
// all of it before the clock is read.
PyObject* uuid1(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return enter([&]() -> Result<OwnedRef> {
    PyObject* slots[2] = {};
    TRY_STATUS(bind_fastcall(kUuid1Params, args, nargs, kwnames, slots));
    std::optional<uint64_t> node;
    if (given(slots[0])) {
      Result<uint64_t> converted = to_u64(slots[0]);
      if (!converted.ok()) {
        return argument_error("node", std::move(converted).error());
      }
      node = converted.value();
    }
    std::optional<uint16_t> clock_seq;
    if (given(slots[1])) {
      Result<uint64_t> converted = to_bounded(slots[1], 0xFFFF);
      if (!converted.ok()) {
        return argument_error("clock_seq", std::move(converted).error());
      }
      clock_seq = static_cast<uint16_t>(converted.value());
    }
    if (!node) {
      TRY(uint64_t host, host_node());
      node = host;
    }
    return wrap_value(make_v1(node_of(*node), clock_seq));
  });
}

PyObject* uuid_v1mc(PyObject*, PyObject*) {
  return enter([]() -> Result<OwnedRef> {
    // The multicast bit marks the node as not being a real network address.
    uint64_t node = (thread_rng_u64() & 0xFFFFFFFFFFFF) | 0x010000000000;
    return wrap_value(make_v1(node_of(node), std::nullopt));
  });
}

}  // namespace

const PyMethodDef uuid1_def = {"uuid1", as_cfunction<uuid1>(),
                               METH_FASTCALL | METH_KEYWORDS,
                               "uuid1(node=None, clock_seq=None)\n--\n\n"};

const PyMethodDef uuid_v1mc_def = {
    "uuid_v1mc", uuid_v1mc, METH_NOARGS,
    "uuid_v1mc()\n--\n\n"
    "Fast path for uuid1 with a randomly generated MAC address.\n"
    "à la postgres' uuid extension.\n"
    "Further Reading:\n"
    "  - https://www.postgresql.org/docs/current/uuid-ossp.html\n"
    "  - https://docs.yugabyte.com/preview/explore/ysql-language-features/pg-extensions/extension-uuid-ossp/\n"
    "  - https://www.cybertec-postgresql.com/en/uuid-serial-or-identity-columns-for-postgresql-auto-generated-primary-keys/\n"
    "  -"};

}  // namespace kestrand
