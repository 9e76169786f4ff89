// CPUID, and XGETBV for whether the operating system saves the wider registers.
#include <cpuid.h>

#include "platform/cpu_features.hpp"
#include "platform/cpu_probe.hpp"

namespace kestrand {
namespace {

// XGETBV through its opcode, so this file needs no -mxsave.
uint64_t xcr0() noexcept {
  uint32_t eax = 0;
  uint32_t edx = 0;
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
  return (uint64_t{edx} << 32) | eax;
}

}  // namespace

uint32_t probe_cpu_features() noexcept {
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

}  // namespace kestrand
