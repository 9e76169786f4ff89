// ThreadRng against the ChaCha12 keystream: what it serves, when it refills
// and reseeds, and what a failed seed does. The seed source is a fake that
// hands out seeds the test can predict (request k delivers 32 bytes of value
// k) and fails the requests the test chose.
#include "sources/thread_rng.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "lib/error.hpp"
#include "sources/entropy/os_entropy.hpp"
#include "support/forked_child.hpp"

namespace kestrand {
namespace {

struct FakeSeeds {
  int requests = 0;
  std::set<int> failing;  // request indexes that fail
  int32_t failure = -EIO;
};
FakeSeeds seeds;

int32_t fake_fill(void* out, size_t len) noexcept {
  int index = seeds.requests++;
  if (seeds.failing.count(index) != 0) {
    return seeds.failure;
  }
  std::memset(out, index + 1, len);
  return 0;
}

ChaChaInput key_of_request(int index) {
  ChaChaInput input{};
  uint32_t byte = static_cast<uint32_t>(index + 1);
  for (uint32_t& word : input.key) {
    word = byte * 0x01010101u;
  }
  return input;
}

// The 64-bit draws a generator keyed like request `index` serves from block
// `block` on: the keystream as little-endian words, two at a time, low first.
std::vector<uint64_t> keystream_draws(int index, uint64_t block, size_t count) {
  ChaChaInput input = key_of_request(index);
  input.counter = block;
  std::vector<uint32_t> words;
  while (words.size() < 2 * count) {
    uint32_t run[kChaChaRefillWords];
    chacha_refill_portable(12, input, run);
    words.insert(words.end(), run, run + kChaChaRefillWords);
    input.counter += 4;
  }
  std::vector<uint64_t> draws;
  for (size_t i = 0; i < count; ++i) {
    draws.push_back(words[2 * i] | uint64_t{words[2 * i + 1]} << 32);
  }
  return draws;
}

std::vector<uint64_t> draw(ThreadRng& rng, size_t count) {
  std::vector<uint64_t> out;
  for (size_t i = 0; i < count; ++i) {
    out.push_back(rng.next_u64(fake_fill));
  }
  return out;
}

constexpr size_t kDrawsPerRefill = kChaChaRefillWords / 2;
constexpr size_t kDrawsBeforeReseed = 256 * kDrawsPerRefill;  // 64 KiB of output

class ThreadRngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seeds = FakeSeeds{};
    rng.seed(fake_fill);
  }
  ThreadRng rng;
};

TEST_F(ThreadRngTest, ServesTheKeystreamOfItsCreationSeed) {
  EXPECT_EQ(seeds.requests, 1);
  EXPECT_EQ(draw(rng, 5 * kDrawsPerRefill + 3), keystream_draws(0, 0, 5 * kDrawsPerRefill + 3));
  EXPECT_EQ(rng.cipher().counter, 24u);  // six refills of four blocks
  EXPECT_EQ(rng.cipher().stream, 0u);
}

TEST_F(ThreadRngTest, DrawAtTheLastWordTakesItsHighHalfFromTheNextRefill) {
  std::vector<uint32_t> words;
  for (uint64_t d : keystream_draws(0, 0, 2 * kDrawsPerRefill)) {
    words.push_back(static_cast<uint32_t>(d));
    words.push_back(static_cast<uint32_t>(d >> 32));
  }
  draw(rng, kDrawsPerRefill - 1);  // words 0..61
  rng.skip_word();                 // word 62
  ASSERT_EQ(rng.index(), kChaChaRefillWords - 1);
  EXPECT_EQ(rng.next_u64(fake_fill), words[63] | uint64_t{words[64]} << 32);
  EXPECT_EQ(rng.index(), 1u);
  EXPECT_EQ(rng.next_u64(fake_fill), words[65] | uint64_t{words[66]} << 32);
}

TEST_F(ThreadRngTest, ReseedsAfter64KiBAndThenEvery255Refills) {
  EXPECT_EQ(draw(rng, kDrawsBeforeReseed), keystream_draws(0, 0, kDrawsBeforeReseed));
  EXPECT_EQ(seeds.requests, 1);
  EXPECT_EQ(rng.bytes_until_reseed(), 0);

  EXPECT_EQ(draw(rng, 2 * kDrawsPerRefill), keystream_draws(1, 0, 2 * kDrawsPerRefill));
  EXPECT_EQ(seeds.requests, 2);

  draw(rng, 254 * kDrawsPerRefill);
  EXPECT_EQ(seeds.requests, 2);
  draw(rng, 1);
  EXPECT_EQ(seeds.requests, 3);
}

