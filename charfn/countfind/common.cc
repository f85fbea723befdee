// charfn/countfind/common.cc - argument reading shared by the byte routes of
// COUNT, COUNTC, FIND, FINDC, FINDW and FINDLEV.
#include <cmath>
#include <cstring>

#include "charfn/countfind/countfind.h"

namespace zeq::countfind {

Bytes bytes_of(const FncArg *g) {
  Bytes b;
  const FncString *s = zeq::str_value(g);
  if (!g || !g->value || !s || !s->data || s->length <= 0) return b;
  b.p = reinterpret_cast<const uint8_t *>(s->data);
  b.n = s->length;
  return b;
}

int64_t trim_blanks(const uint8_t *s, int64_t n) {
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, s + n - 8, 8);
    if (w != 0x2020202020202020ull) break;
    n -= 8;
  }
  while (n > 0 && s[n - 1] == ' ') n--;
  return n;
}

StartRule resolve_start(const FncArg *start, int64_t len, Part *part) {
  part->lo = 0;
  part->hi = len;
  const double *v = zeq::num_value(start);
  if (!start || !start->value || !v) return StartRule::Whole;
  const double s = *v;
  if (zeq::is_missing(s)) return StartRule::Missing;
  if (s > static_cast<double>(len)) return StartRule::Nothing;
  if (s >= 1) {
    // 1 <= s <= len, so the truncation fits.
    part->lo = static_cast<int64_t>(s) - 1;
    return StartRule::Suffix;
  }
  const double t = std::trunc(-s);
  if (t <= 0) return StartRule::Nothing;  // -1 < s < 1
  part->hi = t >= static_cast<double>(len) ? len : static_cast<int64_t>(t);
  return StartRule::Prefix;
}

bool start_leaves_search(const FncArg *start, int64_t len, Part *part, StartRule *rule,
                         double *result, int32_t *rc) {
  *rule = resolve_start(start, len, part);
  if (*rule == StartRule::Missing) {
    answer(result, zeq::missing_value());
    *rc = FNC_RC_MISSING;
    return false;
  }
  if (*rule == StartRule::Nothing) {
    answer(result, 0);
    *rc = FNC_RC_OK;
    return false;
  }
  return true;
}

void remove(const uint8_t **start, int64_t *length, uint8_t *table, bool q) {
  if (q) {
    table['"'] = 0;
    table['\''] = 0;
  }
  const uint8_t *p = *start;
  int64_t n = *length;
  while (n > 0 && table[p[0]]) {
    p++;
    n--;
  }
  while (n > 0 && table[p[n - 1]]) n--;
  *start = p;
  *length = n;
}

}  // namespace zeq::countfind
