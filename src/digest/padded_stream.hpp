// PaddedStream: runs a 64-byte-block compression function over a short head
// followed by a message, then over the length padding that MD5 and SHA-1
// share (a 1 bit, zeros, the bit count in the last 8 bytes of a block).
//
// Nothing is allocated and the message is not copied: the head and the start
// of the message fill one stack block, the whole blocks after it are
// compressed where they lie, and only the unfinished tail is copied back into
// the stack block for padding. The UUID functions hash a 16-byte namespace and
// usually a short name, so the common case is one or two stack blocks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "digest/byte_order.hpp"

namespace kestrand {

inline constexpr size_t kDigestBlockBytes = 64;

enum class LengthOrder : uint8_t { little_endian, big_endian };

// absorb_padded: compress(state, blocks, count) over head[0, head_len) +
// data[0, len) + padding. head_len must be below 64; either pointer may be
// null when its length is 0.
template <LengthOrder kOrder, typename Compress>
inline void absorb_padded(uint32_t* state, Compress compress, const uint8_t* head,
                          size_t head_len, const uint8_t* data, size_t len) noexcept {
  // The count is of bits, modulo 2^64, as both digests define it.
  const uint64_t bit_count = (uint64_t{head_len} + uint64_t{len}) * 8u;

  uint8_t block[kDigestBlockBytes];
  if (head_len != 0) {
    std::memcpy(block, head, head_len);
  }
  size_t used = head_len;
  const size_t first = std::min(len, kDigestBlockBytes - head_len);
  if (first != 0) {
    std::memcpy(block + used, data, first);
    used += first;
  }

  if (used == kDigestBlockBytes) {
    compress(state, block, 1);
    data += first;
    len -= first;
    const size_t whole = len / kDigestBlockBytes;
    if (whole != 0) {
      compress(state, data, whole);
      data += whole * kDigestBlockBytes;
      len -= whole * kDigestBlockBytes;
    }
    if (len != 0) {
      std::memcpy(block, data, len);
    }
    used = len;
  }

  constexpr size_t kLengthAt = kDigestBlockBytes - 8;
  block[used++] = 0x80;
  if (used > kLengthAt) {  // no room left for the bit count in this block
    std::memset(block + used, 0, kDigestBlockBytes - used);
    compress(state, block, 1);
    used = 0;
  }
  std::memset(block + used, 0, kLengthAt - used);
  if constexpr (kOrder == LengthOrder::little_endian) {
    store_le64(block + kLengthAt, bit_count);
  } else {
    store_be64(block + kLengthAt, bit_count);
  }
  compress(state, block, 1);
}

}  // namespace kestrand
