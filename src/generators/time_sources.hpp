// TimeSources: the clock and the random source that the time-based
// generators (versions 1 and 7) draw on. The module passes the operating
// system's; the unit tests pass their own, so they drive the production
// steps with readings and bytes they chose. Either function may panic.
#pragma once

#include <cstddef>

#include "sources/entropy/os_entropy.hpp"
#include "sources/wall_clock.hpp"

namespace kestrand {

struct TimeSources {
  WallTime (*now)();
  void (*fill)(void* out, size_t out_len);
};

inline constexpr TimeSources kOsTimeSources = {wall_clock_now, fill_entropy};

}  // namespace kestrand
