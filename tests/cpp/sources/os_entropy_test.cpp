// OsEntropy: the fill loop's handling of every kind of getrandom() result, the
// error codes and their texts.
//
// This file defines getrandom() for the whole test binary. kestrand_core is
// linked statically, so its call binds to this definition; it plays the
// results a test scripted while a Script is alive and asks the kernel
// otherwise. It also hides the vDSO from the binary (getauxval below), so that
// every request reaches getrandom(); the vDSO path has its own tests in
// tests/cpp/entropy.
#include "sources/entropy/os_entropy.hpp"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "lib/error.hpp"

namespace {

// One scripted getrandom() result. kDeliver writes counting bytes (continuing
// across calls): up to `limit` of them, or the whole request when limit is 0,
// and returns the number written plus `extra`.
struct Step {
  enum Kind { kDeliver, kFail, kReturn } kind;
  long long value;  // kDeliver: limit; kFail: errno; kReturn: the return value
  long long extra = 0;
};

struct Call {
  size_t length;
  unsigned int flags;
};

bool script_active = false;
std::deque<Step> steps;
std::vector<Call> calls;
uint8_t next_byte = 0;

// Script: getrandom() plays `script` while alive; once it runs out, calls fail
// the test.
class Script {
 public:
  explicit Script(std::vector<Step> script) {
    steps.assign(script.begin(), script.end());
    calls.clear();
    next_byte = 0;
    script_active = true;
  }
  ~Script() { script_active = false; }
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;
};

Step deliver(long long limit = 0) { return {Step::kDeliver, limit}; }
Step fail(int error) { return {Step::kFail, error}; }
Step returns(long long value) { return {Step::kReturn, value}; }
Step too_long() { return {Step::kDeliver, 0, 1}; }

}  // namespace

extern "C" unsigned long getauxval(unsigned long type) {
  if (type == AT_SYSINFO_EHDR) {
    return 0;
  }
  using Getauxval = unsigned long (*)(unsigned long);
  static auto next = reinterpret_cast<Getauxval>(dlsym(RTLD_NEXT, "getauxval"));
  return next != nullptr ? next(type) : 0;
}

extern "C" ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
  if (!script_active) {
    return static_cast<ssize_t>(syscall(SYS_getrandom, buffer, length, flags));
  }
  calls.push_back({length, flags});
  if (steps.empty()) {
    ADD_FAILURE() << "unscripted getrandom call for " << length << " bytes";
    errno = EIO;
    return -1;
  }
  Step step = steps.front();
  steps.pop_front();
  switch (step.kind) {
    case Step::kDeliver: {
      size_t count = step.value > 0 ? std::min(length, static_cast<size_t>(step.value)) : length;
      auto* out = static_cast<uint8_t*>(buffer);
      for (size_t i = 0; i < count; ++i) {
        out[i] = next_byte++;
      }
      return static_cast<ssize_t>(count) + static_cast<ssize_t>(step.extra);
    }
    case Step::kFail:
      errno = static_cast<int>(step.value);
      return -1;
    case Step::kReturn:
      return static_cast<ssize_t>(step.value);
  }
  return -1;
}

