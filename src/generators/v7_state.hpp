// V7Context: the process-wide state behind every version 7 UUID.
//
// Layout of a version 7 value (t = millisecond, c = 42-bit counter):
//
//   bytes 0..5   t, bits 47..0, big-endian
//   byte  6      0x70 | c[41..38]        version 7
//   byte  7      c[37..30]
//   byte  8      0x80 | c[29..24]        variant 10
//   bytes 9..11  c[23..0]
//   bytes 12..15 random
//
// The counter restarts at a random 41-bit value (top bit clear, leaving room
// to count) whenever the millisecond advances, and otherwise counts up by one.
// A clock that stands still or goes back only advances the counter: the
// stored millisecond never decreases, so values are strictly increasing in the
// order they pass through the lock. A counter that reaches 2^42 carries into
// the millisecond.
//
// Threads: last_millisecond and counter are read and written only with the
// lock held (the reseed under it may take the entropy states' lock, never the
// other way round); the clock is read before and the random tail drawn after.
// Fork: the lock is held across fork(), taken before the entropy states' lock.
// The parent goes on unchanged; the child's next step starts a fresh counter
// in a later millisecond, as if its counter had overflowed, so that parent and
// child do not share a millisecond and counter while the clock stands still.
#pragma once

#include <cstdint>
#include <mutex>

#include "generators/time_sources.hpp"
#include "sources/entropy/os_entropy.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {

// Aligned to a cache line of its own: threads generating in bulk take this
// lock once per value, and must not also contend for unrelated neighbours.
struct alignas(64) V7Context {
  std::mutex lock;
  uint64_t last_millisecond = 0;  // guarded by lock
  uint64_t counter = 0;           // guarded by lock; below 2^42
};


inline constexpr uint64_t kV7SeedMask = 0x1FFFFFFFFFF;  // 41 bits
inline constexpr unsigned kV7CounterBits = 42;
inline constexpr uint64_t kV7CounterEnd = uint64_t{1} << kV7CounterBits;

// v7_step: the next value of `context`. A failure reading the clock changes
// nothing; a failed reseed leaves the context as it was; a failure drawing the
// random tail keeps the advanced state.
UuidValue v7_step(V7Context& context, const TimeSources& sources);

// v7_leave_millisecond: the next step of `context` starts a fresh counter in a
// later millisecond: one past the stored one, or the clock's if that is later.
// What the child of a fork does to the process's context; async-signal-safe,
// and called with the context's lock held or by the only thread.
void v7_leave_millisecond(V7Context& context) noexcept;

// make_v7: v7_step on the process's context with the operating system's sources.
UuidValue make_v7();

// make_v7: the same, drawing through the caller's run of requests (a bulk call).
UuidValue make_v7(EntropyRun& run);

}  // namespace kestrand
