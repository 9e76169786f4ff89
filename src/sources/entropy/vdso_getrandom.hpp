// The kernel's getrandom in the vDSO (Linux 6.11 and later): the same
// generator as the system call, serving each request from a per-thread opaque
// state in the caller's memory instead of entering the kernel. The kernel
// reseeds it, and wipes the states in the child of a fork.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace kestrand {

using VgetrandomFn = ssize_t (*)(void* buffer, size_t len, unsigned int flags, void* opaque_state,
                                 size_t opaque_len);

// How the kernel wants its opaque states made: size and mmap() protection and flags.
struct StateShape {
  size_t size = 0;
  int mmap_prot = 0;
  int mmap_flags = 0;
};

// The name and version under which each architecture's vDSO exports getrandom
// (the kernel's vDSO linker scripts).
struct VdsoSymbolName {
  const char* name;
  const char* version;
};
inline constexpr VdsoSymbolName kX86_64VdsoGetrandom{"__vdso_getrandom", "LINUX_2.6"};
inline constexpr VdsoSymbolName kAarch64VdsoGetrandom{"__kernel_getrandom", "LINUX_2.6.39"};

struct VdsoGetrandom {
  VgetrandomFn function = nullptr;  // nullptr: not offered, or refused
  StateShape shape;
};

// find_vdso_getrandom: the function in the vDSO image at `image` (nullptr:
// none) for this architecture, with the state shape its parameter query
// reported. Any doubt (no image, another version, a query that does not return
// exactly 0, a state size of 0) yields no function.
VdsoGetrandom find_vdso_getrandom(const void* image) noexcept;

// query_state_shape: asks `function` for its state shape; true if it answered 0.
bool query_state_shape(VgetrandomFn function, StateShape& out) noexcept;

// vdso_fill: the fill loop of os_entropy_fill through `function` with this
// thread's `state`. The kernel reports errors as a negative errno, which maps
// onto the same error codes; a kernel whose random pool is not ready yet
// (-EAGAIN, as the vDSO is asked not to block) gets the rest of the request as
// an ordinary blocking system call.
int32_t vdso_fill(VgetrandomFn function, void* state, size_t state_size, void* out,
                  size_t out_len) noexcept;

// vdso_fill_after: the same loop, continuing after a first call that
// returned `first` for the whole of `out`.
int32_t vdso_fill_after(VgetrandomFn function, void* state, size_t state_size, void* out,
                        size_t out_len, ssize_t first) noexcept;

}  // namespace kestrand
