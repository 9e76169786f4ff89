// UUID(hex=None, bytes=None, bytes_le=None, fields=None, int=None, version=None)
//
// Exactly one of the five value forms must be given; `version` is checked
// whatever the form, but only rewrites the version nibble of the two byte
// forms. Every check runs before the instance is allocated, so a failed call
// leaves nothing behind.
#include <cstring>
#include <string_view>

#include "lib/args.hpp"
#include "lib/convert.hpp"
#include "lib/entry.hpp"
#include "uuid_type/object.hpp"
#include "uuid_type/slots.hpp"
#include "uuid_type/text.hpp"

namespace kestrand {
namespace {

enum Param : size_t { kHex, kBytes, kBytesLe, kFields, kInt, kVersion, kParamCount };

constexpr std::string_view kPositional[kParamCount] = {"hex",    "bytes", "bytes_le",
                                                       "fields", "int",   "version"};
constexpr ParamTable kNewParams{"__new__", "UUID", kPositional, 0, 0};

// Converted arguments; a null/empty member was not given (or was None).
struct Inputs {
  std::string_view hex;
  bool has_hex = false;
  PyObject* bytes = nullptr;
  PyObject* bytes_le = nullptr;
  PyObject* fields = nullptr;
  std::optional<UuidValue> int_value;
  std::optional<uint8_t> version;

