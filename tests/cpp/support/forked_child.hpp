// run_in_child: runs a piece of a test in a forked child and brings back what
// it wrote, or why it could not. Whatever the child does (fails, dies, hangs,
// writes too little), the parent gets an answer within the deadline and the
// child is reaped, so a fork test fails instead of hanging.
//
// The parent closes its copy of the pipe's write end at once, so a child that
// dies shows as the end of the data rather than as a read that never returns;
// every wait is bounded by the deadline, and a child still running at the
// deadline is killed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Threads started in the child of a multithreaded process are beyond
// ThreadSanitizer: the child dies at the first one.
#if defined(__SANITIZE_THREAD__)
#define KESTRAND_TEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTRAND_TEST_UNDER_TSAN 1
#endif
#endif
#ifndef KESTRAND_TEST_UNDER_TSAN
#define KESTRAND_TEST_UNDER_TSAN 0
#endif

namespace kestrand::testing {

struct ChildOutcome {
  std::string failure;         // empty: the child exited with 0 and wrote `expected` bytes
  std::vector<uint8_t> bytes;  // what it wrote
};

// `body` runs in the child and fills `out` with exactly `expected` bytes,
// returning false (or throwing) if something failed there. The child ends
// with _exit right after it, never back in the test framework.
template <class Body>
ChildOutcome run_in_child(size_t expected, Body&& body,
                          std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  ChildOutcome outcome;
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) {
    outcome.failure = std::string("pipe: ") + std::strerror(errno);
    return outcome;
  }
  pid_t pid = fork();
  if (pid < 0) {
    outcome.failure = std::string("fork: ") + std::strerror(errno);
    close(channel[0]);
    close(channel[1]);
    return outcome;
  }
  if (pid == 0) {
    close(channel[0]);
    std::vector<uint8_t> out(expected);
    bool ok = false;
    try {
      ok = body(out.data());
    } catch (...) {
    }
    size_t done = 0;
    while (ok && done < out.size()) {
      ssize_t n = write(channel[1], out.data() + done, out.size() - done);
      if (n <= 0 && errno != EINTR) {
        ok = false;
      }
      done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    _exit(ok ? 0 : 1);
  }
  close(channel[1]);

  auto end = std::chrono::steady_clock::now() + deadline;
  auto left_ms = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
  };
  bool timed_out = false;
  uint8_t chunk[256];
  for (;;) {
    pollfd readable{channel[0], POLLIN, 0};
    int ready = poll(&readable, 1, left_ms());
    if (ready == 0) {
      timed_out = true;
      break;
    }
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    ssize_t n = read(channel[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;  // every write end is closed: the child is done or dead
    }
    outcome.bytes.insert(outcome.bytes.end(), chunk, chunk + n);
  }
  close(channel[0]);

  int status = 0;
  pid_t reaped = 0;
  while (!timed_out) {
    reaped = waitpid(pid, &status, WNOHANG);
    if (reaped != 0 || left_ms() == 0) {
      timed_out = reaped == 0;
      break;
    }
    usleep(1000);
  }
  if (timed_out) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    outcome.failure = "the child did not finish within " + std::to_string(deadline.count()) + " ms";
  } else if (reaped < 0) {
    outcome.failure = std::string("waitpid: ") + std::strerror(errno);
  } else if (WIFSIGNALED(status)) {
    outcome.failure = "the child died of signal " + std::to_string(WTERMSIG(status));
  } else if (WEXITSTATUS(status) != 0) {
    outcome.failure = "the child exited with " + std::to_string(WEXITSTATUS(status));
  } else if (outcome.bytes.size() != expected) {
    outcome.failure = "the child wrote " + std::to_string(outcome.bytes.size()) + " bytes of " +
                      std::to_string(expected);
  }
  return outcome;
}

}  // namespace kestrand::testing
