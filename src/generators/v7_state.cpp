#include "generators/v7_state.hpp"

#include <bit>
#include <cstring>
#include <limits>

#include "platform/fork_locks.hpp"

namespace kestrand {
namespace {

constinit V7Context process_context;

// A bulk call holds this lock without the interpreter lock, so a fork may
// happen while another thread has it; the reseed under it reaches the entropy
// states' lock.
[[maybe_unused]] const bool lock_listed = hold_across_fork(process_context.lock, ForkOrder::generators);

// The child must not go on in its parent's millisecond and counter, where only
// the random tails would keep the two apart: a counter at its end sends the
// child's next step into the millisecond one past the stored one (or to the
// clock, if that has moved on), with a fresh counter, as an overflow does. So
// the child's values still follow everything made before the fork.
void reset_process_context() noexcept { v7_leave_millisecond(process_context); }
[[maybe_unused]] const bool reset_listed = reset_in_child(reset_process_context);

void store_be64(uint8_t* out, uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    word = __builtin_bswap64(word);
  }
  std::memcpy(out, &word, 8);
}

uint64_t milliseconds(WallTime now) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t ms_of_nanos = now.nanos / 1'000'000;
  if (now.seconds > (kMax - ms_of_nanos) / 1000) {
    return kMax;
  }
  return now.seconds * 1000 + ms_of_nanos;
}

// The operating system's sources, called directly rather than through
// TimeSources' pointers: the path of every uuid7(), where each request looks
// up the thread's random state as it is made (measured quicker for the one
// value than a lookup held across the clock and the lock).
struct OsSources {
  static WallTime now() { return wall_clock_now(); }
  static void fill(void* out, size_t out_len) { EntropyRun().fill_or_panic(out, out_len); }
};

// The same drawing through the caller's run of requests: a bulk call looks
// up the thread's random state once for all its values; each request is still
// served afresh.
struct OsSourcesInRun {
  EntropyRun& run;
  static WallTime now() { return wall_clock_now(); }
  void fill(void* out, size_t out_len) const { run.fill_or_panic(out, out_len); }
};

template <class Sources>
uint64_t reseed(const Sources& sources) {
  uint8_t bytes[8] = {};
  sources.fill(bytes, sizeof bytes);
  uint64_t word = 0;
  for (size_t i = 0; i < 8; ++i) {
    word |= uint64_t{bytes[i]} << (8 * i);  // little-endian
  }
  return word & kV7SeedMask;
}

template <class Sources>
[[gnu::always_inline]] inline UuidValue step(V7Context& context, const Sources& sources) {
  uint64_t now_ms = milliseconds(sources.now());
  uint64_t t;
  uint64_t c;
  {
    std::lock_guard<std::mutex> guard(context.lock);
    if (now_ms > context.last_millisecond) {
      uint64_t seed = reseed(sources);
      context.counter = seed;
      context.last_millisecond = now_ms;
    } else if (context.counter + 1 < kV7CounterEnd) {
      ++context.counter;
    } else {
      uint64_t seed = reseed(sources);
      context.counter = seed;
      ++context.last_millisecond;
    }
    t = context.last_millisecond;
    c = context.counter;
  }
  // Every byte is written by the fill (or the fill panics).
  uint8_t random[16];
  sources.fill(random, sizeof random);

  // Assembled as two big-endian words and stored whole, so that copying the
  // value on takes it straight from the stores.
  uint64_t high = (t & 0xFFFFFFFFFFFF) << 16 | (0x70 | ((c >> 38) & 0x0F)) << 8 | ((c >> 30) & 0xFF);
  uint64_t low = (0x80 | ((c >> 24) & 0x3F)) << 56 | (c & 0xFFFFFF) << 32 |
                 uint64_t{random[9]} << 24 | uint64_t{random[8]} << 16 |
                 uint64_t{random[7]} << 8 | uint64_t{random[6]};
  UuidValue v;
  store_be64(v.data(), high);
  store_be64(v.data() + 8, low);
  return v;
}

}  // namespace

UuidValue v7_step(V7Context& context, const TimeSources& sources) { return step(context, sources); }

void v7_leave_millisecond(V7Context& context) noexcept { context.counter = kV7CounterEnd - 1; }

UuidValue make_v7(EntropyRun& run) { return step(process_context, OsSourcesInRun{run}); }

UuidValue make_v7() { return step(process_context, OsSources{}); }

}  // namespace kestrand