  int forms() const {
    return int{has_hex} + int{bytes != nullptr} + int{bytes_le != nullptr} +
           int{fields != nullptr} + int{int_value.has_value()};
  }
};

bool given(PyObject* slot) { return slot != nullptr && slot != Py_None; }

// small_int_value: the common case of a non-negative int below 2**63 (such as
// the 0 that unpickling passes), without the general 128-bit conversion.
std::optional<UuidValue> small_int_value(PyObject* integer) {
  if (!PyLong_CheckExact(integer)) {
    return std::nullopt;
  }
  int overflow = 0;
  long long small = PyLong_AsLongLongAndOverflow(integer, &overflow);
  if (overflow != 0 || small < 0) {
    return std::nullopt;
  }
  UuidValue value{};
  for (size_t i = 0; i < 8; ++i) {
    value[15 - i] = static_cast<uint8_t>(static_cast<unsigned long long>(small) >> (8 * i));
  }
  return value;
}

// convert: fills `in` in place; a large result type returned by value costs
// more than the whole conversion on this path.
Status convert(PyObject* const* slots, Inputs& in) {
  if (PyObject* hex = slots[kHex]; given(hex)) {
    if (!PyUnicode_Check(hex)) {
      return argument_error("hex", conversion_error(hex, "PyString"));
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(hex, &size);
    if (utf8 == nullptr) {
      return argument_error("hex", fetch_error());
    }
    in.hex = std::string_view(utf8, static_cast<size_t>(size));
    in.has_hex = true;
  }
  if (PyObject* bytes = slots[kBytes]; given(bytes)) {
    if (!PyBytes_Check(bytes)) {
      return argument_error("bytes", conversion_error(bytes, "PyBytes"));
    }
    in.bytes = bytes;
  }
  if (PyObject* bytes_le = slots[kBytesLe]; given(bytes_le)) {
    if (!PyBytes_Check(bytes_le)) {
      return argument_error("bytes_le", conversion_error(bytes_le, "PyBytes"));
    }
    in.bytes_le = bytes_le;
  }
  if (PyObject* fields = slots[kFields]; given(fields)) {
    if (!PyTuple_Check(fields)) {
      return argument_error("fields", conversion_error(fields, "PyTuple"));
    }
    in.fields = fields;
  }
  if (PyObject* integer = slots[kInt]; given(integer)) {
    in.int_value = small_int_value(integer);
    if (!in.int_value) {
      Result<UuidValue> value = to_u128_be(integer);
      if (!value.ok()) {
        return argument_error("int", std::move(value).error());
      }
      in.int_value = value.value();
    }
  }
  if (PyObject* version = slots[kVersion]; given(version)) {
    Result<uint64_t> value = to_bounded(version, 0xFF);
    if (!value.ok()) {
      return argument_error("version", std::move(value).error());
    }
    in.version = static_cast<uint8_t>(value.value());
  }
  return ok_status();
}

void apply_version(UuidValue& value, std::optional<uint8_t> version) {
  if (version) {
    value[6] = static_cast<uint8_t>((value[6] & 0x0F) | (*version << 4));
  }
}

Result<UuidValue> from_bytes_le(PyObject* bytes_le) {
  Py_ssize_t length = PyObject_Size(bytes_le);
  if (length < 0) {
    return fetch_error();
  }
  if (length != 16) {
    return Error::value_error("bytes_le is not a 16-char string");
  }
  // A bytes subclass may report a length its buffer does not have.
  if (PyBytes_GET_SIZE(bytes_le) < 16) {
    panic("bytes_le reports a length of 16 but its buffer holds " +
          std::to_string(PyBytes_GET_SIZE(bytes_le)) + " bytes");
  }
  const auto* in = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(bytes_le));
  return UuidValue{in[3], in[2], in[1], in[0], in[5],  in[4],  in[7],  in[6],
                   in[8], in[9], in[10], in[11], in[12], in[13], in[14], in[15]};
}

struct FieldSpec {
  uint64_t max;
  const char* message;
};
constexpr FieldSpec kFieldSpecs[5] = {
    {0xFFFFFFFF, "field 1 out of range (need a 32-bit value)"},
    {0xFFFF, "field 2 out of range (need a 16-bit value)"},
    {0xFFFF, "field 3 out of range (need a 16-bit value)"},
    {0xFF, "field 4 out of range (need a 8-bit value)"},
    {0xFF, "field 5 out of range (need a 8-bit value)"},
};

Result<UuidValue> from_fields(PyObject* fields) {
  if (PyTuple_GET_SIZE(fields) != 6) {
    return Error::value_error("fields is not a 6-tuple");
  }
  uint64_t parts[5];
  for (Py_ssize_t i = 0; i < 5; ++i) {
    PyObject* item = PyTuple_GET_ITEM(fields, i);
    if (!PyLong_Check(item)) {
      return conversion_error(item, "PyInt");
    }
    Result<uint64_t> part = to_bounded(item, kFieldSpecs[i].max);
    if (!part.ok()) {
      return Error::value_error(kFieldSpecs[i].message);
    }
    parts[i] = part.value();
  }
  PyObject* node_item = PyTuple_GET_ITEM(fields, 5);
  if (!PyLong_Check(node_item)) {
    return conversion_error(node_item, "PyInt");
  }
  TRY(UuidValue node, to_u128_be(node_item));
  for (size_t i = 0; i < 10; ++i) {
    if (node[i] != 0) {
      return Error::value_error("field 6 out of range (need a 48-bit value)");
    }
  }
  UuidValue v;
  for (size_t i = 0; i < 4; ++i) {
    v[i] = static_cast<uint8_t>(parts[0] >> (24 - 8 * i));
  }
  v[4] = static_cast<uint8_t>(parts[1] >> 8);
  v[5] = static_cast<uint8_t>(parts[1]);
  v[6] = static_cast<uint8_t>(parts[2] >> 8);
  v[7] = static_cast<uint8_t>(parts[2]);
  v[8] = static_cast<uint8_t>(parts[3]);
  v[9] = static_cast<uint8_t>(parts[4]);
  std::copy(node.begin() + 10, node.end(), v.begin() + 10);
  return v;
}

Result<UuidValue> build(const Inputs& in) {
  if (in.version && (*in.version < 1 || *in.version > 5)) {
    return Error::value_error("illegal version number");
  }
  if (in.forms() != 1) {
    return Error::type_error(
        "one of the hex, bytes, bytes_le, fields, or int arguments must be given");
  }
  if (in.has_hex) {
    std::optional<UuidValue> value = parse_hex(in.hex);
    if (!value) {
      return Error::value_error("badly formed hexadecimal UUID string");
    }
    return *value;
  }
  if (in.bytes != nullptr) {
    if (PyBytes_GET_SIZE(in.bytes) != 16) {
      return Error::value_error("bytes is not a 16-char string");
    }
    UuidValue value;
    std::memcpy(value.data(), PyBytes_AS_STRING(in.bytes), 16);
    apply_version(value, in.version);
    return value;
  }
  if (in.bytes_le != nullptr) {
    TRY(UuidValue value, from_bytes_le(in.bytes_le));
    apply_version(value, in.version);
    return value;
  }
  if (in.fields != nullptr) {
    return from_fields(in.fields);
  }
  return *in.int_value;
}

Result<OwnedRef> construct(PyTypeObject* subtype, PyObject* const* slots) {
  Inputs inputs;
  TRY_STATUS(convert(slots, inputs));
  TRY(UuidValue value, build(inputs));
  return new_instance(subtype, value);
}

// call_through_type: the interpreter's ordinary type call, for subclasses,
// which may define __new__ or __init__ of their own.
PyObject* call_through_type(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(nargs));
  if (!tuple) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
  }
  OwnedRef kwargs;
  if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
    kwargs = OwnedRef::steal(PyDict_New());
    if (!kwargs) {
      return nullptr;
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
      if (PyDict_SetItem(kwargs.get(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) {
        return nullptr;
      }
    }
  }
  return PyType_Type.tp_call(type, tuple.get(), kwargs.get());
}

}  // namespace

PyObject* uuid_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return enter([&]() -> Result<OwnedRef> {
    PyObject* slots[kParamCount] = {};
    TRY_STATUS(bind_tuple_dict(kNewParams, args, kwargs, slots));
    return construct(subtype, slots);
  });
}

PyObject* uuid_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                          PyObject* kwnames) {
  auto* subtype = reinterpret_cast<PyTypeObject*>(type);
  // The class is mutable: code that assigns UUID.__new__ or UUID.__init__
  // gets the ordinary call that honours them.
  if (subtype != uuid_type() || subtype->tp_new != uuid_new ||
      subtype->tp_init != PyBaseObject_Type.tp_init) {
    return call_through_type(type, args, PyVectorcall_NARGS(nargsf), kwnames);
  }
  return enter([&]() -> Result<OwnedRef> {
    PyObject* slots[kParamCount] = {};
    TRY_STATUS(bind_fastcall(kNewParams, args, PyVectorcall_NARGS(nargsf), kwnames, slots));
    return construct(subtype, slots);
  });
}

}  // namespace kestrand
