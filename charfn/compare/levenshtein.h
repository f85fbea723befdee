// charfn/compare/levenshtein.h - the Levenshtein kernel of COMPLEV: bytes,
// lengths and options in, min(distance, cutoff) out.  It knows nothing of
// argument blocks; what memory it needs beyond its stack tables it asks of a
// ScratchAllocator (core/scratch.h).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "core/scratch.h"

namespace zeq::lev {

struct Options {
  int64_t cutoff;          // at least 1: the answer is min(distance, cutoff)
  const uint8_t *upcase;   // upper-case table when case is ignored, else null
};

// Cutoffs up to this one take the edit-sequence route (distances below it
// are at most 3 edits).
inline constexpr int64_t kSmallCutoff = 4;
// The widest cutoff of the one-word diagonal band.
inline constexpr int64_t kBandCutoff = 63;

namespace detail {

// The shortcuts of distance, inline: most calls on short strings end in them.

// Case-sensitive runs are compared eight bytes at a time where the byte
// order lets the lowest differing byte be found from the low bits.
constexpr bool kWordRuns = std::endian::native == std::endian::little;

inline uint64_t load8(const uint8_t *p) {
  uint64_t w;
  memcpy(&w, p, 8);
  return w;
}

// The byte compared for x: upper-cased when case is ignored.
template <bool NoCase>
inline uint8_t key_of(uint8_t x, const uint8_t *up) {
  return NoCase ? up[x] : x;
}

// The number of equal bytes at the front of a and b, at most n.
template <bool NoCase>
inline int64_t same_run(const uint8_t *a, const uint8_t *b, int64_t n, const uint8_t *up) {
  int64_t i = 0;
  if (!NoCase && kWordRuns && n > 0 && a[0] == b[0]) {
    for (; i + 8 <= n; i += 8) {
      const uint64_t x = load8(a + i) ^ load8(b + i);
      if (x) return i + (std::countr_zero(x) >> 3);
    }
  }
  while (i < n && key_of<NoCase>(a[i], up) == key_of<NoCase>(b[i], up)) i++;
  return i;
}

// The number of equal bytes at the back of a (ending at a_end) and b
// (ending at b_end), at most n.
template <bool NoCase>
inline int64_t same_run_back(const uint8_t *a_end, const uint8_t *b_end, int64_t n,
                             const uint8_t *up) {
  int64_t i = 0;
  if (!NoCase && kWordRuns && n > 0 && a_end[-1] == b_end[-1]) {
    for (; i + 8 <= n; i += 8) {
      const uint64_t x = load8(a_end - i - 8) ^ load8(b_end - i - 8);
      if (x) return i + (std::countl_zero(x) >> 3);
    }
  }
  while (i < n && key_of<NoCase>(a_end[-i - 1], up) == key_of<NoCase>(b_end[-i - 1], up)) i++;
  return i;
}

// Drops the common prefix, then the common suffix, of a (m bytes) and b (q
// bytes, q >= m).
template <bool NoCase>
inline void drop_common_ends(const uint8_t **a, int64_t *m, const uint8_t **b, int64_t *q,
                      const uint8_t *up) {
  const int64_t pre = same_run<NoCase>(*a, *b, *m, up);
  *a += pre;
  *b += pre;
  *m -= pre;
  *q -= pre;
  const int64_t post = same_run_back<NoCase>(*a + *m, *b + *q, *m, up);
  *m -= post;
  *q -= post;
}

// The least distance of remainders whose common ends are gone (m, q > 0,
// a[0] != b[0], a[m - 1] != b[q - 1]).  A distance of q - m means insertions
// only, and one insertion would leave one of the two ends facing its own
// byte, so that takes q - m >= 2; one replacement mends both ends only of
// one-byte strings.
inline int64_t least_distance(int64_t m, int64_t q) {
  const int64_t diff = q - m;
  if (diff >= 2) return diff;
  return diff == 0 && m == 1 ? 1 : 2;
}

// The remainders of two strings: a the shorter (m bytes), b the longer (q),
// their common ends dropped; `settled` when that already settles the answer
// (a length gap above the cutoff, only insertions left, or a least distance
// that reaches the cutoff), which is then `answer`.
struct Remainders {
  const uint8_t *a, *b;
  int64_t m, q;
  bool settled;
  int64_t answer;
};

inline Remainders settle(const uint8_t *s1, int64_t n1, const uint8_t *s2, int64_t n2, const Options &o) {
  Remainders r{n1 <= n2 ? s1 : s2, n1 <= n2 ? s2 : s1, n1 <= n2 ? n1 : n2, n1 <= n2 ? n2 : n1, true, o.cutoff};
  if (r.q - r.m > o.cutoff) return r;
  if (o.upcase)
    drop_common_ends<true>(&r.a, &r.m, &r.b, &r.q, o.upcase);
  else
    drop_common_ends<false>(&r.a, &r.m, &r.b, &r.q, o.upcase);
  // Only insertions are left (q - m is within the cutoff), or the least
  // distance of what is left reaches the cutoff.
  if (r.m == 0) r.answer = r.q;
  else if (least_distance(r.m, r.q) < o.cutoff) r.settled = false;
  return r;
}

// min(distance, cutoff) of the remainders settle left unsettled (a: m > 0
// bytes, b: q >= m bytes), for a cutoff of at most kSmallCutoff, which asks
// for no scratch memory, and for a wider one (-1 when scratch memory is
// refused).  Everything by value, so that a call settled inline keeps its
// values in registers.
int64_t few_edits_remainders(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, Options o);
int64_t wide_remainders(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, Options o,
                        ScratchAllocator *scratch);

}  // namespace detail

// min(distance, cutoff) of a (n1 bytes) and b (n2 bytes), every byte counted
// (callers drop trailing blanks first); -1 when scratch memory is refused.
// A null scratch refuses every request: a cutoff of at most kSmallCutoff
// never makes one.
// Strips the common prefix and suffix, then takes the route the lengths and
// the cutoff call for.
inline int64_t distance(const uint8_t *a, int64_t n1, const uint8_t *b, int64_t n2, const Options &o,
                        ScratchAllocator *scratch) {
  const detail::Remainders r = detail::settle(a, n1, b, n2, o);
  if (r.settled) return r.answer;
  return o.cutoff <= kSmallCutoff ? detail::few_edits_remainders(r.a, r.m, r.b, r.q, o)
                                  : detail::wide_remainders(r.a, r.m, r.b, r.q, o, scratch);
}

// The routes of distance, for tests and benchmarks: the same shortcuts, then
// route r on the remainders (m bytes of the shorter, q of the longer) when it
// admits them.  Answers min(distance, cutoff) like distance, -1 when scratch
// is refused, -2 when the remainders are outside the route's limits:
enum class Route {
  FewEdits,  // the edit sequences a cutoff of at most kSmallCutoff allows
  OneWord,   // one bit-vector column, m <= 64
  Band,      // the diagonal band in one word, cutoff <= kBandCutoff
  TwoWords,  // the column in two words, 64 < m <= 128
  Blocks,    // blocks of 64 cells over a widening band, any length
};
int64_t route(Route r, const uint8_t *a, int64_t n1, const uint8_t *b, int64_t n2, const Options &o,
              ScratchAllocator *scratch);

// A pattern of 1 to 64 bytes prepared once for many texts (a constant
// argument of a column): its match table, the preparation of the one-word
// route.  distance(pattern, ...) answers what distance answers for the same
// two strings, without the shortcuts: a pattern table of a few kilobytes is
// the one thing it saves.
struct Pattern {
  int64_t m;
  const uint8_t *upcase;  // the table the pattern was read through, or null
  uint64_t peq[256];      // bit i of peq[x]: byte i of the pattern is x (upper-cased)
};
// Fills p for a (1 <= m <= 64 bytes); false, leaving p alone, for any other m.
bool prepare(Pattern *p, const uint8_t *a, int64_t m, const uint8_t *upcase);
// min(distance, cutoff) of the pattern and b (q bytes); cutoff >= 1.
int64_t distance(const Pattern &p, const uint8_t *b, int64_t q, int64_t cutoff);

// Whether route r takes remainders of m <= q bytes with this cutoff.
constexpr bool admits(Route r, int64_t m, int64_t q, int64_t cutoff) {
  if (m <= 0 || q < m || cutoff < 1) return false;
  switch (r) {
    case Route::FewEdits: return cutoff <= kSmallCutoff;
    case Route::OneWord: return m <= 64;
    case Route::Band: return cutoff <= kBandCutoff;
    case Route::TwoWords: return m > 64 && m <= 128;
    case Route::Blocks: return true;
  }
  return false;
}

}  // namespace zeq::lev
