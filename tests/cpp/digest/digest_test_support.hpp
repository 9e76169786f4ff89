// Helpers shared by the digest tests: messages as bytes, digests as the
// lowercase hex that published test vectors and hashlib's hexdigest() use,
// and the SHA-1 variants to run each check with.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "digest/sha1.hpp"

namespace kestrand::digest_test {

inline const uint8_t* bytes_of(std::string_view text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

template <size_t N>
std::string to_hex(const std::array<uint8_t, N>& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xf];
  }
  return hex;
}

// counting_bytes: 0, 1, ..., 255, 0, 1, ... (Python: (bytes(range(256)) * k)[:n]).
inline std::vector<uint8_t> counting_bytes(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t k = 0; k < n; ++k) {
    bytes[k] = static_cast<uint8_t>(k);
  }
  return bytes;
}

// Copies of a message starting at these offsets from an 8-byte boundary, so
// that the loads in the compression run at every alignment.
inline constexpr size_t kMisalignments[] = {0, 1, 3, 7};

inline std::vector<uint8_t> shifted_copy(const uint8_t* message, size_t len, size_t shift) {
  std::vector<uint8_t> buffer(shift + len);
  std::copy(message, message + len, buffer.begin() + static_cast<std::ptrdiff_t>(shift));
  return buffer;
}

// available_variants: the SHA-1 compressions this processor can run.
inline std::vector<Sha1Variant> available_variants() {
  std::vector<Sha1Variant> variants;
  for (Sha1Variant v : {Sha1Variant::portable, Sha1Variant::shani}) {
    if (sha1_variant_available(v)) {
      variants.push_back(v);
    }
  }
  return variants;
}

inline std::string variant_name(Sha1Variant v) {
  return v == Sha1Variant::shani ? "shani" : "portable";
}

}  // namespace kestrand::digest_test
