// ThreadRng: a fast per-thread generator, ChaCha with 12 rounds keyed from the
// operating system. It serves the random node of uuid_v1mc, where a system
// call per value would cost more than everything else in the call.
//
// Output is read from a buffer of four ChaCha blocks (64 words), refilled when
// used up. The key is replaced with fresh OS bytes after every 64 KiB of
// output. A reseed that fails is not an error: the old key keeps going and
// the next attempt comes 64 KiB later.
//
// Threads: each thread's generator is thread-local, touched by that thread
// alone and wiped when it exits. The one shared word is the fork counter, an
// atomic that the child's fork handler raises and every refill reads.
// Fork: no lock is held, and the parent goes on unchanged. In the child, the
// forking thread's generator (the only one left) drops the words in its
// buffer, and its next draw refills with a fresh key. If that key cannot be
// read, the child draws from a stream of its own (its process id in the
// nonce) rather than replay its parent's, until a reseed 64 KiB later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sources/chacha/chacha_block.hpp"

namespace kestrand {

class ThreadRng {
 public:
  // Where seeds come from: os_entropy_fill in the module, a fake in tests.
  // Returns 0 or an OsEntropy error code.
  using SeedFill = int32_t (*)(void* out, size_t out_len) noexcept;

  static constexpr int64_t kReseedThreshold = 65536;  // bytes

  // seed: the creation seed; an internal failure
  // "could not initialize thread_rng: <text>" when it cannot be read.
  void seed(SeedFill fill);

  // next_u64: two words, low word first; refills (and reseeds) as needed.
  uint64_t next_u64(SeedFill fill) noexcept {
    if (index_ < kChaChaRefillWords - 1) [[likely]] {
      uint64_t value = buffer_[index_] | (uint64_t{buffer_[index_ + 1]} << 32);
      index_ += 2;
      return value;
    }
    return next_u64_across_refill(fill);
  }

  // wipe: forgets the key and the unread output.
  void wipe() noexcept;

  // discard_buffer: the next draw refills. Async-signal-safe.
  void discard_buffer() noexcept { index_ = kChaChaRefillWords; }

  // For tests. skip_word steps over one word, as a 32-bit draw would, so a
  // test can reach a draw that straddles two refills.
  void skip_word() noexcept { ++index_; }
  const ChaChaInput& cipher() const noexcept { return cipher_; }
  size_t index() const noexcept { return index_; }
  int64_t bytes_until_reseed() const noexcept { return bytes_until_reseed_; }

 private:
  uint64_t next_u64_across_refill(SeedFill fill) noexcept;
  void refill(SeedFill fill) noexcept;

  uint32_t buffer_[kChaChaRefillWords];
  size_t index_;
  ChaChaInput cipher_;
  int64_t bytes_until_reseed_;
  uintptr_t fork_snapshot_;
};

// thread_rng_error_text: the text after "could not initialize thread_rng: "
// for an OsEntropy error code: the system's description of the errno.
std::string thread_rng_error_text(int32_t code);

// note_fork: raises the fork counter, as the child's fork handler does; every
// generator reseeds at its next refill. Exposed for tests.
void note_fork() noexcept;

// thread_rng_u64: the calling thread's generator, created on its first draw.
// Internal failures: the creation seed cannot be read, or the thread is
// exiting and its generator is gone.
uint64_t thread_rng_u64();

}  // namespace kestrand
