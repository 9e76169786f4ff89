#include "generators/v4.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "generators/functions.hpp"
#include "lib/entry.hpp"
#include "sources/entropy/os_entropy.hpp"

namespace kestrand {

UuidValue make_v4() {
  EntropyRun run;
  return make_v4(run);
}

UuidValue make_v4(EntropyRun& run) {
  UuidValue random{};
  run.fill_or_panic(random.data(), random.size());
  // The draw is read as a little-endian 128-bit integer and stored big-endian,
  // so the UUID is the draw reversed; then version and variant are stamped in.
  UuidValue value;
  if constexpr (std::endian::native == std::endian::little) {
    // Two byte swaps instead of sixteen byte moves.
    uint64_t low;
    uint64_t high;
    std::memcpy(&low, random.data(), 8);
    std::memcpy(&high, random.data() + 8, 8);
    high = __builtin_bswap64(high);
    low = __builtin_bswap64(low);
    std::memcpy(value.data(), &high, 8);
    std::memcpy(value.data() + 8, &low, 8);
  } else {
    std::reverse_copy(random.begin(), random.end(), value.begin());
  }
  value[6] = static_cast<uint8_t>(0x40 | (value[6] & 0x0F));
  value[8] = static_cast<uint8_t>(0x80 | (value[8] & 0x3F));
  return value;
}

namespace {

PyObject* uuid4(PyObject*, PyObject*) {
  return enter([]() -> Result<OwnedRef> { return wrap_value(make_v4()); });
}

}  // namespace

const PyMethodDef uuid4_def = {"uuid4", uuid4, METH_NOARGS, "uuid4()\n--\n\n"};

}  // namespace kestrand
