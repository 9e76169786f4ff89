// The value protocol of UUID: str, repr, int, hash and the rich comparisons.
#include <bit>
#include <cstring>

#include "lib/entry.hpp"
#include "lib/objects.hpp"
#include "uuid_type/object.hpp"
#include "uuid_type/siphash13.hpp"
#include "uuid_type/slots.hpp"
#include "uuid_type/text.hpp"

namespace kestrand {
namespace {

uint64_t load_be64(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, 8);
  return std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
}

// compare: <0, 0, >0 in the unsigned order of the 128-bit integer views.
int compare(const UuidValue& a, const UuidValue& b) {
  uint64_t a_high = load_be64(a.data());
  uint64_t b_high = load_be64(b.data());
  if (a_high != b_high) {
    return a_high < b_high ? -1 : 1;
  }
  uint64_t a_low = load_be64(a.data() + 8);
  uint64_t b_low = load_be64(b.data() + 8);
  return a_low == b_low ? 0 : (a_low < b_low ? -1 : 1);
}

// hash_value: SipHash-1-3 of the 16 bytes as a hash; -1 is the interpreter's
// error marker, so that output becomes -2.
Py_hash_t hash_value(const UuidValue& value) {
  uint64_t hash = siphash13_16(value.data());
  if (hash == ~uint64_t{0}) {
    hash = ~uint64_t{1};
  }
  return static_cast<Py_hash_t>(hash);
}

}  // namespace

PyObject* uuid_str(PyObject* self) {
  return enter([&]() -> Result<OwnedRef> {
    TRY(UuidValue value, read_value(self));
    return new_ascii(kHyphenatedLen, [&](char* out) { write_hyphenated(value, out); });
  });
}

PyObject* uuid_repr(PyObject* self) {
  return enter([&]() -> Result<OwnedRef> {
    TRY(UuidValue value, read_value(self));
    return new_ascii(kHyphenatedLen + 8, [&](char* out) {
      std::memcpy(out, "UUID('", 6);
      write_hyphenated(value, out + 6);
      std::memcpy(out + 6 + kHyphenatedLen, "')", 2);
    });
  });
}

PyObject* uuid_int(PyObject* self) {
  return enter([&]() -> Result<OwnedRef> {
    TRY(UuidValue value, read_value(self));
    return new_int_be(value.data(), value.size());
  });
}

Py_hash_t uuid_hash(PyObject* self) {
  // Hashed straight from the object's storage when it can be read in place:
  // a copy of the value first puts a store and two reloads on the way to the
  // result, a tenth of the whole hash() call.
  if (const UuidValue* value = readable_exact(self)) [[likely]] {
    return hash_value(*value);
  }
  return enter_with<Py_hash_t>(-1, [&]() -> Result<Py_hash_t> {
    TRY(UuidValue value, read_value_checked(self));
    return hash_value(value);
  });
}

PyObject* uuid_richcompare(PyObject* self, PyObject* other, int op) {
  // Never raises: anything that is not a readable UUID is NotImplemented, and
  // the interpreter then applies its own rules for foreign operands.
  if (!is_uuid(self) || !is_uuid(other)) {
    Py_RETURN_NOTIMPLEMENTED;
  }
  UuidValue left_value;
  UuidValue right_value;
  if (!copy_value(reinterpret_cast<UuidObject*>(self), left_value) ||
      !copy_value(reinterpret_cast<UuidObject*>(other), right_value)) {
    Py_RETURN_NOTIMPLEMENTED;
  }
  bool result;
  switch (op) {
    case Py_EQ:
      result = left_value == right_value;
      break;
    case Py_NE:
      result = left_value != right_value;
      break;
    case Py_LT:
      result = compare(left_value, right_value) < 0;
      break;
    case Py_LE:
      result = compare(left_value, right_value) <= 0;
      break;
    case Py_GT:
      result = compare(left_value, right_value) > 0;
      break;
    case Py_GE:
      result = compare(left_value, right_value) >= 0;
      break;
    default:
      Py_RETURN_NOTIMPLEMENTED;
  }
  return Py_NewRef(result ? Py_True : Py_False);
}

}  // namespace kestrand
