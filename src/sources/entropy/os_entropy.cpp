#include "sources/entropy/os_entropy.hpp"

#include <sys/random.h>

#include <cerrno>

#include "lib/error.hpp"
#include "sources/entropy/fill_cursor.hpp"
#include "sources/entropy/thread_state.hpp"

namespace kestrand {

int32_t syscall_entropy_fill(void* out, size_t out_len) noexcept {
  FillCursor cursor{static_cast<unsigned char*>(out), out_len};
  while (cursor.remaining > 0) {
    ssize_t got = getrandom(cursor.position, cursor.remaining, 0);
    if (got > 0) {
      if (!cursor.advance(static_cast<size_t>(got))) {
        return kEntropyUnexpected;
      }
      continue;
    }
    if (got == -1) {
      int error = errno;
      if (error == EINTR) {
        continue;
      }
      return error > 0 ? -error : kEntropyErrnoNotPositive;
    }
    return kEntropyUnexpected;  // 0, or a negative value other than -1
  }
  return 0;
}

void entropy_panic(int32_t code) {
  panic("could not retrieve random bytes for uuid: " + entropy_error_text(code));
}

int32_t os_entropy_fill(void* out, size_t out_len) noexcept {
  if (out_len == 0) {
    return 0;
  }
  return EntropyRun().fill(out, out_len);
}

std::string entropy_error_text(int32_t code) {
  if (code < 0) {
    return "OS Error: " + std::to_string(-static_cast<int64_t>(code));
  }
  if (code == kEntropyErrnoNotPositive) {
    return "errno: did not return a positive value";
  }
  return "unexpected situation";
}

void fill_entropy(void* out, size_t out_len) {
  if (out_len > 0) {
    EntropyRun().fill_or_panic(out, out_len);
  }
}

}  // namespace kestrand
