// Text forms: exact output, no byte written outside the documented width, and
// the parse accepting exactly the four spellings.
#include <gtest/gtest.h>

#include <string>

#include "uuid_type/text.hpp"

namespace kestrand {
namespace {

constexpr UuidValue kSample = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};

// written: runs `write` into a buffer fenced by '@' canaries on both sides
// and checks that exactly `len` characters were written between them.
template <class Write>
std::string written(Write write, size_t len) {
  std::string buffer(len + 32, '@');
  write(kSample, buffer.data() + 16);
  EXPECT_EQ(buffer.substr(0, 16), std::string(16, '@'));
  EXPECT_EQ(buffer.substr(16 + len), std::string(16, '@'));
  return buffer.substr(16, len);
}

TEST(TextForms, WritersProduceExactlyTheirWidth) {
  EXPECT_EQ(written(write_simple, kSimpleLen), "00112233445566778899aabbccddeeff");
  EXPECT_EQ(written(write_hyphenated, kHyphenatedLen), "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(written(write_urn, kUrnLen), "urn:uuid:00112233-4455-6677-8899-aabbccddeeff");
}

TEST(TextForms, EveryByteValueRoundTrips) {
  for (unsigned start = 0; start < 256; start += 16) {
    UuidValue value;
    for (unsigned i = 0; i < 16; ++i) {
      value[i] = static_cast<uint8_t>(start + i);
    }
    char text[kHyphenatedLen];
    write_hyphenated(value, text);
    std::optional<UuidValue> parsed = parse_hex(std::string_view(text, sizeof text));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, value);
  }
}

TEST(TextForms, ParseAcceptsOnlyTheFourSpellings) {
  struct Case {
    const char* text;
    bool accepted;
  };
  const Case cases[] = {
      {"00112233445566778899aabbccddeeff", true},
      {"00112233-4455-6677-8899-AABBCCDDEEFF", true},
      {"{00112233-4455-6677-8899-aabbccddeeff}", true},
      {"urn:uuid:00112233-4455-6677-8899-aabbccddeeff", true},
      {"{00112233445566778899aabbccddeeff}", false},
      {"URN:UUID:00112233-4455-6677-8899-aabbccddeeff", false},
      {"(00112233-4455-6677-8899-aabbccddeeff)", false},
      {"00112233-4455-6677-8899+aabbccddeeff", false},
      {"0011223-34455-6677-8899-aabbccddeeff", false},
      {"0011223g445566778899aabbccddeeff", false},
      {" 00112233-4455-6677-8899-aabbccddeeff", false},
      {"", false},
  };
  for (const Case& c : cases) {
    std::optional<UuidValue> parsed = parse_hex(c.text);
    EXPECT_EQ(parsed.has_value(), c.accepted) << c.text;
    if (parsed) {
      EXPECT_EQ(*parsed, kSample) << c.text;
    }
  }
}

TEST(TextForms, EveryNonDigitIsRejectedAtEveryPosition) {
  const std::string good = "00112233445566778899aabbccddeeff";
  for (int c = 0; c < 256; ++c) {
    bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (digit) {
      continue;
    }
    for (size_t position = 0; position < good.size(); ++position) {
      std::string bad = good;
      bad[position] = static_cast<char>(c);
      ASSERT_FALSE(parse_hex(bad).has_value()) << "char " << c << " at " << position;
    }
  }
}

}  // namespace
}  // namespace kestrand
