// charfn/compare/levenshtein.cc - the Levenshtein kernel behind COMPLEV: the
// distance of two byte strings (insert, delete and replace one byte, each
// costing 1), or the cutoff when the distance reaches it.
//
// The answer is always min(distance, cutoff); the cutoff only lets the work
// stop early.  Steps: a length difference above the
// cutoff answers at once, the common prefix and suffix go, and a two-row
// programme runs over what is left.  With a cutoff c only the diagonal band
// -c <= column - row <= c + 1 is computed (a cell further out costs more than
// c), and the programme stops at the first row whose every cell reaches c.
//
// Routes, after those shortcuts (each answers the same min(distance,
// cutoff) as the two-row programme, which the tests keep as the reference):
//   - a cutoff of at most kSmallCutoff: the few edit sequences a distance
//     below it allows are tried one after the other (the "mbleven" idea),
//     each walk ending at the first mismatch it cannot pay for;
//   - a shorter remainder of at most 64 bytes: one column of the table as bit
//     vectors of +1 / -1 differences in one word (Myers 1999, Hyyro 2003);
//   - longer remainders: first the diagonal band of a cutoff of at most
//     kBandCutoff in one word sliding down the table (Hyyro 2003), which
//     stops once the last cell's diagonal reaches the cutoff; when that is
//     not the answer, the whole column in two words up to 128 bytes, else in
//     blocks of 64 cells over a diagonal band that widens until it holds the
//     answer.
// Remainders longer than kShort take the documented block of the caller's
// scratch memory (not on the edit-sequence route); the routes keep their
// tables on the stack, but for the blocks, which take theirs from scratch
// memory too.

#include <bit>
#include <cstring>

#include "charfn/compare/levenshtein.h"
#include "core/bits.h"

