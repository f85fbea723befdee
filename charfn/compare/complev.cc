// charfn/compare/complev.cc - COMPLEV(string-1, string-2 [, cutoff]
// [, modifiers]): the Levenshtein distance of two byte strings (insert,
// delete and replace one byte, each costing 1), or the cutoff when the
// distance reaches it.
//
// The answer is always min(distance, cutoff); the cutoff only lets the work
// stop early.  Steps: trailing blanks go, a length difference above the
// cutoff answers at once, the common prefix and suffix go, and a two-row
// programme runs over what is left.  With a cutoff c only the diagonal band
// -c <= column - row <= c + 1 is computed (a cell further out costs more than
// c), and the programme stops at the first row whose every cell reaches c.

#include <cstring>

#include "charfn/compare/compare_internal.h"

namespace {

// Cells outside the band; every cell at or above the cutoff counts the same.
constexpr int32_t kOutside = 999999;
constexpr int64_t kNoCutoff = 999999;
// Strings whose longer remainder fits here need no allocation.
constexpr int64_t kShort = 32;

inline int32_t min3(int32_t a, int32_t b, int32_t c) {
  int32_t m = a < b ? a : b;
  return m < c ? m : c;
}

// The banded programme over a (m bytes, the shorter) and b (q bytes), both
// non-empty and already upper-cased when the comparison ignores case.  row0
// and row1 hold m + 1 cells each.  Answers min(distance, cutoff).
int64_t levenshtein(const uint8_t *a, int64_t m, const uint8_t *b, int64_t q, int64_t cutoff,
                    int32_t *row0, int32_t *row1) {
  int32_t *prev = row0, *cur = row1;
  int64_t right = cutoff < m ? cutoff + 1 : m;  // last column of the band
  int64_t left = 1;                             // first column of the band
  prev[0] = 0;
  for (int64_t j = 1; j <= right; j++) prev[j] = (int32_t)j;

  for (int64_t l = 1; l <= q; l++) {
    // The band follows the diagonal: its left edge once the row is beyond
    // cutoff + 1, its right edge until it reaches the last column.
    if (l > cutoff + 1) left++;
    if (right < m) {
      right++;
      prev[right] = kOutside;
    }
    if (left > m) {
      // Unreachable: the length test keeps q - m within the cutoff.
      xpslog("COMPLEV should have skipped DP table");
      return cutoff;
    }
    const uint8_t bl = b[l - 1];
    int32_t row_min;
    if (left == 1) {
      cur[0] = prev[0] + 1;
      row_min = cur[0];
    } else {
      cur[left - 1] = kOutside;
      row_min = kOutside;
    }
    int32_t west = cur[left - 1];
    for (int64_t j = left; j <= right; j++) {
      int32_t v = min3(west + 1, prev[j - 1] + (a[j - 1] != bl ? 1 : 0), prev[j] + 1);
      cur[j] = v;
      west = v;
      if (v < row_min) row_min = v;
    }
    if (row_min >= cutoff) return cutoff;
    int32_t *t = prev;
    prev = cur;
    cur = t;
  }
  int64_t last = prev[right];
  return last < cutoff ? last : cutoff;
}

}  // namespace

extern "C" {

ZEQ_EXPORT int32_t fncomlev(FncArgList *args, double *result) {
  if (!args) return FNC_RC_NOTE;
  zeq::cmp::CompareArgs ca;
  int32_t rc = zeq::cmp::read_compare_args(args, "COMPLEV", kNoCutoff, &ca);
  if (rc != FNC_RC_OK) return rc;
  const int64_t cutoff = ca.cutoff;

  const uint8_t *s1 = ca.s[0], *s2 = ca.s[1];
  int64_t n1 = ca.n[0], n2 = ca.n[1];
  while (n1 > 0 && s1[n1 - 1] == ' ') n1--;
  while (n2 > 0 && s2[n2 - 1] == ' ') n2--;

  // a: the shorter string, b: the longer.
  const uint8_t *a = n1 <= n2 ? s1 : s2, *b = n1 <= n2 ? s2 : s1;
  int64_t m = n1 <= n2 ? n1 : n2, q = n1 <= n2 ? n2 : n1;
  if (q - m > cutoff) {
    if (result) *result = (double)cutoff;
    return FNC_RC_OK;
  }

  const uint8_t *up = zeq::upcase_table();
  auto same = [&](uint8_t x, uint8_t y) { return ca.nocase ? up[x] == up[y] : x == y; };
  int64_t pre = 0;
  while (pre < m && same(a[pre], b[pre])) pre++;
  a += pre;
  b += pre;
  m -= pre;
  q -= pre;
  while (m > 0 && same(a[m - 1], b[q - 1])) {
    m--;
    q--;
  }
  if (m == 0 || q == 0) {
    // Only insertions are left; q - m is within the cutoff.
    if (result) *result = (double)(m == 0 ? q : m);
    return FNC_RC_OK;
  }

  int32_t fixed0[kShort + 1], fixed1[kShort + 1];
  uint8_t copy_a[kShort], copy_b[kShort];
  int32_t *row0 = fixed0, *row1 = fixed1;
  uint8_t *ua = copy_a, *ub = copy_b;
  zeq::cmp::CallScratch scratch(q > kShort ? zeq::current_task(args) : nullptr);
  if (q > kShort) {
    // Two rows of 32-bit cells, then the upper-cased copies.
    if (m > (int64_t(1) << 40) || q > (int64_t(1) << 40)) return FNC_RC_NOROOM;
    uint64_t rows = 8 * (uint64_t)(m + 1);
    uint64_t size = rows + (ca.nocase ? (uint64_t)(m + q) : 0);
    auto *block = static_cast<uint8_t *>(scratch.alloc(size));
    if (!block) return FNC_RC_NOROOM;
    row0 = reinterpret_cast<int32_t *>(block);
    row1 = row0 + (m + 1);
    ua = block + rows;
    ub = ua + m;
  }
  if (ca.nocase) {
    for (int64_t i = 0; i < m; i++) ua[i] = up[a[i]];
    for (int64_t i = 0; i < q; i++) ub[i] = up[b[i]];
    a = ua;
    b = ub;
  }
  int64_t d = levenshtein(a, m, b, q, cutoff, row0, row1);
  if (result) *result = (double)d;
  return FNC_RC_OK;
}

}  // extern "C"
