// Md5: the test suite published with the algorithm (seven messages from the
// empty one to 80 digits), whole and as a 16-byte prefix plus the rest.
#include "digest/md5.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "digest_test_support.hpp"

namespace kestrand {
namespace {

using digest_test::bytes_of;
using digest_test::to_hex;

struct Vector {
  std::string_view message;
  std::string_view md5;
};

constexpr Vector kSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, PublishedSuiteAsWholeMessages) {
  for (const Vector& v : kSuite) {
    SCOPED_TRACE(std::string(v.message));
    EXPECT_EQ(to_hex(md5_of_message(bytes_of(v.message), v.message.size())), v.md5);
  }
}

TEST(Md5, PublishedSuiteAsPrefixAndData) {
  for (const Vector& v : kSuite) {
    if (v.message.size() < 16) {
      continue;  // a pair always has a full 16-byte prefix
    }
    for (size_t shift : digest_test::kMisalignments) {
      SCOPED_TRACE(std::string(v.message) + " at offset " + std::to_string(shift));
      const auto copy = digest_test::shifted_copy(bytes_of(v.message), v.message.size(), shift);
      const uint8_t* message = copy.data() + shift;
      EXPECT_EQ(to_hex(md5_of_pair(message, message + 16, v.message.size() - 16)), v.md5);
    }
  }
}

}  // namespace
}  // namespace kestrand
