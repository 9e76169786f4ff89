// Sha1: the SHA-1 message digest, which name-based version 5 UUIDs are made
// from. The compression runs on the processor's SHA extensions where it has
// them, chosen once per process, and on portable code otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrand {

inline constexpr size_t kSha1Bytes = 20;

// sha1_of_pair: SHA-1 of the 16 bytes at `prefix` followed by data[0, len).
// `data` may be null when len is 0. Allocates nothing and keeps no state
// beyond the cached choice of compression, so any number of threads may call
// it at once.
std::array<uint8_t, kSha1Bytes> sha1_of_pair(const uint8_t prefix[16], const uint8_t* data,
                                             size_t len) noexcept;

// The compression codes, so tests can hold one against the other.
enum class Sha1Variant : uint8_t { portable, shani };

// sha1_variant_available: whether this build and processor can run `v`.
bool sha1_variant_available(Sha1Variant v) noexcept;

// sha1_of_pair_with: sha1_of_pair computed with `v`; a variant that is not
// available falls back to the portable code.
std::array<uint8_t, kSha1Bytes> sha1_of_pair_with(Sha1Variant v, const uint8_t prefix[16],
                                                  const uint8_t* data, size_t len) noexcept;

// sha1_of_message_with: SHA-1 of data[0, len) alone, for messages shorter
// than the pair's prefix (the UUID functions always have one).
std::array<uint8_t, kSha1Bytes> sha1_of_message_with(Sha1Variant v, const uint8_t* data,
                                                     size_t len) noexcept;

}  // namespace kestrand
