// Processors whose extensions no code of this build uses: nothing to probe.
#include "platform/cpu_probe.hpp"

namespace kestrand {

uint32_t probe_cpu_features() noexcept { return 0; }

}  // namespace kestrand
