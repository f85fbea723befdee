// rng/hw/mh3.h - the MH3 method's state and step: x = fmix64(x), the
// MurmurHash3 finaliser (Austin Appleby, MurmurHash3.cpp) iterated from the
// seed.  fmix64 is a bijection whose only fixed point is 0, which seeding
// never produces.
#pragma once

#include <cstdint>

#include "rng/convert.h"
#include "rng/methods.h"

namespace zeq::rng {

struct Mh3Blob {
  uint64_t x;
};
static_assert(sizeof(Mh3Blob) == 8, "MH3 blob");

struct Mh3Gen {
  static constexpr bool kStateless = false;
  template <bool W>
  ZRNG_INLINE static uint64_t next64(void *b) {
    auto *s = static_cast<Mh3Blob *>(b);
    s->x = fmix64(s->x);
    return s->x;
  }
};

}  // namespace zeq::rng
