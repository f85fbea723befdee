// rng/threefry/threefry.cc - the counter-based methods FRY2X32, FRY2X64 and
// FRY4X64: seeding, keys, thread numbers, positioning and builders.
//
// A seed S becomes the key (S, fmix(S + 1), ...) and the counter starts at 1.
// A key is mixed into key word 1.  A thread number takes its own counter
// range in the two-word methods (it replaces the high counter word) and its
// own key word 2 in FRY4X64.
#include "rng/threefry/threefry.h"

#include "core/frame.h"
#include "rng/convert.h"
#include "rng/methods.h"
#include "rng/state.h"

namespace zeq::rng {
namespace {

template <int W, class T>
void fry_start(FryBlob<W, T> *b) {
  for (int j = 0; j < W; ++j) {
    b->ctr[j] = 0;
    b->buf[j] = 0;
  }
  b->ctr[0] = 1;
  b->index = 0;
}

// --- FRY2X32 ------------------------------------------------------------------

void seed2x32(void *p, uint32_t s) {
  auto *b = static_cast<Fry2x32Blob *>(p);
  b->key[0] = s;
  b->key[1] = fmix32(s + 1);
  fry_start(b);
}
int32_t f32_seed32(void *b, uint32_t s) {
  if (b) seed2x32(b, s == 0 ? fresh_seed32() : s);
  return 0;
}
int32_t f32_seed64(void *b, uint64_t s) {
  if (b) seed2x32(b, fold_seed64(s));
  return 0;
}
int32_t f32_seedd(void *b, double x) {
  if (b) seed2x32(b, seed32_from_double(x));
  return 0;
}
int32_t f32_key32(void *b, uint32_t k) {
  if (b && k != 0) static_cast<Fry2x32Blob *>(b)->key[1] ^= fmix32(k);
  return 0;
}
int32_t f32_key64(void *b, uint64_t k) { return f32_key32(b, static_cast<uint32_t>(k)); }
int32_t f32_keyd(void *b, double k) {
  if (k != k || k == 0.0) return 0;
  return f32_key32(b, static_cast<uint32_t>(key_remainder(k, 32)));
}
int32_t f32_thread32(void *b, uint32_t t) {
  if (b && t != 0) static_cast<Fry2x32Blob *>(b)->ctr[1] = fmix32(t);
  return 0;
}
int32_t f32_thread64(void *b, uint64_t t) { return f32_thread32(b, static_cast<uint32_t>(t)); }

int32_t f32_count_generic(void *b, uint32_t a) {
  if (b) fry_position<2, uint32_t>(static_cast<Fry2x32Blob *>(b), a);
  return 0;
}
ZRNG_WIDE_TARGET int32_t f32_count_wide(void *b, uint32_t a) {
  if (b) fry_position<2, uint32_t>(static_cast<Fry2x32Blob *>(b), a);
  return 0;
}

// --- FRY2X64 and FRY4X64 ------------------------------------------------------

template <int W>
void seed64w(void *p, uint64_t s) {
  auto *b = static_cast<FryBlob<W, uint64_t> *>(p);
  b->key[0] = s;
  for (int j = 1; j < W; ++j) b->key[j] = fmix64(s + static_cast<uint64_t>(j));
  fry_start(b);
}
template <int W>
int32_t f64_seed32(void *b, uint32_t s) {
  if (b) seed64w<W>(b, s == 0 ? fresh_seed64() : s);
  return 0;
}
template <int W>
int32_t f64_seed64(void *b, uint64_t s) {
  if (b) seed64w<W>(b, s == 0 ? fresh_seed64() : s);
  return 0;
}
template <int W>
int32_t f64_seedd(void *b, double x) {
  if (b) seed64w<W>(b, seed64_from_double(x));
  return 0;
}
template <int W>
int32_t f64_key64(void *b, uint64_t k) {
  if (b && k != 0) static_cast<FryBlob<W, uint64_t> *>(b)->key[1] ^= fmix64(k);
  return 0;
}
template <int W>
int32_t f64_key32(void *b, uint32_t k) {
  return f64_key64<W>(b, k);
}
template <int W>
int32_t f64_keyd(void *b, double k) {
  if (k != k || k == 0.0) return 0;
  return f64_key64<W>(b, key_remainder(k, 64));
}
// FRY2X64: the thread's own counter range; FRY4X64: its own key word 2.
template <int W>
int32_t f64_thread64(void *p, uint64_t t) {
  if (p == nullptr || t == 0) return 0;
  auto *b = static_cast<FryBlob<W, uint64_t> *>(p);
  if constexpr (W == 2) b->ctr[1] = fmix64(t);
  else b->key[2] ^= fmix64(t);
  return 0;
}
template <int W>
int32_t f64_thread32(void *b, uint32_t t) {
  return f64_thread64<W>(b, t);
}

template <int W>
int32_t f64_count_generic(void *b, uint64_t a) {
  if (b) fry_position<W, uint64_t>(static_cast<FryBlob<W, uint64_t> *>(b), a);
  return 0;
}
template <int W>
ZRNG_WIDE_TARGET int32_t f64_count_wide(void *b, uint64_t a) {
  if (b) fry_position<W, uint64_t>(static_cast<FryBlob<W, uint64_t> *>(b), a);
  return 0;
}

constexpr char kFRY2X32[] = "FRY2X32";
constexpr char kFRY2X64[] = "FRY2X64";
constexpr char kFRY4X64[] = "FRY4X64";

template <const char *Name, int W>
void build_fry64(zrng_desc *d) {
  using Blob = FryBlob<W, uint64_t>;
  constexpr uint64_t kState = W * 8;
  build_common(d, facts_of<Name>(kState, ~0ull, ~0ull));
  place_housekeeping<Name, static_cast<int64_t>(sizeof(Blob)), kState>(d);
  d->seed_32 = &f64_seed32<W>;
  d->seed_64 = &f64_seed64<W>;
  d->seed_double = &f64_seedd<W>;
  d->key_32 = &f64_key32<W>;
  d->key_64 = &f64_key64<W>;
  d->key_double = &f64_keyd<W>;
  d->thread_32 = &f64_thread32<W>;
  d->thread_64 = &f64_thread64<W>;
  d->count_64 = wide_isa() ? &f64_count_wide<W> : &f64_count_generic<W>;
  fill_conversions64<FryGen<W, uint64_t>>(d);
}

}  // namespace
}  // namespace zeq::rng

using namespace zeq::rng;

ZEQ_EXPORT void zrnfFRY2X32(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kFRY2X32>(8, 0xFFFFFFFFull, 0xFFFFFFFFull));
  place_housekeeping<kFRY2X32, static_cast<int64_t>(sizeof(Fry2x32Blob)), 8>(d);
  d->seed_32 = &f32_seed32;
  d->seed_64 = &f32_seed64;
  d->seed_double = &f32_seedd;
  d->key_32 = &f32_key32;
  d->key_64 = &f32_key64;
  d->key_double = &f32_keyd;
  d->thread_32 = &f32_thread32;
  d->thread_64 = &f32_thread64;
  d->count_32 = wide_isa() ? &f32_count_wide : &f32_count_generic;
  fill_conversions32<FryGen<2, uint32_t>>(d);
}

ZEQ_EXPORT void zrnfFRY2X64(zrng_desc *d) {
  if (d) build_fry64<kFRY2X64, 2>(d);
}

ZEQ_EXPORT void zrnfFRY4X64(zrng_desc *d) {
  if (d) build_fry64<kFRY4X64, 4>(d);
}
