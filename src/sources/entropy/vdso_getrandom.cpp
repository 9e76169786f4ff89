#include "sources/entropy/vdso_getrandom.hpp"

#include <sys/random.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "sources/entropy/fill_cursor.hpp"
#include "sources/entropy/vdso_symbol.hpp"
#include "sources/entropy/os_entropy.hpp"

namespace kestrand {
namespace {

// The kernel's answer to the parameter query (buffer nullptr, length 0,
// opaque_len ~0): three words, then room reserved for more.
struct OpaqueParams {
  uint32_t size_of_opaque_state;
  uint32_t mmap_prot;
  uint32_t mmap_flags;
  uint32_t reserved[13];
};

#if defined(__x86_64__)
constexpr VdsoSymbolName kSymbol = kX86_64VdsoGetrandom;
#elif defined(__aarch64__)
constexpr VdsoSymbolName kSymbol = kAarch64VdsoGetrandom;
#else
constexpr VdsoSymbolName kSymbol{nullptr, nullptr};  // elsewhere: the system call
#endif

}  // namespace

bool query_state_shape(VgetrandomFn function, StateShape& out) noexcept {
  OpaqueParams params{};
  if (function(nullptr, 0, 0, &params, ~size_t{0}) != 0 || params.size_of_opaque_state == 0 ||
      params.mmap_prot > INT_MAX || params.mmap_flags > INT_MAX) {
    return false;
  }
  out.size = params.size_of_opaque_state;
  out.mmap_prot = static_cast<int>(params.mmap_prot);
  out.mmap_flags = static_cast<int>(params.mmap_flags);
  return true;
}

VdsoGetrandom find_vdso_getrandom(const void* image) noexcept {
  VdsoGetrandom found;
  if (kSymbol.name == nullptr || image == nullptr) {
    return found;
  }
  auto function = reinterpret_cast<VgetrandomFn>(find_vdso_function(image, kSymbol.name, kSymbol.version));
  if (function != nullptr && query_state_shape(function, found.shape)) {
    found.function = function;
  }
  return found;
}

namespace {

// The loop's step: takes one reply. Returns kGoOn, or the fill's result.
constexpr int64_t kGoOn = INT64_MIN;

int64_t take_reply(FillCursor& cursor, ssize_t got) noexcept {
  if (got > 0) {
    return cursor.advance(static_cast<size_t>(got)) ? kGoOn : kEntropyUnexpected;
  }
  if (got == -EINTR) {
    return kGoOn;
  }
  if (got == -EAGAIN) {
    return syscall_entropy_fill(cursor.position, cursor.remaining);
  }
  if (got < 0 && got >= -INT32_MAX) {
    return got;
  }
  return kEntropyUnexpected;  // 0, or beyond any errno
}

int32_t fill_rest(VgetrandomFn function, void* state, size_t state_size, FillCursor& cursor) noexcept {
  while (cursor.remaining > 0) {
    ssize_t got = function(cursor.position, cursor.remaining, GRND_NONBLOCK, state, state_size);
    if (int64_t result = take_reply(cursor, got); result != kGoOn) {
      return static_cast<int32_t>(result);
    }
  }
  return 0;
}

}  // namespace

int32_t vdso_fill(VgetrandomFn function, void* state, size_t state_size, void* out,
                  size_t out_len) noexcept {
  FillCursor cursor{static_cast<unsigned char*>(out), out_len};
  return fill_rest(function, state, state_size, cursor);
}

int32_t vdso_fill_after(VgetrandomFn function, void* state, size_t state_size, void* out,
                        size_t out_len, ssize_t first) noexcept {
  FillCursor cursor{static_cast<unsigned char*>(out), out_len};
  if (int64_t result = take_reply(cursor, first); result != kGoOn) {
    return static_cast<int32_t>(result);
  }
  return fill_rest(function, state, state_size, cursor);
}

}  // namespace kestrand
