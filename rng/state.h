// rng/state.h - the housekeeping every generator method shares: the
// descriptor facts its builder writes, the blob size with its trace message,
// loading a state from a byte string (zrng_state) and the journal dumps of a
// blob.  Only the sizes differ between methods; each method gets its own
// functions by instantiating the templates below with its values.
#pragma once

#include <cstdint>
#include <cstring>

#include "rng/catalogue.h"
#include "rng/methods.h"
#include "zeq/rng.h"

// Engine helpers the generators rest on: fresh seeds, double seeds,
// diagnostics, settings and the session encoding.
#include "rng/engine.h"

namespace zeq::rng {

// Fixed facts of a method, as its builder writes them.
struct MethodFacts {
  const char *name;         // canonical name, at most 15 characters
  const char *description;  // at most 63 characters; "" for none
  uint64_t flags;
  uint64_t state_bytes;
  int32_t output_bits;
  uint64_t seed_max;
  uint64_t key_max;
};

// The facts of method Name as the catalogue (rng/methods.def) gives them
// (flags, word size, description), with the sizes and limits its builder
// knows.
template <const char *Name>
constexpr MethodFacts facts_of(uint64_t state_bytes, uint64_t seed_max, uint64_t key_max) {
  constexpr int row = catalogue::row_of(Name);
  static_assert(row >= 0, "the method has no row in rng/methods.def");
  const catalogue::Method &m = catalogue::kMethods[row];
  return {Name, m.description, m.flags, state_bytes, m.output_bits, seed_max, key_max};
}

// Steps 1 to 5 of every builder: zero the descriptor, sizes, flags, names,
// description, the trace message, then the widths and limits.  The caller
// stores the slots.
void build_common(zrng_desc *d, const MethodFacts &facts);

// --- seeds, keys ------------------------------------------------------------

// A double as an unsigned 64-bit value without undefined conversions: NaN
// and values of 0 or less give 0, values of 2^64 or more give 2^64 - 1.
inline uint64_t double_to_u64(double x) {
  if (!(x > 0.0)) return 0;
  if (x >= 0x1p64) return ~0ull;
  return static_cast<uint64_t>(x);
}

// The floating remainder of a key given as a double, as the integer it
// names: fmod(k, 2^bits) truncated, a negative remainder wrapping modulo
// 2^64 (two's complement).  NaN and infinities give 0.
uint64_t key_remainder(double k, int bits);

// Seeds of the 32-bit methods: 0 draws a fresh 31-bit seed; a 64-bit seed is
// folded as (s ^ s >> 32) truncated (a fold of 0 stays 0); a double seed
// of 0 or less (or NaN) draws, else zrngd2i maps it below 2^32.
uint32_t fresh_seed32();
uint32_t fold_seed64(uint64_t s);
uint32_t seed32_from_double(double x);
// Seeds of the 64-bit methods: 0 draws a fresh 64-bit seed.
uint64_t fresh_seed64();
uint64_t seed64_from_double(double x);

// --- blob size --------------------------------------------------------------

// zrng_blob_size of a method: traces (name, size) and answers the size.
int64_t report_blob_size(const char *name, int64_t size);

template <const char *Name, int64_t Size>
int64_t blob_size() {
  return report_blob_size(Name, Size);
}

// --- state loading ------------------------------------------------------------

// Result codes of zrng_state.
inline constexpr int32_t kStateNothing = 0;
inline constexpr int32_t kStateKept = 1;
inline constexpr int32_t kStateFull = 2;
inline constexpr int32_t kStateRepeated = 3;
inline constexpr int32_t kStateChained = 4;
inline constexpr int32_t kStateRefused = -1;

// Loads the first S bytes of a blob from a byte string (S > 0):
//   length <= 0        nothing; 0
//   length >= S        the first S bytes; 2
//   mode bit 0x2       the bytes repeated up to S (last copy cut); 3
//   mode bit 0x1       the bytes, the rest kept; 1
//   otherwise          the bytes, zero-padded to 8 (or S), then each later
//                      64-bit word is fmix64 of the word n places before it,
//                      n = max(1, length / 8); 4
// Nothing outside the first S bytes changes.  A null blob, or null bytes with
// a positive length, is refused (-1).
int32_t load_state(void *blob, uint64_t s, const void *bytes, int64_t length, int32_t mode);

template <uint64_t S>
int32_t state_loader(void *blob, const void *bytes, int64_t length, int32_t mode) {
  return load_state(blob, S, bytes, length, mode);
}

// Methods whose state cannot be loaded: 0 for an empty request, else -1.
int32_t state_refused(void *blob, const void *bytes, int64_t length, int32_t mode);
// RDRAND: nothing to load, always 0.
int32_t state_none(void *blob, const void *bytes, int64_t length, int32_t mode);

// --- dumps --------------------------------------------------------------------

// Writes up to `limit` words, four to a line ("   %3i: %16llx" entries, or
// %8x for 32-bit words), at journal level 0, then "        Further elements
// omitted." when fewer words than the limit were asked for (count <= 0
// included).  No journal: nothing is written.  Null words count as none.
void dump_words64(const uint64_t *words, int64_t count, int64_t limit);
void dump_words32(const uint32_t *words, int64_t count, int64_t limit);

template <int64_t BlobSize>
void dump_blob64(const uint64_t *words, int64_t count) {
  dump_words64(words, count, BlobSize / 8);
}
template <int64_t BlobSize>
void dump_blob32(const uint32_t *words, int64_t count) {
  dump_words32(words, count, BlobSize / 4);
}
void dump_nothing64(const uint64_t *words, int64_t count);
void dump_nothing32(const uint32_t *words, int64_t count);

// Slots of methods without keys or thread numbers: they accept and ignore.
int32_t ignore_set32(void *blob, uint32_t value);
int32_t ignore_set64(void *blob, uint64_t value);
int32_t ignore_setd(void *blob, double value);

// Housekeeping slots of a method with a loadable state of S bytes and a blob
// of BlobSize bytes.
template <const char *Name, int64_t BlobSize, uint64_t S>
void place_housekeeping(zrng_desc *d) {
  d->blob_size = &blob_size<Name, BlobSize>;
  d->dump_blob_32 = &dump_blob32<BlobSize>;
  d->dump_blob_64 = &dump_blob64<BlobSize>;
  if constexpr (S > 0) d->state = &state_loader<S>;
  else d->state = &state_refused;
}

}  // namespace zeq::rng
