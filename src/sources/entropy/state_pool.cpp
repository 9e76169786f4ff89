#include "sources/entropy/state_pool.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrand {
namespace {

constexpr size_t kCacheLine = 64;

size_t page_size() noexcept {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<size_t>(size) : 4096;
}

}  // namespace

size_t StatePool::stride() const noexcept { return (shape_.size + kCacheLine - 1) / kCacheLine * kCacheLine; }

// A state larger than a page gets pages of its own; otherwise as many states
// as fit whole into one page.
size_t StatePool::states_per_mapping() const noexcept {
  return stride() <= page_size() ? page_size() / stride() : 1;
}

size_t StatePool::mapping_length() const noexcept {
  size_t page = page_size();
  return stride() <= page ? page : (stride() + page - 1) / page * page;
}

bool StatePool::add_mapping() noexcept {
  size_t count = states_per_mapping();
  // Room on the free list first: a mapping without it could never be given
  // back. The list of mappings lets a forked child find every state.
  auto* room = static_cast<void**>(std::realloc(free_, (carved_ + count) * sizeof(void*)));
  if (room == nullptr) {
    return false;
  }
  free_ = room;
  auto* starts = static_cast<unsigned char**>(
      std::realloc(mapping_starts_, (mapping_count_ + 1) * sizeof(unsigned char*)));
  if (starts == nullptr) {
    return false;
  }
  mapping_starts_ = starts;
  void* memory = mmap(nullptr, mapping_length(), shape_.mmap_prot, shape_.mmap_flags, -1, 0);
  if (memory == MAP_FAILED) {
    return false;
  }
  next_ = static_cast<unsigned char*>(memory);
  mapping_starts_[mapping_count_] = next_;
  per_mapping_ = count;
  left_ = count;
  carved_ += count;
  ++mapping_count_;
  return true;
}

void* StatePool::take() noexcept {
  std::lock_guard<std::mutex> guard(lock_);
  if (free_count_ > 0) {
    return free_[--free_count_];
  }
  if (shape_.size == 0 || (left_ == 0 && !add_mapping())) {
    return nullptr;
  }
  void* state = next_;
  next_ += stride();
  --left_;
  return state;
}

void StatePool::give_back(void* state) noexcept {
  std::lock_guard<std::mutex> guard(lock_);
  free_[free_count_++] = state;
}

size_t StatePool::mappings() noexcept {
  std::lock_guard<std::mutex> guard(lock_);
  return mapping_count_;
}

size_t StatePool::in_use() noexcept {
  std::lock_guard<std::mutex> guard(lock_);
  return carved_ - left_ - free_count_;
}

void StatePool::keep_only(const void* kept) noexcept {
  size_t per_mapping = per_mapping_;  // sysconf is not for a fork handler
  free_count_ = 0;
  for (size_t m = 0; m < mapping_count_; ++m) {
    // The last mapping is the current one, with `left_` states never handed out.
    size_t handed_out = m + 1 < mapping_count_ ? per_mapping : per_mapping - left_;
    for (size_t i = 0; i < handed_out; ++i) {
      unsigned char* state = mapping_starts_[m] + i * stride();
      if (state != kept) {
        free_[free_count_++] = state;
      }
    }
  }
}

}  // namespace kestrand
