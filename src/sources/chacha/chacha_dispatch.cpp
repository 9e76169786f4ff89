// The table of refill variants and the choice among them: entries in order of
// preference, each with the CPU features it needs; the first one this
// processor covers wins, once per process. The portable entry needs nothing,
// so there is always a match.
//
// The order follows bench/chacha_refill.cpp. AVX-512 leads: its one-instruction
// rotations shorten the chain of dependent instructions that bounds a refill
// (on the AMD Zen 5 development machine: 76 ns against AVX2's 92 ns, portable
// 158 ns). Its code is ymm-only, so it needs AVX2 as well as AVX-512F/VL. SSE4.1 has no instruction
// these rounds can use; a copy of the SSSE3 file compiled with -msse4.1 came out as the same
// machine code, so that tier runs the SSSE3 kernel.
#include <cstdint>
#include <iterator>

#include "sources/chacha/chacha_block.hpp"
#include "platform/cpu_features.hpp"

namespace kestrand {
namespace {

using RefillFn = void (*)(const ChaChaInput&, uint32_t*) noexcept;

void refill_portable12(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  chacha_refill_portable(12, in, out);
}

struct Variant {
  ChaChaVariant id;
  uint32_t required;  // CpuFeature bits
  RefillFn refill;
};

// clang-format off
constexpr Variant kVariants[] = {
#if defined(__x86_64__)
    {ChaChaVariant::avx512,   kCpuAvx512 | kCpuAvx2,  chacha_detail::refill_avx512},
    {ChaChaVariant::avx2,     kCpuAvx2,               chacha_detail::refill_avx2},
    {ChaChaVariant::avx,      kCpuAvx,                chacha_detail::refill_avx},
    {ChaChaVariant::sse41,    kCpuSse41 | kCpuSsse3,  chacha_detail::refill_ssse3},
    {ChaChaVariant::ssse3,    kCpuSsse3,              chacha_detail::refill_ssse3},
    {ChaChaVariant::sse2,     kCpuSse2,               chacha_detail::refill_sse2},
#endif
    {ChaChaVariant::portable, 0,                      refill_portable12},
};
// clang-format on

const Variant* find(ChaChaVariant id) noexcept {
  for (const Variant& v : kVariants) {
    if (v.id == id) {
      return &v;
    }
  }
  return nullptr;
}

bool runs_here(const Variant& v) noexcept { return (cpu_features() & v.required) == v.required; }

const Variant& selected() noexcept {
  static const Variant& chosen = []() noexcept -> const Variant& {
    for (const Variant& v : kVariants) {
      if (runs_here(v)) {
        return v;
      }
    }
    return kVariants[std::size(kVariants) - 1];
  }();
  return chosen;
}

}  // namespace

void chacha12_refill(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  selected().refill(in, out);
}

void chacha12_refill_with(ChaChaVariant v, const ChaChaInput& in,
                          uint32_t out[kChaChaRefillWords]) noexcept {
  const Variant* entry = find(v);
  if (entry == nullptr) {
    entry = find(ChaChaVariant::portable);
  }
  entry->refill(in, out);
}

bool chacha_variant_available(ChaChaVariant v) noexcept {
  const Variant* entry = find(v);
  return entry != nullptr && runs_here(*entry);
}

ChaChaVariant chacha_selected_variant() noexcept { return selected().id; }

const char* chacha_variant_name(ChaChaVariant v) noexcept {
  switch (v) {
    case ChaChaVariant::portable:
      return "portable";
    case ChaChaVariant::sse2:
      return "sse2";
    case ChaChaVariant::ssse3:
      return "ssse3";
    case ChaChaVariant::sse41:
      return "sse41";
    case ChaChaVariant::avx:
      return "avx";
    case ChaChaVariant::avx2:
      return "avx2";
    case ChaChaVariant::avx512:
      return "avx512";
  }
  return "unknown";
}

}  // namespace kestrand
