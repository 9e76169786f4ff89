// UuidFreeList: up to 1000 memory blocks of freed UUID instances, reused last
// in, first out, so that making and dropping UUIDs in a loop mostly bypasses
// the interpreter's allocator.
//
// Its mutex is the interpreter lock. The interpreter allocates and frees
// objects only with that lock held, and the module never declares that it can
// run without it (a free-threaded interpreter re-enables the lock when it
// imports the module), so every push and pop is already serialised. A lock of
// its own would add two bus-locked instructions to every UUID made and freed,
// a sixth of the cost of UUID(text).
//
// A block on the list holds no reference to the type: the deallocator drops
// the instance's type reference as for any heap type, and reuse takes a new
// one, so the type's reference count stays exact.
//
// The list is declared here, not hidden in its source file, so that the
// generators' allocation (new_uuid_object) inlines its pop.
#pragma once

#include <array>
#include <cstddef>
#include <utility>

#include "lib/error.hpp"

namespace kestrand {

class UuidFreeList {
 public:
  static constexpr size_t kCapacity = 1000;

  // pop: the block freed last, or null when the list is empty.
  void* pop() noexcept {
    if (count_ == 0) [[unlikely]] {
      return nullptr;
    }
    void* block = std::exchange(blocks_[--count_], nullptr);
    if (block == nullptr) [[unlikely]] {
      abort_process("PyObjectFreeList is corrupt");
    }
    return block;
  }

  // push: false when the list is full and the caller must free the block itself.
  bool push(void* block) noexcept {
    if (count_ == kCapacity) {
      return false;
    }
    blocks_[count_++] = block;
    return true;
  }

 private:
  size_t count_ = 0;
  std::array<void*, kCapacity> blocks_{};
};

extern constinit UuidFreeList uuid_free_list;

}  // namespace kestrand
