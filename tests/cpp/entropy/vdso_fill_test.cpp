// The fill loop through the vDSO, against a stand-in for the kernel's function
// that plays scripted results, and against the real one where the kernel has it.
#include <gtest/gtest.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "sources/entropy/thread_state.hpp"
#include "sources/entropy/vdso_getrandom.hpp"
#include "sources/entropy/os_entropy.hpp"

namespace kestrand {
namespace {

// kDeliver writes counting bytes (continuing across calls), at most `value` of
// them when value > 0, and returns the number written plus `extra`; kReturn
// returns `value` and writes nothing.
struct Step {
  enum Kind { kDeliver, kReturn } kind;
  ssize_t value;
  ssize_t extra = 0;
};

struct Call {
  size_t length;
  unsigned int flags;
  void* state;
  size_t state_size;
};

std::deque<Step> steps;
std::vector<Call> calls;
uint8_t next_byte = 0;

ssize_t scripted(void* buffer, size_t length, unsigned int flags, void* state, size_t state_size) {
  calls.push_back({length, flags, state, state_size});
  if (steps.empty()) {
    ADD_FAILURE() << "unscripted call for " << length << " bytes";
    return -EIO;
  }
  Step step = steps.front();
  steps.pop_front();
  if (step.kind == Step::kReturn) {
    return step.value;
  }
  size_t count = step.value > 0 ? std::min(length, static_cast<size_t>(step.value)) : length;
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < count; ++i) {
    out[i] = next_byte++;
  }
  return static_cast<ssize_t>(count) + step.extra;
}

Step deliver(ssize_t limit = 0) { return {Step::kDeliver, limit}; }
Step returns(ssize_t value) { return {Step::kReturn, value}; }

struct FillCase {
  const char* name;
  std::vector<Step> script;
  int32_t code;
  std::vector<size_t> lengths;  // asked of the vDSO, in order
};

const FillCase kFillCases[] = {
    {"one call", {deliver()}, 0, {16}},
    {"EINTR is repeated", {returns(-EINTR), returns(-EINTR), deliver()}, 0, {16, 16, 16}},
    {"short reads continue", {deliver(5), deliver(5), deliver()}, 0, {16, 11, 6}},
    {"a negative errno is an OS error", {returns(-EIO)}, -EIO, {16}},
    {"after a short read", {deliver(3), returns(-ENOMEM)}, -ENOMEM, {16, 13}},
    {"-1 is errno 1, not the C library's -1", {returns(-1)}, -1, {16}},
    {"returns 0", {returns(0)}, kEntropyUnexpected, {16}},
    {"returns more than asked", {{Step::kDeliver, 0, 1}}, kEntropyUnexpected, {16}},
    {"more than the rest after a short read", {deliver(8), {Step::kDeliver, 0, 1}}, kEntropyUnexpected, {16, 8}},
    {"beyond any errno", {returns(-(ssize_t{1} << 40))}, kEntropyUnexpected, {16}},
};

// The two entries to the loop: the whole of it, and its continuation after
// a first call the caller made itself (the inline path of a request).
using FillEntry = int32_t (*)(void* state, size_t state_size, uint8_t* out, size_t out_len);
int32_t whole_loop(void* state, size_t state_size, uint8_t* out, size_t out_len) {
  return vdso_fill(scripted, state, state_size, out, out_len);
}
int32_t after_first_call(void* state, size_t state_size, uint8_t* out, size_t out_len) {
  ssize_t first = scripted(out, out_len, GRND_NONBLOCK, state, state_size);
  return vdso_fill_after(scripted, state, state_size, out, out_len, first);
}

TEST(VdsoFill, EveryKindOfResultMapsOntoTheSameErrors) {
  alignas(64) unsigned char state[256] = {};
  for (auto [entry_name, entry] : {std::pair{"vdso_fill", FillEntry{whole_loop}},
                                   std::pair{"vdso_fill_after", FillEntry{after_first_call}}}) {
    for (const FillCase& c : kFillCases) {
      SCOPED_TRACE(std::string(entry_name) + ": " + c.name);
      steps.assign(c.script.begin(), c.script.end());
      calls.clear();
      next_byte = 0;
      std::array<uint8_t, 16> buffer{};
      EXPECT_EQ(entry(state, sizeof state, buffer.data(), buffer.size()), c.code);
      std::vector<size_t> lengths;
      for (const Call& call : calls) {
        lengths.push_back(call.length);
        // Never blocking in the vDSO; always this state and its size.
        EXPECT_EQ(call.flags, static_cast<unsigned>(GRND_NONBLOCK));
        EXPECT_EQ(call.state, state);
        EXPECT_EQ(call.state_size, sizeof state);
      }
      EXPECT_EQ(lengths, c.lengths);
      EXPECT_TRUE(steps.empty()) << "the loop stopped before the script ended";
      if (c.code == 0) {
        for (size_t i = 0; i < buffer.size(); ++i) {
          EXPECT_EQ(buffer[i], i);
        }
      }
    }
  }
}

TEST(VdsoFill, PoolNotReadyTakesTheBlockingSystemCallForTheRest) {
  // -EAGAIN after 6 bytes: the other 10 come from the kernel's getrandom().
  alignas(64) unsigned char state[256] = {};
  steps.assign({deliver(6), returns(-EAGAIN)});
  calls.clear();
  next_byte = 0;
  std::array<uint8_t, 4096> buffer{};
  ASSERT_EQ(vdso_fill(scripted, state, sizeof state, buffer.data(), buffer.size()), 0);
  EXPECT_EQ(calls.size(), 2u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(buffer[i], i);
  }
  // The rest is random, not left zero (4090 random bytes hold about 16 zeros).
  EXPECT_LT(std::count(buffer.begin() + 6, buffer.end(), 0), 100);
}

TEST(OsEntropyFill, ThroughTheProcessVdsoWhereOffered) {
  // Exactly the request is written, and two requests differ.
  std::vector<uint8_t> buffer(64 + 32, 0xA5);
  ASSERT_EQ(os_entropy_fill(buffer.data() + 16, 32), 0);
  std::vector<uint8_t> second(32);
  ASSERT_EQ(os_entropy_fill(second.data(), second.size()), 0);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(buffer[i], 0xA5);
    EXPECT_EQ(buffer[buffer.size() - 1 - i], 0xA5);
  }
  EXPECT_FALSE(std::equal(second.begin(), second.end(), buffer.begin() + 16));
  EXPECT_EQ(os_entropy_fill(nullptr, 0), 0);
}

}  // namespace
}  // namespace kestrand
