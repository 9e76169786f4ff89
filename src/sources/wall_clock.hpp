// WallClock: the real-time clock as a duration since the Unix epoch. Every
// read is a fresh clock_gettime(CLOCK_REALTIME); nothing is cached and nothing
// is made monotonic here (the version 7 state handles a clock that goes back).
#pragma once

#include <cstdint>
#include <string>

namespace kestrand {

struct WallTime {
  uint64_t seconds;
  uint32_t nanos;  // below 1'000'000'000
};

// wall_clock_now: the current time; an internal failure if the clock cannot
// be read, reports an invalid value, or stands before the epoch.
WallTime wall_clock_now();

// duration_text: "500ms", "1.5s", "1.000000001s", "12µs", "7ns".
std::string duration_text(uint64_t seconds, uint32_t nanos);

}  // namespace kestrand
