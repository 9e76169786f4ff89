// The scalar ChaCha refill: the reference every variant is checked against,
// and the fallback where no vector variant runs. Written to be read against
// RFC 8439 section 2.1 to 2.3, one block at a time.
#include <bit>
#include <cstdint>

#include "sources/chacha/chacha_block.hpp"

namespace kestrand {
namespace {

// "expand 32-byte k" as four little-endian words (RFC 8439 section 2.3).
constexpr uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

void quarter_round(uint32_t x[16], int a, int b, int c, int d) noexcept {
  x[a] += x[b];
  x[d] = std::rotl(x[d] ^ x[a], 16);
  x[c] += x[d];
  x[b] = std::rotl(x[b] ^ x[c], 12);
  x[a] += x[b];
  x[d] = std::rotl(x[d] ^ x[a], 8);
  x[c] += x[d];
  x[b] = std::rotl(x[b] ^ x[c], 7);
}

void column_round(uint32_t x[16]) noexcept {
  quarter_round(x, 0, 4, 8, 12);
  quarter_round(x, 1, 5, 9, 13);
  quarter_round(x, 2, 6, 10, 14);
  quarter_round(x, 3, 7, 11, 15);
}

void diagonal_round(uint32_t x[16]) noexcept {
  quarter_round(x, 0, 5, 10, 15);
  quarter_round(x, 1, 6, 11, 12);
  quarter_round(x, 2, 7, 8, 13);
  quarter_round(x, 3, 4, 9, 14);
}

void block(int rounds, const uint32_t input[16], uint32_t out[16]) noexcept {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = input[i];
  }
  int r = 0;
  for (; r + 2 <= rounds; r += 2) {
    column_round(x);
    diagonal_round(x);
  }
  if (r < rounds) {
    column_round(x);
  }
  for (int i = 0; i < 16; ++i) {
    out[i] = x[i] + input[i];
  }
}

}  // namespace

void chacha_refill_portable(int rounds, const ChaChaInput& in,
                            uint32_t out[kChaChaRefillWords]) noexcept {
  uint32_t state[16];
  for (int i = 0; i < 4; ++i) {
    state[i] = kSigma[i];
  }
  for (int i = 0; i < 8; ++i) {
    state[4 + i] = in.key[i];
  }
  state[14] = static_cast<uint32_t>(in.stream);
  state[15] = static_cast<uint32_t>(in.stream >> 32);
  for (uint64_t i = 0; i < kChaChaRefillWords / 16; ++i) {
    const uint64_t counter = in.counter + i;  // wraps mod 2^64
    state[12] = static_cast<uint32_t>(counter);
    state[13] = static_cast<uint32_t>(counter >> 32);
    block(rounds, state, out + 16 * i);
  }
}

}  // namespace kestrand
