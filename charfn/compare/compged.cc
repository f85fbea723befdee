// charfn/compare/compged.cc - COMPGED(string-1, string-2 [, cutoff]
// [, modifiers]), and its kernel (charfn/compare/ged.h): the generalised edit
// distance of two byte strings, the least total cost of the operations of the
// cost table (edit_costs.h) that pair them, or the cutoff when that cost
// reaches it.  The entry reads the arguments and the task's cost table,
// drops trailing blanks and calls the kernel.
//
// The programme runs with A, the shorter string, along each row and B, the
// longer, down the rows; every cost keeps its meaning in terms of string-1
// and string-2 whichever of them A is.  Three rows are kept because SWAP and
// the doubled-character operations reach two rows back.  Before it runs:
//   - equal strings answer 0 at once when no cost is negative and a match
//     costs nothing;
//   - the common prefix goes (one equal character stays in front) and the
//     first-position costs become the ordinary ones, when those are no dearer
//     and nothing can shift the alignment inside the prefix more cheaply than
//     an insertion or deletion at its end (see affixes_safe);
//   - with I or N, or a BLANK or PUNCTUATION cost of 0, both strings are
//     copied upper-cased and without the characters that cost nothing;
//   - with a cutoff c and a positive least cost e only the diagonal band of
//     half-width c / e is computed: a cell further out costs more than c;
//   - the common suffix goes (one equal character stays) under the matching
//     condition on the end-position costs.
// The programme stops early at a row that, with the row before it, cannot
// lead under the cutoff.  The answer is min(cost, cutoff), the same as the
// full table would give.
//
// The rows are computed one of three ways, all giving the same cells: in the
// wide build with 32-bit cells, a short A (up to 8 characters) with no band
// keeps each row in one register, and any other A runs each row in blocks of
// eight cells, every candidate and the minimum from the west in one pass
// (wide8 below); otherwise column 1 is computed on its own and the rest of
// the row in two passes (compged_rows.inc).  The three rows come from the
// caller's scratch memory (a failed request answers FNC_RC_NOROOM); the arrays
// of A's bytes stay on the stack for strings of up to kStackColumns
// characters.  Scratch memory goes back to its mark before every return.

#include <immintrin.h>

#include <cstring>
#include <utility>

#include "charfn/compare/compare_internal.h"
#include "charfn/compare/edit_costs.h"
#include "charfn/compare/ged.h"
#include "strkernel/blanks.h"
#include "core/cpu.h"

namespace {

using namespace zeq::cmp;

constexpr int64_t kShort = 32;  // copies of this size need no allocation

// Cells of the programme.  kInf marks cells outside the band; kNever is a
// candidate that does not apply, above every cell the programme can make.
// 32-bit cells serve cost tables whose every entry lies in [0, kSmallCost)
// for strings of fewer than kSmallLength characters together: no path then
// costs 2^29, so every cell of the band holds the same value as a 64-bit one
// (a cell of the band always has its diagonal neighbour in the band of the
// row before, so no cell takes its value from outside the band).
template <class T>
struct Cells;
template <>
struct Cells<int64_t> {
  static constexpr int64_t kInf = kCostUnset;
  static constexpr int64_t kNever = INT64_MAX / 4;
};
template <>
struct Cells<int32_t> {
  static constexpr int32_t kInf = 1 << 30;
  static constexpr int32_t kNever = (1 << 30) + (1 << 29);
};
constexpr int64_t kSmallCost = 1 << 16;
// Cells after the last column of every row, so that the row passes can run
// in whole blocks of this many cells.
constexpr int64_t kPad = 8;
// Cells of each array of the programme: one before column 0, columns 0 to
// la, the padding and one more.
constexpr int64_t kCells(int64_t la) { return la + 3 + kPad; }
constexpr int64_t kSmallLength = 1 << 13;

// The programme's input once the shortcuts have been taken.
struct Programme {
  const uint8_t *A;  // along the rows
  int64_t la;
  const uint8_t *B;  // down the rows
  int64_t lb;
  bool a_is_s1;
  const int64_t *c;  // costs
  bool blank, punct; // BLANK / PUNCTUATION available
  int64_t w;         // band half-width
  int64_t cutoff;
  const uint8_t *cls;  // session class table
};

// What the row passes read of a row (the generic passes start at column 2,
// the wide ones at the band's left edge).  Masks are all ones where the test
// holds.
template <class T>
struct PlainRow {
  const T *prev2, *prev;
  T *cur;
  const T *eq_before;     // A's byte equals the previous byte of B
  const T *eq;            // A's byte equals this row's byte of B
  const T *white, *punct; // A's byte is a white-space / punctuation character
  const T *take_a;        // cost of taking A's byte alone, by column
  const T *sums;          // sums of take_a from column 1
  T match, replace, north, swap, double_a, double_b, end_b, end_a;
  int64_t end_from;       // first column where end_a applies (the last row)
  T doubled;              // mask: this row's byte of B equals the one before
  T row_white, row_punct; // masks: this row's byte of B is of the class
  T pair_white, pair_punct;
  bool end_column;        // the row reaches A's last column past A's length
  // For the wide rows, which compare bytes themselves and run column 1 too:
  const T *bytes;         // A's bytes by column (-1 in column 0 and the padding)
  const T *row_sums;      // sums of take_a_at from column 1
  T b, b_before;          // this row's byte of B and the one before (-2 in row 1)
  T freplace;
};

inline int64_t min2(int64_t x, int64_t y) { return x < y ? x : y; }

// The costs of the programme by role: A's or B's character taken alone,
// before the other string began or after it ended, and a doubled character.
struct Roles {
  int64_t takeA, takeB, firstA, firstB, endA, endB, dblA, dblB;
  int64_t match, replace, freplace, swap, blank, punct;
  bool use_blank, use_punct;
  const uint8_t *cls;
  unsigned avail;  // the bits of kind() that count
  // alone() at takeA, firstA, takeB and firstB by kind().
  int64_t take_a_by[4], first_a_by[4], take_b_by[4], first_b_by[4];

