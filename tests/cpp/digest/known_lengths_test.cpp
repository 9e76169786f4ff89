// Both digests of counting bytes at the lengths where the padding changes
// shape (the bit count fits, only just fits, or spills into another block)
// and at a few long lengths whose whole blocks are hashed in place.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "digest/md5.hpp"
#include "digest/sha1.hpp"
#include "digest_test_support.hpp"

namespace kestrand {
namespace {

using digest_test::to_hex;

struct Known {
  size_t total;  // prefix included
  std::string_view md5;
  std::string_view sha1;
};

// Made with Python's hashlib: m = (bytes(range(256)) * 257)[:total], then
// hashlib.md5(m).hexdigest() and hashlib.sha1(m).hexdigest().
constexpr Known kKnown[] = {
    {16, "1ac1ef01e96caf1be0d329331a4fc2a8", "56178b86a57fac22899a9964185c2cc96e7da589"},
    {55, "6912ee65fff2d9f9ce2508cddf8bcda0", "8ae2d46729cfe68ff927af5eec9c7d1b66d65ac2"},
    {56, "51fdd1acda72405dfdfa03fcb85896d7", "636e2ec698dac903498e648bd2f3af641d3c88cb"},
    {63, "48a6295221902e8e0938f773a7185e72", "6d942da0c4392b123528f2905c713a3ce28364bd"},
    {64, "b2d3f56bc197fd985d5965079b5e7148", "c6138d514ffa2135bfce0ed0b8fac65669917ec7"},
    {65, "8bd7053801c768420faf816fadba971c", "69bd728ad6e13cd76ff19751fde427b00e395746"},
    {119, "1c772251899a7ff007400b888d6b2042", "41c89d06001bab4ab78736b44efe7ce18ce6ae08"},
    {120, "b7ba1efc6022e9ed272f00b8831e26e6", "d3dbd653bd8597b7475321b60a36891278e6a04a"},
    {127, "8402b21e7bc7906493bae0dac017f1f9", "89d7312a903f65cd2b3e34a975e55dbea9033353"},
    {128, "37eff01866ba3f538421b30b7cbefcac", "e6434bc401f98603d7eda504790c98c67385d535"},
    {1000, "cbecbdb0fdd5cec1e242493b6008cc79", "af0b191c2de46fe13fe0908f5a6a4e90e0cafc46"},
    {4096 + 7, "bae7687758663c4be1612a5df88e500f", "eea6d8e51bfc4f16ca37de7e992ced4137d21b06"},
    {65536 + 33, "10f21991f78878341245a62f4fedadba", "1f1a27c60eb36fefbb19758bc6404b00290aa8c4"},
};

TEST(KnownLengths, PrefixAndDataMatchHashlib) {
  const auto bytes = digest_test::counting_bytes(65536 + 33);
  for (const Known& k : kKnown) {
    SCOPED_TRACE(std::to_string(k.total) + " bytes");
    const size_t len = k.total - 16;
    // No data at all may come as a null pointer.
    const uint8_t* data = len == 0 ? nullptr : bytes.data() + 16;
    EXPECT_EQ(to_hex(md5_of_pair(bytes.data(), data, len)), k.md5);
    for (Sha1Variant v : digest_test::available_variants()) {
      SCOPED_TRACE(digest_test::variant_name(v));
      EXPECT_EQ(to_hex(sha1_of_pair_with(v, bytes.data(), data, len)), k.sha1);
    }
  }
}

}  // namespace
}  // namespace kestrand
