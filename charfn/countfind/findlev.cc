// charfn/countfind/findlev.cc - FINDLEV(string, pattern, level [, modifiers]
// [, start]): the 1-based position of the first exact occurrence of a
// pattern, optionally anchored at word boundaries, or 0.  Byte route only.
//
// The level (argument 3) must be present and not missing (else the missing
// value and FNC_RC_MISSING); its value takes no further part.  With five
// arguments one of 4 and 5 must be numeric (the start) and the other
// character (the modifiers), else argument 5 is marked and FNC_RC_NOTE.
// Start s: missing gives the missing value and FNC_RC_MISSING; s above the
// length 0; s >= 1 searches positions trunc(s) .. end; s < 1 searches the
// first trunc(-s) bytes, still left to right; -1 < s < 1 gives 0.
//
// Modifiers: I matches either case, P wants a boundary (or the string's
// start) before the occurrence, S one (or the string's end) after it, W
// both, T drops the trailing blanks of the searched part and of the pattern.
// Every other byte, the blank included, is reported with message 6.  A
// boundary is a byte that is no letter or digit in the session's class table,
// other than the underscore.
//
// Search: the shift-and automaton (Baeza-Yates and Gonnet, "A new approach
// to text searching", 1992).  Position j of the automaton stands for
// "the last j + 1 bytes read match the first j + 1 positions"; its positions
// are the leading boundary (P), the pattern bytes, the trailing boundary (S).
// The 32-bit state serves fewer than 32 positions, the 64-bit one up to 63;
// 64 or more are refused with message 7 and the pattern marked.
#include <cstring>

#include "charfn/countfind/countfind.h"
#include "charfn/entries.h"

using namespace zeq::countfind;

namespace {

constexpr int kWideLimit = 64;    // positions refused from here on
constexpr int kNarrowLimit = 32;  // the 32-bit automaton serves fewer

bool boundary_byte(const uint8_t *cls, int b) {
  return b != '_' && !(cls[b] & (ZEQ_CLASS_UPPER | ZEQ_CLASS_LOWER | ZEQ_CLASS_DIGIT));
}

struct Shape {
  const uint8_t *pattern;
  int64_t n;  // pattern bytes
  bool fold, lead, trail;
  int positions() const { return static_cast<int>(n) + lead + trail; }
};

// The occurrence's 0-based start in the whole string, or -1.  The searched
// part is s[lo, hi); lead_state tells whether the place before it counts as
// a boundary (the string's start, or a boundary byte before the part), and
// tail_boundary whether the place after it does.
template <class Word>
int64_t shift_and(const uint8_t *s, int64_t lo, int64_t hi, const Shape &sh, bool lead_state,
                  bool tail_boundary) {
  const uint8_t *cls = zeq::class_table();
  const uint8_t *up = zeq::upcase_table();
  const uint8_t *low = zeq::lowcase_table();
  const int p = sh.positions();
  Word masks[256] = {};
  int at = 0;
  if (sh.lead) {
    for (int b = 0; b < 256; b++)
      if (boundary_byte(cls, b)) masks[b] |= Word{1};
    at++;
  }
  for (int64_t j = 0; j < sh.n; j++, at++) {
    const uint8_t c = sh.pattern[j];
    if (sh.fold) {
      masks[up[c]] |= Word{1} << at;
      masks[low[c]] |= Word{1} << at;
    } else {
      masks[c] |= Word{1} << at;
    }
  }
  if (sh.trail) {
    for (int b = 0; b < 256; b++)
      if (boundary_byte(cls, b)) masks[b] |= Word{1} << at;
  }
  const Word done = Word{1} << (p - 1);
  const int64_t back = sh.trail ? sh.n : sh.n - 1;

  // Bytes that can begin a match: while the state is empty, skip to the
  // next of them.
  uint8_t starters[256];
  for (int b = 0; b < 256; b++) starters[b] = (masks[b] & Word{1}) != 0;
  ByteSet first;
  make_set(&first, starters);
  const Kernels &k = kernels();

  Word state = lead_state ? Word{1} : Word{0};
  for (int64_t i = lo; i < hi; i++) {
    if (state == 0) {
      const int64_t skip = k.first_set(s + i, hi - i, &first);
      if (skip < 0) break;
      i += skip;
    }
    state = ((state << 1) | Word{1}) & masks[s[i]];
    if (state & done) return i - back;
  }
  // The end of the searched part as the trailing boundary.
  if (sh.trail && tail_boundary && ((state << 1) & done)) return hi - sh.n;
  return -1;
}

}  // namespace

