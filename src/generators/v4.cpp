#include "generators/v4.hpp"

#include <algorithm>

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
  std::reverse_copy(random.begin(), random.end(), value.begin());
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
