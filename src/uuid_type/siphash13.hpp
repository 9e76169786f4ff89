// siphash13_16: SipHash-1-3 (one compression round per block, three
// finalisation rounds) of exactly 16 bytes under the all-zero key.
//
// Reference outputs (checked by the tests): 16 zero bytes give
// 0x76BE999E3E25B2A0, sixteen 0xFF bytes give 0x35029A3B6274A39B.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kestrand {

inline uint64_t siphash13_16(const uint8_t* message) {
  static_assert(std::endian::native == std::endian::little, "blocks are read little-endian");
  uint64_t v0 = 0x736f6d6570736575ULL;  // "somepseudorandomlygeneratedbytes" xor zero key
  uint64_t v1 = 0x646f72616e646f6dULL;
  uint64_t v2 = 0x6c7967656e657261ULL;
  uint64_t v3 = 0x7465646279746573ULL;
  auto round = [&] {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  };
  auto compress = [&](uint64_t block) {
    v3 ^= block;
    round();
    v0 ^= block;
  };
  uint64_t first;
  uint64_t second;
  std::memcpy(&first, message, 8);
  std::memcpy(&second, message + 8, 8);
  compress(first);
  compress(second);
  compress(uint64_t{16} << 56);  // the closing block: only the length, in its top byte
  v2 ^= 0xff;
  round();
  round();
  round();
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace kestrand
