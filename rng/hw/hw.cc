// rng/hw/hw.cc - two methods built directly on a primitive: RDRAND, which
// draws every word from the processor's hardware random instruction, and MH3,
// which iterates the MurmurHash3 finaliser (rng/hw/mh3.h).
#include "core/frame.h"
#include "rng/convert.h"
#include "rng/hw/mh3.h"
#include "rng/methods.h"
#include "rng/state.h"

namespace zeq::rng {
namespace {

// --- RDRAND -------------------------------------------------------------------

// Availability is asked before every word; without the instruction every
// word is 0 (the method is then never selected, but a descriptor built
// directly still answers).
struct RdrandGen {
  static constexpr bool kStateless = true;
  template <bool W>
  ZRNG_INLINE static uint32_t next32(void *) {
    return IsRdRandAvailable() ? RdRand32() : 0;
  }
  template <bool W>
  ZRNG_INLINE static uint64_t next64(void *) {
    if (!IsRdRandAvailable()) return 0;
    uint64_t hi = RdRand32();
    uint64_t lo = RdRand32();
    return hi << 32 | lo;
  }
};

constexpr char kRDRAND[] = "RDRAND";

template <class S32, class S64>
void place_rdrand(zrng_desc *d) {
  place_slots32<S32>(d);
  place_slots64<S64>(d);
  d->uint32 = &S32::uint32;  // one 32-bit word, not the high half of two
}

// --- MH3 ------------------------------------------------------------------------

int32_t m_seed32(void *b, uint32_t s) {
  if (b) static_cast<Mh3Blob *>(b)->x = s == 0 ? fresh_seed64() : s;
  return 0;
}
int32_t m_seed64(void *b, uint64_t s) {
  if (b) static_cast<Mh3Blob *>(b)->x = s == 0 ? fresh_seed64() : s;
  return 0;
}
int32_t m_seedd(void *b, double x) {
  if (b) static_cast<Mh3Blob *>(b)->x = seed64_from_double(x);
  return 0;
}

constexpr char kMH3[] = "MH3";

}  // namespace
}  // namespace zeq::rng

using namespace zeq::rng;

// RDRAND keeps no state: blob size 0, nothing to load, no dump, and seeds,
// keys and thread numbers are accepted and ignored.
ZEQ_EXPORT void zrnfRDRAND(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kRDRAND>(0, 0, 0));
  d->blob_size = &blob_size<kRDRAND, 0>;
  d->dump_blob_32 = &dump_nothing32;
  d->dump_blob_64 = &dump_nothing64;
  d->state = &state_none;
  d->seed_32 = &ignore_set32;
  d->seed_64 = &ignore_set64;
  d->seed_double = &ignore_setd;
  d->key_32 = &ignore_set32;
  d->key_64 = &ignore_set64;
  d->key_double = &ignore_setd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  if (wide_isa()) place_rdrand<WideSlots32<RdrandGen>, WideSlots64<RdrandGen>>(d);
  else place_rdrand<GenericSlots32<RdrandGen>, GenericSlots64<RdrandGen>>(d);
}

ZEQ_EXPORT void zrnfMH3(zrng_desc *d) {
  if (!d) return;
  build_common(d, facts_of<kMH3>(8, ~0ull, 0));
  place_housekeeping<kMH3, static_cast<int64_t>(sizeof(Mh3Blob)), 8>(d);
  d->seed_32 = &m_seed32;
  d->seed_64 = &m_seed64;
  d->seed_double = &m_seedd;
  d->key_32 = &ignore_set32;
  d->key_64 = &ignore_set64;
  d->key_double = &ignore_setd;
  d->thread_32 = &ignore_set32;
  d->thread_64 = &ignore_set64;
  fill_conversions64<Mh3Gen>(d);
}
