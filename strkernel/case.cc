// strkernel/case.cc - case mapping, case-blind equality and ordering, and
// case-class canonicalisation of TKChar text (one code point per unit).
//
// Code points below 0x10000 are mapped through two-level delta tables
// generated from the Unicode character data (strkernel/tables/case_tables.inc,
// written by scripts/gen_case_tables.py): page u >> 7 selects a row of 128
// deltas, or none when nothing on the page changes.  Upper and lower case use
// the simple mappings of Unicode 1.1.5; a delta of -128 sends the lookup to a
// short list of (from, to) pairs for the mappings that do not fit in 8 bits.
// Class minimum and maximum map a code point to the smallest or largest member
// of its Unicode 9.0 case class, with plain 32-bit deltas.
//
// tkzstup and tkzstlo hand units above 127 to the host's locale object when
// the kernel table offers one.  tkzstmin and tkzstmax exist as an AVX2 build
// (eight units per step, table rows fetched with gathers) and a generic build
// (two units per step); the build is chosen once per process on first use.
// Setting ZEQ_FORCE_GENERIC=1 in the environment before the first call keeps
// the generic build (tests and benchmarks compare the two this way).

#include <cstdint>
#include <cstdlib>

#include <atomic>

#include <immintrin.h>

#include "core/cpu.h"
#include "core/frame.h"
#include "strkernel/strkernel.h"

// The three tables other host modules read directly are exported; the rest of
// the generated tables stay private to this file.
extern "C" {
__attribute__((visibility("default"))) extern const int16_t skz_metatable[512];
__attribute__((visibility("default"))) extern const int8_t skz_upshift[];
__attribute__((visibility("default"))) extern const int8_t skz_downshift[];
}

#include "strkernel/tables/case_tables.inc"

namespace {

constexpr int kAuxMarker = -128;

// Upper or lower case of one unit through the tables.  The pair list is
// walked to its end and every pair whose from equals the current value
// replaces it.
inline TKChar table_case(TKChar u, const int8_t *shift, const int32_t (*aux)[2]) {
  if (u >= 0x10000) return u;
  const int row = skz_metatable[u >> 7];
  if (row < 0) return u;
  const int d = shift[row + (u & 0x7F)];
  if (d != kAuxMarker) return (TKChar)((int32_t)u + d);
  TKChar v = u;
  for (const int32_t(*p)[2] = aux; (*p)[0] != 0; ++p)
    if ((TKChar)(*p)[0] == v) v = (TKChar)(*p)[1];
  return v;
}

inline TKChar table_upper(TKChar u) { return table_case(u, skz_upshift, skz_upaux); }
inline TKChar table_lower(TKChar u) { return table_case(u, skz_downshift, skz_downaux); }

// The host's locale object, or null when the kernel table offers none.
inline ZeqLocale *host_locale() {
  const ZeqKernel *k = Exported_TKHandle;
  return k ? k->locale : nullptr;
}

// Shared body of tkzstup and tkzstlo.  `entry` is the locale object's case
// entry for units above 127, null when there is no locale object.
template <TKChar (*Table)(TKChar)>
void convert(TKChar *data, int64_t count, ZeqLocale *loc, TKChar (*entry)(ZeqLocale *, TKChar, int32_t)) {
  if (!data || count <= 0) return;
  if (loc && entry) {
    for (int64_t i = 0; i < count; i++) {
      const TKChar u = data[i];
      data[i] = u > 127 ? entry(loc, u, 1) : Table(u);
    }
    return;
  }
  for (int64_t i = 0; i < count; i++) data[i] = Table(data[i]);
}

bool all_blank(const TKChar *data, int64_t count) {
  for (int64_t i = 0; i < count; i++)
    if (data[i] != 0x20) return false;
  return true;
}

// --- class minimum / maximum ----------------------------------------------

using ClassFn = void (*)(TKChar *data, int64_t count, const int32_t *meta, const int32_t *shift);

inline TKChar class_map(TKChar u, const int32_t *meta, const int32_t *shift) {
  if (u >= 0x10000) return u;
  const int32_t row = meta[u >> 7];
  return row < 0 ? u : (TKChar)((int32_t)u + shift[row + (u & 0x7F)]);
}

// Generic build: two units per step.
void class_generic(TKChar *data, int64_t count, const int32_t *meta, const int32_t *shift) {
  int64_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const TKChar a = data[i], b = data[i + 1];
    data[i] = class_map(a, meta, shift);
    data[i + 1] = class_map(b, meta, shift);
  }
  if (i < count) data[i] = class_map(data[i], meta, shift);
}

