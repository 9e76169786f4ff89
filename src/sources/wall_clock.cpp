#include "sources/wall_clock.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "lib/error.hpp"

namespace kestrand {
namespace {

constexpr uint32_t kNanosPerSecond = 1'000'000'000;

// fraction: "." and the digits of numerator/denominator without trailing
// zeros, or nothing when the fraction is zero.
std::string fraction(uint32_t numerator, uint32_t denominator) {
  if (numerator == 0) {
    return "";
  }
  std::string digits;
  for (uint32_t unit = denominator / 10; unit > 0; unit /= 10) {
    digits.push_back(static_cast<char>('0' + (numerator / unit) % 10));
  }
  digits.erase(digits.find_last_not_of('0') + 1);
  return "." + digits;
}

std::string os_error_text(int error) {
  char buffer[256] = {};
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(error) + ")";
}

}  // namespace

std::string duration_text(uint64_t seconds, uint32_t nanos) {
  if (seconds > 0) {
    return std::to_string(seconds) + fraction(nanos, kNanosPerSecond) + "s";
  }
  if (nanos >= 1'000'000) {
    return std::to_string(nanos / 1'000'000) + fraction(nanos % 1'000'000, 1'000'000) + "ms";
  }
  if (nanos >= 1'000) {
    return std::to_string(nanos / 1'000) + fraction(nanos % 1'000, 1'000) + "\u00b5s";
  }
  return std::to_string(nanos) + "ns";
}

WallTime wall_clock_now() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) == -1) {
    panic("could not read the system clock: " + os_error_text(errno));
  }
  auto nanos = static_cast<uint64_t>(now.tv_nsec);
  if (nanos >= kNanosPerSecond) {
    panic("clock_gettime returned an invalid timestamp: " + std::to_string(now.tv_sec) +
          " s and " + std::to_string(now.tv_nsec) + " ns");
  }
  if (now.tv_sec >= 0) {
    return {static_cast<uint64_t>(now.tv_sec), static_cast<uint32_t>(nanos)};
  }
  // Before the epoch: the distance back to it, borrowing a second when needed.
  uint64_t back_seconds = static_cast<uint64_t>(-(now.tv_sec + 1)) + (nanos == 0 ? 1 : 0);
  uint32_t back_nanos = nanos == 0 ? 0 : static_cast<uint32_t>(kNanosPerSecond - nanos);
  panic(
      "Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated causality: "
      "SystemTimeError(" +
      duration_text(back_seconds, back_nanos) + ")");
}

}  // namespace kestrand
