// FillCursor: how far a fill loop has come in the caller's buffer. Both paths
// to the kernel continue short reads the same way and refuse a reply of more
// bytes than were asked for.
#pragma once

#include <cstddef>

namespace kestrand {

struct FillCursor {
  unsigned char* position;
  size_t remaining;

  // advance: takes `got` (> 0) bytes as delivered; false if more than remained.
  bool advance(size_t got) noexcept {
    if (got > remaining) {
      return false;
    }
    position += got;
    remaining -= got;
    return true;
  }
};

}  // namespace kestrand
