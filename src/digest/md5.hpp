// Md5: the MD5 message digest, which name-based version 3 UUIDs are made
// from. Portable code only: x86-64 has no instructions for MD5, and its steps
// form one long dependency chain that unrolled plain code already keeps busy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrand {

inline constexpr size_t kMd5Bytes = 16;

// md5_of_pair: MD5 of the 16 bytes at `prefix` followed by data[0, len).
// `data` may be null when len is 0. Allocates nothing and keeps no state, so
// any number of threads may call it at once.
std::array<uint8_t, kMd5Bytes> md5_of_pair(const uint8_t prefix[16], const uint8_t* data,
                                           size_t len) noexcept;

// md5_of_message: MD5 of data[0, len) alone, for messages shorter than the
// pair's prefix (the UUID functions always have one).
std::array<uint8_t, kMd5Bytes> md5_of_message(const uint8_t* data, size_t len) noexcept;

}  // namespace kestrand
