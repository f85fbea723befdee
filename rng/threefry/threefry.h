// rng/threefry/threefry.h - the Threefry block functions of J. K. Salmon,
// M. A. Moraes, R. O. Dror and D. E. Shaw, "Parallel random numbers: as easy
// as 1, 2, 3" (SC11), as published in Random123 1.x: Threefry-2x32-20,
// Threefry-2x64-20 and Threefry-4x64-20.  The rotation constants are those of
// the paper (found there by a search for the best diffusion); the key-
// schedule parity constant is 0x1BD11BDA (32-bit words) or
// 0x1BD11BDAA9FC1A22 (64-bit words).
//
// A stream encrypts a counter with its key and hands the block out word by
// word from a buffer; the counter is incremented after the last word.
#pragma once

#include <cstdint>

#include "rng/convert.h"

namespace zeq::rng {

template <int W, class T>
struct FryBlob {
  T ctr[W];    // counter, ctr[0] least significant
  T key[W];
  T buf[W];    // block of the current counter
  T index;     // next word of buf; 0: compute the block first
};
using Fry2x32Blob = FryBlob<2, uint32_t>;
using Fry2x64Blob = FryBlob<2, uint64_t>;
using Fry4x64Blob = FryBlob<4, uint64_t>;
static_assert(sizeof(Fry2x32Blob) == 28, "FRY2X32 blob");
static_assert(sizeof(Fry2x64Blob) == 56, "FRY2X64 blob");
static_assert(sizeof(Fry4x64Blob) == 104, "FRY4X64 blob");

template <class T>
ZRNG_INLINE T fry_rotl(T x, int r) {
  constexpr int kBits = static_cast<int>(sizeof(T) * 8);
  return (x << r) | (x >> (kBits - r));
}

template <class T>
inline constexpr T kFryParity = static_cast<T>(0x1BD11BDAA9FC1A22ull);
template <>
inline constexpr uint32_t kFryParity<uint32_t> = 0x1BD11BDAu;

inline constexpr int kFry2x32Rot[8] = {13, 15, 26, 6, 17, 29, 16, 24};
inline constexpr int kFry2x64Rot[8] = {16, 42, 12, 31, 16, 32, 24, 21};
inline constexpr int kFry4x64Rot[8][2] = {{14, 16}, {52, 57}, {23, 40}, {5, 37},
                                          {25, 33}, {46, 12}, {58, 22}, {32, 32}};

// 20 rounds with a key injection after every fourth; fully unrolled (the
// round and injection indexes fold into constants).
template <class T>
ZRNG_INLINE void threefry2_R(const int (&rot)[8], const T *ctr, const T *key, T *out) {
  const T ks[3] = {key[0], key[1], static_cast<T>(kFryParity<T> ^ key[0] ^ key[1])};
  T x0 = ctr[0] + ks[0];
  T x1 = ctr[1] + ks[1];
#pragma GCC unroll 20
  for (int r = 0; r < 20; ++r) {
    x0 += x1;
    x1 = fry_rotl(x1, rot[r % 8]) ^ x0;
    if (r % 4 == 3) {
      const int s = (r + 1) / 4;
      x0 += ks[s % 3];
      x1 += ks[(s + 1) % 3] + static_cast<T>(s);
    }
  }
  out[0] = x0;
  out[1] = x1;
}

ZRNG_INLINE void threefry2x32_R(const uint32_t *ctr, const uint32_t *key, uint32_t *out) {
  threefry2_R<uint32_t>(kFry2x32Rot, ctr, key, out);
}
ZRNG_INLINE void threefry2x64_R(const uint64_t *ctr, const uint64_t *key, uint64_t *out) {
  threefry2_R<uint64_t>(kFry2x64Rot, ctr, key, out);
}

ZRNG_INLINE void threefry4x64_R(const uint64_t *ctr, const uint64_t *key, uint64_t *out) {
  const uint64_t ks[5] = {key[0], key[1], key[2], key[3],
                          kFryParity<uint64_t> ^ key[0] ^ key[1] ^ key[2] ^ key[3]};
  // Four scalars rather than an array: an array would be copied out of the
  // stack with vector loads that stall on store forwarding.
  uint64_t x0 = ctr[0] + ks[0];
  uint64_t x1 = ctr[1] + ks[1];
  uint64_t x2 = ctr[2] + ks[2];
  uint64_t x3 = ctr[3] + ks[3];
#pragma GCC unroll 20
  for (int r = 0; r < 20; ++r) {
    const int *rot = kFry4x64Rot[r % 8];
    if (r % 2 == 0) {
      x0 += x1;
      x1 = fry_rotl(x1, rot[0]) ^ x0;
      x2 += x3;
      x3 = fry_rotl(x3, rot[1]) ^ x2;
    } else {
      x0 += x3;
      x3 = fry_rotl(x3, rot[0]) ^ x0;
      x2 += x1;
      x1 = fry_rotl(x1, rot[1]) ^ x2;
    }
    if (r % 4 == 3) {
      const int s = (r + 1) / 4;
      x0 += ks[s % 5];
      x1 += ks[(s + 1) % 5];
      x2 += ks[(s + 2) % 5];
      x3 += ks[(s + 3) % 5] + static_cast<uint64_t>(s);
    }
  }
  out[0] = x0;
  out[1] = x1;
  out[2] = x2;
  out[3] = x3;
}

template <int W, class T>
ZRNG_INLINE void fry_block(const T *ctr, const T *key, T *out) {
  if constexpr (W == 4) threefry4x64_R(ctr, key, out);
  else if constexpr (sizeof(T) == 4) threefry2x32_R(ctr, key, out);
  else threefry2x64_R(ctr, key, out);
}

// The counter as one multi-word number; a carry out of the top word is lost.
template <int W, class T>
ZRNG_INLINE void fry_increment(T *ctr) {
  for (int j = 0; j < W; ++j)
    if (++ctr[j] != 0) break;
}

// One output word.  An index of 0 (or out of range, as a loaded state may
// leave it) computes the block of the current counter and delivers its first
// word; the other indexes deliver the next word of the buffered block.  The
// index is read with a plain load, so that the previous draw's store reaches
// it at once.
template <int W, class T>
ZRNG_INLINE T fry_next(FryBlob<W, T> *b) {
  T i = load_plain(b->index);
  if (i == 0 || i >= static_cast<T>(W)) {
    fry_block<W, T>(b->ctr, b->key, b->buf);
    b->index = 1;
    return b->buf[0];
  }
  T out = b->buf[i++];
  if (i == static_cast<T>(W)) {
    i = 0;
    fry_increment<W, T>(b->ctr);
  }
  b->index = i;
  return out;
}

// Positions the stream so that output word a (counted from counter value 0
// of the current high counter words) comes next.
template <int W, class T>
ZRNG_INLINE void fry_position(FryBlob<W, T> *b, T a) {
  b->ctr[0] = a / static_cast<T>(W);
  b->index = a % static_cast<T>(W);
  if (b->index != 0) fry_block<W, T>(b->ctr, b->key, b->buf);
}

template <int W, class T>
struct FryGen {
  static constexpr bool kStateless = false;
  template <bool Wide>
  ZRNG_INLINE static uint32_t next32(void *b) {
    return static_cast<uint32_t>(fry_next<W, T>(static_cast<FryBlob<W, T> *>(b)));
  }
  template <bool Wide>
  ZRNG_INLINE static uint64_t next64(void *b) {
    return fry_next<W, T>(static_cast<FryBlob<W, T> *>(b));
  }
};

}  // namespace zeq::rng
