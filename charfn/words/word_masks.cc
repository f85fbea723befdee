// charfn/words/word_masks.cc - the generic and wide builds of the unquoted
// word search and of SCAN's plain call (charfn/words/word_masks.inc), and
// the once-per-process choice between them.
//
// The generic build reads the 256-entry table a byte at a time to make a
// window's mask.  The wide build turns the table into its nibble form once
// per call (a default table that holds the 17 defaults takes theirs, made at
// build time) and then tests 32 bytes at a time: for a byte with high nibble h
// and low nibble l, two in-lane shuffles look up the 8-bit rows lo[l]
// (h < 8) and hi[l] (h >= 8), the byte's own top bit picks the row, and a
// third shuffle turns h into the bit 1 << (h & 7) that is tested in it.
#include <immintrin.h>

#include <cstring>

#include "charfn/words/delims.h"
#include "charfn/words/scan_parts.h"
#include "core/bits.h"
#include "core/cpu.h"

namespace zeq::words {
namespace {

// Delimiter bits of the 64 bytes at p, from the table: eight bytes per load,
// shifted out one by one (so that the compiler keeps plain lookups).
inline uint64_t table_mask(const uint8_t *p, const uint8_t *d) {
  uint64_t m = 0;
  for (int j = 0; j < 64; j += 8) {
    uint64_t x;
    std::memcpy(&x, p + j, 8);
    uint64_t bits = 0;
    for (int b = 0; b < 8; b++, x >>= 8) bits |= static_cast<uint64_t>(d[x & 0xFF] != 0) << b;
    m |= bits << j;
  }
  return m;
}

// Delimiter bits of the n < 64 bytes at p, from the table.
inline uint64_t few_mask(const uint8_t *p, int64_t n, const uint8_t *d) {
  uint64_t m = 0;
  for (int64_t j = 0; j < n; j++) m |= static_cast<uint64_t>(d[p[j]] != 0) << j;
  return m;
}

// The nibble form of a delimiter table: a byte with high nibble h and low
// nibble l is a delimiter when bit (h & 7) of lo[l] (h < 8) or of hi[l]
// (h >= 8) is set.
struct DelimNibbles {
  alignas(16) uint8_t lo[16];
  alignas(16) uint8_t hi[16];
};

struct DefaultNibbles {
  DelimNibbles n{};
  constexpr DefaultNibbles() {
    for (int i = 0; i < kDefaultDelimiterCount; i++) {
      const auto b = static_cast<uint8_t>(kDefaultDelimiters[i]);
      uint8_t *row = b < 0x80 ? n.lo : n.hi;
      row[b & 15] = static_cast<uint8_t>(row[b & 15] | (1u << ((b >> 4) & 7)));
    }
  }
};
constexpr DefaultNibbles kDefaultNibbles;

constexpr bool defaults_below_0x80() {
  for (uint8_t row : kDefaultNibbles.n.hi)
    if (row) return false;
  return true;
}
static_assert(defaults_below_0x80(), "the plain call's wide window reads only the low row");

namespace generic {
struct Classifier {
  const uint8_t *table;
  Classifier(const uint8_t *t, bool) : table(t) {}
  uint64_t operator()(const uint8_t *p) const { return table_mask(p, table); }
  uint64_t few(const uint8_t *p, int64_t n) const { return few_mask(p, n, table); }
};
// Bit selection with a number of steps that depends on r alone (word
// numbers repeat from call to call, bit counts do not).
[[gnu::always_inline]] inline int select_low(uint64_t m, int64_t r) {
  for (; r > 1; r--) m &= m - 1;
  return __builtin_ctzll(m);
}
[[gnu::always_inline]] inline int select_high(uint64_t m, int64_t r) {
  for (; r > 1; r--) m ^= (uint64_t{1} << 63) >> __builtin_clzll(m);
  return 63 - __builtin_clzll(m);
}
// The plain call's one window, from whatever the table holds.
inline bool end_window_mask(const uint8_t *table, const uint8_t *p, uint64_t *d) {
  *d = table_mask(p, table);
  return true;
}
[[gnu::always_inline]] inline int bit_count(uint64_t m) { return zeq::popcount64(m); }
#include "charfn/words/word_masks.inc"
}  // namespace generic

ZEQ_WIDE_BEGIN
namespace wide {
struct Classifier {
  __m256i lo, hi;
  const uint8_t *table;

