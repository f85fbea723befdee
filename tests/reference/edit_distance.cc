// tests/reference/edit_distance.cc - see edit_distance.h.  Written for
// obviousness, not speed: full tables of 64-bit cells.
#include "tests/reference/edit_distance.h"

#include <algorithm>
#include <vector>

namespace zeqref {

int64_t levenshtein(std::string_view a, std::string_view b) {
  const size_t n = a.size(), m = b.size();
  std::vector<std::vector<int64_t>> d(n + 1, std::vector<int64_t>(m + 1));
  for (size_t i = 0; i <= n; i++) d[i][0] = (int64_t)i;
  for (size_t j = 0; j <= m; j++) d[0][j] = (int64_t)j;
  for (size_t i = 1; i <= n; i++)
    for (size_t j = 1; j <= m; j++)
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
  return d[n][m];
}

namespace {

std::string prepare(std::string_view s, const int64_t *cost, bool nocase, const GedTables &t) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::string out;
  for (unsigned char c : s) {
    uint8_t cls = t.charclass ? t.charclass[c] : 0;
    if (cost[BLANK] == 0 && (cls & 0x08)) continue;
    if (cost[PUNCT] == 0 && (cls & 0x10)) continue;
    out.push_back((char)(nocase && t.upcase ? t.upcase[c] : c));
  }
  return out;
}

}  // namespace

int64_t generalized(std::string_view s1_in, std::string_view s2_in, const int64_t cost[COST_COUNT],
                    bool nocase, const GedTables &t) {
  const std::string s1 = prepare(s1_in, cost, nocase, t);
  const std::string s2 = prepare(s2_in, cost, nocase, t);
  const int64_t n1 = (int64_t)s1.size(), n2 = (int64_t)s2.size();
  const bool blank_ok = cost[BLANK] != 0, punct_ok = cost[PUNCT] != 0;
  auto white = [&](char c) { return t.charclass && (t.charclass[(uint8_t)c] & 0x08); };
  auto pun = [&](char c) { return t.charclass && (t.charclass[(uint8_t)c] & 0x10); };
  // Cost of one character taken alone, at the given base cost.
  auto alone = [&](char c, int64_t base) {
    int64_t v = base;
    if (blank_ok && white(c)) v = std::min(v, cost[BLANK]);
    if (punct_ok && pun(c)) v = std::min(v, cost[PUNCT]);
    return v;
  };
  const int64_t kFar = INT64_MAX / 4;
  std::vector<std::vector<int64_t>> d(n1 + 1, std::vector<int64_t>(n2 + 1, kFar));
  d[0][0] = 0;
  for (int64_t i = 0; i <= n1; i++) {
    for (int64_t j = 0; j <= n2; j++) {
      if (i == 0 && j == 0) continue;
      int64_t v = kFar;
      const char a = i > 0 ? s1[i - 1] : 0, b = j > 0 ? s2[j - 1] : 0;
      if (i > 0) {
        // string-1's character alone
        int64_t base = j == 0 ? cost[FINSERT] : cost[INSERT];
        v = std::min(v, d[i - 1][j] + alone(a, base));
        if (j == n2 && i > n2 && j > 0) v = std::min(v, d[i - 1][j] + cost[APPEND]);
      }
      if (j > 0) {
        int64_t base = i == 0 ? cost[FDELETE] : cost[DELETE];
        v = std::min(v, d[i][j - 1] + alone(b, base));
        if (i == n1 && j > n1 && i > 0) v = std::min(v, d[i][j - 1] + cost[TRUNCATE]);
      }
      if (i > 0 && j > 0) {
        int64_t pair = a == b ? cost[MATCH] : (i == 1 || j == 1) ? cost[FREPLACE] : cost[REPLACE];
        if (blank_ok && white(a) && white(b)) pair = std::min(pair, cost[BLANK]);
        if (punct_ok && pun(a) && pun(b)) pair = std::min(pair, cost[PUNCT]);
        v = std::min(v, d[i - 1][j - 1] + pair);
        if (i > 1 && j > 1 && a == s2[j - 2] && s1[i - 2] == b)
          v = std::min(v, d[i - 2][j - 2] + cost[SWAP]);
        if (a == b && i > 1 && s1[i - 2] == a) v = std::min(v, d[i - 2][j - 1] + cost[DOUBLE]);
        if (a == b && j > 1 && s2[j - 2] == b) v = std::min(v, d[i - 1][j - 2] + cost[SINGLE]);
      }
      d[i][j] = v;
    }
  }
  return d[n1][n2];
}

}  // namespace zeqref
