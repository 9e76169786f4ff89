#include "digest/sha1.hpp"

#include <atomic>

#include "digest/byte_order.hpp"
#include "digest/padded_stream.hpp"
#include "digest/sha1_compress.hpp"
#include "platform/cpu_features.hpp"

namespace kestrand {
namespace {

Sha1Compress compress_for(Sha1Variant v) noexcept {
  if (v == Sha1Variant::shani) {
    return (cpu_features() & kCpuSha) != 0 ? sha1_shani_compress() : nullptr;
  }
  return sha1_compress_portable;
}

// Picking twice gives the same answer, so a relaxed cache is enough.
std::atomic<Sha1Compress> chosen{nullptr};

Sha1Compress best_compress() noexcept {
  Sha1Compress compress = chosen.load(std::memory_order_relaxed);
  if (compress == nullptr) {
    compress = compress_for(Sha1Variant::shani);
    if (compress == nullptr) {
      compress = sha1_compress_portable;
    }
    chosen.store(compress, std::memory_order_relaxed);
  }
  return compress;
}

Sha1Compress available_or_portable(Sha1Variant v) noexcept {
  const Sha1Compress compress = compress_for(v);
  return compress != nullptr ? compress : sha1_compress_portable;
}

std::array<uint8_t, kSha1Bytes> digest(Sha1Compress compress, const uint8_t* head,
                                       size_t head_len, const uint8_t* data, size_t len) noexcept {
  uint32_t state[5] = {kSha1Initial[0], kSha1Initial[1], kSha1Initial[2], kSha1Initial[3],
                       kSha1Initial[4]};
  absorb_padded<LengthOrder::big_endian>(state, compress, head, head_len, data, len);
  std::array<uint8_t, kSha1Bytes> out;
  for (size_t k = 0; k < 5; ++k) {
    store_be32(out.data() + 4 * k, state[k]);
  }
  return out;
}

}  // namespace

std::array<uint8_t, kSha1Bytes> sha1_of_pair(const uint8_t prefix[16], const uint8_t* data,
                                             size_t len) noexcept {
  return digest(best_compress(), prefix, 16, data, len);
}

bool sha1_variant_available(Sha1Variant v) noexcept { return compress_for(v) != nullptr; }

std::array<uint8_t, kSha1Bytes> sha1_of_pair_with(Sha1Variant v, const uint8_t prefix[16],
                                                  const uint8_t* data, size_t len) noexcept {
  return digest(available_or_portable(v), prefix, 16, data, len);
}

std::array<uint8_t, kSha1Bytes> sha1_of_message_with(Sha1Variant v, const uint8_t* data,
                                                     size_t len) noexcept {
  return digest(available_or_portable(v), nullptr, 0, data, len);
}

}  // namespace kestrand