  explicit Roles(const Programme &p) {
    const int64_t *c = p.c;
    takeA = p.a_is_s1 ? c[COST_INSERT] : c[COST_DELETE];
    takeB = p.a_is_s1 ? c[COST_DELETE] : c[COST_INSERT];
    firstA = p.a_is_s1 ? c[COST_FINSERT] : c[COST_FDELETE];
    firstB = p.a_is_s1 ? c[COST_FDELETE] : c[COST_FINSERT];
    endA = p.a_is_s1 ? c[COST_APPEND] : c[COST_TRUNCATE];
    endB = p.a_is_s1 ? c[COST_TRUNCATE] : c[COST_APPEND];
    dblA = p.a_is_s1 ? c[COST_DOUBLE] : c[COST_SINGLE];
    dblB = p.a_is_s1 ? c[COST_SINGLE] : c[COST_DOUBLE];
    match = c[COST_MATCH];
    replace = c[COST_REPLACE];
    freplace = c[COST_FREPLACE];
    swap = c[COST_SWAP];
    blank = c[COST_BLANK];
    punct = c[COST_PUNCT];
    use_blank = p.blank;
    use_punct = p.punct;
    cls = p.cls;
    avail = (use_blank ? 1u : 0u) | (use_punct ? 2u : 0u);
    for (unsigned k = 0; k < 4; k++) {
      take_a_by[k] = alone_by(k, takeA);
      first_a_by[k] = alone_by(k, firstA);
      take_b_by[k] = alone_by(k, takeB);
      first_b_by[k] = alone_by(k, firstB);
    }
  }
  // 1 for an available white-space character, 2 for an available
  // punctuation character (both for one that is both).
  unsigned kind(uint8_t x) const {
    static_assert(ZEQ_CLASS_SPACE == 0x08 && ZEQ_CLASS_PUNCT == 0x10);
    return (cls[x] >> 3) & avail;
  }
  bool white(uint8_t x) const { return (kind(x) & 1) != 0; }
  bool pun(uint8_t x) const { return (kind(x) & 2) != 0; }
  // Cheapest way to take one character alone at a given base cost.
  int64_t alone_by(unsigned k, int64_t base) const {
    int64_t v = base;
    if (k & 1) v = min2(v, blank);
    if (k & 2) v = min2(v, punct);
    return v;
  }
  int64_t alone(uint8_t x, int64_t base) const { return alone_by(kind(x), base); }
};

// The rows of the programme, A's bytes by column, and where the band lies.
template <class T>
struct Table {
  T *prev2, *prev, *cur;
  T *eq_before, *eq;  // equality masks of the previous and this row
  T *take_a;          // Roles::alone of A's bytes at takeA
  T *sums;            // sums of take_a from column 1
  T *white, *punct;   // class masks of A's bytes
  T *bytes;           // A's bytes by column, -1 in column 0 and the padding
  T *end_sums;        // sums from column 1 of take_a_at in the last row
  int64_t left, right;
  // Arrays of kCells(la) cells, one before column 0 (read, never used, by
  // column 1 of the wide rows) and kPad after the last column.
  static constexpr int kRows = 3;
  static constexpr int kWork = 8;
};

// Any cell (l, col) of the band, every candidate tested on its own.
template <class T>
int64_t general_cell(const Programme &p, const Roles &r, const Table<T> &t, int64_t l,
                     int64_t col) {
  const uint8_t *A = p.A, *B = p.B;
  const int64_t la = p.la, lb = p.lb;
  const uint8_t a = A[col - 1], b = B[l - 1];
  const uint8_t b_before = l > 1 ? B[l - 2] : 0;
  const int64_t diag = t.prev[col - 1], west = t.cur[col - 1], north = t.prev[col];
  int64_t v;
  if (a == b)
    v = diag + r.match;
  else
    v = diag + ((col == 1 || l == 1) ? r.freplace : r.replace);
  v = min2(v, west + r.takeA);
  v = min2(v, north + r.takeB);
  if (l == lb && col > lb) v = min2(v, west + r.endA);
  if (col == la && l > la) v = min2(v, north + r.endB);
  const bool aw = r.white(a), bw = r.white(b);
  if (aw && bw) v = min2(v, diag + r.blank);
  if (aw) v = min2(v, west + r.blank);
  if (bw) v = min2(v, north + r.blank);
  const bool ap = r.pun(a), bp = r.pun(b);
  if (ap && bp) v = min2(v, diag + r.punct);
  if (ap) v = min2(v, west + r.punct);
  if (bp) v = min2(v, north + r.punct);
  if (l > 1 && col > 1 && a == b_before && A[col - 2] == b) v = min2(v, t.prev2[col - 2] + r.swap);
  if (a == b) {
    if (l > 1 && b_before == b) v = min2(v, t.prev2[col - 1] + r.dblB);
    if (col > 1 && A[col - 2] == a) v = min2(v, t.prev[col - 2] + r.dblA);
  }
  return v;
}

// Cells just outside a row's band read as unreachable by the next rows.
template <class T>
void fence(T *row, int64_t la, int64_t lo, int64_t hi) {
  for (int64_t k = lo; k <= hi; k++)
    if (k >= 0 && k <= la) row[k] = Cells<T>::kInf;
}

ZEQ_WIDE_BEGIN
namespace wide8 {

inline __m256i load8u(const int32_t *v) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v));
}

