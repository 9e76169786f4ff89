// The bulk functions: n values generated with the interpreter lock released,
// into one buffer reserved at its final size, then turned into a list once the
// lock is back. The buffer belongs to the call and is freed on every path, and
// a failure part way returns no list at all.
//
// Threads: without the interpreter lock, a call touches its own buffer, its
// thread's entropy state and the version 7 state under that state's lock;
// any number of calls run at once. Python objects only once the lock is back.
#include <cstring>
#include <memory>
#include <string_view>

#include "generators/functions.hpp"
#include "generators/v4.hpp"
#include "generators/v7_state.hpp"
#include "lib/args.hpp"
#include "lib/convert.hpp"
#include "lib/entry.hpp"
#include "lib/objects.hpp"
#include "lib/released.hpp"
#include "uuid_type/text.hpp"

namespace kestrand {
namespace {

// Largest counts: the buffer's byte size must stay well inside the address space.
constexpr uint64_t kMaxObjects = (uint64_t{1} << 59) - 1;
constexpr uint64_t kMaxStrings = 0x555555555555555;

// The value makers, one per bulk call: each looks up the thread's random
// state once for the whole call.
struct MakeV4 {
  EntropyRun run;
  void operator()(UuidValue& out) { make_v4(run, out); }
};
struct MakeV7 {
  EntropyRun run;
  void operator()(UuidValue& out) { out = make_v7(run); }
};

struct ObjectItems {
  static constexpr uint64_t kMaxCount = kMaxObjects;
  using Slot = UuidValue;
  template <class Make>
  static void store(Make& make, Slot& slot) { make(slot); }
  // item: the new object, or null with the exception set.
  static OwnedRef item(const Slot& slot) {
    OwnedRef object = new_uuid_object(uuid_type());
    if (object) {
      uuid_fields(object)->value = slot;
    }
    return object;
  }
};

struct StringItems {
  static constexpr uint64_t kMaxCount = kMaxStrings;
  using Slot = std::array<char, kSimpleLen>;
  template <class Make>
  static void store(Make& make, Slot& slot) {
    UuidValue value;
    make(value);
    write_simple(value, slot.data());
  }
  static OwnedRef item(const Slot& slot) {
    return new_ascii(kSimpleLen, [&](char* out) { std::memcpy(out, slot.data(), kSimpleLen); });
  }
};

template <class Items, class Make>
std::unique_ptr<typename Items::Slot[]> generate(uint64_t count) {
  if (count > Items::kMaxCount) {
    panic("capacity overflow");
  }
  if (count == 0) {
    return nullptr;
  }
  auto slots = std::make_unique_for_overwrite<typename Items::Slot[]>(count);
  Make make;
  for (uint64_t i = 0; i < count; ++i) {
    Items::store(make, slots[i]);
  }
  return slots;
}

template <class Items, class Make, const ParamTable& Params>
PyObject* bulk(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return enter([&]() -> Result<OwnedRef> {
    PyObject* slots[1] = {};
    TRY_STATUS(bind_fastcall(Params, args, nargs, kwnames, slots));
    Result<uint64_t> converted = to_u64(slots[0]);
    if (!converted.ok()) {
      return argument_error("n", std::move(converted).error());
    }
    uint64_t count = converted.value();
    auto values = without_interpreter_lock([&] { return generate<Items, Make>(count); });

    OwnedRef list = OwnedRef::steal(must(PyList_New(static_cast<Py_ssize_t>(count))));
    for (uint64_t i = 0; i < count; ++i) {
      OwnedRef item = Items::item(values[i]);
      if (!item) {
        return fetch_error();
      }
      reinterpret_cast<PyListObject*>(list.get())->ob_item[i] = item.release();
    }
    return list;
  });
}

constexpr std::string_view kCountParam[] = {"n"};
constexpr ParamTable kUuid4BulkParams{"uuid4_bulk", "", kCountParam, 0, 1};
constexpr ParamTable kUuid7BulkParams{"uuid7_bulk", "", kCountParam, 0, 1};
constexpr ParamTable kUuid4StringsParams{"uuid4_as_strings_bulk", "", kCountParam, 0, 1};
constexpr ParamTable kUuid7StringsParams{"uuid7_as_strings_bulk", "", kCountParam, 0, 1};

}  // namespace

const PyMethodDef uuid4_bulk_def = {
    "uuid4_bulk", as_cfunction<bulk<ObjectItems, MakeV4, kUuid4BulkParams>>(),
    METH_FASTCALL | METH_KEYWORDS, "uuid4_bulk(n)\n--\n\n"};
const PyMethodDef uuid4_as_strings_bulk_def = {
    "uuid4_as_strings_bulk", as_cfunction<bulk<StringItems, MakeV4, kUuid4StringsParams>>(),
    METH_FASTCALL | METH_KEYWORDS, "uuid4_as_strings_bulk(n)\n--\n\n"};
const PyMethodDef uuid7_bulk_def = {
    "uuid7_bulk", as_cfunction<bulk<ObjectItems, MakeV7, kUuid7BulkParams>>(),
    METH_FASTCALL | METH_KEYWORDS, "uuid7_bulk(n)\n--\n\n"};
const PyMethodDef uuid7_as_strings_bulk_def = {
    "uuid7_as_strings_bulk", as_cfunction<bulk<StringItems, MakeV7, kUuid7StringsParams>>(),
    METH_FASTCALL | METH_KEYWORDS, "uuid7_as_strings_bulk(n)\n--\n\n"};

}  // namespace kestrand
