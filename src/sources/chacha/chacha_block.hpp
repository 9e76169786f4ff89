// The ChaCha block function behind the per-thread generator's refills.
//
// ChaCha as in RFC 8439, except the last four words of the block:
//   words  0..3   "expand 32-byte k" as four little-endian words
//   words  4..11  the 256-bit key
//   words 12..13  a 64-bit block counter, low word first
//   words 14..15  a 64-bit stream number, low word first
// A block's output is the words after the rounds plus the input words, each
// mod 2^32. A refill is four consecutive blocks, counters c, c+1, c+2, c+3
// (mod 2^64: the carry goes into word 13 and wraps at 2^64), written to 64
// words in that order.
//
// The portable function is the definition; every vector variant gives the same
// 64 words for every input.
//
// Instruction sets: each variant is one file, chacha_<isa>.cpp, compiled with
// its own -m flags (CMakeLists.txt) and run only after the run-time check in
// chacha_dispatch.cpp. We chose per-file flags over target attributes so the
// kernels read as plain intrinsics code; the price is that a variant file must
// be hermetic. Any inline function or template with external linkage it
// instantiated (from the standard library, say) would be compiled with the
// wider flags, and the linker may keep that copy for the whole program, which
// then dies with an illegal instruction on an older processor. So a variant
// file includes only <cstdint>, <cstddef>, <immintrin.h>, this header and the
// layout it is built on (chacha_four_lanes.hpp or chacha_ymm_rows.hpp, which
// keep to the same includes and put all their code in an unnamed namespace),
// and keeps all its helpers in an unnamed namespace; and this header declares
// plain functions and types only, no inline code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrand {

struct ChaChaInput {
  uint32_t key[8];
  uint64_t counter;
  uint64_t stream;
};

inline constexpr size_t kChaChaRefillWords = 64;

enum class ChaChaVariant : uint8_t { portable, sse2, ssse3, sse41, avx, avx2, avx512 };

// chacha12_refill: the production refill, 12 rounds, with the variant chosen
// once per process for this processor (chacha_selected_variant). Never fails.
void chacha12_refill(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept;

// chacha12_refill_with: the refill with the given variant, for tests and the
// benchmark. The caller checks chacha_variant_available first: an unavailable
// variant may stop the process with an illegal instruction. A value outside
// the enum runs the portable function.
void chacha12_refill_with(ChaChaVariant v, const ChaChaInput& in,
                          uint32_t out[kChaChaRefillWords]) noexcept;

// chacha_variant_available: whether this build has the variant and this
// processor (and OS) can run it. The portable one is always available.
bool chacha_variant_available(ChaChaVariant v) noexcept;

// chacha_selected_variant: the variant chacha12_refill uses, chosen on first
// use of either function from cpu_features().
ChaChaVariant chacha_selected_variant() noexcept;

// chacha_variant_name: "portable", "sse2", ..., "avx512"; "unknown" outside
// the enum.
const char* chacha_variant_name(ChaChaVariant v) noexcept;

// chacha_refill_portable: the scalar reference with any round count (8, 12
// and 20 are the published ones; an odd count ends on a column round).
void chacha_refill_portable(int rounds, const ChaChaInput& in,
                            uint32_t out[kChaChaRefillWords]) noexcept;

// The 12-round vector variants, one per chacha_<isa>.cpp, for the dispatcher
// (callers use chacha12_refill_with). Built on x86-64 only, each file with
// its extension (CMakeLists.txt); the SSE4.1 tier runs refill_ssse3.
namespace chacha_detail {

void refill_sse2(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept;
void refill_ssse3(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept;
void refill_avx(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept;
void refill_avx2(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept;
void refill_avx512(const ChaChaInput& in, uint32_t out[kChaChaRefillWords]) noexcept;

}  // namespace chacha_detail

}  // namespace kestrand
