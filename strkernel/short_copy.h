// strkernel/short_copy.h - copies of a few bytes without a library call.
// The texts the character functions move are mostly short; a call to memmove
// with its size dispatch costs more than the copy itself.
#pragma once

#include <cstdint>
#include <cstring>

namespace zeq {

// Copies n bytes, sizeof(T) <= n <= 2 * sizeof(T), as one T from each end;
// both are loaded before either is stored, so the areas may overlap.
template <class T>
inline void copy_ends(char *dst, const char *src, int64_t n) {
  T head, tail;
  std::memcpy(&head, src, sizeof head);
  std::memcpy(&tail, src + n - static_cast<int64_t>(sizeof tail), sizeof tail);
  std::memcpy(dst, &head, sizeof head);
  std::memcpy(dst + n - static_cast<int64_t>(sizeof tail), &tail, sizeof tail);
}

// Copies n >= 0 bytes from src to dst as memmove does (the areas may
// overlap).  Up to 64 bytes are copied inline, every load before the first
// store; longer runs go to memmove.
inline void move_short(char *dst, const char *src, int64_t n) {
  struct B16 {
    char b[16];
  };
  if (n > 64) {
    std::memmove(dst, src, static_cast<size_t>(n));
  } else if (n > 32) {
    // Four 16-byte pieces held in registers (a 32-byte block would go
    // through the stack in the generic build).
    B16 a, b, c, d;
    std::memcpy(&a, src, 16);
    std::memcpy(&b, src + 16, 16);
    std::memcpy(&c, src + n - 32, 16);
    std::memcpy(&d, src + n - 16, 16);
    std::memcpy(dst, &a, 16);
    std::memcpy(dst + 16, &b, 16);
    std::memcpy(dst + n - 32, &c, 16);
    std::memcpy(dst + n - 16, &d, 16);
  } else if (n > 16) {
    copy_ends<B16>(dst, src, n);
  } else if (n >= 8) {
    copy_ends<uint64_t>(dst, src, n);
  } else if (n >= 4) {
    copy_ends<uint32_t>(dst, src, n);
  } else if (n > 0) {
    const char a = src[0], b = src[n / 2], c = src[n - 1];
    dst[0] = a;
    dst[n / 2] = b;
    dst[n - 1] = c;
  }
}

}  // namespace zeq
