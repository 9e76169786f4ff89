// The bulk functions: the list is made at its final length first, then filled
// chunk by chunk: a chunk of values is generated with the interpreter lock
// released, into a buffer of at most kChunk slots, and turned into items once
// the lock is back. So no buffer grows with the count, the values are read
// back from cache rather than memory, other threads run during each chunk,
// and pending signals are checked between chunks, so Ctrl-C ends a long call.
// A failure part way returns no list at all: the list, with the items made so
// far, is released.
//
// Threads: without the interpreter lock, a call touches its own buffer, its
// thread's entropy state (held for the whole call, lock or no lock: it is
// this thread's alone; a signal handler run between chunks that asks for
// random bytes on this thread is served by the system call meanwhile) and the
// version 7 state under that state's lock; any number of calls run at once.
// Python objects only while the lock is held.
// The list is kept out of the garbage collector's sight until it is full, so
// a signal handler run between chunks cannot reach its empty slots.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
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

// Largest counts, kept from when one buffer held every value: the limits and
// their message are part of what callers see.
constexpr uint64_t kMaxObjects = (uint64_t{1} << 59) - 1;
constexpr uint64_t kMaxStrings = 0x555555555555555;

// Values made with the lock released between two looks at the signals: enough
// that releasing and taking back the lock is lost in the work (about 200 us
// of it), few enough that the buffer (64 or 128 kB) stays in the level 2
// cache until the items are made from it. Chosen among 256, 1024 and 4096 by
// measurement (docs/performance.md).
constexpr uint64_t kChunk = 4096;
// Counts up to this many use a buffer on the stack, sparing a short call the
// allocation.
constexpr uint64_t kStackSlots = 64;

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
Result<OwnedRef> make_list(uint64_t count) {
  if (count > Items::kMaxCount) {
    panic("capacity overflow");
  }
  // A count too large for memory fails here with the interpreter's MemoryError.
  OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
  if (!list) {
    return fetch_error();
  }
  if (count == 0) {
    return list;
  }
  PyObject_GC_UnTrack(list.get());
  PyObject** items = reinterpret_cast<PyListObject*>(list.get())->ob_item;
  const uint64_t chunk = std::min(count, kChunk);
  typename Items::Slot on_stack[kStackSlots];
  std::unique_ptr<typename Items::Slot[]> on_heap;
  typename Items::Slot* slots = on_stack;
  if (chunk > kStackSlots) {
    on_heap = std::make_unique_for_overwrite<typename Items::Slot[]>(chunk);
    slots = on_heap.get();
  }
  std::optional<Make> make;  // taken without the lock: a thread's first may wait for the pool
  uint64_t filled = 0;
  // Should the call fail part way, the list goes with only its filled slots,
  // so freeing it does not walk the empty rest (a Ctrl-C early in a call for
  // many millions). Declared after the list: it runs before the list is freed.
  struct CutOnFailure {
    PyObject* list;
    const uint64_t& filled;
    ~CutOnFailure() {
      if (list != nullptr) {
        Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list), static_cast<Py_ssize_t>(filled));
      }
    }
  } cut{list.get(), filled};
  while (filled < count) {
    if (filled != 0 && PyErr_CheckSignals() != 0) {
      return fetch_error();
    }
    const uint64_t len = std::min(count - filled, chunk);
    without_interpreter_lock([&] {
      if (!make) {
        make.emplace();
      }
      for (uint64_t i = 0; i < len; ++i) {
        Items::store(*make, slots[i]);
      }
    });
    for (uint64_t i = 0; i < len; ++i) {
      OwnedRef item = Items::item(slots[i]);
      if (!item) {
        return fetch_error();
      }
      items[filled++] = item.release();
    }
  }
  cut.list = nullptr;
  PyObject_GC_Track(list.get());
  return list;
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
    return make_list<Items, Make>(converted.value());
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
