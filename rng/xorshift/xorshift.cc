// rng/xorshift/xorshift.cc - the methods XOR64, XOR128, XOR1024, XOR4096 and
// XORGENS: seeding and builders.  None takes a key or a thread number; their
// key and thread slots accept and ignore.
//
// Seeding spreads one 64-bit seed S over the word array: word 0 is S, word k
// is fmix64(S + k), so no seeded array is all zero.  XORGENS follows Brent's
// own initialisation (a warm-up of the seed, the Weyl sequence, and 4r steps
// of the recurrence to discard the start).
#include "rng/xorshift/xorshift.h"

#include "core/frame.h"
#include "rng/convert.h"
#include "rng/methods.h"
#include "rng/state.h"

namespace zeq::rng {
namespace {

void fill_xor64(void *b, uint64_t s) { static_cast<Xor64Blob *>(b)->s = s; }

void fill_xor128(void *b, uint64_t s) {
  auto *x = static_cast<Xor128Blob *>(b);
  x->s[0] = s;
  x->s[1] = fmix64(s + 1);
}

template <class Blob, int N>
void fill_spread(void *b, uint64_t s) {
  auto *x = static_cast<Blob *>(b);
  x->s[0] = s;
  for (int k = 1; k < N; ++k) x->s[k] = fmix64(s + static_cast<uint64_t>(k));
  x->p = 0;
}

inline uint64_t xorgens_warm(uint64_t v) {
  v ^= v << 10;
  v ^= v >> 15;
  v ^= v << 4;
  v ^= v >> 13;
  return v;
}

void fill_xorgens(void *b, uint64_t s) {
  auto *g = static_cast<XorgensBlob *>(b);
  uint64_t v = s;
  for (int k = 0; k < 64; ++k) v = xorgens_warm(v);
  uint64_t weyl = v;
  for (int k = 0; k < 64; ++k) {
    v = xorgens_warm(v);
    weyl += kXorgensWeyl;
    g->x[k] = v + weyl;
  }
  uint32_t i = 63;
  for (int k = 0; k < 4 * 64; ++k) {
    i = (i + 1) & 63;
    xorgens_mix(g->x, i);
  }
  g->i = static_cast<int32_t>(i);
  g->w = weyl;
}

using Fill = void (*)(void *, uint64_t);

template <Fill F>
int32_t seed32(void *b, uint32_t s) {
  if (b != nullptr) F(b, s == 0 ? fresh_seed64() : s);
  return 0;
}
template <Fill F>
int32_t seed64(void *b, uint64_t s) {
  if (b != nullptr) F(b, s == 0 ? fresh_seed64() : s);
  return 0;
}
template <Fill F>
int32_t seedd(void *b, double x) {
  if (b != nullptr) F(b, seed64_from_double(x));
  return 0;
}

constexpr char kXOR64[] = "XOR64";
constexpr char kXOR128[] = "XOR128";
constexpr char kXOR1024[] = "XOR1024";
constexpr char kXOR4096[] = "XOR4096";
constexpr char kXORGENS[] = "XORGENS";

template <const char *Name, class Blob, uint64_t S, class G, Fill F>
void build_xor(zrng_desc *d) {
  build_common(d, facts_of<Name>(S, ~0ull, 0));
  place_housekeeping<Name, static_cast<int64_t>(sizeof(Blob)), S>(d);
  d->seed_32 = &seed32<F>;
  d->seed_64 = &seed64<F>;
  d->seed_double = &seedd<F>;
  d->key_32 = &ignore_set32;
  d->key_64 = &ignore_set64;
  d->key_double = &ignore_setd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  fill_conversions64<G>(d);
}

}  // namespace
}  // namespace zeq::rng

using namespace zeq::rng;

ZEQ_EXPORT void zrnfXOR64(zrng_desc *d) {
  if (d) build_xor<kXOR64, Xor64Blob, 8, Xor64Gen, fill_xor64>(d);
}

ZEQ_EXPORT void zrnfXOR128(zrng_desc *d) {
  if (d) build_xor<kXOR128, Xor128Blob, 16, Xor128Gen, fill_xor128>(d);
}

ZEQ_EXPORT void zrnfXOR1024(zrng_desc *d) {
  if (d) build_xor<kXOR1024, Xor1024Blob, 128, Xor1024Gen, fill_spread<Xor1024Blob, 16>>(d);
}

ZEQ_EXPORT void zrnfXOR4096(zrng_desc *d) {
  if (d) build_xor<kXOR4096, Xor4096Blob, 512, Xor4096Gen, fill_spread<Xor4096Blob, 64>>(d);
}

// XORGENS has no loadable state (state_bytes 0): its zrng_state refuses.
ZEQ_EXPORT void zrnfXORGENS(zrng_desc *d) {
  if (d) build_xor<kXORGENS, XorgensBlob, 0, XorgensGen, fill_xorgens>(d);
}
