// The digests keep nothing between calls, and SHA-1 picks its compression the
// first time it is used: threads that start hashing at the same moment each
// get their own correct digests.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "digest/md5.hpp"
#include "digest/sha1.hpp"
#include "digest_test_support.hpp"

namespace kestrand {
namespace {

TEST(Concurrency, ThreadsHashingAtOnceGetTheirOwnDigests) {
  constexpr size_t kThreads = 4;
  constexpr size_t kLengths = 200;  // total lengths 16 .. 215
  const auto bytes = digest_test::counting_bytes(16 + kLengths + kThreads);

  // Each thread hashes a message starting at its own offset.
  std::vector<std::array<uint8_t, kMd5Bytes>> md5_expected;
  std::vector<std::array<uint8_t, kSha1Bytes>> sha1_expected;
  for (size_t t = 0; t < kThreads; ++t) {
    for (size_t len = 0; len < kLengths; ++len) {
      const uint8_t* m = bytes.data() + t;
      md5_expected.push_back(md5_of_message(m, 16 + len));
      sha1_expected.push_back(sha1_of_message_with(Sha1Variant::portable, m, 16 + len));
    }
  }

  std::atomic<bool> go{false};
  std::atomic<size_t> mismatches{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) {
      }
      const uint8_t* m = bytes.data() + t;
      for (int round = 0; round < 20; ++round) {
        for (size_t len = 0; len < kLengths; ++len) {
          const size_t k = t * kLengths + len;
          if (md5_of_pair(m, m + 16, len) != md5_expected[k] ||
              sha1_of_pair(m, m + 16, len) != sha1_expected[k]) {
            mismatches.fetch_add(1);
          }
        }
      }
    });
  }
  go.store(true);
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(mismatches.load(), 0u);
}

}  // namespace
}  // namespace kestrand
