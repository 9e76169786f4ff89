#include "digest/md5.hpp"

#include <bit>

#include "digest/byte_order.hpp"
#include "digest/padded_stream.hpp"

namespace kestrand {
namespace {

constexpr uint32_t kInitial[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// The four round functions. G adds two bit-disjoint terms instead of ORing
// them, so the compiler can fold each term into the step's sum on its own.
inline uint32_t f(uint32_t x, uint32_t y, uint32_t z) noexcept { return z ^ (x & (y ^ z)); }
inline uint32_t g(uint32_t x, uint32_t y, uint32_t z) noexcept { return (x & z) + (y & ~z); }
inline uint32_t h(uint32_t x, uint32_t y, uint32_t z) noexcept { return x ^ y ^ z; }
inline uint32_t i(uint32_t x, uint32_t y, uint32_t z) noexcept { return y ^ (x | ~z); }

// One step: a = b + ((a + fn(b, c, d) + word + constant) <<< shift).
#define KESTRAND_MD5_STEP(fn, a, b, c, d, word, constant, shift)      \
  a += fn(b, c, d) + (word) + (constant);                            \
  a = std::rotl(a, shift) + (b);

void compress(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0];
  uint32_t b = state[1];
  uint32_t c = state[2];
  uint32_t d = state[3];
  for (; count != 0; --count, blocks += kDigestBlockBytes) {
    uint32_t x[16];
    for (int k = 0; k < 16; ++k) {
      x[k] = load_le32(blocks + 4 * k);
    }
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    KESTRAND_MD5_STEP(f, a, b, c, d, x[0], 0xd76aa478u, 7)
    KESTRAND_MD5_STEP(f, d, a, b, c, x[1], 0xe8c7b756u, 12)
    KESTRAND_MD5_STEP(f, c, d, a, b, x[2], 0x242070dbu, 17)
    KESTRAND_MD5_STEP(f, b, c, d, a, x[3], 0xc1bdceeeu, 22)
    KESTRAND_MD5_STEP(f, a, b, c, d, x[4], 0xf57c0fafu, 7)
    KESTRAND_MD5_STEP(f, d, a, b, c, x[5], 0x4787c62au, 12)
    KESTRAND_MD5_STEP(f, c, d, a, b, x[6], 0xa8304613u, 17)
    KESTRAND_MD5_STEP(f, b, c, d, a, x[7], 0xfd469501u, 22)
    KESTRAND_MD5_STEP(f, a, b, c, d, x[8], 0x698098d8u, 7)
    KESTRAND_MD5_STEP(f, d, a, b, c, x[9], 0x8b44f7afu, 12)
    KESTRAND_MD5_STEP(f, c, d, a, b, x[10], 0xffff5bb1u, 17)
    KESTRAND_MD5_STEP(f, b, c, d, a, x[11], 0x895cd7beu, 22)
    KESTRAND_MD5_STEP(f, a, b, c, d, x[12], 0x6b901122u, 7)
    KESTRAND_MD5_STEP(f, d, a, b, c, x[13], 0xfd987193u, 12)
    KESTRAND_MD5_STEP(f, c, d, a, b, x[14], 0xa679438eu, 17)
    KESTRAND_MD5_STEP(f, b, c, d, a, x[15], 0x49b40821u, 22)

    KESTRAND_MD5_STEP(g, a, b, c, d, x[1], 0xf61e2562u, 5)
    KESTRAND_MD5_STEP(g, d, a, b, c, x[6], 0xc040b340u, 9)
    KESTRAND_MD5_STEP(g, c, d, a, b, x[11], 0x265e5a51u, 14)
    KESTRAND_MD5_STEP(g, b, c, d, a, x[0], 0xe9b6c7aau, 20)
    KESTRAND_MD5_STEP(g, a, b, c, d, x[5], 0xd62f105du, 5)
    KESTRAND_MD5_STEP(g, d, a, b, c, x[10], 0x02441453u, 9)
    KESTRAND_MD5_STEP(g, c, d, a, b, x[15], 0xd8a1e681u, 14)
    KESTRAND_MD5_STEP(g, b, c, d, a, x[4], 0xe7d3fbc8u, 20)
    KESTRAND_MD5_STEP(g, a, b, c, d, x[9], 0x21e1cde6u, 5)
    KESTRAND_MD5_STEP(g, d, a, b, c, x[14], 0xc33707d6u, 9)
    KESTRAND_MD5_STEP(g, c, d, a, b, x[3], 0xf4d50d87u, 14)
    KESTRAND_MD5_STEP(g, b, c, d, a, x[8], 0x455a14edu, 20)
    KESTRAND_MD5_STEP(g, a, b, c, d, x[13], 0xa9e3e905u, 5)
    KESTRAND_MD5_STEP(g, d, a, b, c, x[2], 0xfcefa3f8u, 9)
    KESTRAND_MD5_STEP(g, c, d, a, b, x[7], 0x676f02d9u, 14)
    KESTRAND_MD5_STEP(g, b, c, d, a, x[12], 0x8d2a4c8au, 20)

    KESTRAND_MD5_STEP(h, a, b, c, d, x[5], 0xfffa3942u, 4)
    KESTRAND_MD5_STEP(h, d, a, b, c, x[8], 0x8771f681u, 11)
    KESTRAND_MD5_STEP(h, c, d, a, b, x[11], 0x6d9d6122u, 16)
    KESTRAND_MD5_STEP(h, b, c, d, a, x[14], 0xfde5380cu, 23)
    KESTRAND_MD5_STEP(h, a, b, c, d, x[1], 0xa4beea44u, 4)
    KESTRAND_MD5_STEP(h, d, a, b, c, x[4], 0x4bdecfa9u, 11)
    KESTRAND_MD5_STEP(h, c, d, a, b, x[7], 0xf6bb4b60u, 16)
    KESTRAND_MD5_STEP(h, b, c, d, a, x[10], 0xbebfbc70u, 23)
    KESTRAND_MD5_STEP(h, a, b, c, d, x[13], 0x289b7ec6u, 4)
    KESTRAND_MD5_STEP(h, d, a, b, c, x[0], 0xeaa127fau, 11)
    KESTRAND_MD5_STEP(h, c, d, a, b, x[3], 0xd4ef3085u, 16)
    KESTRAND_MD5_STEP(h, b, c, d, a, x[6], 0x04881d05u, 23)
    KESTRAND_MD5_STEP(h, a, b, c, d, x[9], 0xd9d4d039u, 4)
    KESTRAND_MD5_STEP(h, d, a, b, c, x[12], 0xe6db99e5u, 11)
    KESTRAND_MD5_STEP(h, c, d, a, b, x[15], 0x1fa27cf8u, 16)
    KESTRAND_MD5_STEP(h, b, c, d, a, x[2], 0xc4ac5665u, 23)

    KESTRAND_MD5_STEP(i, a, b, c, d, x[0], 0xf4292244u, 6)
    KESTRAND_MD5_STEP(i, d, a, b, c, x[7], 0x432aff97u, 10)
    KESTRAND_MD5_STEP(i, c, d, a, b, x[14], 0xab9423a7u, 15)
    KESTRAND_MD5_STEP(i, b, c, d, a, x[5], 0xfc93a039u, 21)
    KESTRAND_MD5_STEP(i, a, b, c, d, x[12], 0x655b59c3u, 6)
    KESTRAND_MD5_STEP(i, d, a, b, c, x[3], 0x8f0ccc92u, 10)
    KESTRAND_MD5_STEP(i, c, d, a, b, x[10], 0xffeff47du, 15)
    KESTRAND_MD5_STEP(i, b, c, d, a, x[1], 0x85845dd1u, 21)
    KESTRAND_MD5_STEP(i, a, b, c, d, x[8], 0x6fa87e4fu, 6)
    KESTRAND_MD5_STEP(i, d, a, b, c, x[15], 0xfe2ce6e0u, 10)
    KESTRAND_MD5_STEP(i, c, d, a, b, x[6], 0xa3014314u, 15)
    KESTRAND_MD5_STEP(i, b, c, d, a, x[13], 0x4e0811a1u, 21)
    KESTRAND_MD5_STEP(i, a, b, c, d, x[4], 0xf7537e82u, 6)
    KESTRAND_MD5_STEP(i, d, a, b, c, x[11], 0xbd3af235u, 10)
    KESTRAND_MD5_STEP(i, c, d, a, b, x[2], 0x2ad7d2bbu, 15)
    KESTRAND_MD5_STEP(i, b, c, d, a, x[9], 0xeb86d391u, 21)

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef KESTRAND_MD5_STEP

std::array<uint8_t, kMd5Bytes> digest(const uint8_t* head, size_t head_len, const uint8_t* data,
                                      size_t len) noexcept {
  uint32_t state[4] = {kInitial[0], kInitial[1], kInitial[2], kInitial[3]};
  absorb_padded<LengthOrder::little_endian>(state, compress, head, head_len, data, len);
  std::array<uint8_t, kMd5Bytes> out;
  for (size_t k = 0; k < 4; ++k) {
    store_le32(out.data() + 4 * k, state[k]);
  }
  return out;
}

}  // namespace

std::array<uint8_t, kMd5Bytes> md5_of_pair(const uint8_t prefix[16], const uint8_t* data,
                                           size_t len) noexcept {
  return digest(prefix, 16, data, len);
}

std::array<uint8_t, kMd5Bytes> md5_of_message(const uint8_t* data, size_t len) noexcept {
  return digest(nullptr, 0, data, len);
}

}  // namespace kestrand