TEST_F(ThreadRngTest, FailedReseedKeepsTheOldKeyAndRetriesLater) {
  seeds.failing = {1};
  draw(rng, kDrawsBeforeReseed);
  // The refill that should reseed cannot; output goes on from the old key.
  EXPECT_EQ(draw(rng, kDrawsPerRefill), keystream_draws(0, 1024, kDrawsPerRefill));
  EXPECT_EQ(seeds.requests, 2);
  EXPECT_EQ(rng.bytes_until_reseed(), ThreadRng::kReseedThreshold - 256);

  draw(rng, 255 * kDrawsPerRefill);
  EXPECT_EQ(seeds.requests, 2);
  EXPECT_EQ(draw(rng, 1), keystream_draws(2, 0, 1));
  EXPECT_EQ(seeds.requests, 3);
}

TEST(ThreadRngCreation, UnreadableSeedNamesTheSystemError) {
  const struct {
    int32_t code;
    const char* text;
  } cases[] = {
      {-EIO, "Input/output error"},
      {-EAGAIN, "Resource temporarily unavailable"},
      {-12345, "Unknown error 12345"},
      {kEntropyErrnoNotPositive, "errno: did not return a positive value"},
      {kEntropyUnexpected, "unexpected situation"},
  };
  for (const auto& c : cases) {
    seeds = FakeSeeds{};
    seeds.failing = {0};
    seeds.failure = c.code;
    ThreadRng rng;
    try {
      rng.seed(fake_fill);
      ADD_FAILURE() << "no failure for " << c.code;
    } catch (const Panic& failure) {
      EXPECT_EQ(failure.message, std::string("could not initialize thread_rng: ") + c.text);
    }
  }
}

