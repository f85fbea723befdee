// charfn/countfind/find.cc - FIND(string, substring [, modifiers] [, start]):
// the 1-based position of the first occurrence of a substring, or 0.
//
// The modifiers and the start may come in either order; with both, one must
// be numeric and the other character, else argument 4 is marked and the call
// answers FNC_RC_NOTE (the result is left as it was).  Start s (byte route):
//   missing                   the missing value and FNC_RC_MISSING;
//   s > length                0;
//   s >= 1                    left to right over positions trunc(s) .. end;
//   s < 1                     right to left over the first trunc(-s) bytes
//                             (all of them when -s exceeds the length), the
//                             occurrence ending inside them; -1 < s < 1 is 0.
// Modifiers: I compares after upper-casing, T drops the trailing blanks of
// the searched part and of the substring; anything else but a blank is
// reported with message 6 and skipped.  An empty substring finds nothing.
#include "charfn/countfind/countfind.h"
#include "charfn/entries.h"

using namespace zeq::args;

using namespace zeq::countfind;

ZEQ_EXPORT int32_t fncfind(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (ZeqStringService *svc = CheckVarcharAndMultibyte(args))
    return FIND_FUNCTION(args, result, svc, 0, "FIND");

  const Bytes s = bytes_of(zeq::arg(args, 0));
  Bytes w = bytes_of(zeq::arg(args, 1));

  FncArg *mods = nullptr, *start = nullptr;
  if (args->argCount == 3) {
    FncArg *g = zeq::arg(args, 2);
    (zeq::is_char(g) ? mods : start) = g;
  } else if (args->argCount >= 4) {
    FncArg *g3 = zeq::arg(args, 2), *g4 = zeq::arg(args, 3);
    if (zeq::is_char(g3) && zeq::is_num(g4)) {
      mods = g3;
      start = g4;
    } else if (zeq::is_num(g3) && zeq::is_char(g4)) {
      start = g3;
      mods = g4;
    } else {
      zeq::mark_bad(g4);
      return FNC_RC_NOTE;
    }
  }

  Part part;
  StartRule rule;
  int32_t rc;
  if (!start_leaves_search(start, s.n, &part, &rule, result, &rc)) return rc;

  bool fold = false;
  const Bytes m = bytes_of(mods);
  zeq::read_byte_modifiers(m.p, m.n, "FIND", [&](uint8_t letter) {
    switch (letter) {
      case 'I': fold = true; return true;
      case 'T':
        part.hi = part.lo + zeq::trailing_trimmed(s.p + part.lo, part.hi - part.lo);
        w.n = zeq::trailing_trimmed(w.p, w.n);
        return true;
      default: return false;
    }
  });

  int64_t at = -1;
  if (w.n > 0) {
    Needle needle;
    prepare_needle(&needle, w.p, w.n, fold);
    if (rule == StartRule::Prefix)
      at = find_last(s.p, part.hi, needle);
    else if ((at = find_first(s.p + part.lo, part.hi - part.lo, needle)) >= 0)
      at += part.lo;
  }
  answer(result, at < 0 ? 0.0 : static_cast<double>(at + 1));
  return FNC_RC_OK;
}

// Multibyte route: roles source 1 and substring 2; a third and a fourth
// argument each take the start role when numeric and the modifiers role
// otherwise.  Then COUNT_COMMON with kind 2 (which honours B and answers 0
// for a missing start).
ZEQ_EXPORT int32_t FIND_FUNCTION(FncArgList *args, double *result, ZeqStringService *svc,
                                 int32_t wide, const char *name) noexcept {
  if (!args) return FNC_RC_NOTE;
  int32_t roles[ROLE_COUNT] = {1, 2, 0, 0, 0, 0, 0};
  for (int i = 2; i < 4 && i < args->argCount; i++)
    roles[zeq::is_num(zeq::arg(args, i)) ? ROLE_START : ROLE_MODIFIERS] = i + 1;
  return COUNT_COMMON(args, result, svc, wide, roles, KIND_FIND, name ? name : "FIND");
}
