#include "generators/v7_state.hpp"

#include <cstring>
#include <limits>

#include "platform/fork_locks.hpp"

namespace kestrand {
namespace {

constinit V7Context process_context;

// A bulk call holds this lock without the interpreter lock, so a fork may
// happen while another thread has it; the reseed under it reaches the entropy
// states' lock.
[[maybe_unused]] const int fork_handler = hold_across_fork(process_context.lock, ForkOrder::generators);

uint64_t milliseconds(WallTime now) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t ms_of_nanos = now.nanos / 1'000'000;
  if (now.seconds > (kMax - ms_of_nanos) / 1000) {
    return kMax;
  }
  return now.seconds * 1000 + ms_of_nanos;
}

uint64_t reseed(const TimeSources& sources) {
  uint8_t bytes[8] = {};
  sources.fill(bytes, sizeof bytes);
  uint64_t word = 0;
  for (size_t i = 0; i < 8; ++i) {
    word |= uint64_t{bytes[i]} << (8 * i);  // little-endian
  }
  return word & kV7SeedMask;
}

}  // namespace

UuidValue v7_step(V7Context& context, const TimeSources& sources) {
  uint64_t now_ms = milliseconds(sources.now());
  uint64_t t;
  uint64_t c;
  {
    std::lock_guard<std::mutex> guard(context.lock);
    if (now_ms > context.last_millisecond) {
      uint64_t seed = reseed(sources);
      context.counter = seed;
      context.last_millisecond = now_ms;
    } else if (context.counter + 1 < (uint64_t{1} << kV7CounterBits)) {
      ++context.counter;
    } else {
      uint64_t seed = reseed(sources);
      context.counter = seed;
      ++context.last_millisecond;
    }
    t = context.last_millisecond;
    c = context.counter;
  }
  uint8_t random[16] = {};
  sources.fill(random, sizeof random);

  UuidValue v;
  for (size_t i = 0; i < 6; ++i) {
    v[i] = static_cast<uint8_t>(t >> (40 - 8 * i));
  }
  v[6] = static_cast<uint8_t>(0x70 | ((c >> 38) & 0x0F));
  v[7] = static_cast<uint8_t>(c >> 30);
  v[8] = static_cast<uint8_t>(0x80 | ((c >> 24) & 0x3F));
  v[9] = static_cast<uint8_t>(c >> 16);
  v[10] = static_cast<uint8_t>(c >> 8);
  v[11] = static_cast<uint8_t>(c);
  v[12] = random[9];
  v[13] = random[8];
  v[14] = random[7];
  v[15] = random[6];
  return v;
}

UuidValue make_v7() { return v7_step(process_context, kOsTimeSources); }

}  // namespace kestrand