// Short A (1 to 8 characters) in 32-bit cells with no band (wide build
// only): a whole row in one register, lane j for column j + 1, column 0 kept
// apart.  Every lane runs the cell of plain_cells (column 1 with its
// first-position replacement); lanes past A's length compute cells nobody
// reads.
struct ShortRows {
  __m256i a;               // A's bytes (-1 past A's length: equal to no byte)
  __m256i white, punct;    // class masks of A's bytes
  __m256i ks, end_ks;      // kNever plus the sums of take_a from column 1 (in the last row
                           // with APPEND or TRUNCATE)
  __m256i valid;           // lanes of A's columns
  __m256i end_column;      // endB in A's last column, kNever elsewhere
  int64_t first_low;       // the least cell of row 0
  __m256i row0;
};

// Lane j gets lane j - 1 (lane 0 gets `first`).
inline __m256i lanes_up1(__m256i v, int32_t first) {
  const __m256i by1 = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
  return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(v, by1), _mm256_set1_epi32(first), 0x01);
}
// Lane j gets lane j - 2 (lane 1 gets `first`; lane 0 keeps its own).
inline __m256i lanes_up2(__m256i v, int32_t first) {
  const __m256i by2 = _mm256_setr_epi32(0, 0, 0, 1, 2, 3, 4, 5);
  return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(v, by2), _mm256_set1_epi32(first), 0x02);
}
inline __m256i pick8(__m256i mask, __m256i x) {
  return _mm256_blendv_epi8(_mm256_set1_epi32(Cells<int32_t>::kNever), x, mask);
}
// Running minimum from lane 0 up.
inline __m256i scan_min8(__m256i u) {
  constexpr int32_t kNever = Cells<int32_t>::kNever;
  const __m256i by4 = _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 2, 3);
  u = _mm256_min_epi32(u, lanes_up1(u, kNever));
  u = _mm256_min_epi32(u, lanes_up2(u, kNever));  // lane 0 meets itself
  return _mm256_min_epi32(u, _mm256_blend_epi32(_mm256_permutevar8x32_epi32(u, by4),
                                                _mm256_set1_epi32(kNever), 0x0F));
}
// Running sum (Max false) or maximum (Max true; of lanes that are never
// negative) from lane 0 up: the lanes shifted in are zeros.
template <bool Max>
inline __m256i combine8(__m256i a, __m256i b) {
  return Max ? _mm256_max_epi32(a, b) : _mm256_add_epi32(a, b);
}
template <bool Max>
inline __m256i scan_up8(__m256i x) {
  x = combine8<Max>(x, _mm256_slli_si256(x, 4));
  x = combine8<Max>(x, _mm256_slli_si256(x, 8));
  const __m256i low_half = _mm256_permute2x128_si256(x, x, 0x08);  // zeros, then lanes 0-3
  return combine8<Max>(x, _mm256_shuffle_epi32(low_half, 0xFF));
}
inline int32_t lanes_min8(__m256i v) {
  __m128i m = _mm_min_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0x4E));
  m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0xB1));
  return _mm_cvtsi128_si32(m);
}

// cost, plus 2^29 where mask is zero: such a candidate costs more than any
// path (see Cells), so in A's columns it never wins, and no cell overflows.
inline __m256i dear8(__m256i mask, __m256i cost) {
  return _mm256_add_epi32(cost, _mm256_andnot_si256(mask, _mm256_set1_epi32(1 << 29)));
}

// Entry k of a cost by kind (Roles::take_a_by and the like) in each lane of
// kinds.
inline __m256i by_kind8(const int64_t (&by)[4], __m256i kinds) {
  const __m256i table = _mm256_setr_epi32((int32_t)by[0], (int32_t)by[1], (int32_t)by[2],
                                          (int32_t)by[3], 0, 0, 0, 0);
  return _mm256_permutevar8x32_epi32(table, kinds);
}

