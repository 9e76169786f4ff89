// probe_cpu_features: the CpuFeature bits of this processor and OS, asked of
// the processor itself (uncached; cpu_features() caches it). CMake compiles
// one probe per architecture: cpu_probe_x86_64.cpp, or cpu_probe_none.cpp.
#pragma once

#include <cstdint>

namespace kestrand {

uint32_t probe_cpu_features() noexcept;

}  // namespace kestrand