namespace kestrand {
namespace {

// --- error texts ---------------------------------------------------------------

struct TextCase {
  int32_t code;
  const char* text;
};

constexpr TextCase kTexts[] = {
    {-5, "OS Error: 5"},
    {-1, "OS Error: 1"},
    {-4, "OS Error: 4"},
    {-12345, "OS Error: 12345"},
    {INT32_MIN, "OS Error: 2147483648"},
    {kEntropyErrnoNotPositive, "errno: did not return a positive value"},
    {kEntropyUnexpected, "unexpected situation"},
};

TEST(EntropyErrorText, ThreeKinds) {
  EXPECT_EQ(kEntropyErrnoNotPositive, 65537);
  EXPECT_EQ(kEntropyUnexpected, 65538);
  for (const TextCase& c : kTexts) {
    EXPECT_EQ(entropy_error_text(c.code), c.text) << c.code;
  }
}

// --- the fill loop -----------------------------------------------------------------

struct FillCase {
  const char* name;
  std::vector<Step> script;
  int32_t code;
  std::vector<size_t> lengths;  // requested by each call, in order
};

const FillCase kFillCases[] = {
    {"one call", {deliver()}, 0, {16}},
    {"EINTR is repeated", {fail(EINTR), fail(EINTR), fail(EINTR), deliver()}, 0, {16, 16, 16, 16}},
    {"short reads continue", {deliver(5), deliver(5), deliver(5), deliver()}, 0, {16, 11, 6, 1}},
    {"EINTR between short reads", {deliver(10), fail(EINTR), deliver()}, 0, {16, 6, 6}},
    {"OS error", {fail(EIO)}, -EIO, {16}},
    {"OS error after a short read", {deliver(3), fail(EAGAIN)}, -EAGAIN, {16, 13}},
    {"errno 0", {fail(0)}, kEntropyErrnoNotPositive, {16}},
    {"errno negative", {fail(-3)}, kEntropyErrnoNotPositive, {16}},
    {"returns 0", {returns(0)}, kEntropyUnexpected, {16}},
    {"returns -2", {returns(-2)}, kEntropyUnexpected, {16}},
    {"returns the minimum", {returns(LLONG_MIN)}, kEntropyUnexpected, {16}},
    {"returns more than asked", {too_long()}, kEntropyUnexpected, {16}},
    {"more than the rest after a short read", {deliver(8), too_long()}, kEntropyUnexpected, {16, 8}},
};

TEST(OsEntropyFill, EveryKindOfResult) {
  for (const FillCase& c : kFillCases) {
    SCOPED_TRACE(c.name);
    std::array<uint8_t, 16> buffer{};
    Script script(c.script);
    EXPECT_EQ(os_entropy_fill(buffer.data(), buffer.size()), c.code);
    std::vector<size_t> lengths;
    for (const Call& call : calls) {
      lengths.push_back(call.length);
      EXPECT_EQ(call.flags, 0u);  // blocking, from the kernel's random pool
    }
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_TRUE(steps.empty()) << "the loop stopped before the script ended";
    if (c.code == 0) {
      // The pieces are concatenated in order: 0, 1, 2, ..., 15.
      for (size_t i = 0; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], i);
      }
    }
  }
}

TEST(OsEntropyFill, ZeroBytesMakeNoCall) {
  Script script({});
  EXPECT_EQ(os_entropy_fill(nullptr, 0), 0);
  EXPECT_TRUE(calls.empty());
}

TEST(OsEntropyFill, FillsExactlyTheRequestFromTheKernel) {
  // Canary bytes around the request stay untouched; the request itself is
  // filled (4096 random bytes hold about 16 zeros, never hundreds).
  std::vector<uint8_t> buffer(4096 + 64, 0xA5);
  ASSERT_EQ(os_entropy_fill(buffer.data() + 32, 4096), 0);
  for (size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(buffer[i], 0xA5);
    EXPECT_EQ(buffer[buffer.size() - 1 - i], 0xA5);
  }
  std::fill(buffer.begin() + 32, buffer.end() - 32, 0);
  ASSERT_EQ(os_entropy_fill(buffer.data() + 32, 4096), 0);
  EXPECT_LT(std::count(buffer.begin() + 32, buffer.end() - 32, 0), 100);
}

TEST(FillEntropy, FailureBecomesAnInternalFailureWithTheText) {
  struct Case {
    std::vector<Step> script;
    const char* message;
  };
  const Case cases[] = {
      {{fail(EIO)}, "could not retrieve random bytes for uuid: OS Error: 5"},
      {{fail(0)}, "could not retrieve random bytes for uuid: errno: did not return a positive value"},
      {{returns(0)}, "could not retrieve random bytes for uuid: unexpected situation"},
  };
  for (const Case& c : cases) {
    uint8_t buffer[8] = {};
    Script script(c.script);
    try {
      fill_entropy(buffer, sizeof buffer);
      ADD_FAILURE() << "no failure for " << c.message;
    } catch (const Panic& failure) {
      EXPECT_EQ(failure.message, c.message);
    }
  }
  uint8_t buffer[8] = {};
  Script script({deliver()});
  EXPECT_NO_THROW(fill_entropy(buffer, sizeof buffer));
  EXPECT_EQ(buffer[7], 7);
}

}  // namespace
}  // namespace kestrand
