// charfn/compare/levenshtein.h - the Levenshtein kernel of COMPLEV: bytes,
// lengths and options in, min(distance, cutoff) out.  It knows nothing of
// argument blocks; what memory it needs beyond its stack tables it asks of a
// ScratchAllocator (core/scratch.h).
#pragma once

#include <cstdint>

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

// min(distance, cutoff) of a (n1 bytes) and b (n2 bytes), every byte counted
// (callers drop trailing blanks first); -1 when scratch memory is refused.
// Strips the common prefix and suffix, then takes the route the lengths and
// the cutoff call for.
int64_t distance(const uint8_t *a, int64_t n1, const uint8_t *b, int64_t n2, const Options &o,
                 ScratchAllocator *scratch);

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
