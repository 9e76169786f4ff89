// The version 4 rule: 122 random bits from 16 fresh bytes of OsEntropy, with
// the version nibble set to 4 and the variant bits to binary 10.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "sources/entropy/os_entropy.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {

// make_v4: one version 4 value; an internal failure if the random source fails.
UuidValue make_v4();

// make_v4: the same, drawing through the caller's run of requests and
// written to `out`. Inline: uuid4() is little more than this and the
// request, and a call between them costs more than the stamping.
inline void make_v4(EntropyRun& run, UuidValue& out) {
  UuidValue random;
  run.fill_or_panic(random.data(), random.size());
  // The draw is read as a little-endian 128-bit integer and stored big-endian,
  // so the UUID is the draw reversed; then version and variant are stamped in.
  if constexpr (std::endian::native == std::endian::little) {
    // Two byte swaps instead of sixteen byte moves, version and variant set
    // in the registers, and two whole-word stores: a 16-byte read of the
    // value (copying it into an object) then takes its bytes straight from
    // the stores instead of waiting for them to reach the cache.
    uint64_t low;
    uint64_t high;
    std::memcpy(&low, random.data(), 8);
    std::memcpy(&high, random.data() + 8, 8);
    high = __builtin_bswap64(high);  // bytes 0..7 of the UUID, byte 0 lowest
    low = __builtin_bswap64(low);    // bytes 8..15
    high = (high & ~(uint64_t{0xF0} << 48)) | (uint64_t{0x40} << 48);  // byte 6
    low = (low & ~uint64_t{0xC0}) | uint64_t{0x80};                     // byte 8
    std::memcpy(out.data(), &high, 8);
    std::memcpy(out.data() + 8, &low, 8);
  } else {
    std::reverse_copy(random.begin(), random.end(), out.begin());
    out[6] = static_cast<uint8_t>(0x40 | (out[6] & 0x0F));
    out[8] = static_cast<uint8_t>(0x80 | (out[8] & 0x3F));
  }
}

// make_v4: the same, returned.
inline UuidValue make_v4(EntropyRun& run) {
  UuidValue value;
  make_v4(run, value);
  return value;
}

}  // namespace kestrand
