// Builds for processors without the x86 SHA extensions: the portable
// compression serves.
#include "digest/sha1_compress.hpp"

namespace kestrand {

Sha1Compress sha1_shani_compress() noexcept { return nullptr; }

}  // namespace kestrand