// A's lanes, built in registers: A's bytes and kinds gathered in two words.
inline ShortRows short_rows(const Programme &p, const Roles &r) {
  const __m256i never = _mm256_set1_epi32(Cells<int32_t>::kNever);
  uint64_t bytes = 0, kinds = 0;
  for (int64_t j = 0; j < p.la; j++) {
    bytes |= (uint64_t)p.A[j] << (8 * j);
    kinds |= (uint64_t)r.kind(p.A[j]) << (8 * j);
  }
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32((int32_t)p.la), lane);
  const __m256i k = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128((int64_t)kinds));
  const __m256i a = _mm256_or_si256(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128((int64_t)bytes)),
                                    _mm256_andnot_si256(valid, _mm256_set1_epi32(-1)));
  const __m256i one = _mm256_set1_epi32(1), two = _mm256_set1_epi32(2);
  const __m256i take = _mm256_and_si256(by_kind8(r.take_a_by, k), valid);
  // Columns past B's length, in the last row: APPEND or TRUNCATE may be cheaper.
  const __m256i past_b =
      _mm256_cmpgt_epi32(lane, _mm256_set1_epi32((int32_t)min2(p.lb, 8) - 1));
  const __m256i end_take =
      _mm256_blendv_epi8(take, _mm256_min_epi32(take, _mm256_set1_epi32((int32_t)r.endA)), past_b);
  const __m256i first_sums = scan_up8<false>(_mm256_and_si256(by_kind8(r.first_a_by, k), valid));
  const __m256i row0 = _mm256_blendv_epi8(_mm256_set1_epi32(Cells<int32_t>::kInf), first_sums, valid);
  const __m256i last = _mm256_cmpeq_epi32(lane, _mm256_set1_epi32((int32_t)p.la - 1));
  return {a,
          _mm256_cmpeq_epi32(_mm256_and_si256(k, one), one),
          _mm256_cmpeq_epi32(_mm256_and_si256(k, two), two),
          _mm256_add_epi32(never, scan_up8<false>(take)),
          _mm256_add_epi32(never, scan_up8<false>(end_take)),
          valid,
          _mm256_blendv_epi8(never, _mm256_set1_epi32((int32_t)r.endB), last),
          min2(0, lanes_min8(row0)),
          row0};
}

// The costs of the short rows, lane by lane.
struct ShortCosts {
  __m256i match, freplace, replace, pair_white, pair_punct, swap, dbl_a, dbl_b;
  ShortCosts(const Roles &r, const ShortRows &sr)
      : match(_mm256_set1_epi32((int32_t)r.match)),
        freplace(_mm256_set1_epi32((int32_t)r.freplace)),
        replace(_mm256_blend_epi32(_mm256_set1_epi32((int32_t)r.replace), freplace, 0x01)),
        pair_white(dear8(sr.white, _mm256_set1_epi32((int32_t)r.blank))),
        pair_punct(dear8(sr.punct, _mm256_set1_epi32((int32_t)r.punct))),
        swap(_mm256_set1_epi32((int32_t)r.swap)),
        dbl_a(_mm256_set1_epi32((int32_t)r.dblA)),
        dbl_b(_mm256_set1_epi32((int32_t)r.dblB)) {}
};

// The two rows before the next one, with their cells 0, and the equality
// mask of the row before.
struct ShortState {
  __m256i prev, prev2, eqp;
  int32_t prev0, prev20;
};

// Row l from the state: its cells 1 to 8 and its cell 0 (cur0).
inline __m256i short_row(const Programme &p, const Roles &r, const ShortRows &sr,
                         const ShortCosts &k, const ShortState &s, int64_t l, int32_t &cur0) {
  const uint8_t b = p.B[l - 1];
  const __m256i e = _mm256_cmpeq_epi32(sr.a, _mm256_set1_epi32(b));
  const __m256i e1 = lanes_up1(e, 0);
  const unsigned kind = r.kind(b);
  cur0 = s.prev0 + (int32_t)r.first_b_by[kind];
  // Candidates from two rows up first: they need not wait for the last row.
  __m256i far = _mm256_add_epi32(lanes_up2(s.prev2, s.prev20), dear8(_mm256_and_si256(s.eqp, e1), k.swap));
  if (l > 1 && p.B[l - 2] == b)
    far = _mm256_min_epi32(far, _mm256_add_epi32(lanes_up1(s.prev2, s.prev20), dear8(e, k.dbl_b)));
  const __m256i diag = lanes_up1(s.prev, s.prev0);
  __m256i north = _mm256_set1_epi32((int32_t)r.take_b_by[kind]);
  if (l > p.la) north = _mm256_min_epi32(north, sr.end_column);
  __m256i near = _mm256_min_epi32(
      _mm256_add_epi32(diag, _mm256_blendv_epi8(l == 1 ? k.freplace : k.replace, k.match, e)),
      _mm256_add_epi32(s.prev, north));
  near = _mm256_min_epi32(
      near, _mm256_add_epi32(lanes_up2(s.prev, s.prev0), dear8(_mm256_and_si256(e, e1), k.dbl_a)));
  if (kind & 1) far = _mm256_min_epi32(far, _mm256_add_epi32(diag, k.pair_white));
  if (kind & 2) far = _mm256_min_epi32(far, _mm256_add_epi32(diag, k.pair_punct));
  // From the west: cell c is sums[c] plus the least (cell j - sums[j]) over
  // j <= c, cell 0 included: with y = kNever + sums - cell (never negative),
  // kNever + sums less the running maximum of y.
  const __m256i ks = l == p.lb ? sr.end_ks : sr.ks;
  const __m256i y = scan_up8<true>(_mm256_sub_epi32(ks, _mm256_min_epi32(near, far)));
  return _mm256_sub_epi32(ks, _mm256_max_epi32(y, _mm256_set1_epi32(Cells<int32_t>::kNever - cur0)));
}

