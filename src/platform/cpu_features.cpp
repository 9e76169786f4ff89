#include "platform/cpu_features.hpp"

#include <atomic>

#include "platform/cpu_probe.hpp"

namespace kestrand {
namespace {

// Probing twice is harmless (same answer), so a relaxed cache is enough.
constexpr uint32_t kNotProbed = 0x80000000u;
std::atomic<uint32_t> cached{kNotProbed};

}  // namespace

uint32_t cpu_features() noexcept {
  uint32_t features = cached.load(std::memory_order_relaxed);
  if (features == kNotProbed) {
    features = probe_cpu_features();
    cached.store(features, std::memory_order_relaxed);
  }
  return features;
}

}  // namespace kestrand
