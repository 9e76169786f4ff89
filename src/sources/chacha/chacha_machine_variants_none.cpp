// Processors without a vector variant in this build: the portable refill serves.
#include "sources/chacha/chacha_machine_variants.hpp"

namespace kestrand {

std::span<const ChaChaMachineVariant> chacha_machine_variants() noexcept { return {}; }

}  // namespace kestrand
