// ns per 256-byte ChaCha12 refill (four blocks) for each variant this machine
// runs, and each one's speed-up over the portable reference.
//
// Build and run (Release, from the repository root):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRAND_BUILD_BENCH=ON
//   cmake --build build/bench --target kestrand_chacha_bench
//   build/bench/kestrand_chacha_bench          # about 2 s per variant
//   build/bench/kestrand_chacha_bench --quick  # a few tenths of a second in all, rougher
// (add -DPython_EXECUTABLE=... to the first command to build against a given
// interpreter, as tests/run_all.sh does; the benchmark itself does not use it.)
//
// Each variant runs in rounds of back-to-back refills with the counter
// advancing as the generator's would; a round's ns per refill is its time over
// its count, and the best of the rounds is reported, the one least disturbed
// by the rest of the machine. The "dispatched" row is chacha12_refill itself,
// with the variant it picked.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sources/chacha/chacha_block.hpp"

namespace {

using kestrand::ChaChaInput;
using kestrand::ChaChaVariant;
using Clock = std::chrono::steady_clock;

constexpr ChaChaVariant kAll[] = {
    ChaChaVariant::portable, ChaChaVariant::sse2, ChaChaVariant::ssse3, ChaChaVariant::sse41,
    ChaChaVariant::avx,      ChaChaVariant::avx2, ChaChaVariant::avx512};

volatile uint32_t sink;  // keeps every refill's output observable

// ns_per_refill: the best round's time per refill of `refill` over `rounds`
// rounds of `per_round` refills each.
template <typename Refill>
double ns_per_refill(Refill refill, int rounds, int per_round) {
  ChaChaInput in{};
  for (uint32_t i = 0; i < 8; ++i) {
    in.key[i] = 0x9e3779b9u * (i + 1);
  }
  in.stream = 7;
  alignas(64) uint32_t out[kestrand::kChaChaRefillWords];
  uint32_t acc = 0;
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    const auto start = Clock::now();
    for (int i = 0; i < per_round; ++i) {
      refill(in, out);
      in.counter += 4;
      acc ^= out[0] ^ out[kestrand::kChaChaRefillWords - 1];
    }
    const std::chrono::duration<double, std::nano> took = Clock::now() - start;
    const double ns = took.count() / per_round;
    best = ns < best ? ns : best;
  }
  sink = acc;
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int rounds = quick ? 3 : 20;
  const int per_round = quick ? 20000 : 200000;

  std::printf("ChaCha12 refill (4 blocks, 256 bytes): best of %d rounds of %d refills\n\n", rounds,
              per_round);
  std::printf("%-22s %12s %10s %10s\n", "variant", "ns/refill", "GB/s", "speed-up");

  double portable_ns = 0;
  const auto report = [&](const char* name, double ns) {
    if (portable_ns == 0) {
      portable_ns = ns;
    }
    std::printf("%-22s %12.1f %10.2f %9.2fx\n", name, ns, 256.0 / ns, portable_ns / ns);
  };
  for (ChaChaVariant v : kAll) {
    if (!kestrand::chacha_variant_available(v)) {
      std::printf("%-22s %12s\n", kestrand::chacha_variant_name(v), "(not on this machine)");
      continue;
    }
    report(kestrand::chacha_variant_name(v),
           ns_per_refill([v](const ChaChaInput& in,
                             uint32_t* out) { kestrand::chacha12_refill_with(v, in, out); },
                         rounds, per_round));
  }
  char dispatched[40];
  std::snprintf(dispatched, sizeof dispatched, "dispatched (%s)",
                kestrand::chacha_variant_name(kestrand::chacha_selected_variant()));
  report(dispatched, ns_per_refill(kestrand::chacha12_refill, rounds, per_round));
  return 0;
}