  // With `defaults`, a table that holds exactly the 17 defaults takes their
  // nibble form as made at build time.
  Classifier(const uint8_t *t, bool defaults) : table(t) {
    if (defaults && same_table(t, builtin_default_table())) {
      const DelimNibbles &known = kDefaultNibbles.n;
      lo = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(known.lo)));
      hi = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(known.hi)));
    } else {
      from_table();
    }
  }
  // Whether the 256 bytes of `table` equal those of `model`.
  static bool same_table(const uint8_t *table, const uint8_t *model) {
    if (table == model) return true;
    __m256i diff = _mm256_setzero_si256();
    for (int i = 0; i < kTableSize; i += 32) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(table + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(model + i));
      diff = _mm256_or_si256(diff, _mm256_xor_si256(a, b));
    }
    return _mm256_testz_si256(diff, diff);
  }
  // The nibble rows of the table: a 32-byte load holds the table rows 2i
  // and 2i + 1, whose non-zero entries give bits 2i and 2i + 1.
  void from_table() {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i first = _mm256_setr_epi8(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2,
                                           2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2);
    __m256i rows[2] = {zero, zero};
    for (int half = 0; half < 2; half++) {
      for (int i = 0; i < 4; i++) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(table + 128 * half + 32 * i));
        const __m256i bits = _mm256_slli_epi16(first, 2 * i);
        rows[half] = _mm256_or_si256(rows[half], _mm256_andnot_si256(_mm256_cmpeq_epi8(v, zero), bits));
      }
    }
    lo = fold(rows[0]);
    hi = fold(rows[1]);
  }
  // Both 16-byte halves ORed together, in both halves.
  static __m256i fold(__m256i v) {
    const __m128i x = _mm_or_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return _mm256_broadcastsi128_si256(x);
  }
  uint32_t lanes(const uint8_t *p) const {
    const __m256i bit = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4,
                                         8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    const __m256i l = _mm256_and_si256(v, nibble);
    const __m256i h = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    const __m256i row = _mm256_blendv_epi8(_mm256_shuffle_epi8(lo, l), _mm256_shuffle_epi8(hi, l), v);
    const __m256i want = _mm256_shuffle_epi8(bit, h);
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(row, want), want)));
  }
  uint64_t operator()(const uint8_t *p) const {
    return lanes(p) | static_cast<uint64_t>(lanes(p + 32)) << 32;
  }
  uint64_t few(const uint8_t *p, int64_t n) const { return few_mask(p, n, table); }
};

// Bit selection by depositing one bit into the r-th set bit of m.
[[gnu::always_inline]] inline int select_low(uint64_t m, int64_t r) {
  return static_cast<int>(_tzcnt_u64(_pdep_u64(uint64_t{1} << (r - 1), m)));
}
[[gnu::always_inline]] inline int bit_count(uint64_t m) { return __builtin_popcountll(m); }
[[gnu::always_inline]] inline int select_high(uint64_t m, int64_t r) {
  return select_low(m, bit_count(m) - r + 1);
}

// Delimiter bits of the 32 bytes at p for a table whose delimiters are all
// below 0x80, from its low row: a byte with its top bit set makes the
// shuffle answer 0, which never holds the byte's bit.
inline uint32_t ascii_lanes(__m128i low_row, const uint8_t *p) {
  const __m256i bit = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8,
                                       16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
  const __m256i h = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
  const __m256i want = _mm256_shuffle_epi8(bit, h);
  const __m256i row = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(low_row), v);
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(row, want), want)));
}

inline __m256i load32(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }

// Whether a table holds exactly the 17 defaults, which all lie below 0x80:
// its low half equals theirs and its high half is clear.
inline bool holds_defaults(const uint8_t *table) {
  const uint8_t *model = builtin_default_table();
  __m256i diff = _mm256_or_si256(_mm256_or_si256(load32(table + 128), load32(table + 160)),
                                 _mm256_or_si256(load32(table + 192), load32(table + 224)));
  for (int i = 0; i < 128; i += 32) diff = _mm256_or_si256(diff, _mm256_xor_si256(load32(table + i), load32(model + i)));
  return _mm256_testz_si256(diff, diff);
}

// The plain call's one window, when the table still holds the defaults;
// otherwise the full search decides.
inline bool end_window_mask(const uint8_t *table, const uint8_t *p, uint64_t *d) {
  if (!holds_defaults(table)) return false;
  const __m128i low_row = _mm_load_si128(reinterpret_cast<const __m128i *>(kDefaultNibbles.n.lo));
  *d = ascii_lanes(low_row, p) | static_cast<uint64_t>(ascii_lanes(low_row, p + 32)) << 32;
  return true;
}
#include "charfn/words/word_masks.inc"
}  // namespace wide
ZEQ_WIDE_END

// The wide build picks the n-th delimiter bit by a bit deposit; where that
// instruction is microcoded the generic build's short loops are faster.
__attribute__((constructor)) void choose_build() {
  if (!cpu::wide() || cpu::slow_bit_deposit()) return;
  unquoted_finders[0][0] = &wide::runs_from_left;
  unquoted_finders[0][1] = &wide::stretches_from_left;
  unquoted_finders[1][0] = &wide::runs_from_right;
  unquoted_finders[1][1] = &wide::stretches_from_right;
  scan_with_defaults = &wide::scan_defaults;
}

}  // namespace

// Generic until the load-time choice has run, so a caller from another
// library's constructor still gets a correct build.
UnquotedFinder unquoted_finders[2][2] = {
    {&generic::runs_from_left, &generic::stretches_from_left},
    {&generic::runs_from_right, &generic::stretches_from_right},
};
int32_t (*scan_with_defaults)(FncArgList *, FncString *) = &generic::scan_defaults;

}  // namespace zeq::words
