// PaddedStream: where the head ends makes no difference to the result, and
// the message's whole blocks reach the compression where they lie, in one
// call, instead of being copied block by block.
#include "digest/padded_stream.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "digest/sha1_compress.hpp"
#include "digest_test_support.hpp"

namespace kestrand {
namespace {

using State = std::array<uint32_t, 5>;

State sha1_state(const uint8_t* head, size_t head_len, const uint8_t* data, size_t len) {
  State state;
  std::copy(std::begin(kSha1Initial), std::end(kSha1Initial), state.begin());
  absorb_padded<LengthOrder::big_endian>(state.data(), sha1_compress_portable, head, head_len,
                                         data, len);
  return state;
}

TEST(PaddedStream, AnyHeadLengthGivesTheSameState) {
  const auto message = digest_test::counting_bytes(200);
  for (size_t head_len : {0u, 1u, 15u, 16u, 17u, 47u, 48u, 55u, 56u, 63u}) {
    for (size_t total : {head_len, head_len + 1, size_t{55}, size_t{56}, size_t{63}, size_t{64},
                         size_t{119}, size_t{120}, size_t{200}}) {
      if (total < head_len) {
        continue;
      }
      SCOPED_TRACE("head " + std::to_string(head_len) + " of " + std::to_string(total));
      EXPECT_EQ(sha1_state(message.data(), head_len, message.data() + head_len, total - head_len),
                sha1_state(nullptr, 0, message.data(), total));
    }
  }
}

struct Call {
  const uint8_t* blocks;
  size_t count;
};

TEST(PaddedStream, WholeBlocksAreCompressedInPlace) {
  constexpr size_t kHead = 16;
  constexpr size_t kFirst = kDigestBlockBytes - kHead;  // data bytes in the first stack block
  const auto bytes = digest_test::counting_bytes(kHead + 1000);
  const uint8_t* data = bytes.data() + kHead;

  for (size_t len : {size_t{47}, size_t{48}, size_t{111}, size_t{112}, size_t{200}, size_t{1000}}) {
    SCOPED_TRACE(std::to_string(len) + " bytes of data");
    std::vector<Call> calls;
    auto record = [&calls](uint32_t*, const uint8_t* blocks, size_t count) {
      calls.push_back({blocks, count});
    };
    uint32_t state[5] = {};
    absorb_padded<LengthOrder::big_endian>(state, record, bytes.data(), kHead, data, len);

    // The message and its padding (at least 9 bytes) fill whole blocks.
    const size_t expected_blocks = (kHead + len + 9 + kDigestBlockBytes - 1) / kDigestBlockBytes;
    const size_t whole_in_place = len >= kFirst ? (len - kFirst) / kDigestBlockBytes : 0;
    size_t blocks = 0;
    size_t in_place = 0;
    for (const Call& call : calls) {
      blocks += call.count;
      if (call.blocks >= data && call.blocks < data + len) {
        EXPECT_EQ(call.blocks, data + kFirst);
        EXPECT_EQ(call.count, whole_in_place);
        ++in_place;
      } else {
        EXPECT_EQ(call.count, 1u);  // the stack block
      }
    }
    EXPECT_EQ(blocks, expected_blocks);
    EXPECT_EQ(in_place, whole_in_place != 0 ? 1u : 0u);
  }
}

}  // namespace
}  // namespace kestrand
