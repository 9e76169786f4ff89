// Sha1Compress: the SHA-1 compression functions behind sha1.hpp. Each runs
// `count` consecutive 64-byte blocks at `blocks` (any alignment) into the
// five-word state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrand {

using Sha1Compress = void (*)(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;

inline constexpr uint32_t kSha1Initial[5] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u,
                                             0xc3d2e1f0u};

// sha1_compress_portable: plain C++, on every processor.
void sha1_compress_portable(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;

// sha1_shani_compress: the compression on the SHA extensions, or null where
// this build has none. Callers check cpu_features() for kCpuSha first.
Sha1Compress sha1_shani_compress() noexcept;

}  // namespace kestrand
