// The choice among the refill variants: the first entry of this machine's
// table (chacha_machine_variants.hpp) that the processor covers wins, once per
// process; with none, the portable refill, which needs nothing.
#include <cstdint>

#include "platform/cpu_features.hpp"
#include "sources/chacha/chacha_block.hpp"
#include "sources/chacha/chacha_machine_variants.hpp"

namespace kestrand {
namespace {

void refill_portable12(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  chacha_refill_portable(12, in, out);
}

constexpr ChaChaMachineVariant kPortable{ChaChaVariant::portable, 0, refill_portable12};

const ChaChaMachineVariant* find(ChaChaVariant id) noexcept {
  if (id == ChaChaVariant::portable) {
    return &kPortable;
  }
  for (const ChaChaMachineVariant& v : chacha_machine_variants()) {
    if (v.id == id) {
      return &v;
    }
  }
  return nullptr;
}

bool runs_here(const ChaChaMachineVariant& v) noexcept {
  return (cpu_features() & v.required) == v.required;
}

const ChaChaMachineVariant& selected() noexcept {
  static const ChaChaMachineVariant& chosen = []() noexcept -> const ChaChaMachineVariant& {
    for (const ChaChaMachineVariant& v : chacha_machine_variants()) {
      if (runs_here(v)) {
        return v;
      }
    }
    return kPortable;
  }();
  return chosen;
}

}  // namespace

void chacha12_refill(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept {
  selected().refill(in, out);
}

void chacha12_refill_with(ChaChaVariant v, const ChaChaInput& in,
                          uint32_t out[kChaChaRefillWords]) noexcept {
  const ChaChaMachineVariant* entry = find(v);
  if (entry == nullptr) {
    entry = find(ChaChaVariant::portable);
  }
  entry->refill(in, out);
}

bool chacha_variant_available(ChaChaVariant v) noexcept {
  const ChaChaMachineVariant* entry = find(v);
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
