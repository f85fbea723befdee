// charfn/compare/compare.cc - COMPARE(string-1, string-2 [, modifiers]):
// the signed position of the first difference of two strings, the shorter
// one padded with blanks.
//
// fncompar is the byte route; its reading of the optional arguments (a cutoff
// or a modifier string, in either place) is shared with COMPLEV and COMPGED.
// COMPARE_FUNCTION is the multibyte route that the host calls directly with
// the session string service.

#include <cstring>

#include "charfn/args/modifiers.h"
#include "charfn/compare/compare_internal.h"
#include "charfn/entries.h"
#include "strkernel/blanks.h"
#include "strkernel/strkernel.h"

using namespace zeq::args;

namespace zeq::cmp {

namespace {

// The longest text that can still be a name literal: quote, 32 characters
// each written as a doubled quote, quote, N.
constexpr int64_t kNameLiteralTextMax = 1 + 2 * kNameLiteralMax + 2;

// Replaces a string that is a name literal by its content, kept in buf.
void unquote(const uint8_t **s, int64_t *n, uint8_t *buf) {
  const int64_t len = zeq::trailing_trimmed(*s, *n);
  if (len <= 2 || len > kNameLiteralTextMax) return;
  char tmp[kNameLiteralMax];
  int32_t r = zstripn(reinterpret_cast<const char *>(*s), (int32_t)len, tmp);
  if (r < 0 || r > kNameLiteralMax) return;
  std::memcpy(buf, tmp, (size_t)r);
  *s = buf;
  *n = r;
}

void drop_leading_blanks(const uint8_t **s, int64_t *n) {
  const int64_t lead = zeq::leading_blanks(*s, *n);
  *s += lead;
  *n -= lead;
}

}  // namespace

void apply_modifiers(const FncString *m, const char *name, CompareArgs *out) {
  const uint8_t *up = zeq::upcase_table();
  bool colon = false;
  for (int64_t k = 0; k < m->length; k++) {
    uint8_t c = up[static_cast<uint8_t>(m->data[k])];
    switch (c) {
      case ' ':
        break;
      case 'I':
        out->nocase = true;
        break;
      case 'L':
        drop_leading_blanks(&out->s[0], &out->n[0]);
        drop_leading_blanks(&out->s[1], &out->n[1]);
        break;
      case 'N':
        out->nocase = true;
        unquote(&out->s[0], &out->n[0], out->literal[0]);
        unquote(&out->s[1], &out->n[1], out->literal[1]);
        break;
      case ':':
        colon = true;
        break;
      default:
        xpslog("%2zThe modifier\"%c\" in the %s function is not valid. The following "
               "modifiers can be used: I, L, N, and :.",
               (int)c, name);
        break;
    }
  }
  if (colon) {
    // The longer string is cut to the shorter length, never below one
    // character; two empty strings stay as they are.
    if (out->n[1] < out->n[0])
      out->n[0] = out->n[1] > 1 ? out->n[1] : 1;
    else if (out->n[1] > 0)
      out->n[1] = out->n[0] > 1 ? out->n[0] : 1;
  }
}

}  // namespace zeq::cmp

namespace {

// Signed 1-based position of the first difference; the shorter string counts
// as padded with blanks, and the padding part is compared raw.
int64_t compare_bytes(const uint8_t *a, int64_t na, const uint8_t *b, int64_t nb, bool nocase) {
  const int64_t m = na < nb ? na : nb;
  if (nocase) {
    const uint8_t *up = zeq::upcase_table();
    for (int64_t p = 0; p < m; p++) {
      uint8_t x = up[a[p]], y = up[b[p]];
      if (x != y) return x < y ? -(p + 1) : p + 1;
    }
  } else {
    for (int64_t p = 0; p < m; p++)
      if (a[p] != b[p]) return a[p] < b[p] ? -(p + 1) : p + 1;
  }
  if (na == nb) return 0;
  const bool second_longer = nb > na;
  const uint8_t *l = second_longer ? b : a;
  const int64_t nl = second_longer ? nb : na;
  for (int64_t p = m; p < nl; p++) {
    if (l[p] == ' ') continue;
    bool below = l[p] < ' ';
    // A byte below the blank makes its own string sort first.
    if (second_longer) return below ? p + 1 : -(p + 1);
    return below ? -(p + 1) : p + 1;
  }
  return 0;
}

// COMPARE's role table: source 1, second string 2.
constexpr int32_t kCompareRoles[ROLE_COUNT] = {1, 2, 0, 0, 0, 0, 0};

}  // namespace

extern "C" {

ZEQ_EXPORT int32_t fncompar(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  zeq::cmp::CompareArgs ca;
  int32_t rc = zeq::cmp::read_compare_args(args, "COMPARE", 999999, &ca);
  if (rc != FNC_RC_OK) return rc;
  int64_t r = compare_bytes(ca.s[0], ca.n[0], ca.s[1], ca.n[1], ca.nocase);
  if (result) *result = (double)r;
  return FNC_RC_OK;
}

ZEQ_EXPORT int32_t COMPARE_FUNCTION(FncArgList *args, double *result, ZeqStringService *svc,
                                    int32_t wide, const char *name) noexcept {
  if (!args || !svc) return FNC_RC_NOTE;
  // Accepted argument types: "22" and "222".
  const int32_t argc = args->argCount;
  if (argc != 2 && argc != 3) return FNC_RC_NOTE;
  for (int i = 0; i < argc; i++) {
    FncArg *g = &args->args[i];
    if ((g->type & FNC_ARG_NUMERIC) || !(g->type & FNC_ARG_ISCHAR)) {
      zeq::mark_bad(g);
      return FNC_RC_NOTE;
    }
  }
  if (!args->args[0].value && !args->args[1].value) {
    if (result) *result = 0;
    return FNC_RC_OK;
  }

  int32_t roles[ROLE_COUNT];
  std::memcpy(roles, kCompareRoles, sizeof roles);
  if (argc == 3) roles[ROLE_MODIFIERS] = 3;
  wide = wide ? 1 : 0;
  zeq::ParsedCall call(args, svc, roles, wide, KIND_COMPARE, name ? name : "COMPARE");
  ParsedArgs &pa = call.parsed;
  const ModifierFlags &mf = call.flags;
  if (!pa.bound[0] || !pa.bound[1]) return FNC_RC_NOTE;

  const int64_t c1 = pa.source_chars, c2 = pa.second_chars;
  int64_t r;
  if (c1 == 0) {
    r = c2 > 0 ? -1 : 0;
  } else if (c2 == 0) {
    r = 1;
  } else {
    const int64_t k = mf.colon ? (c1 < c2 ? c1 : c2) : (c1 > c2 ? c1 : c2);
    const int32_t flags = (mf.I || mf.Npos) ? ZEQ_SS_IGNORE_CASE : 0;
    if (mf.B) svc->seek(svc, &pa.source, c1 - 1, wide);
    r = svc->compare(svc, &pa.source, &pa.second, k, flags, wide);
  }
  if (result) *result = (double)r;
  return FNC_RC_OK;
}

}  // extern "C"
