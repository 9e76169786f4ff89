#include "generators/v1_state.hpp"

#include "platform/fork_locks.hpp"

namespace kestrand {
namespace {

constinit V1ClockSequence process_sequence;

// A child that counted on from its parent's clock sequence would make its
// parent's values whenever the two read the same tick, and on one host they
// share the node too. Unseeded, the sequence is seeded afresh from the
// operating system by the child's first call that uses it.
void reset_process_sequence() noexcept { v1_unseed(process_sequence); }
[[maybe_unused]] const bool reset_listed = reset_in_child(reset_process_sequence);

constexpr uint64_t kSeeded = uint64_t{1} << 63;

// The seed lands in the same step that marks the sequence seeded: a flag set
// before the seed was stored let another thread step the unseeded counter,
// and the seed's store then wiped that step out.
void seed_once(V1ClockSequence& sequence, const TimeSources& sources) {
  if (sequence.state.load(std::memory_order_relaxed) & kSeeded) [[likely]] {
    return;
  }
  uint8_t bytes[2] = {};
  uint64_t unseeded = 0;
  try {
    sources.fill(bytes, sizeof bytes);
  } catch (...) {
    sequence.state.compare_exchange_strong(unseeded, kSeeded, std::memory_order_relaxed);
    throw;
  }
  sequence.state.compare_exchange_strong(unseeded, kSeeded | bytes[0] | uint64_t{bytes[1]} << 8,
                                         std::memory_order_relaxed);
}

}  // namespace

Node node_of(uint64_t value) noexcept {
  Node node;
  for (size_t i = 0; i < node.size(); ++i) {
    node[i] = static_cast<uint8_t>(value >> (8 * (5 - i)));
  }
  return node;
}

UuidValue v1_value(V1ClockSequence& sequence, const TimeSources& sources, const Node& node,
                   std::optional<uint16_t> clock_seq) {
  if (!clock_seq) {
    seed_once(sequence, sources);
  }
  WallTime now = sources.now();
  uint16_t source =
      clock_seq ? *clock_seq
                : static_cast<uint16_t>(sequence.state.fetch_add(1, std::memory_order_relaxed));
  uint16_t q = source & 0x3FFF;
  uint64_t ticks = now.seconds * 10'000'000 + now.nanos / 100 + kGregorianOffset;

  UuidValue value;
  for (size_t i = 0; i < 4; ++i) {
    value[i] = static_cast<uint8_t>(ticks >> (8 * (3 - i)));
  }
  value[4] = static_cast<uint8_t>(ticks >> 40);
  value[5] = static_cast<uint8_t>(ticks >> 32);
  value[6] = static_cast<uint8_t>(0x10 | ((ticks >> 56) & 0x0F));
  value[7] = static_cast<uint8_t>(ticks >> 48);
  value[8] = static_cast<uint8_t>(0x80 | (q >> 8));
  value[9] = static_cast<uint8_t>(q);
  std::copy(node.begin(), node.end(), value.begin() + 10);
  return value;
}

void v1_unseed(V1ClockSequence& sequence) noexcept { sequence.state.store(0, std::memory_order_relaxed); }

UuidValue make_v1(const Node& node, std::optional<uint16_t> clock_seq) {
  return v1_value(process_sequence, kOsTimeSources, node, clock_seq);
}

}  // namespace kestrand
