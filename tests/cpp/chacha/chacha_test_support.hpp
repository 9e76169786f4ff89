// What the ChaCha tests share: the vector variants, the loader of
// chacha_vectors.txt, and the refill output as the bytes it stands for.
#pragma once

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "sources/chacha/chacha_block.hpp"

namespace kestrand {

// For GoogleTest's messages: the variant's name, not its byte.
inline void PrintTo(ChaChaVariant v, std::ostream* os) { *os << chacha_variant_name(v); }

namespace chacha_test {

inline constexpr ChaChaVariant kVectorVariants[] = {
    ChaChaVariant::sse2, ChaChaVariant::ssse3, ChaChaVariant::sse41,
    ChaChaVariant::avx,  ChaChaVariant::avx2,  ChaChaVariant::avx512,
};

// keystream_hex: the refill's words as the little-endian bytes they stand
// for, in lowercase hex, the form chacha_vectors.txt uses.
inline std::string keystream_hex(const uint32_t words[kChaChaRefillWords]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < kChaChaRefillWords; ++i) {
    for (int shift = 0; shift < 32; shift += 8) {
      const uint32_t byte = (words[i] >> shift) & 0xff;
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 0xf];
    }
  }
  return hex;
}

struct VectorCase {
  int line = 0;  // where the case starts in the file
  int rounds = 0;
  ChaChaInput input{};
  std::string keystream;  // 256 bytes in hex
};

namespace detail {

template <typename T>
bool parse_decimal(const std::string& text, T& out) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, out);
  return error == std::errc{} && stop == end;
}

inline bool is_hex(const std::string& text, size_t digits) {
  return text.size() == digits && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Turns one case's fields into a VectorCase; false when a field is missing,
// unknown or malformed (each reported as a test failure).
inline bool build_case(std::map<std::string, std::string> fields, VectorCase& c) {
  bool ok = true;
  const auto take = [&](const char* name) {
    const auto it = fields.find(name);
    if (it == fields.end()) {
      ADD_FAILURE() << "case at line " << c.line << ": no " << name;
      ok = false;
      return std::string();
    }
    std::string value = it->second;
    fields.erase(it);
    return value;
  };
  const auto check = [&](bool good, const char* name) {
    if (!good) {
      ADD_FAILURE() << "case at line " << c.line << ": bad " << name;
      ok = false;
    }
  };

  check(parse_decimal(take("ROUNDS"), c.rounds), "ROUNDS");
  const std::string key = take("KEY");
  check(is_hex(key, 64), "KEY");
  if (is_hex(key, 64)) {
    for (size_t i = 0; i < 32; ++i) {  // bytes to little-endian words
      const auto byte = static_cast<uint32_t>(std::stoul(key.substr(2 * i, 2), nullptr, 16));
      c.input.key[i / 4] |= byte << (8 * (i % 4));
    }
  }
  check(parse_decimal(take("COUNTER"), c.input.counter), "COUNTER");
  check(parse_decimal(take("STREAM"), c.input.stream), "STREAM");
  c.keystream = take("KEYSTREAM");
  check(is_hex(c.keystream, 2 * 4 * kChaChaRefillWords), "KEYSTREAM");
  for (const auto& [name, value] : fields) {
    ADD_FAILURE() << "case at line " << c.line << ": unknown field " << name;
    ok = false;
  }
  return ok;
}

}  // namespace detail

// load_vectors: every case in chacha_vectors.txt: "NAME = value" lines, a
// blank line between cases, '#' comments. A line it cannot read, a repeated,
// missing or unknown field fails the calling test, as does a missing file.
inline std::vector<VectorCase> load_vectors() {
  const std::string path = std::string(KESTRAND_TEST_DATA_DIR) + "/chacha_vectors.txt";
  std::ifstream file(path);
  if (!file) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  std::vector<VectorCase> cases;
  std::map<std::string, std::string> fields;
  int line_no = 0;
  int case_line = 0;
  const auto close_case = [&] {
    VectorCase c;
    c.line = case_line;
    if (!fields.empty() && detail::build_case(fields, c)) {
      cases.push_back(c);
    }
    fields.clear();
  };
  std::string line;
  while (std::getline(file, line)) {
    ++line_no;
    if (line.empty()) {
      close_case();
      continue;
    }
    if (line[0] == '#') {
      continue;
    }
    const size_t eq = line.find(" = ");
    if (eq == std::string::npos) {
      ADD_FAILURE() << path << ":" << line_no << ": not NAME = value";
      continue;
    }
    if (fields.empty()) {
      case_line = line_no;
    }
    if (!fields.emplace(line.substr(0, eq), line.substr(eq + 3)).second) {
      ADD_FAILURE() << path << ":" << line_no << ": repeated field";
    }
  }
  close_case();
  return cases;
}

}  // namespace chacha_test
}  // namespace kestrand
