#include "generators/v4.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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

void make_v4(EntropyRun& run, UuidValue& out) {
  UuidValue random;
  run.fill_or_panic(random.data(), random.size());
  // The draw is read as a little-endian 128-bit integer and stored big-endian,
  // so the UUID is the draw reversed; then version and variant are stamped in.
  if constexpr (std::endian::native == std::endian::little) {
    // Two byte swaps instead of sixteen byte moves, version and variant set
    // in the registers, and two whole-word stores: a 16-byte read of the
    // value (copying it into an object) then takes its bytes straight from
    // the stores instead of waiting for them to reach the cache.
    uint64_t low;
    uint64_t high;
    std::memcpy(&low, random.data(), 8);
    std::memcpy(&high, random.data() + 8, 8);
    high = __builtin_bswap64(high);  // bytes 0..7 of the UUID, byte 0 lowest
    low = __builtin_bswap64(low);    // bytes 8..15
    high = (high & ~(uint64_t{0xF0} << 48)) | (uint64_t{0x40} << 48);  // byte 6
    low = (low & ~uint64_t{0xC0}) | uint64_t{0x80};                     // byte 8
    std::memcpy(out.data(), &high, 8);
    std::memcpy(out.data() + 8, &low, 8);
  } else {
    std::reverse_copy(random.begin(), random.end(), out.begin());
    out[6] = static_cast<uint8_t>(0x40 | (out[6] & 0x0F));
    out[8] = static_cast<uint8_t>(0x80 | (out[8] & 0x3F));
  }
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
