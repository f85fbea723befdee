// charfn/compare/complev.cc - COMPLEV(string-1, string-2 [, cutoff]
// [, modifiers]): reads the arguments, drops trailing blanks, and hands the
// bytes to the Levenshtein kernel (charfn/compare/levenshtein.h).
#include "charfn/compare/compare_internal.h"
#include "charfn/compare/levenshtein.h"
#include "strkernel/blanks.h"

namespace {
constexpr int64_t kNoCutoff = 999999;
}  // namespace

ZEQ_EXPORT int32_t fncomlev(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  zeq::cmp::CompareArgs ca;
  int32_t rc = zeq::cmp::read_compare_args(args, "COMPLEV", kNoCutoff, &ca);
  if (rc != FNC_RC_OK) return rc;
  // The session's upper-case table, read only when case is ignored.
  const zeq::lev::Options o{ca.cutoff, ca.nocase ? zeq::upcase_table() : nullptr};
  zeq::cmp::LazyCallScratch scratch(args);
  const int64_t d = zeq::lev::distance(ca.s[0], zeq::trailing_trimmed(ca.s[0], ca.n[0]), ca.s[1],
                                       zeq::trailing_trimmed(ca.s[1], ca.n[1]), o, &scratch);
  if (d < 0) return FNC_RC_NOROOM;
  if (result) *result = (double)d;
  return FNC_RC_OK;
}
