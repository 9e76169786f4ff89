// Version 1 values and V1ClockSequence, the process-wide clock sequence.
//
// Layout of a version 1 value (T = 100 ns ticks since 1582-10-15, Q = the
// 14-bit clock sequence, N = the 6-byte node):
//
//   bytes 0..3    T[31..0]             time_low
//   bytes 4..5    T[47..32]            time_mid
//   byte  6       0x10 | T[59..56]     version 1
//   byte  7       T[55..48]
//   byte  8       0x80 | Q[13..8]      variant 10
//   byte  9       Q[7..0]
//   bytes 10..15  N
//
// No timestamp is remembered: uniqueness within the process comes from the
// clock sequence, which steps by one on every call that uses it and so runs
// through all 16384 values in turn from a random start.
//
// Threads: the sequence is one atomic word, so no lock: seeding is a single
// compare-and-swap from the unseeded state (a thread that loses keeps the
// winner's seed), and each value takes its step with one atomic add. Nobody
// steps the counter before it is seeded. Fork: nothing is held; the parent
// counts on, and the child's sequence is unseeded again, so the child seeds
// its own from the operating system.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

#include "generators/time_sources.hpp"
#include "uuid_type/object.hpp"

namespace kestrand {

using Node = std::array<uint8_t, 6>;

struct V1ClockSequence {
  // Bit 63: seeded. Bits 15..0: the next value, wrapping from 65535 to 0; the
  // carry out of them runs into bits 62..16, which nothing reads and which
  // would take 2^63 values to reach bit 63. Zero until seeded.
  std::atomic<uint64_t> state{0};
};

// 100 ns intervals from the start of the Gregorian calendar to the Unix epoch.
inline constexpr uint64_t kGregorianOffset = 0x01B21DD213814000;

// node_of: bits 47..0 of `value`, big-endian.
Node node_of(uint64_t value) noexcept;

// v1_value: a version 1 value for `node`, with the caller's clock sequence
// (0..65535; only its low 14 bits are kept) or, without one, the next value of
// `sequence`, seeded from `sources.fill` by its first user. A failed seed
// leaves the sequence marked seeded, counting on from where it stands.
UuidValue v1_value(V1ClockSequence& sequence, const TimeSources& sources, const Node& node,
                   std::optional<uint16_t> clock_seq);

// v1_unseed: back to the unseeded state, so the next user seeds it afresh.
// What the child of a fork does to the process's sequence; async-signal-safe.
void v1_unseed(V1ClockSequence& sequence) noexcept;

// make_v1: v1_value on the process's sequence with the operating system's sources.
UuidValue make_v1(const Node& node, std::optional<uint16_t> clock_seq);

}  // namespace kestrand
