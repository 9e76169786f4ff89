// Sha1: the published examples (from three bytes to a million) with every
// compression the processor can run, whole and as a 16-byte prefix plus the
// rest, and the SHA-extension compression against the portable one at every
// length across the padding boundaries.
#include "digest/sha1.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "digest_test_support.hpp"
#include "platform/cpu_features.hpp"

namespace kestrand {
namespace {

using digest_test::available_variants;
using digest_test::bytes_of;
using digest_test::to_hex;
using digest_test::variant_name;

struct Vector {
  std::string message;
  std::string sha1;
};

const std::vector<Vector>& published_examples() {
  static const std::vector<Vector> examples = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "a49b2446a02c645bf419f995b67091253a04a259"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  return examples;
}

std::string label(Sha1Variant v, const std::string& message) {
  return variant_name(v) + ", " + std::to_string(message.size()) + " bytes";
}

TEST(Sha1, PortableAlwaysAndShaniWhereTheProcessorHasIt) {
  EXPECT_TRUE(sha1_variant_available(Sha1Variant::portable));
#if defined(__x86_64__)
  EXPECT_EQ(sha1_variant_available(Sha1Variant::shani), (cpu_features() & kCpuSha) != 0);
#else
  EXPECT_FALSE(sha1_variant_available(Sha1Variant::shani));
#endif
}

TEST(Sha1, PublishedExamplesAsWholeMessages) {
  for (Sha1Variant v : available_variants()) {
    for (const Vector& e : published_examples()) {
      SCOPED_TRACE(label(v, e.message));
      EXPECT_EQ(to_hex(sha1_of_message_with(v, bytes_of(e.message), e.message.size())), e.sha1);
    }
  }
}

TEST(Sha1, PublishedExamplesAsPrefixAndData) {
  for (const Vector& e : published_examples()) {
    if (e.message.size() < 16) {
      continue;  // a pair always has a full 16-byte prefix
    }
    const size_t len = e.message.size() - 16;
    for (size_t shift : digest_test::kMisalignments) {
      const auto copy = digest_test::shifted_copy(bytes_of(e.message), e.message.size(), shift);
      const uint8_t* message = copy.data() + shift;
      for (Sha1Variant v : available_variants()) {
        SCOPED_TRACE(label(v, e.message) + " at offset " + std::to_string(shift));
        EXPECT_EQ(to_hex(sha1_of_pair_with(v, message, message + 16, len)), e.sha1);
      }
      SCOPED_TRACE("chosen compression, " + std::to_string(e.message.size()) +
                   " bytes at offset " + std::to_string(shift));
      EXPECT_EQ(to_hex(sha1_of_pair(message, message + 16, len)), e.sha1);
    }
  }
}

// Every total length from one block through the second spill of the padding
// (55/56, 63/64, 119/120, ...) and a few long messages, at an odd offset.
TEST(Sha1, ShaniMatchesPortableAtEveryLength) {
  if (!sha1_variant_available(Sha1Variant::shani)) {
    GTEST_SKIP() << "no SHA extensions on this processor";
  }
  std::vector<size_t> totals;
  for (size_t total = 16; total <= 320; ++total) {
    totals.push_back(total);
  }
  totals.insert(totals.end(), {1000, 4096 + 7, 65536 + 33});

  const auto bytes = digest_test::counting_bytes(1 + totals.back());
  const uint8_t* message = bytes.data() + 1;
  for (size_t total : totals) {
    SCOPED_TRACE(std::to_string(total) + " bytes");
    const uint8_t* data = message + 16;
    const size_t len = total - 16;
    const auto portable = sha1_of_pair_with(Sha1Variant::portable, message, data, len);
    EXPECT_EQ(sha1_of_pair_with(Sha1Variant::shani, message, data, len), portable);
    EXPECT_EQ(sha1_of_pair(message, data, len), portable);
  }
}

}  // namespace
}  // namespace kestrand
