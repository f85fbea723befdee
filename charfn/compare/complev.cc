// charfn/compare/complev.cc - COMPLEV(string-1, string-2 [, cutoff]
// [, modifiers]): reads the arguments, drops trailing blanks, and hands the
// bytes to the Levenshtein kernel (charfn/compare/levenshtein.h).
//
// A call site of the environments that keep call-site caches (noteCount
// addresses a block of the task's pool) remembers its arguments: once an
// argument of 1 to 64 bytes comes again unchanged (a constant, or the query
// of a row of a matrix) its pattern table is prepared once and every later
// call with it runs the one-word route on the other argument alone.  Small
// cutoffs keep the edit-sequence route, which needs no table.
#include <cstring>

#include "charfn/compare/compare_internal.h"
#include "charfn/compare/levenshtein.h"
#include "strkernel/blanks.h"

namespace {

constexpr int64_t kNoCutoff = 999999;
constexpr uint32_t kCacheFlags = ZEQ_FLAGS_ZERO;  // a zero-filled call-site cache

// Up to 64 bytes of an argument; n is -1 for a longer one.
struct Held {
  int64_t n;
  uint8_t bytes[64];
  bool equals(const uint8_t *s, int64_t len) const {
    return n == len && (len == 0 || std::memcmp(bytes, s, static_cast<size_t>(len)) == 0);
  }
  void hold(const uint8_t *s, int64_t len) {
    n = len <= 64 ? len : -1;
    if (n > 0) std::memcpy(bytes, s, static_cast<size_t>(n));
  }
};

// The call-site record: the previous call's arguments and the pattern of the
// argument that repeated (arg 1 or 2; 0 none yet).
struct PatternCache {
  Held last[2];
  Held held;
  int32_t arg;
  zeq::lev::Pattern pattern;
};

// The site's record, allocated on its first call; null outside the caching
// environments or when the pool refuses.
PatternCache *site_record(FncArgList *args) {
  if (!FNC_KIND_IS_LIMITED(args->resultKind)) return nullptr;
  if (args->noteCount != 0) return reinterpret_cast<PatternCache *>(static_cast<uintptr_t>(args->noteCount));
  auto *c = static_cast<PatternCache *>(zeq::task_alloc(zeq::current_task(args), sizeof(PatternCache), kCacheFlags));
  if (c) args->noteCount = static_cast<int64_t>(reinterpret_cast<uintptr_t>(c));
  return c;
}

// The index of the argument whose prepared pattern serves this call, or -1:
// the held pattern when its argument is unchanged, else an argument that
// repeats the previous call's (prepared now).
int reusable_pattern(PatternCache *c, const uint8_t *const s[2], const int64_t n[2], const uint8_t *up) {
  const int k = c->arg - 1;
  if (k >= 0 && c->pattern.upcase == up && c->held.equals(s[k], n[k])) return k;
  for (int i = 0; i < 2; i++)
    if (n[i] > 0 && c->last[i].equals(s[i], n[i]) && zeq::lev::prepare(&c->pattern, s[i], n[i], up)) {
      c->held = c->last[i];
      c->arg = i + 1;
      return i;
    }
  c->last[0].hold(s[0], n[0]);
  c->last[1].hold(s[1], n[1]);
  return -1;
}

// min(distance, cutoff) through the site's pattern when one serves, else -2;
// out of line, so that the other calls stay lean.
[[gnu::noinline]] int64_t site_distance(FncArgList *args, const uint8_t *s1, int64_t n1, const uint8_t *s2,
                                        int64_t n2, const zeq::lev::Options o) {
  const uint8_t *const s[2] = {s1, s2};
  const int64_t n[2] = {n1, n2};
  PatternCache *c = site_record(args);
  const int k = c ? reusable_pattern(c, s, n, o.upcase) : -1;
  return k >= 0 ? zeq::lev::distance(c->pattern, s[1 - k], n[1 - k], o.cutoff) : -2;
}

// The answer for a cutoff above kSmallCutoff, whose routes may use the
// site's pattern or ask for scratch memory.  Out of line, so that a call
// with a small cutoff builds neither and carries none of their tables.
[[gnu::noinline]] int32_t wide_cutoff(FncArgList *args, const uint8_t *s1, int64_t n1, const uint8_t *s2,
                                      int64_t n2, const zeq::lev::Options o, double *result) {
  int64_t d = FNC_KIND_IS_LIMITED(args->resultKind) ? site_distance(args, s1, n1, s2, n2, o) : -2;
  if (d == -2) {
    zeq::cmp::LazyCallScratch scratch(args);
    d = zeq::lev::distance(s1, n1, s2, n2, o, &scratch);
  }
  if (d < 0) return FNC_RC_NOROOM;
  if (result) *result = (double)d;
  return FNC_RC_OK;
}

}  // namespace

ZEQ_EXPORT int32_t fncomlev(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  zeq::cmp::CompareArgs ca;
  int32_t rc = zeq::cmp::read_compare_args(args, "COMPLEV", kNoCutoff, &ca);
  if (rc != FNC_RC_OK) return rc;
  // The session's upper-case table, read only when case is ignored.
  const zeq::lev::Options o{ca.cutoff, ca.nocase ? zeq::upcase_table() : nullptr};
  const uint8_t *s1 = ca.s[0], *s2 = ca.s[1];
  const int64_t n1 = zeq::trailing_trimmed(s1, ca.n[0]), n2 = zeq::trailing_trimmed(s2, ca.n[1]);
  if (o.cutoff > zeq::lev::kSmallCutoff) return wide_cutoff(args, s1, n1, s2, n2, o, result);
  // The routes of a small cutoff ask for no scratch memory, so never fail.
  const int64_t d = zeq::lev::distance(s1, n1, s2, n2, o, nullptr);
  if (result) *result = (double)d;
  return FNC_RC_OK;
}
