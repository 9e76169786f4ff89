// Text forms of a UUID value, written and parsed without allocation.
//
//   simple form      00112233445566778899aabbccddeeff                (32)
//   hyphenated form  00112233-4455-6677-8899-aabbccddeeff            (36)
//   URN form         urn:uuid:00112233-4455-6677-8899-aabbccddeeff   (45)
//
// Output is always lowercase. parse_hex accepts the simple and hyphenated
// spellings, the hyphenated one in braces, and the URN form with exactly the
// lowercase prefix; digits may be of either case; nothing is trimmed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "uuid_type/object.hpp"

namespace kestrand {

inline constexpr size_t kSimpleLen = 32;
inline constexpr size_t kHyphenatedLen = 36;
inline constexpr size_t kUrnLen = 45;

void write_simple(const UuidValue& value, char* out);      // writes kSimpleLen chars
void write_hyphenated(const UuidValue& value, char* out);  // writes kHyphenatedLen chars
void write_urn(const UuidValue& value, char* out);         // writes kUrnLen chars

// parse_hex: the 16 bytes, or nothing when the text is not an accepted spelling.
std::optional<UuidValue> parse_hex(std::string_view text);

}  // namespace kestrand
