// OsEntropy: fresh bytes from the operating system's getrandom(), with no pool
// or buffer in between, so no two UUIDs ever share random bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrand {

// Error codes of a failed fill: -errno for an OS error, or one of these.
inline constexpr int32_t kEntropyErrnoNotPositive = 65537;
inline constexpr int32_t kEntropyUnexpected = 65538;

// os_entropy_fill: fills `out` completely and returns 0, or returns an error
// code. Interrupted calls are repeated and short reads continued; nothing else
// is retried. A request for 0 bytes makes no system call.
int32_t os_entropy_fill(void* out, size_t out_len) noexcept;

// entropy_error_text: "OS Error: 5", "errno: did not return a positive value"
// or "unexpected situation".
std::string entropy_error_text(int32_t code);

// fill_entropy: os_entropy_fill, turning a failure into the internal failure
// "could not retrieve random bytes for uuid: <text>".
void fill_entropy(void* out, size_t out_len);

}  // namespace kestrand
