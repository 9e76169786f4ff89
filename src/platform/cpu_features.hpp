// The processor's vector and hash extensions, probed once per process (CPUID,
// and XGETBV for whether the operating system saves the wider registers), so
// a hot path picks its code with one load and a bit test.
#pragma once

#include <cstdint>

namespace kestrand {

enum CpuFeature : uint32_t {
  kCpuSse2 = 1u << 0,
  kCpuSsse3 = 1u << 1,
  kCpuSse41 = 1u << 2,
  kCpuAvx = 1u << 3,
  kCpuAvx2 = 1u << 4,
  kCpuAvx512 = 1u << 5,  // AVX-512 F and VL, with the OS saving zmm state
  kCpuSha = 1u << 6,     // SHA extensions (with SSE4.1, which their code needs)
};

// cpu_features: the CpuFeature bits this processor and OS support; 0 where
// this build has no code for any extension (off x86-64).
uint32_t cpu_features() noexcept;

}  // namespace kestrand