inline int64_t short_programme(const Programme &p, const Roles &r) {
  constexpr int32_t kNever = Cells<int32_t>::kNever, kInf = Cells<int32_t>::kInf;
  const ShortRows sr = short_rows(p, r);
  const ShortCosts k(r, sr);
  const int64_t jump = min2(r.swap, r.dblB), cutoff = p.cutoff;
  ShortState s{sr.row0, _mm256_set1_epi32(kInf), _mm256_setzero_si256(), 0, kInf};
  int64_t prev_min = sr.first_low;
  for (int64_t l = 1; l <= p.lb; l++) {
    int32_t cur0;
    const __m256i cur = short_row(p, r, sr, k, s, l, cur0);
    // 32-bit cells never reach a cutoff beyond their range.
    if (cutoff <= INT32_MAX) {
      const __m256i valid = _mm256_blendv_epi8(_mm256_set1_epi32(kNever), cur, sr.valid);
      const int64_t row_min = min2(cur0, lanes_min8(valid));
      if (row_min >= cutoff && prev_min + jump >= cutoff) return cutoff;
      prev_min = row_min;
    }
    s = {cur, s.prev, _mm256_cmpeq_epi32(sr.a, _mm256_set1_epi32(p.B[l - 1])), cur0, s.prev0};
  }
  alignas(32) int32_t last[8];
  _mm256_store_si256(reinterpret_cast<__m256i *>(last), s.prev);
  const int64_t v = last[p.la - 1];
  return v < cutoff ? v : cutoff;
}

// Cells from..to of a row (from >= 1), in blocks of eight: every candidate
// but the one from the west (as candidates() in compged_rows.inc, column 1
// with its first-position replacement), then the west by the running
// minimum of (cell - sums) of west_pass, in one pass.  Answers the least
// cell (with kLeast; else kNever).
template <bool kRowByte, bool kLeast>
int64_t fused_row(const PlainRow<int32_t> &r, int64_t from, int64_t to) {
  const __m256i never = _mm256_set1_epi32(Cells<int32_t>::kNever);
  const __m256i match = _mm256_set1_epi32(r.match), replace = _mm256_set1_epi32(r.replace);
  const __m256i north = _mm256_set1_epi32(r.north), swap = _mm256_set1_epi32(r.swap);
  const __m256i dbl_a = _mm256_set1_epi32(r.double_a), dbl_b = _mm256_set1_epi32(r.double_b);
  const __m256i row_white = _mm256_set1_epi32(r.row_white), row_punct = _mm256_set1_epi32(r.row_punct);
  const __m256i pair_white = _mm256_set1_epi32(r.pair_white);
  const __m256i pair_punct = _mm256_set1_epi32(r.pair_punct);
  const __m256i doubled = _mm256_set1_epi32(r.doubled), top = _mm256_set1_epi32(7);
  const __m256i b = _mm256_set1_epi32(r.b), b_before = _mm256_set1_epi32(r.b_before);
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const int32_t *prev = r.prev, *prev2 = r.prev2, *bytes = r.bytes, *sums = r.row_sums;
  __m256i carry = _mm256_set1_epi32(r.cur[from - 1] - sums[from - 1]);
  __m256i low8 = never;
  for (int64_t c = from; c <= to; c += 8) {
    const __m256i a = load8u(bytes + c), a1 = load8u(bytes + c - 1);
    const __m256i e = _mm256_cmpeq_epi32(a, b), e1 = _mm256_cmpeq_epi32(a1, b);
    const __m256i diag = load8u(prev + c - 1);
    const __m256i rep = c == 1 ? _mm256_blend_epi32(replace, _mm256_set1_epi32(r.freplace), 0x01) : replace;
    __m256i v = _mm256_add_epi32(diag, _mm256_blendv_epi8(rep, match, e));
    v = _mm256_min_epi32(v, _mm256_add_epi32(load8u(prev + c), north));
    if constexpr (kRowByte) {
      v = _mm256_min_epi32(v, pick8(_mm256_and_si256(load8u(r.white + c), row_white),
                                    _mm256_add_epi32(diag, pair_white)));
      v = _mm256_min_epi32(v, pick8(_mm256_and_si256(load8u(r.punct + c), row_punct),
                                    _mm256_add_epi32(diag, pair_punct)));
      v = _mm256_min_epi32(v, pick8(_mm256_and_si256(e, doubled),
                                    _mm256_add_epi32(load8u(prev2 + c - 1), dbl_b)));
    }
    v = _mm256_min_epi32(v, pick8(_mm256_and_si256(_mm256_cmpeq_epi32(a, b_before), e1),
                                  _mm256_add_epi32(load8u(prev2 + c - 2), swap)));
    v = _mm256_min_epi32(v, pick8(_mm256_and_si256(e, e1), _mm256_add_epi32(load8u(prev + c - 2), dbl_a)));
    const __m256i last = _mm256_cmpeq_epi32(lane, _mm256_set1_epi32((int32_t)(to - c)));
    if (r.end_column && to - c < 8)
      v = _mm256_min_epi32(v, _mm256_blendv_epi8(never, _mm256_set1_epi32(prev[to] + r.end_b), last));
    const __m256i s = load8u(sums + c);
    __m256i u = _mm256_min_epi32(scan_min8(_mm256_sub_epi32(v, s)), carry);
    carry = _mm256_permutevar8x32_epi32(u, top);
    const __m256i w = _mm256_add_epi32(u, s);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(r.cur + c), w);
    if constexpr (kLeast) {
      // Cells past `to` lie outside the band.
      const __m256i past = _mm256_cmpgt_epi32(lane, _mm256_set1_epi32((int32_t)(to - c)));
      low8 = _mm256_min_epi32(low8, to - c < 7 ? _mm256_blendv_epi8(w, never, past) : w);
    }
  }
  return lanes_min8(low8);
}

