#include <bit>

#include "digest/byte_order.hpp"
#include "digest/sha1_compress.hpp"

namespace kestrand {
namespace {

inline uint32_t choose(uint32_t b, uint32_t c, uint32_t d) noexcept { return d ^ (b & (c ^ d)); }
inline uint32_t parity(uint32_t b, uint32_t c, uint32_t d) noexcept { return b ^ c ^ d; }
// The two terms share no bits, so adding them equals ORing them and lets the
// compiler fold each into the round's sum separately.
inline uint32_t majority(uint32_t b, uint32_t c, uint32_t d) noexcept {
  return (b & c) + (d & (b ^ c));
}

// word<t>: the schedule word of round t. The first 16 are the block's; each
// later one overwrites the word 16 rounds back, which nothing needs again.
template <int t>
inline uint32_t word(uint32_t (&w)[16]) noexcept {
  if constexpr (t < 16) {
    return w[t];
  } else {
    const uint32_t v =
        std::rotl(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
    w[t & 15] = v;
    return v;
  }
}

#define KESTRAND_SHA1_ROUND(a, b, c, d, e, fn, k, t)               \
  e += std::rotl(a, 5) + fn(b, c, d) + (k) + word<(t)>(w);       \
  b = std::rotl(b, 30);

// Five rounds bring the variables back to their starting roles.
#define KESTRAND_SHA1_FIVE(fn, k, t)                     \
  KESTRAND_SHA1_ROUND(a, b, c, d, e, fn, k, (t))         \
  KESTRAND_SHA1_ROUND(e, a, b, c, d, fn, k, (t) + 1)     \
  KESTRAND_SHA1_ROUND(d, e, a, b, c, fn, k, (t) + 2)     \
  KESTRAND_SHA1_ROUND(c, d, e, a, b, fn, k, (t) + 3)     \
  KESTRAND_SHA1_ROUND(b, c, d, e, a, fn, k, (t) + 4)

#define KESTRAND_SHA1_TWENTY(fn, k, t)  \
  KESTRAND_SHA1_FIVE(fn, k, (t))        \
  KESTRAND_SHA1_FIVE(fn, k, (t) + 5)    \
  KESTRAND_SHA1_FIVE(fn, k, (t) + 10)   \
  KESTRAND_SHA1_FIVE(fn, k, (t) + 15)

}  // namespace

void sha1_compress_portable(uint32_t* state, const uint8_t* blocks, size_t count) noexcept {
  uint32_t a = state[0];
  uint32_t b = state[1];
  uint32_t c = state[2];
  uint32_t d = state[3];
  uint32_t e = state[4];
  for (; count != 0; --count, blocks += 64) {
    uint32_t w[16];
    for (int k = 0; k < 16; ++k) {
      w[k] = load_be32(blocks + 4 * k);
    }
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

    KESTRAND_SHA1_TWENTY(choose, 0x5a827999u, 0)
    KESTRAND_SHA1_TWENTY(parity, 0x6ed9eba1u, 20)
    KESTRAND_SHA1_TWENTY(majority, 0x8f1bbcdcu, 40)
    KESTRAND_SHA1_TWENTY(parity, 0xca62c1d6u, 60)

    a += a0;
    b += b0;
    c += c0;
    d += d0;
    e += e0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

#undef KESTRAND_SHA1_TWENTY
#undef KESTRAND_SHA1_FIVE
#undef KESTRAND_SHA1_ROUND

}  // namespace kestrand
