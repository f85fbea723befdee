// rng/mt/mt.cc - the Mersenne Twister methods MT1998, MTHYBRID, MT32 (one
// MT19937 engine, three ways to fill it from a seed) and MT64 (MT19937-64):
// seeding, keying and thread numbering, the crude conversion and the
// builders.
//
// Keys and thread numbers rehash every state word with MurmurHash3 under a
// tag (15 for a key, 255 for a thread number), with the word's index and the
// value, the word itself serving as the hash seed.  The stream applies the
// thread number first and the key second.
#include "rng/mt/mt.h"

#include "core/frame.h"
#include "rng/convert.h"
#include "rng/methods.h"
#include "rng/state.h"

namespace zeq::rng {
namespace {

constexpr uint32_t kKeyTag = 15;
constexpr uint32_t kThreadTag = 255;

// --- MT19937 initialisations --------------------------------------------------

// 1998: a plain multiplicative congruence, mt[i] = 69069 mt[i-1].
void init1998(Mt32Blob *s, uint32_t seed) {
  s->mt[0] = seed;
  for (int i = 1; i < kMt32N; ++i) s->mt[i] = 69069u * s->mt[i - 1];
  s->index = kMt32N;
}

// 2002: Knuth's multiplier 1812433253 over the previous word's top bits.
void init2002(Mt32Blob *s, uint32_t seed) {
  s->mt[0] = seed;
  for (int i = 1; i < kMt32N; ++i)
    s->mt[i] = 1812433253u * (s->mt[i - 1] ^ (s->mt[i - 1] >> 30)) + static_cast<uint32_t>(i);
  s->index = kMt32N;
}

// Hybrid: seeds whose low 13 bits are zero take the 2002 initialisation.
void init_hybrid(Mt32Blob *s, uint32_t seed) {
  if ((seed & 0x1FFFu) == 0) init2002(s, seed);
  else init1998(s, seed);
}

using Init32 = void (*)(Mt32Blob *, uint32_t);

template <Init32 Init>
int32_t mt32_seed32(void *b, uint32_t s) {
  if (b == nullptr) return 0;
  Init(static_cast<Mt32Blob *>(b), s == 0 ? fresh_seed32() : s);
  return 0;
}
template <Init32 Init>
int32_t mt32_seed64(void *b, uint64_t s) {
  if (b == nullptr) return 0;
  Init(static_cast<Mt32Blob *>(b), fold_seed64(s));
  return 0;
}
template <Init32 Init>
int32_t mt32_seedd(void *b, double x) {
  if (b == nullptr) return 0;
  Init(static_cast<Mt32Blob *>(b), seed32_from_double(x));
  return 0;
}

// mt[i] = MurmurHash3_x86_32((i, tag, value), seed mt[i]) for every word.
void mt32_rehash(Mt32Blob *s, uint32_t tag, uint32_t value) {
  uint32_t block[3] = {0, tag, value};
  for (int i = 0; i < kMt32N; ++i) {
    block[0] = static_cast<uint32_t>(i);
    s->mt[i] = zmurmur32(block, sizeof block, s->mt[i]);
  }
}

template <uint32_t Tag>
int32_t mt32_tag32(void *b, uint32_t v) {
  if (b != nullptr && v != 0) mt32_rehash(static_cast<Mt32Blob *>(b), Tag, v);
  return 0;
}
template <uint32_t Tag>
int32_t mt32_tag64(void *b, uint64_t v) {
  return mt32_tag32<Tag>(b, static_cast<uint32_t>(v));
}
int32_t mt32_keyd(void *b, double k) {
  if (k != k || k == 0.0) return 0;
  return mt32_tag32<kKeyTag>(b, static_cast<uint32_t>(key_remainder(k, 32)));
}

// Crude conversion: a non-zero tempered word times the largest double below
// 2^-32, so (0, 1).
double mt32_crude_generic(void *b) {
  if (b == nullptr) return 0.0;
  return static_cast<double>(mt32_next<false>(static_cast<Mt32Blob *>(b))) * kCrudeScale;
}
ZRNG_WIDE_TARGET double mt32_crude_wide(void *b) {
  if (b == nullptr) return 0.0;
  return static_cast<double>(mt32_next<true>(static_cast<Mt32Blob *>(b))) * kCrudeScale;
}

constexpr char kMT1998[] = "MT1998";
constexpr char kMTHYBRID[] = "MTHYBRID";
constexpr char kMT32[] = "MT32";
constexpr char kMT64[] = "MT64";

constexpr int64_t kMt32Blob = sizeof(Mt32Blob);
constexpr int64_t kMt64Blob = sizeof(Mt64Blob);
constexpr uint64_t kMtStateBytes = 2496;

template <const char *Name, Init32 Init>
void build_mt32(zrng_desc *d) {
  build_common(d, facts_of<Name>(kMtStateBytes, 0xFFFFFFFFull, 0xFFFFFFFFull));
  place_housekeeping<Name, kMt32Blob, kMtStateBytes>(d);
  d->seed_32 = &mt32_seed32<Init>;
  d->seed_64 = &mt32_seed64<Init>;
  d->seed_double = &mt32_seedd<Init>;
  d->key_32 = &mt32_tag32<kKeyTag>;
  d->key_64 = &mt32_tag64<kKeyTag>;
  d->key_double = &mt32_keyd;
  d->thread_32 = &mt32_tag32<kThreadTag>;
  d->thread_64 = &mt32_tag64<kThreadTag>;
  fill_conversions32<Mt32Gen>(d);
  d->double_crude = wide_isa() ? &mt32_crude_wide : &mt32_crude_generic;
}

// --- MT19937-64 -------------------------------------------------------------

void init64(Mt64Blob *s, uint64_t seed) {
  s->mt[0] = seed;
  for (int i = 1; i < kMt64N; ++i)
    s->mt[i] = 6364136223846793005ull * (s->mt[i - 1] ^ (s->mt[i - 1] >> 62)) +
               static_cast<uint64_t>(i);
  s->index = kMt64N;
}

int32_t mt64_seed32(void *b, uint32_t s) {
  if (b != nullptr) init64(static_cast<Mt64Blob *>(b), s == 0 ? fresh_seed64() : s);
  return 0;
}
int32_t mt64_seed64(void *b, uint64_t s) {
  if (b != nullptr) init64(static_cast<Mt64Blob *>(b), s == 0 ? fresh_seed64() : s);
  return 0;
}
int32_t mt64_seedd(void *b, double x) {
  if (b != nullptr) init64(static_cast<Mt64Blob *>(b), seed64_from_double(x));
  return 0;
}

// mt[i] = zmurmur64((i, tag, value), 3 words, seed mt[i]) for every word.
void mt64_rehash(Mt64Blob *s, uint64_t tag, uint64_t value) {
  uint64_t block[3] = {0, tag, value};
  for (int i = 0; i < kMt64N; ++i) {
    block[0] = static_cast<uint64_t>(i);
    s->mt[i] = zmurmur64(block, 3, s->mt[i]);
  }
}

template <uint64_t Tag>
int32_t mt64_tag64(void *b, uint64_t v) {
  if (b != nullptr && v != 0) mt64_rehash(static_cast<Mt64Blob *>(b), Tag, v);
  return 0;
}
template <uint64_t Tag>
int32_t mt64_tag32(void *b, uint32_t v) {
  return mt64_tag64<Tag>(b, v);
}
int32_t mt64_keyd(void *b, double k) {
  if (k != k || k == 0.0) return 0;
  return mt64_tag64<kKeyTag>(b, key_remainder(k, 64));
}

}  // namespace
}  // namespace zeq::rng

using namespace zeq::rng;

ZEQ_EXPORT void zrnfMT1998(zrng_desc *d) {
  if (d) build_mt32<kMT1998, init1998>(d);
}

ZEQ_EXPORT void zrnfMTHYBRID(zrng_desc *d) {
  if (d) build_mt32<kMTHYBRID, init_hybrid>(d);
}

ZEQ_EXPORT void zrnfMT32(zrng_desc *d) {
  if (d) build_mt32<kMT32, init2002>(d);
}

ZEQ_EXPORT void zrnfMT64(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kMT64>(kMtStateBytes, ~0ull, ~0ull));
  place_housekeeping<kMT64, kMt64Blob, kMtStateBytes>(d);
  d->seed_32 = &mt64_seed32;
  d->seed_64 = &mt64_seed64;
  d->seed_double = &mt64_seedd;
  d->key_32 = &mt64_tag32<kKeyTag>;
  d->key_64 = &mt64_tag64<kKeyTag>;
  d->key_double = &mt64_keyd;
  d->thread_32 = &mt64_tag32<kThreadTag>;
  d->thread_64 = &mt64_tag64<kThreadTag>;
  fill_conversions64<Mt64Gen>(d);
}