inline int64_t fused_row(const PlainRow<int32_t> &r, int64_t from, int64_t to, bool least) {
  const bool row_byte = r.row_white | r.row_punct | r.doubled;
  if (least) return row_byte ? fused_row<true, true>(r, from, to) : fused_row<false, true>(r, from, to);
  return row_byte ? fused_row<true, false>(r, from, to) : fused_row<false, false>(r, from, to);
}

}  // namespace wide8
ZEQ_WIDE_END

// Whether the wide build keeps each row in one register of 32-bit cells: A
// of 1 to 8 characters and no band.
inline bool one_register(const Programme &p) {
  return p.la >= 1 && p.la <= 8 && p.w >= p.la && p.w >= p.lb;
}

// The programme over three rows of kCells(la) cells (rows) and the
// working arrays of A's bytes, Table<T>::kWork times as many (work), any
// content; both builds give the same answer.
template <class T>
struct RowKernels {
  int64_t (*run)(const Programme &p, T *rows, T *work);
};

namespace generic {
constexpr bool kWideBuild = false;
#include "charfn/compare/compged_rows.inc"
}  // namespace generic

ZEQ_WIDE_BEGIN
namespace wide {
constexpr bool kWideBuild = true;
#include "charfn/compare/compged_rows.inc"
}  // namespace wide
ZEQ_WIDE_END

// The row kernels: the wide ones when the processor has them, unless the
// caller forces a set (a forced wide set on a processor without it falls
// back to the generic one).
bool wide_rows(zeq::ged::Rows rows) { return rows != zeq::ged::Rows::Generic && zeq::cpu::wide(); }

template <class T>
const RowKernels<T> &row_kernels(bool wide_set) {
  return wide_set ? wide::kKernels<T> : generic::kKernels<T>;
}

// Whether 32-bit cells give the same answer (see Cells).
bool small_cells(const Programme &p) {
  if (p.la + p.lb >= kSmallLength) return false;
  for (int e = COST_INSERT; e < COST_ENTRIES; e++)
    if (p.c[e] < 0 || p.c[e] >= kSmallCost) return false;
  return true;
}

// Bytes of `arrays` arrays of cells of `cell` bytes for A of la characters.
uint64_t table_bytes(int arrays, uint64_t cell, int64_t la) {
  return (uint64_t)arrays * cell * (uint64_t)kCells(la);
}

// A's working arrays stay on the stack up to this many characters.
constexpr int64_t kStackColumns = 128;

// The two strings, A the shorter.
struct Strings {
  const uint8_t *A, *B;
  int64_t la, lb;
  bool a_is_s1;
};

Strings order_strings(const uint8_t *s1, int64_t n1, const uint8_t *s2, int64_t n2) {
  const bool a_is_s1 = n1 <= n2;
  return {a_is_s1 ? s1 : s2, a_is_s1 ? s2 : s1, a_is_s1 ? n1 : n2, a_is_s1 ? n2 : n1, a_is_s1};
}

// How the characters are read: through the upper-case table with I or N, and
// without white space or punctuation where those cost nothing.
struct Reading {
  const uint8_t *up, *cls;
  bool nocase, use_blank, use_punct;
  bool same(uint8_t x, uint8_t y) const { return nocase ? up[x] == up[y] : x == y; }
  bool filters() const { return nocase || !use_blank || !use_punct; }
};

