// rng/legacy/legacy.cc - the methods RANUNI, SUBKEY32 and SUBKEY64: seeding,
// keys and builders.
//
// RANUNI takes a seed only; its 32-bit conversions see the raw 31-bit state
// (so their values lie below 0.5) while its crude conversion is the
// generator's own quotient x / (2^31 - 1).  Seeding a subtract-key stream
// writes x and leaves k as an earlier key operation left it.
#include "rng/legacy/legacy.h"

#include "core/frame.h"
#include "rng/convert.h"
#include "rng/methods.h"
#include "rng/state.h"

namespace zeq::rng {
namespace {

// --- RANUNI -------------------------------------------------------------------
int32_t r_seed32(void *b, uint32_t s) {
  if (b) static_cast<RanuniBlob *>(b)->x = s == 0 ? fresh_seed32() : s;
  return 0;
}
int32_t r_seed64(void *b, uint64_t s) {
  if (b) static_cast<RanuniBlob *>(b)->x = fold_seed64(s);
  return 0;
}
int32_t r_seedd(void *b, double x) {
  if (b) static_cast<RanuniBlob *>(b)->x = seed32_from_double(x);
  return 0;
}
double r_crude(void *b) {
  if (b == nullptr) return 0.0;
  return static_cast<double>(ranuni_step(static_cast<RanuniBlob *>(b))) / 2147483647.0;
}

// --- SUBKEY32 -----------------------------------------------------------------
int32_t k32_seed32(void *b, uint32_t s) {
  if (b) static_cast<Subkey32Blob *>(b)->x = s == 0 ? fresh_seed32() : s;
  return 0;
}
int32_t k32_seed64(void *b, uint64_t s) {
  if (b) static_cast<Subkey32Blob *>(b)->x = fold_seed64(s);
  return 0;
}
int32_t k32_seedd(void *b, double x) {
  if (b) static_cast<Subkey32Blob *>(b)->x = seed32_from_double(x);
  return 0;
}
int32_t k32_key32(void *b, uint32_t v) {
  if (b && v != 0) static_cast<Subkey32Blob *>(b)->k = v;
  return 0;
}
// A 64-bit key sets the low 32 bits, which may be 0.
int32_t k32_key64(void *b, uint64_t v) {
  if (b && v != 0) static_cast<Subkey32Blob *>(b)->k = static_cast<uint32_t>(v);
  return 0;
}
int32_t k32_keyd(void *b, double v) {
  if (b && v == v && v != 0.0)
    static_cast<Subkey32Blob *>(b)->k = static_cast<uint32_t>(key_remainder(v, 32));
  return 0;
}

// --- SUBKEY64 -----------------------------------------------------------------
int32_t k64_seed32(void *b, uint32_t s) {
  if (b) static_cast<Subkey64Blob *>(b)->x = s == 0 ? fresh_seed64() : s;
  return 0;
}
int32_t k64_seed64(void *b, uint64_t s) {
  if (b) static_cast<Subkey64Blob *>(b)->x = s == 0 ? fresh_seed64() : s;
  return 0;
}
int32_t k64_seedd(void *b, double x) {
  if (b) static_cast<Subkey64Blob *>(b)->x = seed64_from_double(x);
  return 0;
}
int32_t k64_key64(void *b, uint64_t v) {
  if (b && v != 0) static_cast<Subkey64Blob *>(b)->k = v;
  return 0;
}
int32_t k64_key32(void *b, uint32_t v) { return k64_key64(b, v); }
// The remainder of 2^64 is 0, which sets k to 0.
int32_t k64_keyd(void *b, double v) {
  if (b && v == v && v != 0.0) static_cast<Subkey64Blob *>(b)->k = key_remainder(v, 64);
  return 0;
}

constexpr char kRANUNI[] = "RANUNI";
constexpr char kSUBKEY32[] = "SUBKEY32";
constexpr char kSUBKEY64[] = "SUBKEY64";

}  // namespace
}  // namespace zeq::rng

using namespace zeq::rng;

ZEQ_EXPORT void zrnfRANUNI(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kRANUNI>(0, 0xFFFFFFFFull, 0));
  place_housekeeping<kRANUNI, static_cast<int64_t>(sizeof(RanuniBlob)), 0>(d);
  d->seed_32 = &r_seed32;
  d->seed_64 = &r_seed64;
  d->seed_double = &r_seedd;
  d->key_32 = &ignore_set32;
  d->key_64 = &ignore_set64;
  d->key_double = &ignore_setd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  fill_conversions32<RanuniGen>(d);
  d->double_crude = &r_crude;
}

ZEQ_EXPORT void zrnfSUBKEY32(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kSUBKEY32>(4, 0xFFFFFFFFull, 0xFFFFFFFFull));
  place_housekeeping<kSUBKEY32, static_cast<int64_t>(sizeof(Subkey32Blob)), 4>(d);
  d->seed_32 = &k32_seed32;
  d->seed_64 = &k32_seed64;
  d->seed_double = &k32_seedd;
  d->key_32 = &k32_key32;
  d->key_64 = &k32_key64;
  d->key_double = &k32_keyd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  fill_conversions32<Subkey32Gen>(d);
}

ZEQ_EXPORT void zrnfSUBKEY64(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kSUBKEY64>(8, ~0ull, ~0ull));
  place_housekeeping<kSUBKEY64, static_cast<int64_t>(sizeof(Subkey64Blob)), 8>(d);
  d->seed_32 = &k64_seed32;
  d->seed_64 = &k64_seed64;
  d->seed_double = &k64_seedd;
  d->key_32 = &k64_key32;
  d->key_64 = &k64_key64;
  d->key_double = &k64_keyd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  fill_conversions64<Subkey64Gen>(d);
}
