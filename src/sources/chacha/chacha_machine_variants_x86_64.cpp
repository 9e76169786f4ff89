// The x86-64 variants, best first. The order follows bench/chacha_refill.cpp.
// AVX-512 leads: its one-instruction rotations shorten the chain of dependent
// instructions that bounds a refill (on the AMD Zen 5 development machine: 76 ns
// against AVX2's 92 ns, portable 158 ns). Its code is ymm-only, so it needs
// AVX2 as well as AVX-512F/VL. SSE4.1 has no instruction these rounds can use;
// a copy of the SSSE3 file compiled with -msse4.1 came out as the same machine
// code, so that tier runs the SSSE3 kernel.
#include "sources/chacha/chacha_machine_variants.hpp"

#include "platform/cpu_features.hpp"

namespace kestrand {
namespace {

// clang-format off
constexpr ChaChaMachineVariant kVariants[] = {
    {ChaChaVariant::avx512,   kCpuAvx512 | kCpuAvx2,  chacha_detail::refill_avx512},
    {ChaChaVariant::avx2,     kCpuAvx2,               chacha_detail::refill_avx2},
    {ChaChaVariant::avx,      kCpuAvx,                chacha_detail::refill_avx},
    {ChaChaVariant::sse41,    kCpuSse41 | kCpuSsse3,  chacha_detail::refill_ssse3},
    {ChaChaVariant::ssse3,    kCpuSsse3,              chacha_detail::refill_ssse3},
    {ChaChaVariant::sse2,     kCpuSse2,               chacha_detail::refill_sse2},
};
// clang-format on

}  // namespace

std::span<const ChaChaMachineVariant> chacha_machine_variants() noexcept { return kVariants; }

}  // namespace kestrand
