#include "sources/thread_rng.hpp"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "lib/error.hpp"
#include "platform/fork_locks.hpp"
#include "sources/entropy/os_entropy.hpp"

namespace kestrand {
namespace {

// Wraps on overflow; a generator compares it with its snapshot by signed
// distance, so the wrap goes unnoticed.
std::atomic<uintptr_t> fork_counter{0};

void load_key(ChaChaInput& cipher, const uint8_t (&seed)[32]) noexcept {
  for (size_t i = 0; i < 8; ++i) {
    cipher.key[i] = uint32_t{seed[4 * i]} | uint32_t{seed[4 * i + 1]} << 8 |
                    uint32_t{seed[4 * i + 2]} << 16 | uint32_t{seed[4 * i + 3]} << 24;
  }
  cipher.counter = 0;
  cipher.stream = 0;
}

void wipe_bytes(void* data, size_t len) noexcept {
  std::memset(data, 0, len);
  __asm__ __volatile__("" : : "r"(data) : "memory");  // keep the store
}

bool is_valid_utf8(const char* text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    int extra = *p < 0x80 ? 0 : (*p >> 5) == 0x6 ? 1 : (*p >> 4) == 0xE ? 2 : (*p >> 3) == 0x1E ? 3 : -1;
    if (extra < 0) {
      return false;
    }
    ++p;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

std::string thread_rng_error_text(int32_t code) {
  if (code == kEntropyErrnoNotPositive) {
    return "errno: did not return a positive value";
  }
  if (code >= 0) {
    return "unexpected situation";
  }
  int error = -code;
  char buffer[128] = {};
  // The GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  if (text == nullptr || !is_valid_utf8(text)) {
    return "OS Error: " + std::to_string(error);
  }
  return text;
}

void ThreadRng::seed(SeedFill fill) {
  uint8_t seed[32];
  if (int32_t code = fill(seed, sizeof seed); code != 0) {
    panic("could not initialize thread_rng: " + thread_rng_error_text(code));
  }
  load_key(cipher_, seed);
  wipe_bytes(seed, sizeof seed);
  index_ = kChaChaRefillWords;
  bytes_until_reseed_ = kReseedThreshold;
  fork_snapshot_ = 0;
}

void ThreadRng::wipe() noexcept {
  wipe_bytes(this, sizeof *this);
  index_ = kChaChaRefillWords;
}

uint64_t ThreadRng::next_u64_across_refill(SeedFill fill) noexcept {
  if (index_ >= kChaChaRefillWords) {
    refill(fill);
    index_ = 2;
    return buffer_[0] | (uint64_t{buffer_[1]} << 32);
  }
  // The last word of the old buffer is the low half, the first of the new
  // buffer the high half.
  uint64_t low = buffer_[kChaChaRefillWords - 1];
  refill(fill);
  index_ = 1;
  return low | (uint64_t{buffer_[0]} << 32);
}

void ThreadRng::refill(SeedFill fill) noexcept {
  constexpr int64_t kRefillBytes = sizeof buffer_;
  uintptr_t forks = fork_counter.load(std::memory_order_relaxed);
  bool forked = static_cast<intptr_t>(fork_snapshot_ - forks) < 0;
  if (bytes_until_reseed_ <= 0 || forked) {
    uint8_t seed[32];
    if (fill(seed, sizeof seed) == 0) {
      load_key(cipher_, seed);
      wipe_bytes(seed, sizeof seed);
    } else if (forked) {
      // Without a fresh key a child would replay its parent's stream, which
      // goes on from the same key and counter: a stream numbered by the
      // child's process id is one no living relative of it draws from.
      cipher_.stream = static_cast<uint64_t>(getpid());
    }
    fork_snapshot_ = forks;
    bytes_until_reseed_ = kReseedThreshold - kRefillBytes;
  } else {
    bytes_until_reseed_ -= kRefillBytes;
  }
  chacha12_refill(cipher_, buffer_);
  cipher_.counter += kChaChaRefillWords / 16;
}

void note_fork() noexcept { fork_counter.fetch_add(1, std::memory_order_relaxed); }

namespace {

enum class SlotState : uint8_t { absent, alive, destroyed };

// The generator lives on the heap and only its address in thread-local
// storage, which stays a few bytes: the module's thread-locals are
// initial-exec (see sources/entropy/thread_state.hpp), so they all come out
// of the C library's small reserve of static TLS. The slot is trivially
// destructible, so the draw reaches it without a lazy-initialisation check;
// a separate object with a destructor, created with the generator, wipes and
// frees it when the thread exits.
struct ThreadSlot {
  ThreadRng* rng;
  SlotState state;
};
[[gnu::tls_model("initial-exec")]] constinit thread_local ThreadSlot slot{};

struct SlotReaper {
  ~SlotReaper() {
    if (slot.rng != nullptr) {
      slot.rng->wipe();
      delete slot.rng;
      slot.rng = nullptr;
    }
    slot.state = SlotState::destroyed;
  }
};

[[gnu::noinline]] ThreadRng& create_for_thread() {
  if (slot.state == SlotState::destroyed) {
    panic("the thread's random generator is no longer accessible: the thread is exiting");
  }
  // Freed again if seeding fails, so a failed first draw leaves nothing behind.
  auto rng = std::make_unique<ThreadRng>();  // std::bad_alloc: MemoryError
  rng->seed(os_entropy_fill);
  thread_local SlotReaper reaper;
  static_cast<void>(reaper);
  slot.rng = rng.release();
  slot.state = SlotState::alive;
  return *slot.rng;
}

// In the child of a fork, only the forking thread's generator lives on, and
// the words left in its buffer are its parent's next words too: they are
// dropped, and the raised counter makes the next draw reseed.
void forget_parents_words() noexcept {
  note_fork();
  if (slot.state == SlotState::alive) {
    slot.rng->discard_buffer();
  }
}
[[maybe_unused]] const bool reset_listed = reset_in_child(forget_parents_words);

}  // namespace

uint64_t thread_rng_u64() {
  ThreadSlot& own = slot;
  ThreadRng& rng = own.state == SlotState::alive ? *own.rng : create_for_thread();
  return rng.next_u64(os_entropy_fill);
}

}  // namespace kestrand
