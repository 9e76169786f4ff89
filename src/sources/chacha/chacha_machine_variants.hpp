// The refill variants this build has for its processor's vector extensions,
// in order of preference, each with the CPU features it needs. CMake compiles
// one table per architecture (chacha_machine_variants_x86_64.cpp; elsewhere
// chacha_machine_variants_none.cpp, which is empty), so the dispatcher names
// no instruction set and no file tests for the architecture.
#pragma once

#include <cstdint>
#include <span>

#include "sources/chacha/chacha_block.hpp"

namespace kestrand {

using ChaChaRefillFn = void (*)(const ChaChaInput&, uint32_t*) noexcept;

struct ChaChaMachineVariant {
  ChaChaVariant id;
  uint32_t required;  // CpuFeature bits
  ChaChaRefillFn refill;
};

std::span<const ChaChaMachineVariant> chacha_machine_variants() noexcept;

}  // namespace kestrand