ZEQ_EXPORT int32_t fncfndl(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  const double *level = zeq::num_value(zeq::arg(args, 2));
  if (!level || zeq::is_missing(*level)) {
    answer(result, zeq::missing_value());
    return FNC_RC_MISSING;
  }

  const Bytes s = bytes_of(zeq::arg(args, 0));
  Bytes pattern = bytes_of(zeq::arg(args, 1));
  FncArg *mods = nullptr, *start = nullptr;
  FncArg *g4 = zeq::arg(args, 3), *g5 = zeq::arg(args, 4);
  if (args->argCount == 4) {
    (zeq::is_char(g4) ? mods : start) = g4;
  } else if (args->argCount >= 5) {
    if ((zeq::is_num(g4) && zeq::is_num(g5)) || (zeq::is_char(g4) && !zeq::is_num(g5))) {
      zeq::mark_bad(g5);
      return FNC_RC_NOTE;
    }
    if (zeq::is_char(g4)) {
      mods = g4;
      start = g5;
    } else {
      start = g4;
      mods = g5;
    }
  }

  Part part;
  StartRule rule;
  int32_t rc;
  if (!start_leaves_search(start, s.n, &part, &rule, result, &rc)) return rc;

  Shape sh{pattern.p, pattern.n, false, false, false};
  const Bytes m = bytes_of(mods);
  const uint8_t *up = zeq::upcase_table();
  for (int64_t i = 0; i < m.n; i++) {
    const uint8_t letter = up[m.p[i]];
    switch (letter) {
      case 'I': sh.fold = true; break;
      case 'P': sh.lead = true; break;
      case 'S': sh.trail = true; break;
      case 'W': sh.lead = sh.trail = true; break;
      case 'T':
        part.hi = part.lo + trim_blanks(s.p + part.lo, part.hi - part.lo);
        sh.n = trim_blanks(sh.pattern, sh.n);
        break;
      default: bad_modifier("FINDLEV", letter); break;
    }
  }

  if (sh.n >= kWideLimit || sh.positions() >= kWideLimit) {
    xpmlog(FNC_MSG_SET, 7, "FINDLEV", static_cast<i64>(2));
    zeq::mark_bad(zeq::arg(args, 1));
    return FNC_RC_NOTE;
  }
  if (sh.positions() == 0) {  // an empty pattern without P and S
    answer(result, 0);
    return FNC_RC_OK;
  }

  // P: the place before the searched part is a boundary at the string's
  // start or after a boundary byte; S: the place after it at the string's
  // end or before a boundary byte.
  const uint8_t *cls = zeq::class_table();
  const bool lead_state = sh.lead && (part.lo == 0 || boundary_byte(cls, s.p[part.lo - 1]));
  const bool tail_boundary = part.hi >= s.n || boundary_byte(cls, s.p[part.hi]);
  const int64_t at = sh.positions() < kNarrowLimit
                         ? shift_and<uint32_t>(s.p, part.lo, part.hi, sh, lead_state, tail_boundary)
                         : shift_and<uint64_t>(s.p, part.lo, part.hi, sh, lead_state, tail_boundary);
  answer(result, at < 0 ? 0.0 : static_cast<double>(at + 1));
  return FNC_RC_OK;
}
