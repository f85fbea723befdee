// charfn/countfind/scan_kernels.cc - the generic (SSE2) and wide (AVX2)
// builds of the counting and finding kernels, the once-per-process choice
// between them, and the substring searches built on them.
//
// Byte-set membership in the wide build (the nibble method): for a byte with
// high nibble h and low nibble l, two in-lane shuffles look up the 8-bit rows
// lo[l] (h < 8) and hi[l] (h >= 8), the byte's own top bit picks the row, and
// a third shuffle turns h into the bit 1 << (h & 7) that is tested in it.
// SSE2 has no byte shuffle, so the generic build reads the 256-entry table.
//
// ZEQ_FORCE_GENERIC=1 in the environment before the library is loaded keeps
// the generic build (the same switch as the byte kernels of strkernel/).
#include <immintrin.h>

#include <cstdlib>
#include <cstring>

#include "core/cpu.h"
#include "core/vec_avx2.h"
#include "core/vec_sse2.h"
#include "charfn/countfind/countfind.h"

namespace zeq::countfind {

namespace generic {
using namespace zeq::vec::sse2;
constexpr bool kVectorSets = false;
// Never used: kVectorSets is false (named only in discarded branches).
struct Nibble {
  explicit Nibble(const ByteSet &) {}
  V operator()(V v) const { return v; }
};
#include "charfn/countfind/scan_kernels.inc"
}  // namespace generic

ZEQ_WIDE_BEGIN
namespace wide {
using namespace zeq::vec::avx2;
constexpr bool kVectorSets = true;

// Membership by the nibble method: 0xFF in the lanes whose byte is a member.
struct Nibble {
  V lo, hi, bit, nibble;
  explicit Nibble(const ByteSet &set) {
    const __m128i l = _mm_load_si128(reinterpret_cast<const __m128i *>(set.lo));
    const __m128i h = _mm_load_si128(reinterpret_cast<const __m128i *>(set.hi));
    const __m128i b = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    lo = _mm256_broadcastsi128_si256(l);
    hi = _mm256_broadcastsi128_si256(h);
    bit = _mm256_broadcastsi128_si256(b);
    nibble = _mm256_set1_epi8(0x0F);
  }
  V operator()(V v) const {
    const V l = _mm256_and_si256(v, nibble);
    const V h = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    const V row = _mm256_blendv_epi8(_mm256_shuffle_epi8(lo, l), _mm256_shuffle_epi8(hi, l), v);
    const V hit = _mm256_and_si256(row, _mm256_shuffle_epi8(bit, h));
    return _mm256_xor_si256(_mm256_cmpeq_epi8(hit, zero()), _mm256_set1_epi8(-1));
  }
};
#include "charfn/countfind/scan_kernels.inc"
}  // namespace wide
ZEQ_WIDE_END

namespace {

constexpr Kernels kGeneric = {"generic",          generic::count_byte, generic::count_set,
                              generic::first_set, generic::last_set,   generic::find_exact,
                              generic::find_fold};
constexpr Kernels kWide = {"wide",          wide::count_byte, wide::count_set,
                           wide::first_set, wide::last_set,   wide::find_exact,
                           wide::find_fold};

// Generic until the load-time choice has run, so a caller from another
// library's constructor still gets a correct build.
const Kernels *chosen = &kGeneric;

__attribute__((constructor)) void choose_build() {
  if (cpu::wide()) chosen = &kWide;
}

}  // namespace

const Kernels &kernels() { return *chosen; }

void make_set(ByteSet *set, const uint8_t *table) {
  std::memset(set->lo, 0, sizeof set->lo);
  std::memset(set->hi, 0, sizeof set->hi);
  std::memset(set->members, 0, sizeof set->members);
  set->count = 0;
  for (int b = 0; b < 256; b++) {
    const uint8_t in = table[b] ? 1 : 0;
    set->table[b] = in;
    if (!in) continue;
    if (set->count < ByteSet::kFew) set->members[set->count] = static_cast<uint8_t>(b);
    set->count++;
    const int h = b >> 4, l = b & 15;
    if (h < 8)
      set->lo[l] |= static_cast<uint8_t>(1u << h);
    else
      set->hi[l] |= static_cast<uint8_t>(1u << (h - 8));
  }
}

void make_fold_set(ByteSet *set, uint8_t c) {
  const uint8_t *up = zeq::upcase_table();
  uint8_t table[256];
  for (int b = 0; b < 256; b++) table[b] = up[b] == up[c];
  make_set(set, table);
}

void prepare_needle(Needle *needle, const uint8_t *w, int64_t k, bool fold) {
  needle->w = w;
  needle->k = k;
  needle->fold = fold;
  if (!fold || k <= 0) return;
  make_fold_set(&needle->first, w[0]);
  make_fold_set(&needle->last, w[k - 1]);
}

int64_t find_first(const uint8_t *s, int64_t n, const Needle &needle) {
  const uint8_t *w = needle.w;
  const int64_t k = needle.k;
  if (k <= 0 || k > n) return -1;
  if (!needle.fold) {
    if (k == 1) {
      const void *hit = std::memchr(s, w[0], static_cast<size_t>(n));
      return hit ? static_cast<const uint8_t *>(hit) - s : -1;
    }
    // The C library's memchr leads while the first byte of the word is rare
    // (it is the fastest scan there is); once false starts come more often
    // than one in 32 bytes, the pair filter of the kernels takes the rest.
    int64_t from = 0, false_starts = 0;
    const int64_t last = n - k;
    while (from <= last) {
      const void *hit = std::memchr(s + from, w[0], static_cast<size_t>(last - from + 1));
      if (!hit) return -1;
      const int64_t at = static_cast<const uint8_t *>(hit) - s;
      if (std::memcmp(s + at + 1, w + 1, static_cast<size_t>(k - 1)) == 0) return at;
      from = at + 1;
      if (++false_starts > 8 + (from >> 5)) {
        const int64_t rest = kernels().find_exact(s + from, n - from, w, k);
        return rest < 0 ? -1 : from + rest;
      }
    }
    return -1;
  }
  if (k == 1) return kernels().first_set(s, n, &needle.first);
  return kernels().find_fold(s, n, w, k, &needle.first, &needle.last, zeq::upcase_table());
}

int64_t find_last(const uint8_t *s, int64_t n, const Needle &needle) {
  const uint8_t *w = needle.w;
  const int64_t k = needle.k;
  if (k <= 0 || k > n) return -1;
  // The last byte of the word leads the way back through the string; tail
  // positions run over [k - 1, end).
  int64_t end = n;
  if (!needle.fold) {
    const uint8_t tail = w[k - 1];
    while (end >= k) {
      const void *hit = memrchr(s + k - 1, tail, static_cast<size_t>(end - (k - 1)));
      if (!hit) return -1;
      const int64_t at = static_cast<const uint8_t *>(hit) - s - (k - 1);
      if (std::memcmp(s + at, w, static_cast<size_t>(k - 1)) == 0) return at;
      end = at + k - 1;
    }
    return -1;
  }
  const uint8_t *up = zeq::upcase_table();
  while (end >= k) {
    // An index into s + k - 1 is the start of the candidate in s.
    const int64_t at = kernels().last_set(s + k - 1, end - (k - 1), &needle.last);
    if (at < 0) return -1;
    bool same = true;
    for (int64_t x = 0; x < k - 1 && same; x++) same = up[s[at + x]] == up[w[x]];
    if (same) return at;
    end = at + k - 1;
  }
  return -1;
}

}  // namespace zeq::countfind
