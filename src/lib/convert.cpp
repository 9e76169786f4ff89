#include "lib/convert.hpp"

#include "lib/error.hpp"
#include "lib/ref.hpp"

namespace kestrand {

Result<uint64_t> to_u64(PyObject* object) {
  OwnedRef index;
  if (!PyLong_Check(object)) {
    index = OwnedRef::steal(PyNumber_Index(object));
    if (!index) {
      return fetch_error();
    }
    object = index.get();
  }
  unsigned long long value = PyLong_AsUnsignedLongLong(object);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return fetch_error();
  }
  return static_cast<uint64_t>(value);
}

Result<uint64_t> to_bounded(PyObject* object, uint64_t max) {
  long value = PyLong_AsLong(object);
  if (value == -1 && PyErr_Occurred()) {
    return fetch_error();
  }
  if (value < 0 || static_cast<unsigned long>(value) > max) {
    return Error::overflow_error("out of range integral type conversion attempted");
  }
  return static_cast<uint64_t>(value);
}

Result<std::array<uint8_t, 16>> to_u128_be(PyObject* object) {
  OwnedRef index = OwnedRef::steal(PyNumber_Index(object));
  if (!index) {
    return fetch_error();
  }
  std::array<uint8_t, 16> bytes{};
  auto* as_long = reinterpret_cast<PyLongObject*>(index.get());
#if PY_VERSION_HEX >= 0x030D0000
  int status = _PyLong_AsByteArray(as_long, bytes.data(), bytes.size(), /*little_endian=*/0,
                                   /*is_signed=*/0, /*with_exceptions=*/1);
#else
  int status = _PyLong_AsByteArray(as_long, bytes.data(), bytes.size(), /*little_endian=*/0,
                                   /*is_signed=*/0);
#endif
  if (status < 0) {
    return fetch_error();
  }
  return bytes;
}

}  // namespace kestrand
