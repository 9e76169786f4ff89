// WallClock: the text of a duration, and wall_clock_now() against readings the
// test makes up.
//
// This file defines clock_gettime() for the whole test binary. kestrand_core
// is linked statically, so its call binds to this definition; it answers from
// the test's reading while a FakeReading is alive and from the kernel
// otherwise (and always for clocks other than CLOCK_REALTIME).
#include "sources/wall_clock.hpp"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "lib/error.hpp"

namespace {

struct Reading {
  int result;
  int error;
  time_t seconds;
  long nanos;
};

bool fake_active = false;
Reading fake_reading{};

// FakeReading: clock_gettime(CLOCK_REALTIME) reports `reading` while alive.
class FakeReading {
 public:
  explicit FakeReading(Reading reading) {
    fake_reading = reading;
    fake_active = true;
  }
  ~FakeReading() { fake_active = false; }
  FakeReading(const FakeReading&) = delete;
  FakeReading& operator=(const FakeReading&) = delete;
};

}  // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* out) noexcept {
  if (!fake_active || clock != CLOCK_REALTIME) {
    return static_cast<int>(syscall(SYS_clock_gettime, clock, out));
  }
  if (fake_reading.result != 0) {
    errno = fake_reading.error;
    return fake_reading.result;
  }
  out->tv_sec = fake_reading.seconds;
  out->tv_nsec = fake_reading.nanos;
  return 0;
}

namespace kestrand {
namespace {

// --- duration_text ---------------------------------------------------------------

struct DurationCase {
  uint64_t seconds;
  uint32_t nanos;
  const char* text;
};

constexpr DurationCase kDurations[] = {
    {0, 500'000'000, "500ms"},
    {1, 500'000'000, "1.5s"},
    {1, 1, "1.000000001s"},
    {1, 0, "1s"},
    {2, 0, "2s"},
    {10, 100'000'000, "10.1s"},
    {0, 12'345'000, "12.345ms"},
    {0, 1'000'000, "1ms"},
    {0, 1'000'001, "1.000001ms"},
    {0, 999'999'999, "999.999999ms"},
    {0, 999'999, "999.999\u00b5s"},
    {0, 1'000, "1\u00b5s"},
    {0, 1'001, "1.001\u00b5s"},
    {0, 1'500, "1.5\u00b5s"},
    {0, 999, "999ns"},
    {0, 1, "1ns"},
    {0, 0, "0ns"},
    {UINT64_MAX, 999'999'999, "18446744073709551615.999999999s"},
};

TEST(DurationText, PicksTheLargestUnitAndDropsTrailingZeros) {
  for (const DurationCase& c : kDurations) {
    EXPECT_EQ(duration_text(c.seconds, c.nanos), c.text) << c.seconds << " s " << c.nanos << " ns";
  }
}

// --- wall_clock_now ------------------------------------------------------------------

std::string panic_message(Reading reading) {
  FakeReading fake(reading);
  try {
    WallTime now = wall_clock_now();
    ADD_FAILURE() << "no failure; read " << now.seconds << " s " << now.nanos << " ns";
  } catch (const Panic& failure) {
    return failure.message;
  }
  return "";
}

constexpr char kCausality[] =
    "Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated causality: "
    "SystemTimeError(";

constexpr time_t kMinSeconds = std::numeric_limits<time_t>::min();

struct BeforeEpochCase {
  time_t seconds;
  long nanos;
  const char* distance;
};

// timespec keeps nanoseconds non-negative, so a time before the epoch has
// rounded-down seconds: 1.5 s before is {-2, 500000000}.
constexpr BeforeEpochCase kBeforeEpoch[] = {
    {-1, 500'000'000, "500ms"},
    {-2, 500'000'000, "1.5s"},
    {-2, 999'999'999, "1.000000001s"},
    {-1, 0, "1s"},
    {-1, 999'999'999, "1ns"},
    {-1, 999'999'000, "1\u00b5s"},
    {-1, 1, "999.999999ms"},
    {-31'536'001, 750'000'000, "31536000.25s"},
    {kMinSeconds, 0, "9223372036854775808s"},
    {kMinSeconds, 1, "9223372036854775807.999999999s"},
};

TEST(WallClockNow, BeforeTheEpochReportsTheDistance) {
  for (const BeforeEpochCase& c : kBeforeEpoch) {
    EXPECT_EQ(panic_message({0, 0, c.seconds, c.nanos}),
              std::string(kCausality) + c.distance + ")")
        << c.seconds << " s " << c.nanos << " ns";
  }
}

struct ValidCase {
  time_t seconds;
  long nanos;
};

constexpr ValidCase kValidReadings[] = {
    {0, 0},  // exactly the epoch
    {0, 1},
    {5, 999'999'999},
    {1'700'000'000, 123'456'789},
    {std::numeric_limits<time_t>::max(), 999'999'999},
};

TEST(WallClockNow, ReadingsFromTheEpochOnPassThrough) {
  for (const ValidCase& c : kValidReadings) {
    FakeReading fake({0, 0, c.seconds, c.nanos});
    WallTime now = wall_clock_now();
    EXPECT_EQ(now.seconds, static_cast<uint64_t>(c.seconds));
    EXPECT_EQ(now.nanos, static_cast<uint32_t>(c.nanos));
  }
}

TEST(WallClockNow, InvalidNanosecondsAreRefusedBeforeTheEpochCheck) {
  for (long nanos : {1'000'000'000L, 1'500'000'000L, -1L, LONG_MIN, LONG_MAX}) {
    for (time_t seconds : {time_t{5}, time_t{-5}}) {
      std::string message = panic_message({0, 0, seconds, nanos});
      EXPECT_NE(message.find("invalid timestamp"), std::string::npos) << message;
    }
  }
}

TEST(WallClockNow, FailingCallDescribesTheOsError) {
  for (int error : {EINVAL, EFAULT, EPERM}) {
    std::string message = panic_message({-1, error, 0, 0});
    EXPECT_NE(message.find(std::to_string(error)), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(error)), std::string::npos) << message;
  }
}

TEST(WallClockNow, RealClockAgreesWithTimespecGet) {
  timespec before{};
  timespec after{};
  ASSERT_EQ(timespec_get(&before, TIME_UTC), TIME_UTC);
  WallTime now = wall_clock_now();
  ASSERT_EQ(timespec_get(&after, TIME_UTC), TIME_UTC);
  EXPECT_LT(now.nanos, 1'000'000'000u);
  EXPECT_GE(now.seconds, static_cast<uint64_t>(before.tv_sec));
  EXPECT_LE(now.seconds, static_cast<uint64_t>(after.tv_sec));
}

}  // namespace
}  // namespace kestrand
