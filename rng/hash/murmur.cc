// rng/hash/murmur.cc - MurmurHash3 (Austin Appleby, public domain): the
// x86_32 function over bytes and the x64_128 function over 64-bit words, as
// published, with the constants of the reference code (MurmurHash3.cpp).
// The Mersenne Twister methods key and number their streams with them.
#include <cstring>

#include "core/frame.h"
#include "rng/methods.h"

namespace {

inline uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
inline uint64_t rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

}  // namespace

ZEQ_EXPORT uint32_t zmurmur32(const void *data, int64_t length, uint32_t seed) {
  using zeq::rng::fmix32;
  if (data == nullptr || length < 0) length = 0;
  const auto *bytes = static_cast<const unsigned char *>(data);
  const uint32_t c1 = 0xCC9E2D51u;
  const uint32_t c2 = 0x1B873593u;
  uint32_t h1 = seed;

  // body: four bytes at a time, little-endian
  int64_t nblocks = length / 4;
  for (int64_t i = 0; i < nblocks; ++i) {
    uint32_t k1;
    std::memcpy(&k1, bytes + i * 4, 4);
    k1 *= c1;
    k1 = rotl32(k1, 15);
    k1 *= c2;
    h1 ^= k1;
    h1 = rotl32(h1, 13);
    h1 = h1 * 5 + 0xE6546B64u;
  }

  // tail
  const unsigned char *tail = bytes + nblocks * 4;
  uint32_t k1 = 0;
  switch (length & 3) {
    case 3:
      k1 ^= static_cast<uint32_t>(tail[2]) << 16;
      [[fallthrough]];
    case 2:
      k1 ^= static_cast<uint32_t>(tail[1]) << 8;
      [[fallthrough]];
    case 1:
      k1 ^= tail[0];
      k1 *= c1;
      k1 = rotl32(k1, 15);
      k1 *= c2;
      h1 ^= k1;
  }

  // finalisation
  h1 ^= static_cast<uint32_t>(length);
  return fmix32(h1);
}

ZEQ_EXPORT void zmurmur128(const uint64_t *words, int64_t count, uint64_t seed, uint64_t out[2]) {
  using zeq::rng::fmix64;
  if (out == nullptr) return;
  if (words == nullptr || count < 0) count = 0;
  const uint64_t c1 = 0x87C37B91114253D5ull;
  const uint64_t c2 = 0x4CF5AD432745937Full;
  uint64_t h1 = seed;
  uint64_t h2 = seed;

  // An odd count is completed by one more word, fmix64(seed), so that every
  // block is a pair of words and no tail remains.
  const uint64_t extra = fmix64(seed);
  int64_t padded = count + (count & 1);
  for (int64_t i = 0; i < padded; i += 2) {
    uint64_t k1 = words[i];
    uint64_t k2 = i + 1 < count ? words[i + 1] : extra;

    k1 *= c1;
    k1 = rotl64(k1, 31);
    k1 *= c2;
    h1 ^= k1;
    h1 = rotl64(h1, 27);
    h1 += h2;
    h1 = h1 * 5 + 0x52DCE729u;

    k2 *= c2;
    k2 = rotl64(k2, 33);
    k2 *= c1;
    h2 ^= k2;
    h2 = rotl64(h2, 31);
    h2 += h1;
    h2 = h2 * 5 + 0x38495AB5u;
  }

  const uint64_t len = static_cast<uint64_t>(padded) * 8;
  h1 ^= len;
  h2 ^= len;
  h1 += h2;
  h2 += h1;
  h1 = fmix64(h1);
  h2 = fmix64(h2);
  h1 += h2;
  h2 += h1;
  out[0] = h1;
  out[1] = h2;
}

ZEQ_EXPORT uint64_t zmurmur64(const uint64_t *words, int64_t count, uint64_t seed) {
  uint64_t out[2];
  zmurmur128(words, count, seed, out);
  return out[0] ^ out[1];
}
