// rng/pcg/pcg.cc - the methods PCG32I and PCG64I: seeding, keys and
// builders.  A seed s starts the state at s + 1 with increment 1; a key k
// replaces the increment by 2k + 1 and moves the state by 2k, so a keyed
// stream starts from s + 1 + 2k.  There is no thread slot of its own: the
// stream engine folds thread numbers into the key.
#include "rng/pcg/pcg.h"

#include "core/frame.h"
#include "rng/convert.h"
#include "rng/methods.h"
#include "rng/state.h"

namespace zeq::rng {
namespace {

template <class Blob, class T>
void pcg_seed(void *p, T s) {
  auto *b = static_cast<Blob *>(p);
  b->state = static_cast<T>(s + 1);
  b->inc = 1;
}

template <class Blob, class T>
void pcg_key(void *p, T k) {
  auto *b = static_cast<Blob *>(p);
  b->inc = static_cast<T>(2 * k + 1);
  b->state = static_cast<T>(b->state + 2 * k);
}

// --- PCG32I -------------------------------------------------------------------
int32_t p32_seed32(void *b, uint32_t s) {
  if (b) pcg_seed<Pcg32Blob, uint32_t>(b, s == 0 ? fresh_seed32() : s);
  return 0;
}
int32_t p32_seed64(void *b, uint64_t s) {
  if (b) pcg_seed<Pcg32Blob, uint32_t>(b, fold_seed64(s));
  return 0;
}
int32_t p32_seedd(void *b, double x) {
  if (b) pcg_seed<Pcg32Blob, uint32_t>(b, seed32_from_double(x));
  return 0;
}
int32_t p32_key32(void *b, uint32_t k) {
  if (b && k != 0) pcg_key<Pcg32Blob, uint32_t>(b, k);
  return 0;
}
int32_t p32_key64(void *b, uint64_t k) { return p32_key32(b, static_cast<uint32_t>(k)); }
int32_t p32_keyd(void *b, double k) {
  if (k != k || k == 0.0) return 0;
  return p32_key32(b, static_cast<uint32_t>(key_remainder(k, 32)));
}

// --- PCG64I -------------------------------------------------------------------
int32_t p64_seed32(void *b, uint32_t s) {
  if (b) pcg_seed<Pcg64Blob, uint64_t>(b, s == 0 ? fresh_seed64() : s);
  return 0;
}
int32_t p64_seed64(void *b, uint64_t s) {
  if (b) pcg_seed<Pcg64Blob, uint64_t>(b, s == 0 ? fresh_seed64() : s);
  return 0;
}
int32_t p64_seedd(void *b, double x) {
  if (b) pcg_seed<Pcg64Blob, uint64_t>(b, seed64_from_double(x));
  return 0;
}
int32_t p64_key64(void *b, uint64_t k) {
  if (b && k != 0) pcg_key<Pcg64Blob, uint64_t>(b, k);
  return 0;
}
int32_t p64_key32(void *b, uint32_t k) { return p64_key64(b, k); }
int32_t p64_keyd(void *b, double k) {
  if (k != k || k == 0.0) return 0;
  return p64_key64(b, key_remainder(k, 64));
}

constexpr char kPCG32I[] = "PCG32I";
constexpr char kPCG64I[] = "PCG64I";

}  // namespace
}  // namespace zeq::rng

using namespace zeq::rng;

ZEQ_EXPORT void zrnfPCG32I(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kPCG32I>(4, 0xFFFFFFFFull, 0x7FFFFFFFull));
  place_housekeeping<kPCG32I, static_cast<int64_t>(sizeof(Pcg32Blob)), 4>(d);
  d->seed_32 = &p32_seed32;
  d->seed_64 = &p32_seed64;
  d->seed_double = &p32_seedd;
  d->key_32 = &p32_key32;
  d->key_64 = &p32_key64;
  d->key_double = &p32_keyd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  fill_conversions32<Pcg32Gen>(d);
}

ZEQ_EXPORT void zrnfPCG64I(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kPCG64I>(8, ~0ull, 0x7FFFFFFFFFFFFFFFull));
  place_housekeeping<kPCG64I, static_cast<int64_t>(sizeof(Pcg64Blob)), 8>(d);
  d->seed_32 = &p64_seed32;
  d->seed_64 = &p64_seed64;
  d->seed_double = &p64_seedd;
  d->key_32 = &p64_key32;
  d->key_64 = &p64_key64;
  d->key_double = &p64_keyd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  fill_conversions64<Pcg64Gen>(d);
}
