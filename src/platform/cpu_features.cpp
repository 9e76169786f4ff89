#include "platform/cpu_features.hpp"

#include <atomic>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace kestrand {
namespace {

#if defined(__x86_64__)
// XGETBV through its opcode, so this file needs no -mxsave.
uint64_t xcr0() noexcept {
  uint32_t eax = 0;
  uint32_t edx = 0;
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
  return (uint64_t{edx} << 32) | eax;
}

uint32_t probe() noexcept {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
    return 0;
  }
  uint32_t features = 0;
  if ((d & bit_SSE2) != 0) features |= kCpuSse2;
  if ((c & bit_SSSE3) != 0) features |= kCpuSsse3;
  if ((c & bit_SSE4_1) != 0) features |= kCpuSse41;

  const bool os_saves_ymm =
      (c & bit_OSXSAVE) != 0 && (xcr0() & 0x6) == 0x6;  // xmm and ymm state
  const bool os_saves_zmm = os_saves_ymm && (xcr0() & 0xE0) == 0xE0;
  if ((c & bit_AVX) != 0 && os_saves_ymm) features |= kCpuAvx;

  unsigned b7 = 0;
  if (__get_cpuid_count(7, 0, &a, &b7, &c, &d) != 0) {
    if ((features & kCpuAvx) != 0 && (b7 & bit_AVX2) != 0) features |= kCpuAvx2;
    if ((features & kCpuAvx2) != 0 && os_saves_zmm && (b7 & bit_AVX512F) != 0 &&
        (b7 & bit_AVX512VL) != 0) {
      features |= kCpuAvx512;
    }
    if ((features & kCpuSse41) != 0 && (b7 & bit_SHA) != 0) features |= kCpuSha;
  }
  return features;
}
#else
uint32_t probe() noexcept { return 0; }
#endif

// Probing twice is harmless (same answer), so a relaxed cache is enough.
constexpr uint32_t kNotProbed = 0x80000000u;
std::atomic<uint32_t> cached{kNotProbed};

}  // namespace

uint32_t cpu_features() noexcept {
  uint32_t features = cached.load(std::memory_order_relaxed);
  if (features == kNotProbed) {
    features = probe();
    cached.store(features, std::memory_order_relaxed);
  }
  return features;
}

}  // namespace kestrand
