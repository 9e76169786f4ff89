// Integer conversions of call arguments. Each returns the value or the
// conversion's error; callers apply argument_error() with the parameter name.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>

#include "lib/result.hpp"

namespace kestrand {

// to_u64: an int (or subclass) read as unsigned 64-bit; any other object goes
// through the index protocol first. Errors are the interpreter's own.
Result<uint64_t> to_u64(PyObject* object);

// to_bounded: PyLong_AsLong, then 0..max; outside it OverflowError
// "out of range integral type conversion attempted".
Result<uint64_t> to_bounded(PyObject* object, uint64_t max);

// to_u128_be: the index protocol, then 16 unsigned big-endian bytes; negative
// values and values of 2**128 or more are the interpreter's OverflowError.
Result<std::array<uint8_t, 16>> to_u128_be(PyObject* object);

}  // namespace kestrand
