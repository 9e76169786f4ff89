// OsEntropy: fresh bytes from the kernel's random generator, with no pool or
// buffer in between, so no two UUIDs ever share random bytes. Where the kernel
// offers getrandom in the vDSO, a request is served there, from this thread's
// opaque state (sources/entropy/); elsewhere by the C library's getrandom().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/random.h>

#include "sources/entropy/thread_state.hpp"
#include "sources/entropy/vdso_getrandom.hpp"

namespace kestrand {

// Error codes of a failed fill: -errno for an OS error, or one of these.
inline constexpr int32_t kEntropyErrnoNotPositive = 65537;
inline constexpr int32_t kEntropyUnexpected = 65538;

// os_entropy_fill: fills `out` completely and returns 0, or returns an error
// code. Interrupted calls are repeated and short reads continued; nothing else
// is retried. A request for 0 bytes asks the kernel nothing.
int32_t os_entropy_fill(void* out, size_t out_len) noexcept;

// syscall_entropy_fill: the same through the C library's getrandom() alone,
// with flags 0 (block until the kernel's random pool is ready).
int32_t syscall_entropy_fill(void* out, size_t out_len) noexcept;

// entropy_error_text: "OS Error: 5", "errno: did not return a positive value"
// or "unexpected situation".
std::string entropy_error_text(int32_t code);

// entropy_panic: the internal failure "could not retrieve random bytes for
// uuid: <text>" for the error code of a fill.
[[noreturn, gnu::cold]] void entropy_panic(int32_t code);

// EntropyRun: a run of requests by one thread (a bulk call, or one request).
// Every fill is still served afresh by the kernel; the run only looks up the
// thread's vDSO state once, and holds it until the run ends.
class EntropyRun {
 public:
  EntropyRun() noexcept = default;
  EntropyRun(const EntropyRun&) = delete;
  EntropyRun& operator=(const EntropyRun&) = delete;

  // fill: as os_entropy_fill. A request the vDSO serves whole at the first
  // call (nearly all) returns here; the rest continue out of line.
  int32_t fill(void* out, size_t out_len) noexcept {
    if (out_len == 0) {
      return 0;
    }
    if (VgetrandomFn function = lease_.function()) [[likely]] {
      ssize_t got = function(out, out_len, GRND_NONBLOCK, lease_.state(), lease_.state_size());
      if (got > 0 && static_cast<size_t>(got) == out_len) [[likely]] {
        return 0;
      }
      return vdso_fill_after(function, lease_.state(), lease_.state_size(), out, out_len, got);
    }
    return syscall_entropy_fill(out, out_len);
  }

  // fill_or_panic: as fill_entropy.
  void fill_or_panic(void* out, size_t out_len) {
    if (int32_t code = fill(out, out_len); code != 0) [[unlikely]] {
      entropy_panic(code);
    }
  }

 private:
  ThreadStateLease lease_;  // without a state, the system call serves this run
};

// fill_entropy: os_entropy_fill, turning a failure into the internal failure
// "could not retrieve random bytes for uuid: <text>".
void fill_entropy(void* out, size_t out_len);

}  // namespace kestrand