// The shortcuts the cost table leaves exact.
struct Shortcuts {
  bool equal;   // equal strings cost nothing: nothing is cheaper than a match
  bool prefix;  // the common prefix may go
  bool suffix;  // the common suffix may go
};

Shortcuts shortcuts(const int64_t *c) {
  // Costs below zero void every shortcut: only the full programme is exact.
  bool nonnegative = true;
  for (int e = COST_INSERT; e < COST_ENTRIES; e++)
    if (c[e] < 0) nonnegative = false;
  const int64_t step = c[COST_INSERT] > c[COST_DELETE] ? c[COST_INSERT] : c[COST_DELETE];
  // Equal leading or trailing characters may only be set aside when pairing
  // them costs nothing and no operation can shift the alignment inside them
  // more cheaply than an insertion or deletion at their edge would: DOUBLE,
  // SINGLE, BLANK and PUNCTUATION work on particular characters, which the
  // edge may not offer.
  const bool affixes_safe = nonnegative && c[COST_MATCH] == 0 &&
                            c[COST_DOUBLE] >= c[COST_INSERT] &&
                            c[COST_SINGLE] >= c[COST_DELETE] && c[COST_BLANK] >= step &&
                            c[COST_PUNCT] >= step;
  return {nonnegative && c[COST_MATCH] == 0,
          affixes_safe && c[COST_FINSERT] >= c[COST_INSERT] && c[COST_FDELETE] >= c[COST_DELETE],
          c[COST_APPEND] >= c[COST_INSERT] && c[COST_TRUNCATE] >= c[COST_DELETE] && affixes_safe};
}

// Length of the common prefix of A and B (at most la).
int64_t common_prefix(const Strings &s, const Reading &rd) {
  const uint8_t *A = s.A, *B = s.B;
  const int64_t la = s.la;
  int64_t n = 0;
  while (n < la && rd.same(A[n], B[n])) n++;
  return n;
}

// Common prefix.  One equal character stays in front; the characters before
// it pair at no cost, and the first-position costs no longer apply.
void drop_prefix(Strings &s, int64_t *c, const Reading &rd) {
  const int64_t n = common_prefix(s, rd);
  if (n <= 1) return;
  const int64_t drop = n - 1;
  s.A += drop;
  s.B += drop;
  s.la -= drop;
  s.lb -= drop;
  c[COST_FINSERT] = c[COST_INSERT];
  c[COST_FDELETE] = c[COST_DELETE];
  c[COST_FREPLACE] = c[COST_REPLACE];
}

// Where the rows and the filtered copies live: copies of up to kShort
// characters in the stack buffers, longer ones after the rows in one block of
// scratch.
struct Buffers {
  uint8_t *short_a, *short_b;
  uint64_t row_bytes;  // room for the rows in 64-bit cells before filtering
  void *rows;          // null until allocated
};

// Copies n characters of src to dst as rd reads them; answers the copy's length.
int64_t filter(const Reading &rd, const uint8_t *src, int64_t n, uint8_t *dst) {
  const uint8_t *up = rd.up, *cls = rd.cls;
  const bool nocase = rd.nocase, use_blank = rd.use_blank, use_punct = rd.use_punct;
  int64_t k = 0;
  for (int64_t i = 0; i < n; i++) {
    uint8_t x = src[i];
    if (!use_blank && (cls[x] & ZEQ_CLASS_SPACE)) continue;
    if (!use_punct && (cls[x] & ZEQ_CLASS_PUNCT)) continue;
    dst[k++] = nocase ? up[x] : x;
  }
  return k;
}

// Filtering: upper-cased copies without the characters that cost nothing.
int32_t filter_strings(Strings &s, const Reading &rd, zeq::ScratchAllocator &scratch, Buffers &buf) {
  uint8_t *fa = buf.short_a, *fb = buf.short_b;
  if (s.la > kShort || s.lb > kShort) {
    auto *block = static_cast<uint8_t *>(scratch.alloc(buf.row_bytes + (uint64_t)(s.la + s.lb)));
    if (!block) return FNC_RC_NOROOM;
    buf.rows = block;
    fa = block + buf.row_bytes;
    fb = fa + s.la;
    if (s.la <= kShort) fa = buf.short_a;
    if (s.lb <= kShort) fb = buf.short_b;
  }
  s.la = filter(rd, s.A, s.la, fa);
  s.lb = filter(rd, s.B, s.lb, fb);
  s.A = fa;
  s.B = fb;
  return FNC_RC_OK;
}

// Band: a cell d columns off the diagonal costs at least d least-costs.
int64_t band_width(const Strings &s, const int64_t *c, int64_t cutoff) {
  const int64_t longest = s.la > s.lb ? s.la : s.lb;
  int64_t w = longest;
  if (cutoff < kCostUnset && c[COST_LEAST] > 0) {
    w = cutoff / c[COST_LEAST];
    if (w > longest) w = longest;
  }
  return w;
}