TEST(ThreadRngPerThread, EachThreadHasItsOwnGenerator) {
  std::vector<uint64_t> firsts(4);
  std::vector<std::thread> threads;
  for (uint64_t& first : firsts) {
    threads.emplace_back([&first] { first = thread_rng_u64(); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(std::set<uint64_t>(firsts.begin(), firsts.end()).size(), firsts.size());
}

// Steady threads draw across many refills and a reseed, threads that draw a
// little come and go, and forks are noted all the while (so reseeds come at
// refills in every generator at once): each thread keeps a generator of its
// own, so no 64-bit value comes twice.
TEST(ThreadRngPerThread, ThreadsComingAndGoingAmidNotedForksDrawDistinctValues) {
  constexpr int kSteady = 3;
  constexpr size_t kSteadyDraws = 12'000;  // past the 64 KiB reseed
  constexpr int kPassing = 60;
  constexpr size_t kPassingDraws = 100;
  std::vector<std::vector<uint64_t>> drawn(kSteady + kPassing);
  std::atomic<bool> stop{false};
  std::thread forks([&] {
    while (!stop.load()) {
      note_fork();
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> steady;
  for (int t = 0; t < kSteady; ++t) {
    steady.emplace_back([&drawn, t] {
      for (size_t i = 0; i < kSteadyDraws; ++i) {
        drawn[static_cast<size_t>(t)].push_back(thread_rng_u64());
      }
    });
  }
  for (int t = kSteady; t < kSteady + kPassing; t += 2) {
    std::thread a([&drawn, t] {
      for (size_t i = 0; i < kPassingDraws; ++i) {
        drawn[static_cast<size_t>(t)].push_back(thread_rng_u64());
      }
    });
    std::thread b([&drawn, t] {
      for (size_t i = 0; i < kPassingDraws; ++i) {
        drawn[static_cast<size_t>(t) + 1].push_back(thread_rng_u64());
      }
    });
    a.join();
    b.join();
  }
  for (std::thread& thread : steady) {
    thread.join();
  }
  stop = true;
  forks.join();
  std::set<uint64_t> all;
  size_t count = 0;
  for (const auto& mine : drawn) {
    all.insert(mine.begin(), mine.end());
    count += mine.size();
  }
  EXPECT_EQ(count, kSteady * kSteadyDraws + kPassing * kPassingDraws);
  EXPECT_EQ(all.size(), count);
}

// A thread-local object made before the thread's first draw is destroyed
// after the generator, during the thread's exit; a draw from its destructor
// must fail cleanly instead of using freed state.
struct DrawsAtExit {
  std::string* outcome = nullptr;
  ~DrawsAtExit() {
    try {
      thread_rng_u64();
      *outcome = "drew";
    } catch (const Panic& failure) {
      *outcome = failure.message;
    }
  }
};

TEST(ThreadRngPerThread, DrawAfterTheGeneratorIsGoneFails) {
  std::string outcome;
  std::thread([&outcome] {
    thread_local DrawsAtExit late;
    late.outcome = &outcome;
    thread_rng_u64();
  }).join();
  EXPECT_EQ(outcome, "the thread's random generator is no longer accessible: the thread is exiting");
}

// --- fork() -------------------------------------------------------------------

// The process's generator of the forking thread: the child drops the words
// left in its buffer and reseeds, the parent serves them on, so the two share
// no value (before the child's reset, they shared the rest of the buffer).
TEST(ThreadRngFork, ChildDrawsNoneOfItsParentsBufferedWords) {
  thread_rng_u64();  // the buffer holds 31 more draws
  constexpr size_t kDraws = 3 * kDrawsPerRefill;
  testing::ChildOutcome child = testing::run_in_child(kDraws * 8, [](uint8_t* out) {
    for (size_t i = 0; i < kDraws; ++i) {
      uint64_t value = thread_rng_u64();
      std::memcpy(out + 8 * i, &value, 8);
    }
    return true;
  });
  ASSERT_EQ(child.failure, "");
  std::set<uint64_t> both;
  for (size_t i = 0; i < kDraws; ++i) {
    uint64_t value;
    std::memcpy(&value, child.bytes.data() + 8 * i, 8);
    both.insert(value);
    both.insert(thread_rng_u64());
  }
  EXPECT_EQ(both.size(), 2 * kDraws);
}

// A child whose fresh key cannot be read must not replay its parent's stream,
// which goes on from the same key and block counter: it draws from a stream
// of its own, numbered by its process id.
TEST_F(ThreadRngTest, ChildWhoseReseedFailsDrawsFromAStreamOfItsOwn) {
  draw(rng, 3);
  ThreadRng child = rng;  // as fork() copies it
  note_fork();            // what the child's fork handler does
  child.discard_buffer();
  seeds.failing = {seeds.requests};
  std::vector<uint64_t> drawn = draw(child, 4 * kDrawsPerRefill);
  EXPECT_EQ(seeds.requests, 2);
  EXPECT_EQ(child.cipher().stream, static_cast<uint64_t>(getpid()));
  std::vector<uint64_t> parents = keystream_draws(0, 0, 6 * kDrawsPerRefill);
  std::set<uint64_t> both(parents.begin(), parents.end());
  both.insert(drawn.begin(), drawn.end());
  EXPECT_EQ(both.size(), parents.size() + drawn.size());
}

// Last: a noted fork stays noted for the rest of the process, and every
// generator created afterwards reseeds at its first refill. (CTest runs each
// test in a process of its own.)
TEST_F(ThreadRngTest, ForkIsNoticedAtTheNextRefillOnly) {
  draw(rng, 3);
  note_fork();
  note_fork();
  note_fork();
  // Words already in the buffer are served unchanged...
  std::vector<uint64_t> first_refill = keystream_draws(0, 0, kDrawsPerRefill);
  EXPECT_EQ(draw(rng, kDrawsPerRefill - 3),
            std::vector<uint64_t>(first_refill.begin() + 3, first_refill.end()));
  EXPECT_EQ(seeds.requests, 1);
  // ...and the next refill reseeds, once.
  EXPECT_EQ(draw(rng, 2 * kDrawsPerRefill), keystream_draws(1, 0, 2 * kDrawsPerRefill));
  EXPECT_EQ(seeds.requests, 2);

  ThreadRng fresh;
  fresh.seed(fake_fill);
  EXPECT_EQ(fresh.next_u64(fake_fill), keystream_draws(3, 0, 1)[0]);
  EXPECT_EQ(seeds.requests, 4);
}

}  // namespace
}  // namespace kestrand
