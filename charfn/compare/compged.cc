// charfn/compare/compged.cc - COMPGED(string-1, string-2 [, cutoff]
// [, modifiers]): the generalised edit distance of two byte strings, the
// least total cost of the operations of the cost table (edit_costs.h) that
// pair them, or the cutoff when that cost reaches it.
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
// full table would give.  Scratch memory goes back to its mark before every
// return.

#include <cstring>

#include "charfn/compare/compare_internal.h"
#include "charfn/compare/edit_costs.h"

namespace {

using namespace zeq::cmp;

constexpr int64_t kInf = kCostUnset;  // cells outside the band
constexpr int64_t kShort = 32;        // copies of this size need no allocation

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

inline int64_t min2(int64_t x, int64_t y) { return x < y ? x : y; }

// Runs the three-row programme; rows holds 3 * (la + 1) cells.
int64_t run_programme(const Programme &p, int64_t *rows) {
  const int64_t *c = p.c;
  const uint8_t *A = p.A, *B = p.B, *cls = p.cls;
  const int64_t la = p.la, lb = p.lb;
  // Costs by role: A's or B's character taken alone, before the other string
  // began, or after the other string ended, and a doubled character.
  const int64_t takeA = p.a_is_s1 ? c[COST_INSERT] : c[COST_DELETE];
  const int64_t takeB = p.a_is_s1 ? c[COST_DELETE] : c[COST_INSERT];
  const int64_t firstA = p.a_is_s1 ? c[COST_FINSERT] : c[COST_FDELETE];
  const int64_t firstB = p.a_is_s1 ? c[COST_FDELETE] : c[COST_FINSERT];
  const int64_t endA = p.a_is_s1 ? c[COST_APPEND] : c[COST_TRUNCATE];
  const int64_t endB = p.a_is_s1 ? c[COST_TRUNCATE] : c[COST_APPEND];
  const int64_t dblA = p.a_is_s1 ? c[COST_DOUBLE] : c[COST_SINGLE];
  const int64_t dblB = p.a_is_s1 ? c[COST_SINGLE] : c[COST_DOUBLE];
  const int64_t match = c[COST_MATCH], replace = c[COST_REPLACE], freplace = c[COST_FREPLACE];
  const int64_t swap = c[COST_SWAP], blank = c[COST_BLANK], punct = c[COST_PUNCT];
  const bool use_blank = p.blank, use_punct = p.punct;
  auto white = [cls](uint8_t x) { return (cls[x] & ZEQ_CLASS_SPACE) != 0; };
  auto pun = [cls](uint8_t x) { return (cls[x] & ZEQ_CLASS_PUNCT) != 0; };
  // Cheapest way to take one character alone at a given base cost.
  auto alone = [&](uint8_t x, int64_t base) {
    int64_t v = base;
    if (use_blank && white(x)) v = min2(v, blank);
    if (use_punct && pun(x)) v = min2(v, punct);
    return v;
  };

  int64_t *prev2 = rows, *prev = rows + (la + 1), *cur = rows + 2 * (la + 1);
  const int64_t w = p.w, cutoff = p.cutoff;
  int64_t right = w < la ? w + 1 : la;
  int64_t left = 1;

  // Cells just outside a row's band read as unreachable by the next rows.
  auto fence = [la](int64_t *row, int64_t lo, int64_t hi) {
    for (int64_t k = lo; k <= hi; k++)
      if (k >= 0 && k <= la) row[k] = kInf;
  };

  prev[0] = 0;
  for (int64_t j = 1; j <= right; j++) prev[j] = prev[j - 1] + alone(A[j - 1], firstA);
  // SWAP and B's doubled character reach two rows down, so a row may only end
  // the programme when the row before it cannot undercut the cutoff either.
  const int64_t jump = min2(swap, dblB);
  int64_t prev_min = 0;
  for (int64_t j = 1; j <= right; j++) prev_min = min2(prev_min, prev[j]);
  fence(prev, right + 1, right + 2);
  fence(prev2, 0, la);

  for (int64_t l = 1; l <= lb; l++) {
    if (l > w + 1) left++;
    if (right < la) right++;
    if (left > la + 1) left = la + 1;  // no cell of the row lies in the band
    const uint8_t b = B[l - 1];
    const bool bw = white(b), bp = pun(b);
    const uint8_t b_before = l > 1 ? B[l - 2] : 0;
    int64_t row_min;
    if (left == 1) {
      cur[0] = prev[0] + alone(b, firstB);
      row_min = cur[0];
    } else {
      fence(cur, left - 2, left - 1);
      row_min = kInf;
    }
    for (int64_t col = left; col <= right; col++) {
      const uint8_t a = A[col - 1];
      const int64_t diag = prev[col - 1], west = cur[col - 1], north = prev[col];
      int64_t v;
      if (a == b)
        v = diag + match;
      else
        v = diag + ((col == 1 || l == 1) ? freplace : replace);
      v = min2(v, west + takeA);
      v = min2(v, north + takeB);
      if (l == lb && col > lb) v = min2(v, west + endA);
      if (col == la && l > la) v = min2(v, north + endB);
      if (use_blank) {
        const bool aw = white(a);
        if (aw && bw) v = min2(v, diag + blank);
        if (aw) v = min2(v, west + blank);
        if (bw) v = min2(v, north + blank);
      }
      if (use_punct) {
        const bool ap = pun(a);
        if (ap && bp) v = min2(v, diag + punct);
        if (ap) v = min2(v, west + punct);
        if (bp) v = min2(v, north + punct);
      }
      if (l > 1 && col > 1 && a == b_before && A[col - 2] == b) v = min2(v, prev2[col - 2] + swap);
      if (a == b) {
        if (l > 1 && b_before == b) v = min2(v, prev2[col - 1] + dblB);
        if (col > 1 && A[col - 2] == a) v = min2(v, prev[col - 2] + dblA);
      }
      cur[col] = v;
      if (v < row_min) row_min = v;
    }
    fence(cur, right + 1, right + 2);
    if (row_min >= cutoff && prev_min + jump >= cutoff) return cutoff;
    prev_min = row_min;
    int64_t *t = prev2;
    prev2 = prev;
    prev = cur;
    cur = t;
  }
  // w covers the length difference, so the band ends in the last column.
  const int64_t last = prev[right];
  return last < cutoff ? last : cutoff;
}

int32_t compged(FncArgList *args, double *result) {
  CompareArgs ca;
  int32_t rc = read_compare_args(args, "COMPGED", kCostUnset, &ca);
  if (rc != FNC_RC_OK) return rc;
  const int64_t cutoff = ca.cutoff;

  FncContext *ctx = zeq::task_context(args);
  const int64_t *table =
      (ctx && ctx->editCosts) ? static_cast<const int64_t *>(ctx->editCosts) : defcost;
  if (table[COST_LEAST] == kCostUnset) return FNC_RC_MISSING;
  int64_t c[COST_ENTRIES];
  std::memcpy(c, table, sizeof c);

  const uint8_t *s1 = ca.s[0], *s2 = ca.s[1];
  int64_t n1 = ca.n[0], n2 = ca.n[1];
  while (n1 > 0 && s1[n1 - 1] == ' ') n1--;
  while (n2 > 0 && s2[n2 - 1] == ' ') n2--;

  const bool a_is_s1 = n1 <= n2;
  const uint8_t *A = a_is_s1 ? s1 : s2, *B = a_is_s1 ? s2 : s1;
  int64_t la = a_is_s1 ? n1 : n2, lb = a_is_s1 ? n2 : n1;
  const uint8_t *up = zeq::upcase_table();
  const uint8_t *cls = zeq::class_table();
  auto finish = [&](int64_t v) {
    if (result) *result = (double)(v < cutoff ? v : cutoff);
    return FNC_RC_OK;
  };

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
  auto same = [&](uint8_t x, uint8_t y) { return ca.nocase ? up[x] == up[y] : x == y; };

  // Equal strings cost nothing when nothing is cheaper than a match.
  if (nonnegative && c[COST_MATCH] == 0 && la == lb) {
    int64_t k = 0;
    while (k < la && same(A[k], B[k])) k++;
    if (k == la) return finish(0);
  }

  // Common prefix.  One equal character stays in front; the characters before
  // it pair at no cost, and the first-position costs no longer apply.
  if (affixes_safe && c[COST_FINSERT] >= c[COST_INSERT] && c[COST_FDELETE] >= c[COST_DELETE]) {
    int64_t n = 0;
    while (n < la && same(A[n], B[n])) n++;
    if (n > 1) {
      const int64_t drop = n - 1;
      A += drop;
      B += drop;
      la -= drop;
      lb -= drop;
      c[COST_FINSERT] = c[COST_INSERT];
      c[COST_FDELETE] = c[COST_DELETE];
      c[COST_FREPLACE] = c[COST_REPLACE];
    }
  }
  if (la == 0 && lb == 0) return finish(0);

  if (la > (int64_t(1) << 40) || lb > (int64_t(1) << 40)) return FNC_RC_NOROOM;
  CallScratch scratch(zeq::current_task(args));
  const uint64_t row_bytes = 3 * 8 * (uint64_t)(la + 1);
  int64_t *rows = nullptr;

  // Filtering: upper-cased copies without the characters that cost nothing.
  bool use_blank = c[COST_BLANK] != 0, use_punct = c[COST_PUNCT] != 0;
  uint8_t short_a[kShort], short_b[kShort];
  if (ca.nocase || !use_blank || !use_punct) {
    uint8_t *fa = short_a, *fb = short_b;
    if (la > kShort || lb > kShort) {
      auto *block = static_cast<uint8_t *>(scratch.alloc(row_bytes + (uint64_t)(la + lb)));
      if (!block) return FNC_RC_NOROOM;
      rows = reinterpret_cast<int64_t *>(block);
      fa = block + row_bytes;
      fb = fa + la;
      if (la <= kShort) fa = short_a;
      if (lb <= kShort) fb = short_b;
    }
    auto filter = [&](const uint8_t *src, int64_t n, uint8_t *dst) {
      int64_t k = 0;
      for (int64_t i = 0; i < n; i++) {
        uint8_t x = src[i];
        if (!use_blank && (cls[x] & ZEQ_CLASS_SPACE)) continue;
        if (!use_punct && (cls[x] & ZEQ_CLASS_PUNCT)) continue;
        dst[k++] = ca.nocase ? up[x] : x;
      }
      return k;
    };
    la = filter(A, la, fa);
    lb = filter(B, lb, fb);
    A = fa;
    B = fb;
  }

  // Band: a cell d columns off the diagonal costs at least d least-costs.
  const int64_t longest = la > lb ? la : lb;
  int64_t w = longest;
  if (cutoff < kCostUnset && c[COST_LEAST] > 0) {
    w = cutoff / c[COST_LEAST];
    if (w > longest) w = longest;
  }
  const int64_t diff = la > lb ? la - lb : lb - la;
  if (w < diff) return finish(cutoff);

  // Common suffix.
  if (c[COST_APPEND] >= c[COST_INSERT] && c[COST_TRUNCATE] >= c[COST_DELETE] && affixes_safe) {
    int64_t n = 0;
    while (n < la && n < lb && A[la - 1 - n] == B[lb - 1 - n]) n++;
    // A shorter string that is all suffix would move the other string's
    // unpaired characters in front of its first one, where they cost more.
    if (n > 1 && n < la) {
      la -= n - 1;
      lb -= n - 1;
    }
  }

  if (!rows) {
    rows = static_cast<int64_t *>(scratch.alloc(row_bytes));
    if (!rows) return FNC_RC_NOROOM;
  }
  Programme p{A, la, B, lb, a_is_s1, c, use_blank, use_punct, w, cutoff, cls};
  return finish(run_programme(p, rows));
}

}  // namespace

extern "C" {

ZEQ_EXPORT int32_t fncomged(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  return compged(args, result);
}

}  // extern "C"