namespace zeq::lev {
namespace {

// Remainders up to this long need no scratch memory.
constexpr int64_t kShort = 32;
// Width of the first band of the bit-parallel route on several blocks.
constexpr int64_t kFirstBand = 64;

// Zeroes `bytes` bytes through the C library's memset.  A fixed size would
// let the compiler write an inline string store instead, which on some
// processors costs several times more for a table of a few kilobytes.
inline void clear_table(void *table, size_t bytes) {
#if defined(__GNUC__)
  __asm__("" : "+r"(bytes));
#endif
  memset(table, 0, bytes);
}

using detail::key_of;
using detail::least_distance;
using detail::kWordRuns;
using detail::load8;
using detail::Remainders;
using detail::settle;

// --- The bit-parallel route --------------------------------------------------
//
// The shorter remainder a (m bytes) runs down a column of the table, the
// longer b (q bytes) along its rows, one column per byte of b.  A column is
// kept as two bit vectors per block of 64 cells: bit i of pv (mv) is set when
// cell i + 1 is one more (one less) than cell i.  Cell 0 of every column is
// the column number, so a new column always starts one above the last.  The
// score is the value of one cell followed down the columns.
//
// Bytes of a are numbered by distinct value (slot 0: bytes not in a), and
// each byte of b goes through the same numbering; with case ignored both
// number the upper-cased byte, so no upper-cased copies are needed.

// One column step of a 64-cell block: pv/mv the block's differences, eq the
// cells whose byte of a matches the byte of b, hpos / hneg (0 or 1) whether
// the row just above the block rises / falls by one from the last column to
// this one.  Leaves the horizontal differences of the block's rows in *ph /
// *mh (bit i: row i + 1 of the block), before their shift.  Written so that
// the longest chain from pv to the new pv is and, add, or, and-not, shift,
// and-not, or: the complements fall on values known early.
inline void block_step(uint64_t *pv, uint64_t *mv, uint64_t eq, uint64_t hpos, uint64_t hneg,
                       uint64_t *ph_out, uint64_t *mh_out) {
  const uint64_t p = *pv, n = *mv;
  const uint64_t xv = eq | n;
  eq |= hneg;
  const uint64_t sum = (eq & p) + p;
  const uint64_t xh = (sum ^ p) | eq;
  const uint64_t u = (sum | p | eq) & ~n;   // ~ph, ph = n | ~(xh | p)
  const uint64_t mh = p & xh;
  const uint64_t nph = (u << 1) | (hpos ^ 1);  // ~((ph << 1) | hpos)
  *ph_out = ~u;
  *mh_out = mh;
  *pv = (mh << 1) | hneg | (~xv & nph);
  *mv = ~nph & xv;
}

// The step of a block whose rows below pass their last horizontal
// difference on: *hpos / *hneg in, the block's last row's out.
inline void chained_step(uint64_t *pv, uint64_t *mv, uint64_t eq, uint64_t *hpos, uint64_t *hneg) {
  uint64_t ph, mh;
  block_step(pv, mv, eq, *hpos, *hneg, &ph, &mh);
  *hpos = ph >> 63;
  *hneg = mh >> 63;
}

// A mask of the low `rows` bits (1 <= rows <= 64).
inline uint64_t low_rows(int64_t rows) {
  return rows == 64 ? ~uint64_t(0) : (uint64_t(1) << rows) - 1;
}

// How much the last of the masked rows of a column stands above its first:
// its +1 less its -1 differences.  The last column's, added to q (its cell
// 0), is the last cell.
inline int64_t column_rise(uint64_t pv, uint64_t mv, uint64_t rows) {
  return zeq::popcount64(pv & rows) - zeq::popcount64(mv & rows);
}

// min(distance, cutoff) of a (64 < m <= 128 bytes) and b (q bytes): the
// whole column in two words, match vectors indexed by the (upper-cased)
// byte in peq (256 pairs of words of any content).  The last cell is read
// from the last column.
template <bool NoCase>
int64_t two_words(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t cutoff,
                  const uint8_t *up, uint64_t (*peq)[2]) {
  auto key = [up](uint8_t x) { return key_of<NoCase>(x, up); };
  clear_table(peq, 256 * sizeof *peq);
  for (int64_t i = 0; i < m; i++) peq[key(a[i])][i >> 6] |= uint64_t(1) << (i & 63);
  uint64_t p0 = ~uint64_t(0), n0 = 0, p1 = ~uint64_t(0), n1 = 0;
  for (int64_t l = 0; l < q; l++) {
    const uint64_t *eq = peq[key(b[l])];
    uint64_t hpos = 1, hneg = 0;
    chained_step(&p0, &n0, eq[0], &hpos, &hneg);
    chained_step(&p1, &n1, eq[1], &hpos, &hneg);
  }
  const int64_t d = q + column_rise(p0, n0, ~uint64_t(0)) + column_rise(p1, n1, low_rows(m - 64));
  return d < cutoff ? d : cutoff;
}

// The numbering of bytes: map[x] is the slot of byte x of b, 0 when x does
// not occur in a.  Answers the number of slots in use, slot 0 included.
int64_t number_bytes(const uint8_t *a, int64_t m, bool nocase, const uint8_t *up,
                     uint16_t map[256]) {
  uint16_t slot_of[256] = {};
  int64_t slots = 1;
  for (int64_t i = 0; i < m; i++) {
    const uint8_t key = nocase ? up[a[i]] : a[i];
    if (!slot_of[key]) slot_of[key] = (uint16_t)slots++;
  }
  for (int x = 0; x < 256; x++) map[x] = slot_of[nocase ? up[x] : x];
  return slots;
}

// Words of memory the route needs for m bytes of a numbered in `slots`
// slots: the match vectors of every slot and block, and pv and mv.
uint64_t bit_words(int64_t m, int64_t slots) {
  const uint64_t blocks = ((uint64_t)m + 63) / 64;
  return ((uint64_t)slots + 2) * blocks;
}

// min(distance, cutoff) of a (m <= 64 bytes) and b (q bytes), one word;
// eq(x) is the match vector of byte x of b.  Without a cutoff that can be
// reached (Check false: it exceeds q, the largest distance) the last cell
// is read from the last column alone: q plus its +1 less its -1 differences.
template <bool Check, class Eq>
inline int64_t one_word(int64_t m, const uint8_t *b, int64_t q, int64_t cutoff, Eq eq_of) {
  uint64_t p = ~uint64_t(0), n = 0, ph, mh;
  if (!Check) {
    for (int64_t l = 0; l < q; l++) block_step(&p, &n, eq_of(b[l]), 1, 0, &ph, &mh);
    const int64_t d = q + column_rise(p, n, low_rows(m));
    return d < cutoff ? d : cutoff;
  }
  // The score follows cell m down the columns.
  int64_t score = m;
  for (int64_t l = 0; l < q; l++) {
    block_step(&p, &n, eq_of(b[l]), 1, 0, &ph, &mh);
    score += (int64_t)((ph >> (m - 1)) & 1) - (int64_t)((mh >> (m - 1)) & 1);
    // The last cell can fall by at most one per column still to come.
    if (score - (q - 1 - l) >= cutoff) return cutoff;
  }
  return score < cutoff ? score : cutoff;
}

// The one-word route: match vectors indexed by the byte itself (upper-cased
// when case is ignored), in peq (256 words of any content).  Only the
// entries a and b can reach are cleared when that is fewer than the whole
// table.
template <bool NoCase>
int64_t short_remainder(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t cutoff,
                       const uint8_t *up, uint64_t *peq) {
  auto key = [up](uint8_t x) { return key_of<NoCase>(x, up); };
  if (m + q < 128) {
    for (int64_t i = 0; i < q; i++) peq[key(b[i])] = 0;
    for (int64_t i = 0; i < m; i++) peq[key(a[i])] = 0;
  } else {
    clear_table(peq, 256 * sizeof(uint64_t));
  }
  for (int64_t i = 0; i < m; i++) peq[key(a[i])] |= uint64_t(1) << i;
  auto eq = [&](uint8_t x) { return peq[key(x)]; };
  if (cutoff > q) return one_word<false>(m, b, q, cutoff, eq);
  return one_word<true>(m, b, q, cutoff, eq);
}

// --- The edit-sequence route -------------------------------------------------
//
// Equal bytes at the front of both strings can always be paired (a cheapest
// alignment pairs them), so a walk pairs equal bytes and, at a mismatch,
// spends the next operation of a fixed sequence: skip a byte of the longer
// string b, of the shorter a, or of both.  The cost of a walk is the
// operations spent plus what is left of either string.  Every alignment of
// at most k edits is found by a sequence of exactly k operations whose skips
// of b outnumber those of a by q - m (the alignment's own operations, then
// skips of b for what is left of b, then skips of both), so the least cost
// of those walks is the distance whenever that is at most k.
enum : uint8_t { kSkipB = 0, kSkipA = 1, kSkipBoth = 2 };

// The cost of one walk, or k + 1 once it meets a mismatch with no operation
// left.  ops holds k operations, two bits each, the first in the low bits.
template <bool NoCase, bool Words>
int64_t walk(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, unsigned ops, int64_t k,
             const uint8_t *up) {
  int64_t i = 0, j = 0, spent = 0;
  while (i < m && j < q) {
    if (key_of<NoCase>(a[i], up) != key_of<NoCase>(b[j], up)) {
      if (spent == k) return k + 1;
      const unsigned op = (ops >> (2 * spent++)) & 3;
      i += op != kSkipB;
      j += op != kSkipA;
      continue;
    }
    int64_t run = 1;
    if (Words && i + 9 <= m && j + 9 <= q) {
      // A match: the next eight pairs at once, up to their first mismatch.
      const uint64_t x = load8(a + i + 1) ^ load8(b + j + 1);
      run += x ? std::countr_zero(x) >> 3 : 8;
    }
    i += run;
    j += run;
  }
  return spent + (m - i) + (q - j);
}

// The operation sequences of k <= 3 operations whose skips of b outnumber
// those of a by diff <= k, for each k and diff.
struct Sequences {
  uint8_t count[4][4] = {};
  uint8_t ops[4][4][8] = {};
  constexpr Sequences() {
    for (int k = 1; k <= 3; k++) {
      const int codes = k == 1 ? 3 : k == 2 ? 9 : 27;
      for (int code = 0; code < codes; code++) {
        int c = code, balance = 0, ops_code = 0;
        for (int e = 0; e < k; e++, c /= 3) {
          balance += c % 3 == kSkipB ? 1 : c % 3 == kSkipA ? -1 : 0;
          ops_code |= (c % 3) << (2 * e);
        }
        if (balance >= 0) ops[k][balance][count[k][balance]++] = (uint8_t)ops_code;
      }
    }
  }
};
constexpr Sequences kSequences;

// min(distance, k + 1) of the remainders a (m bytes) and b (q >= m bytes),
// k <= 3; Words when the walks compare eight bytes at a time.  The walks stop
// at the first that reaches the least distance.
template <bool NoCase, bool Words>
int64_t try_sequences(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t k,
                      const uint8_t *up) {
  const int64_t least = least_distance(m, q), diff = q - m;
  if (least > k) return k + 1;
  int64_t best = k + 1;
  const uint8_t *ops = kSequences.ops[k][diff];
  for (int s = 0; s < kSequences.count[k][diff] && best > least; s++) {
    const int64_t d = walk<NoCase, Words>(a, m, b, q, ops[s], k, up);
    if (d < best) best = d;
  }
  return best;
}

// The same; remainders under eight bytes are walked a byte at a time (no
// run of eight fits in them).  From eight bytes on, the eight-byte compares
// also spare the walks the mispredicted branch at the end of each run.
template <bool NoCase>
int64_t few_edits(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t k,
                  const uint8_t *up) {
  if (!NoCase && kWordRuns && m >= 8) return try_sequences<false, true>(a, m, b, q, k, up);
  return try_sequences<NoCase, false>(a, m, b, q, k, up);
}

// --- The diagonal band in one word -------------------------------------------
//
// With a cutoff k, a path to the last cell that costs less than k keeps to
// the diagonals -lo <= column - row <= delta + lo (delta = q - m, lo =
// (k - delta - 1) / 2), at most k of them.  For k <= kBandCutoff they fit in
// one word that slides down one row per column: bit r of the word holds the
// difference between rows top + r and top + r + 1 of the column, top the
// first row of the band.  Rows above row 0 stand for bytes that match
// nothing and start level with row 0; a cell above the band counts as no
// less than its neighbour, so every cell is at least its true value and
// exact along any cheapest path inside the band.
//
// The cell followed is the one on the diagonal of the last cell (column -
// row = delta): along a diagonal the table never falls, and a path to the
// last cell through an earlier column costs at least that column's cell on
// this diagonal, so the walk stops once it reaches the cutoff.  When the
// distance is below the cutoff, that cell's cheapest path stays inside the
// band and the value read is exact.
//
// Match vectors come from the bytes of a as the band passes them: for each
// byte value the position of its last occurrence seen and a word whose top
// bit is that occurrence, shifted down as the band moves on.

struct BandMatch {
  int64_t pos;    // position in a of the occurrence at bit 63 of bits
  uint64_t bits;  // bit 63 - d: an occurrence at pos - d
};

inline uint64_t band_shift(uint64_t bits, uint64_t d) { return d < 64 ? bits >> d : 0; }

// min(distance, cutoff) of a (m bytes) and b (q >= m bytes), cutoff at most
// kBandCutoff; table holds 256 entries of any content.
template <bool NoCase>
int64_t diagonal_band(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t cutoff,
                      const uint8_t *up, BandMatch *table) {
  const int64_t delta = q - m;
  if (delta >= cutoff) return cutoff;  // every path makes q - m insertions
  auto key = [up](uint8_t x) { return key_of<NoCase>(x, up); };
  clear_table(table, 256 * sizeof(BandMatch));
  const int64_t lo = (cutoff - delta - 1) / 2, hi = delta + lo;
  // Before the step of column j (1-based) bit r stands for byte j - hi - 2 + r
  // of a, bit 63 for the last byte seen, j - hi + 61.
  int64_t next = 0;
  auto see = [&](int64_t upto) {
    for (; next <= upto && next < m; next++) {
      BandMatch &e = table[key(a[next])];
      e.bits = band_shift(e.bits, (uint64_t)(next - e.pos)) | (uint64_t(1) << 63);
      e.pos = next;
    }
  };
  // Column 0: rows 1 and below rise by one, rows above 0 stay level.
  uint64_t p = ~uint64_t(0) << (hi + 1), n = 0;
  int64_t score = delta;  // column delta, row 0
  const int diag_bit = (int)lo + 1;
  for (int64_t j = 1; j <= q; j++) {
    const int64_t top = j - hi + 61;
    see(top);
    const BandMatch &e = table[key(b[j - 1])];
    const uint64_t eq = band_shift(e.bits, (uint64_t)(top - e.pos));
    const uint64_t xv = eq | n;
    const uint64_t d0 = ((((eq & p) + p) ^ p) | xv);
    const uint64_t ph = n | ~(d0 | p), mh = p & d0;
    if (j > delta) {
      score += (int64_t)(~d0 >> diag_bit & 1);
      if (score >= cutoff) return cutoff;
    }
    p = mh | ~((d0 >> 1) | ph);
    n = (d0 >> 1) & ph;
  }
  return score;
}

// min(distance, cutoff) of a (m > 64 bytes) and b (q >= m bytes) over the
// blocks that meet the diagonal band of the cutoff; pv and mv hold a word per
// block (any content).
//
// A path to the last cell through cell (i, l) costs at least |l - i| +
// |(q - l) - (m - i)|, so a path below the cutoff never leaves the rows
// l - lo_off .. l + hi_off of column l.  A block entering the band at the
// bottom starts from cells assumed to rise by one per row below the block
// above; the first block of the band is fed +1 from the row above it.  Both
// assumed values are at least the true ones, so every cell is at least its
// true value and, by induction along a cheapest path inside the band, exact
// on that path: the last cell is exact whenever it is below the cutoff, and
// at or above it otherwise.  With `reached`, the pass runs to the last
// column and leaves its last cell there unclipped: the cost of the cheapest
// path inside the band, which sizes the next band.
int64_t banded_blocks(int64_t m, const uint8_t *b, int64_t q, int64_t cutoff,
                      const uint16_t map[256], const uint64_t *peq, uint64_t *pv, uint64_t *mv,
                      int64_t *reached) {
  const int64_t delta = q - m;
  if (delta >= cutoff) return cutoff;  // every path makes q - m insertions
  const int64_t blocks = (m + 63) / 64;
  const int64_t hi_off = (cutoff - delta - 1) / 2, lo_off = (cutoff + delta - 1) / 2;
  const int last_bit = (int)((m - 1) & 63);
  auto rows_of = [&](int64_t blk) { return blk == blocks - 1 ? m - 64 * blk : int64_t(64); };
  auto last_block = [&](int64_t l) { return ((l + hi_off < m ? l + hi_off : m) - 1) >> 6; };
  auto first_block = [&](int64_t l) { return ((l - lo_off > 1 ? l - lo_off : 1) - 1) >> 6; };

  // Column 0: every block of the band of column 1 holds 0, 1, 2, ...; the
  // score follows the bottom cell of the band's last block.
  int64_t last = last_block(1);
  for (int64_t blk = 0; blk <= last; blk++) pv[blk] = ~uint64_t(0), mv[blk] = 0;
  int64_t score = 64 * last + rows_of(last);

  for (int64_t l = 1; l <= q; l++) {
    if (last_block(l) > last) {
      last++;  // the band's bottom row moves down one row per column
      pv[last] = ~uint64_t(0);
      mv[last] = 0;
      score += rows_of(last);
    }
    const int64_t first = first_block(l);
    const uint64_t *eq = peq + map[b[l - 1]] * blocks;
    uint64_t hpos = 1, hneg = 0, ph, mh;
    for (int64_t blk = first; blk < last; blk++) chained_step(&pv[blk], &mv[blk], eq[blk], &hpos, &hneg);
    block_step(&pv[last], &mv[last], eq[last], hpos, hneg, &ph, &mh);
    const int bit = last == blocks - 1 ? last_bit : 63;
    score += (int)((ph >> bit) & 1) - (int)((mh >> bit) & 1);
    if (!reached && last == blocks - 1 && score - (q - l) >= cutoff) return cutoff;
  }
  if (reached) *reached = score;
  return score < cutoff ? score : cutoff;
}

// min(distance, cutoff) of a (m bytes) and b (q bytes), 0 < m <= q, over
// bit_words(m, slots) words of mem (any content).  With several blocks the
// band starts narrow and widens until the distance falls below it or it
// reaches the cutoff: a pass that answers less than its own cutoff has the
// exact distance, so near strings cost a narrow band whatever the cutoff.
// A failed pass at least doubles the band, and widens it to just above the
// cost it reached inside the band when that is more (edits spread along the
// strings keep the cheapest path near the diagonal, so the next pass then
// usually succeeds).
int64_t bit_parallel(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t cutoff,
                     const uint16_t map[256], int64_t slots, uint64_t *mem) {
  if (q - m >= cutoff) return cutoff;
  const int64_t blocks = (m + 63) / 64;
  uint64_t *peq = mem;
  uint64_t *pv = peq + slots * blocks, *mv = pv + blocks;
  memset(peq, 0, sizeof(uint64_t) * (size_t)(slots * blocks));
  for (int64_t i = 0; i < m; i++) peq[map[a[i]] * blocks + (i >> 6)] |= uint64_t(1) << (i & 63);

  for (int64_t band = kFirstBand;;) {
    const int64_t k = band < cutoff ? band : cutoff;
    int64_t reached = 0;
    const int64_t d = banded_blocks(m, b, q, k, map, peq, pv, mv, k < cutoff ? &reached : nullptr);
    if (d < k || k == cutoff) return d;
    band = reached + 1 > 2 * band ? reached + 1 : 2 * band;
  }
}

// `words` 64-bit words of scratch memory, aligned whatever the allocator
// gives; null when refused.
uint64_t *word_block(ScratchAllocator *scratch, uint64_t words) {
  auto *block = scratch ? static_cast<uint8_t *>(scratch->alloc(8 * words + 8)) : nullptr;
  if (!block) return nullptr;
  const uintptr_t skip = (8 - (reinterpret_cast<uintptr_t>(block) & 7)) & 7;
  return reinterpret_cast<uint64_t *>(block + skip);
}

// The documented scratch block of remainders of m and q bytes: two rows of
// 8-byte cells over the shorter, and upper-cased copies of both when case
// is ignored.
uint64_t documented_block(int64_t m, int64_t q, bool nocase) {
  return 8 * (uint64_t)(m + 1) + (nocase ? (uint64_t)(m + q) : 0);
}

// min(distance, cutoff) of remainders of more than 64 bytes (a: m, b: q >=
// m), or -1 when the blocks' scratch memory is refused.
template <bool NoCase>
[[gnu::noinline]] int64_t long_remainder(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t cutoff,
                       const uint8_t *up, ScratchAllocator *scratch) {
  // The one-word band first: exact whenever the distance is below its
  // cutoff, and quick to give up on strings further apart.
  BandMatch table[256];
  const int64_t k = cutoff < kBandCutoff ? cutoff : kBandCutoff;
  const int64_t d = diagonal_band<NoCase>(a, m, b, q, k, up, table);
  if (d < k || k == cutoff) return d;
  if (m <= 128) {
    uint64_t peq[256][2];
    return two_words<NoCase>(a, m, b, q, cutoff, up, peq);
  }
  uint16_t map[256];
  const int64_t slots = number_bytes(a, m, NoCase, up, map);
  uint64_t *mem = word_block(scratch, bit_words(m, slots));
  return mem ? bit_parallel(a, m, b, q, cutoff, map, slots, mem) : -1;
}

// min(distance, cutoff) of the remainders a (m > 0 bytes) and b (q >= m
// bytes) after the shortcuts, cutoff above kSmallCutoff, or -1 when scratch
// memory is refused.
template <bool NoCase>
int64_t bit_routes(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q,
                                     int64_t cutoff, const uint8_t *up, ScratchAllocator *scratch) {
  if (m > (int64_t(1) << 40) || q > (int64_t(1) << 40)) return -1;
  if (q > kShort && (!scratch || !scratch->alloc(documented_block(m, q, NoCase)))) return -1;
  if (m <= 64) {
    uint64_t peq[256];
    return short_remainder<NoCase>(a, m, b, q, cutoff, up, peq);
  }
  return long_remainder<NoCase>(a, m, b, q, cutoff, up, scratch);
}

}  // namespace

// The two entries of the routes keep apart, so that the bit-parallel
// routes' tables never weigh on an edit-sequence call.
int64_t detail::few_edits_remainders(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, Options o) {
  const int64_t d = o.upcase ? few_edits<true>(a, m, b, q, o.cutoff - 1, o.upcase)
                             : few_edits<false>(a, m, b, q, o.cutoff - 1, o.upcase);
  return d < o.cutoff ? d : o.cutoff;
}

int64_t detail::wide_remainders(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, Options o,
                                ScratchAllocator *scratch) {
  return o.upcase ? bit_routes<true>(a, m, b, q, o.cutoff, o.upcase, scratch)
                  : bit_routes<false>(a, m, b, q, o.cutoff, o.upcase, scratch);
}

int64_t route(Route r, const uint8_t *s1, int64_t n1, const uint8_t *s2, int64_t n2, const Options &o,
              ScratchAllocator *scratch) {
  const Remainders rem = settle(s1, n1, s2, n2, o);
  if (rem.settled) return rem.answer;
  const uint8_t *a = rem.a, *b = rem.b, *up = o.upcase;
  const int64_t m = rem.m, q = rem.q;
  const int64_t c = o.cutoff;
  if (!admits(r, m, q, c)) return -2;
  switch (r) {
    case Route::FewEdits: {
      const int64_t d = up ? few_edits<true>(a, m, b, q, c - 1, up) : few_edits<false>(a, m, b, q, c - 1, up);
      return d < c ? d : c;
    }
    case Route::OneWord: {
      uint64_t peq[256];
      return up ? short_remainder<true>(a, m, b, q, c, up, peq) : short_remainder<false>(a, m, b, q, c, up, peq);
    }
    case Route::Band: {
      BandMatch table[256];
      return up ? diagonal_band<true>(a, m, b, q, c, up, table) : diagonal_band<false>(a, m, b, q, c, up, table);
    }
    case Route::TwoWords: {
      uint64_t peq[256][2];
      return up ? two_words<true>(a, m, b, q, c, up, peq) : two_words<false>(a, m, b, q, c, up, peq);
    }
    case Route::Blocks: {
      uint16_t map[256];
      const int64_t slots = number_bytes(a, m, up != nullptr, up, map);
      uint64_t *mem = word_block(scratch, bit_words(m, slots));
      return mem ? bit_parallel(a, m, b, q, c, map, slots, mem) : -1;
    }
  }
  return -1;
}

bool prepare(Pattern *p, const uint8_t *a, int64_t m, const uint8_t *upcase) {
  if (m < 1 || m > 64) return false;
  p->m = m;
  p->upcase = upcase;
  clear_table(p->peq, sizeof p->peq);
  for (int64_t i = 0; i < m; i++) p->peq[upcase ? upcase[a[i]] : a[i]] |= uint64_t(1) << i;
  return true;
}

int64_t distance(const Pattern &p, const uint8_t *b, int64_t q, int64_t cutoff) {
  const int64_t gap = q > p.m ? q - p.m : p.m - q;
  if (gap >= cutoff) return cutoff;
  if (q == 0) return p.m < cutoff ? p.m : cutoff;
  const uint8_t *up = p.upcase;
  auto eq = [&](uint8_t x) { return p.peq[up ? up[x] : x]; };
  return cutoff > q ? one_word<false>(p.m, b, q, cutoff, eq) : one_word<true>(p.m, b, q, cutoff, eq);
}

}  // namespace zeq::lev
