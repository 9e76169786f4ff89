// The fifteen read-only properties of UUID. Each builds its result afresh
// from the value; nothing is cached on the object.
#include <algorithm>
#include <cstring>

#include "lib/entry.hpp"
#include "lib/objects.hpp"
#include "uuid_type/object.hpp"
#include "uuid_type/slots.hpp"
#include "uuid_type/text.hpp"

namespace kestrand {
namespace {

uint64_t be(const UuidValue& v, size_t first, size_t count) {
  uint64_t out = 0;
  for (size_t i = first; i < first + count; ++i) {
    out = (out << 8) | v[i];
  }
  return out;
}

uint64_t time_low(const UuidValue& v) { return be(v, 0, 4); }
uint64_t time_mid(const UuidValue& v) { return be(v, 4, 2); }
uint64_t time_hi_version(const UuidValue& v) { return be(v, 6, 2); }
uint64_t node(const UuidValue& v) { return be(v, 10, 6); }
bool is_rfc_variant(const UuidValue& v) { return (v[8] & 0xC0) == 0x80; }

// timestamp: the time field in the layout that the version and variant name:
// version 6 (100 ns intervals, most significant bits first), version 7 (Unix
// milliseconds, returned as stored) and otherwise the version 1 layout.
uint64_t timestamp(const UuidValue& v) {
  unsigned version = v[6] >> 4;
  uint64_t time_hi = time_hi_version(v) & 0x0FFF;
  if (version == 6 && is_rfc_variant(v)) {
    return (time_low(v) << 28) | (time_mid(v) << 12) | time_hi;
  }
  if (version == 7 && is_rfc_variant(v)) {
    return be(v, 0, 6);
  }
  return (time_hi << 48) | (time_mid(v) << 32) | time_low(v);
}

const char* variant_text(const UuidValue& v) {
  if ((v[8] & 0x80) == 0) {
    return "reserved for NCS compatibility";
  }
  if ((v[8] & 0x40) == 0) {
    return "specified in RFC 4122";
  }
  if ((v[8] & 0x20) == 0) {
    return "reserved for Microsoft compatibility";
  }
  return "reserved for future definition";
}

// getter<Build>: a property getter whose result `Build(value)` makes.
template <auto Build>
PyObject* getter(PyObject* self, void*) {
  return enter([&]() -> Result<OwnedRef> {
    TRY(UuidValue value, read_value(self));
    return Build(value);
  });
}

template <uint64_t (*Field)(const UuidValue&)>
OwnedRef int_of(const UuidValue& v) {
  return new_int(Field(v));
}

OwnedRef int_value(const UuidValue& v) { return new_int_be(v.data(), v.size()); }
OwnedRef bytes_value(const UuidValue& v) { return new_bytes(v.data(), v.size()); }

OwnedRef bytes_le_value(const UuidValue& v) {
  UuidValue swapped = v;
  std::reverse(swapped.begin(), swapped.begin() + 4);
  std::reverse(swapped.begin() + 4, swapped.begin() + 6);
  std::reverse(swapped.begin() + 6, swapped.begin() + 8);
  return new_bytes(swapped.data(), swapped.size());
}

OwnedRef hex_value(const UuidValue& v) {
  return new_ascii(kSimpleLen, [&](char* out) { write_simple(v, out); });
}

OwnedRef urn_value(const UuidValue& v) {
  return new_ascii(kUrnLen, [&](char* out) { write_urn(v, out); });
}

OwnedRef version_value(const UuidValue& v) { return new_int(v[6] >> 4); }

OwnedRef variant_value(const UuidValue& v) {
  const char* text = variant_text(v);
  return new_ascii(std::strlen(text), [&](char* out) { std::memcpy(out, text, std::strlen(text)); });
}

uint64_t clock_seq_hi_variant(const UuidValue& v) { return v[8]; }
uint64_t clock_seq_low(const UuidValue& v) { return v[9]; }

OwnedRef fields_value(const UuidValue& v) {
  // The six ints are owned until the tuple takes them, so a failure part way
  // releases the ones already made.
  OwnedRef items[] = {new_int(time_low(v)),        new_int(time_mid(v)),
                      new_int(time_hi_version(v)), new_int(clock_seq_hi_variant(v)),
                      new_int(clock_seq_low(v)),   new_int(node(v))};
  OwnedRef tuple = OwnedRef::steal(must(PyTuple_New(6)));
  for (Py_ssize_t i = 0; i < 6; ++i) {
    PyTuple_SET_ITEM(tuple.get(), i, items[i].release());
  }
  return tuple;
}

#define KESTRAND_PROPERTY(name, build) \
  { #name, getter<build>, nullptr, "", nullptr }

}  // namespace

PyGetSetDef uuid_getset[] = {
    KESTRAND_PROPERTY(int, int_value),
    KESTRAND_PROPERTY(bytes, bytes_value),
    KESTRAND_PROPERTY(bytes_le, bytes_le_value),
    KESTRAND_PROPERTY(hex, hex_value),
    KESTRAND_PROPERTY(urn, urn_value),
    KESTRAND_PROPERTY(version, version_value),
    KESTRAND_PROPERTY(variant, variant_value),
    KESTRAND_PROPERTY(fields, fields_value),
    KESTRAND_PROPERTY(time_low, int_of<time_low>),
    KESTRAND_PROPERTY(time_mid, int_of<time_mid>),
    KESTRAND_PROPERTY(time_hi_version, int_of<time_hi_version>),
    KESTRAND_PROPERTY(clock_seq_hi_variant, int_of<clock_seq_hi_variant>),
    KESTRAND_PROPERTY(clock_seq_low, int_of<clock_seq_low>),
    KESTRAND_PROPERTY(time, int_of<timestamp>),
    KESTRAND_PROPERTY(node, int_of<node>),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace kestrand
