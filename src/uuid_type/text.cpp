#include "uuid_type/text.hpp"

#include <array>
#include <cstring>

namespace kestrand {
namespace {

// kDigitPairs[b]: the two lowercase digits of byte b, high nibble first.
constexpr std::array<std::array<char, 2>, 256> kDigitPairs = [] {
  constexpr char kDigits[] = "0123456789abcdef";
  std::array<std::array<char, 2>, 256> table{};
  for (size_t b = 0; b < 256; ++b) {
    table[b] = {kDigits[b >> 4], kDigits[b & 0xF]};
  }
  return table;
}();

// Digit tables for parsing: a digit's value (low table) or its value shifted
// left by 4 (high table); every non-digit maps to kInvalid, a bit no digit
// value has, so OR-ing the entries of a whole text tests every character at once.
constexpr uint16_t kInvalid = 0x100;

constexpr std::array<uint16_t, 256> make_digit_table(unsigned shift) {
  std::array<uint16_t, 256> table{};
  for (size_t c = 0; c < 256; ++c) {
    unsigned value = 0xFFFF;
    if (c >= '0' && c <= '9') {
      value = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      value = static_cast<unsigned>(c - 'A' + 10);
    }
    table[c] = value == 0xFFFF ? kInvalid : static_cast<uint16_t>(value << shift);
  }
  return table;
}
constexpr std::array<uint16_t, 256> kLowDigit = make_digit_table(0);
constexpr std::array<uint16_t, 256> kHighDigit = make_digit_table(4);

// Byte index at which each hyphen of the hyphenated form is inserted.
constexpr bool hyphen_before(size_t byte_index) {
  return byte_index == 4 || byte_index == 6 || byte_index == 8 || byte_index == 10;
}

// decode_pairs: `count` bytes from 2*count digits; returns the OR of the table
// entries so the caller checks validity once.
inline uint16_t decode_pairs(const unsigned char* in, uint8_t* out, size_t count) {
  uint16_t seen = 0;
  for (size_t i = 0; i < count; ++i) {
    uint16_t byte = kHighDigit[in[2 * i]] | kLowDigit[in[2 * i + 1]];
    seen |= byte;
    out[i] = static_cast<uint8_t>(byte);
  }
  return seen;
}

std::optional<UuidValue> parse_simple(const unsigned char* in) {
  UuidValue value;
  if (decode_pairs(in, value.data(), 16) & kInvalid) {
    return std::nullopt;
  }
  return value;
}

std::optional<UuidValue> parse_hyphenated(const unsigned char* in) {
  if (in[8] != '-' || in[13] != '-' || in[18] != '-' || in[23] != '-') {
    return std::nullopt;
  }
  UuidValue value;
  uint8_t* out = value.data();
  uint16_t seen = decode_pairs(in, out, 4);
  seen |= decode_pairs(in + 9, out + 4, 2);
  seen |= decode_pairs(in + 14, out + 6, 2);
  seen |= decode_pairs(in + 19, out + 8, 2);
  seen |= decode_pairs(in + 24, out + 10, 6);
  if (seen & kInvalid) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

void write_simple(const UuidValue& value, char* out) {
  for (size_t i = 0; i < 16; ++i) {
    std::memcpy(out + 2 * i, kDigitPairs[value[i]].data(), 2);
  }
}

void write_hyphenated(const UuidValue& value, char* out) {
  for (size_t i = 0; i < 16; ++i) {
    if (hyphen_before(i)) {
      *out++ = '-';
    }
    std::memcpy(out, kDigitPairs[value[i]].data(), 2);
    out += 2;
  }
}

void write_urn(const UuidValue& value, char* out) {
  std::memcpy(out, "urn:uuid:", 9);
  write_hyphenated(value, out + 9);
}

std::optional<UuidValue> parse_hex(std::string_view text) {
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  switch (text.size()) {
    case 32:
      return parse_simple(in);
    case 36:
      return parse_hyphenated(in);
    case 38:
      if (in[0] != '{' || in[37] != '}') {
        return std::nullopt;
      }
      return parse_hyphenated(in + 1);
    case 45:
      if (std::memcmp(in, "urn:uuid:", 9) != 0) {
        return std::nullopt;
      }
      return parse_hyphenated(in + 9);
    default:
      return std::nullopt;
  }
}

}  // namespace kestrand
