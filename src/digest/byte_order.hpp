// Byte-order loads and stores for the digests: MD5 reads and writes its words
// little-endian, SHA-1 big-endian. memcpy makes them safe at any alignment,
// and compilers turn each into a single move (plus a bswap where the order
// differs from the machine's).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kestrand {

inline uint32_t byte_swap32(uint32_t v) noexcept { return __builtin_bswap32(v); }
inline uint64_t byte_swap64(uint64_t v) noexcept { return __builtin_bswap64(v); }

inline uint32_t load_le32(const uint8_t* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return std::endian::native == std::endian::little ? v : byte_swap32(v);
}

inline uint32_t load_be32(const uint8_t* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return std::endian::native == std::endian::big ? v : byte_swap32(v);
}

inline void store_le32(uint8_t* p, uint32_t v) noexcept {
  v = std::endian::native == std::endian::little ? v : byte_swap32(v);
  std::memcpy(p, &v, sizeof v);
}

inline void store_be32(uint8_t* p, uint32_t v) noexcept {
  v = std::endian::native == std::endian::big ? v : byte_swap32(v);
  std::memcpy(p, &v, sizeof v);
}

inline void store_le64(uint8_t* p, uint64_t v) noexcept {
  v = std::endian::native == std::endian::little ? v : byte_swap64(v);
  std::memcpy(p, &v, sizeof v);
}

inline void store_be64(uint8_t* p, uint64_t v) noexcept {
  v = std::endian::native == std::endian::big ? v : byte_swap64(v);
  std::memcpy(p, &v, sizeof v);
}

}  // namespace kestrand
