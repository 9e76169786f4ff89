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

bool StatePool::add_mapping() noexcept {
  size_t page = page_size();
  size_t stride_bytes = stride();
  // A state larger than a page gets pages of its own; otherwise as many states
  // as fit whole into one page.
  size_t length = stride_bytes <= page ? page : (stride_bytes + page - 1) / page * page;
  size_t count = stride_bytes <= page ? page / stride_bytes : 1;
  // Room on the free list first: a mapping without it could never be given back.
  auto* room = static_cast<void**>(std::realloc(free_, (carved_ + count) * sizeof(void*)));
  if (room == nullptr) {
    return false;
  }
  free_ = room;
  void* memory = mmap(nullptr, length, shape_.mmap_prot, shape_.mmap_flags, -1, 0);
  if (memory == MAP_FAILED) {
    return false;
  }
  next_ = static_cast<unsigned char*>(memory);
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

}  // namespace kestrand