// Common suffix.
void drop_suffix(Strings &s) {
  const uint8_t *A = s.A, *B = s.B;
  const int64_t la = s.la, lb = s.lb;
  int64_t n = 0;
  while (n < la && n < lb && A[la - 1 - n] == B[lb - 1 - n]) n++;
  // A shorter string that is all suffix would move the other string's
  // unpaired characters in front of its first one, where they cost more.
  if (n > 1 && n < la) {
    s.la -= n - 1;
    s.lb -= n - 1;
  }
}

// Runs the programme in cells of T: the rows in scratch (after filtering,
// in the block of the copies), A's working arrays on the stack while A is
// short.  Rows held in registers still take the block of three rows of
// 64-bit costs the call is known to need.  The cost goes to *out.
template <class T>
int32_t run_programme(const Programme &p, bool wide_set, zeq::ScratchAllocator &scratch, Buffers &buf, int64_t *out) {
  const bool in_registers = sizeof(T) == 4 && wide_set && one_register(p);
  const uint64_t row_bytes = in_registers ? 24 * (uint64_t)(p.la + 1)
                                          : table_bytes(Table<T>::kRows, sizeof(T), p.la);
  if (!buf.rows) buf.rows = scratch.alloc(row_bytes);
  if (!buf.rows) return FNC_RC_NOROOM;
  alignas(32) T stack_work[Table<T>::kWork * kCells(kStackColumns)];
  T *work = stack_work;
  if (p.la > kStackColumns)
    work = static_cast<T *>(scratch.alloc(table_bytes(Table<T>::kWork, sizeof(T), p.la)));
  if (!work) return FNC_RC_NOROOM;
  *out = row_kernels<T>(wide_set).run(p, static_cast<T *>(buf.rows), work);
  return FNC_RC_OK;
}

}  // namespace

namespace zeq::ged {

bool distance(const uint8_t *s1, int64_t n1, const uint8_t *s2, int64_t n2, const Options &o,
              ScratchAllocator *scratch, int64_t *cost) {
  const int64_t cutoff = o.cutoff;
  int64_t c[COST_ENTRIES];
  std::memcpy(c, o.costs, sizeof c);
  Strings s = order_strings(s1, n1, s2, n2);
  const Reading rd{o.upcase, o.classes, o.nocase, c[COST_BLANK] != 0, c[COST_PUNCT] != 0};
  const Shortcuts sc = shortcuts(c);
  if (sc.equal && s.la == s.lb && common_prefix(s, rd) == s.la) return *cost = 0, true;
  if (sc.prefix) drop_prefix(s, c, rd);
  if (s.la == 0 && s.lb == 0) return *cost = 0, true;

  if (s.la > (int64_t(1) << 40) || s.lb > (int64_t(1) << 40)) return false;
  uint8_t short_a[kShort], short_b[kShort];
  Buffers buf{short_a, short_b, table_bytes(Table<int64_t>::kRows, 8, s.la), nullptr};
  if (rd.filters() && filter_strings(s, rd, *scratch, buf) != FNC_RC_OK) return false;

  const int64_t w = band_width(s, c, cutoff);
  const int64_t diff = s.la > s.lb ? s.la - s.lb : s.lb - s.la;
  if (w < diff) return *cost = cutoff, true;
  if (sc.suffix) drop_suffix(s);

  Programme p{s.A, s.la, s.B, s.lb, s.a_is_s1, c, rd.use_blank, rd.use_punct, w, cutoff, rd.cls};
  const bool wide_set = wide_rows(o.rows);
  int64_t v;
  const int32_t rc = small_cells(p) && !o.wide_cells ? run_programme<int32_t>(p, wide_set, *scratch, buf, &v)
                                                     : run_programme<int64_t>(p, wide_set, *scratch, buf, &v);
  if (rc != FNC_RC_OK) return false;
  *cost = v < cutoff ? v : cutoff;
  return true;
}

}  // namespace zeq::ged

namespace {

// The session's cost table into c; false when none was set.
bool read_costs(FncArgList *args, int64_t (&c)[COST_ENTRIES]) {
  FncContext *ctx = zeq::task_context(args);
  const int64_t *table =
      (ctx && ctx->editCosts) ? static_cast<const int64_t *>(ctx->editCosts) : defcost;
  if (table[COST_LEAST] == kCostUnset) return false;
  std::memcpy(c, table, sizeof c);
  return true;
}

}  // namespace

ZEQ_EXPORT int32_t fncomged(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  CompareArgs ca;
  int32_t rc = read_compare_args(args, "COMPGED", kCostUnset, &ca);
  if (rc != FNC_RC_OK) return rc;
  int64_t c[COST_ENTRIES];
  if (!read_costs(args, c)) return FNC_RC_MISSING;
  const zeq::ged::Options o{c, ca.cutoff, zeq::upcase_table(), zeq::class_table(), ca.nocase};
  LazyCallScratch scratch(args);
  int64_t v;
  if (!zeq::ged::distance(ca.s[0], zeq::trailing_trimmed(ca.s[0], ca.n[0]), ca.s[1],
                          zeq::trailing_trimmed(ca.s[1], ca.n[1]), o, &scratch, &v))
    return FNC_RC_NOROOM;
  if (result) *result = (double)v;
  return FNC_RC_OK;
}
