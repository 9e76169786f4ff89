// run_in_child itself: every way a child can go wrong turns into a failure
// text within the deadline, never a hang, and the child is reaped.
#include "support/forked_child.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kestrand::testing {
namespace {

bool writes_eight(uint8_t* out) {
  for (uint8_t i = 0; i < 8; ++i) {
    out[i] = i;
  }
  return true;
}

TEST(RunInChild, WellBehavedChildBringsBackItsBytes) {
  ChildOutcome outcome = run_in_child(8, writes_eight);
  EXPECT_EQ(outcome.failure, "");
  EXPECT_EQ(outcome.bytes, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(RunInChild, EveryFailingChildIsAFailureNotAHang) {
  using Body = bool (*)(uint8_t*);
  const struct {
    const char* name;
    Body body;
    const char* failure;
  } cases[] = {
      {"reports failure", [](uint8_t*) { return false; }, "the child exited with 1"},
      {"throws", [](uint8_t*) -> bool { throw std::runtime_error("x"); }, "the child exited with 1"},
      {"exits early", [](uint8_t*) -> bool { _exit(3); }, "the child exited with 3"},
      {"aborts", [](uint8_t*) -> bool { std::abort(); }, "the child died of signal 6"},
      {"hangs", [](uint8_t*) -> bool { for (;;) pause(); }, "the child did not finish within 300 ms"},
      {"leaves without writing", [](uint8_t*) -> bool { _exit(0); }, "the child wrote 0 bytes of 8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Only the child that never ends waits out its (short) deadline.
    bool hangs = std::string(c.name) == "hangs";
    ChildOutcome outcome =
        run_in_child(8, c.body, hangs ? std::chrono::milliseconds(300) : std::chrono::milliseconds(10000));
    EXPECT_EQ(outcome.failure, c.failure);
    // Reaped: no child of this process is left, running or dead.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
}

}  // namespace
}  // namespace kestrand::testing