// Wide build: eight units per step.  Lanes at or above 0x10000 do not take
// part in the page gather; lanes on a page without changes do not take part
// in the delta gather; both then add a zero delta.
__attribute__((target(ZEQ_WIDE_TARGETS))) void class_avx2(TKChar *data, int64_t count, const int32_t *meta,
                                                const int32_t *shift) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i none = _mm256_set1_epi32(-1);
  const __m256i slot_mask = _mm256_set1_epi32(0x7F);
  int64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m256i *p = reinterpret_cast<__m256i *>(data + i);
    const __m256i u = _mm256_loadu_si256(p);
    const __m256i bmp = _mm256_cmpeq_epi32(_mm256_srli_epi32(u, 16), zero);
    if (_mm256_testz_si256(bmp, bmp)) continue;  // nothing below 0x10000
    const __m256i row = _mm256_mask_i32gather_epi32(none, reinterpret_cast<const int *>(meta),
                                                    _mm256_srli_epi32(u, 7), bmp, 4);
    const __m256i present = _mm256_cmpgt_epi32(row, none);
    if (_mm256_testz_si256(present, present)) continue;  // no page with changes
    const __m256i idx = _mm256_add_epi32(row, _mm256_and_si256(u, slot_mask));
    const __m256i delta =
        _mm256_mask_i32gather_epi32(zero, reinterpret_cast<const int *>(shift), idx, present, 4);
    _mm256_storeu_si256(p, _mm256_add_epi32(u, delta));
  }
  if (i < count) class_generic(data + i, count - i, meta, shift);
}

void class_resolve(TKChar *data, int64_t count, const int32_t *meta, const int32_t *shift);

std::atomic<ClassFn> class_impl{class_resolve};

// Chooses the build on first use and replaces itself.
void class_resolve(TKChar *data, int64_t count, const int32_t *meta, const int32_t *shift) {
  ClassFn chosen = class_generic;
  if (zeq::cpu::wide()) chosen = class_avx2;
  class_impl.store(chosen, std::memory_order_relaxed);
  chosen(data, count, meta, shift);
}

}  // namespace

// Upper-cases count units in place.  With a locale object, units above 127
// go to its upper-casing entry (called with the object, the unit and 1).
ZEQ_EXPORT void tkzstup(TKChar *data, int64_t count) {
  ZeqLocale *loc = host_locale();
  convert<table_upper>(data, count, loc, loc ? loc->upper : nullptr);
}

// Lower-cases count units in place; the locale object's lower-casing entry
// serves units above 127 when present.
ZEQ_EXPORT void tkzstlo(TKChar *data, int64_t count) {
  ZeqLocale *loc = host_locale();
  convert<table_lower>(data, count, loc, loc ? loc->lower : nullptr);
}

// 1 when both texts have the same count and agree unit by unit after table
// lower-casing (never through the locale object); two empty texts are equal.
// A null text counts as empty.
ZEQ_EXPORT int32_t tkzseqn(const TKChar *left, int64_t lcount, const TKChar *right, int64_t rcount) {
  if (lcount != rcount) return 0;
  if (lcount <= 0) return 1;
  if (!left || !right) return left == right ? 1 : 0;
  for (int64_t i = 0; i < lcount; i++)
    if (left[i] != right[i] && table_lower(left[i]) != table_lower(right[i])) return 0;
  return 1;
}

// Case-blind ordering with the shorter text padded by blanks.  -2 / +2 when
// the texts differ beyond case (decided at the first pair that differs after
// lower-casing, or by a non-blank tail), -1 / +1 when they differ only in
// case (the sign of the first raw difference, units compared as signed
// 32-bit values), 0 when equal.  Negative counts and null texts count as
// empty, so no unit outside the texts is ever read.
ZEQ_EXPORT int32_t tkzsncmp(const TKChar *left, int64_t lcount, const TKChar *right, int64_t rcount) {
  int64_t a = (left && lcount > 0) ? lcount : 0;
  int64_t b = (right && rcount > 0) ? rcount : 0;
  const int64_t common = a < b ? a : b;
  int32_t c = 0;
  for (int64_t i = 0; i < common; i++) {
    const int32_t l = (int32_t)left[i], r = (int32_t)right[i];
    if (l == r) continue;
    if (c == 0) c = l < r ? -1 : 1;
    const int32_t ll = (int32_t)table_lower((TKChar)l), rl = (int32_t)table_lower((TKChar)r);
    if (ll != rl) return ll < rl ? -2 : 2;
  }
  if (a < b) return all_blank(right + common, b - common) ? c : -2;
  if (a > b) return all_blank(left + common, a - common) ? c : 2;
  return c;
}

// Replaces each unit by the smallest member of its case class.
ZEQ_EXPORT void tkzstmin(TKChar *data, int64_t count) {
  if (!data || count <= 0) return;
  class_impl.load(std::memory_order_relaxed)(data, count, skz_min_meta, skz_minshift);
}

// Replaces each unit by the largest member of its case class.
ZEQ_EXPORT void tkzstmax(TKChar *data, int64_t count) {
  if (!data || count <= 0) return;
  class_impl.load(std::memory_order_relaxed)(data, count, skz_max_meta, skz_maxshift);
}
