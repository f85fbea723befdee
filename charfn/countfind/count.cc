// charfn/countfind/count.cc - COUNT and COUNTC, and the multibyte engines
// COUNT_COMMON (COUNT, FIND) and COUNTC_COMMON (COUNTC, FINDC).
//
// COUNT(string, substring [, modifiers]) answers the number of
// non-overlapping occurrences of the substring, found from the left.
// COUNTC(string, character-list [, modifiers]) answers the number of bytes
// (characters on the multibyte route) of the string that belong to a set:
// the listed characters plus the classes that modifier letters add.  Both
// answer a double and FNC_RC_OK; COUNTC answers FNC_RC_NOROOM without a
// result when its call-site cache cannot be allocated.  Invalid modifier
// letters are reported with catalogue message 6 and skipped.
#include <cstring>

#include "charfn/countfind/countfind.h"
#include "charfn/entries.h"
#include "charfn/words/delims.h"
#include "charfn/words/words.h"

using namespace zeq::args;

namespace zeq::countfind {
namespace {

// Non-overlapping occurrences of w in s, from the left.
int64_t count_substring(Bytes s, Bytes w, bool fold) {
  if (w.n == 0 || w.n > s.n) return 0;
  const Kernels &k = kernels();
  if (w.n == 1) {
    if (!fold) return k.count_byte(s.p, s.n, w.p[0]);
    ByteSet set;
    make_fold_set(&set, w.p[0]);
    return k.count_set(s.p, s.n, &set);
  }
  Needle needle;
  prepare_needle(&needle, w.p, w.n, fold);
  int64_t count = 0, from = 0;
  for (;;) {
    const int64_t at = find_first(s.p + from, s.n - from, needle);
    if (at < 0) return count;
    count++;
    from += at + w.n;
  }
}

// Bytes equal to c, compared after upper-casing on both sides.
int64_t count_folded(Bytes s, uint8_t c) {
  const uint8_t *up = zeq::upcase_table();
  const uint8_t want = up[c];
  int64_t count = 0;
  for (int64_t i = 0; i < s.n; i++) count += up[s.p[i]] == want;
  return count;
}

}  // namespace
}  // namespace zeq::countfind

using namespace zeq::countfind;

// COUNT, byte route.  Arguments: 1 string, 2 substring, 3 modifiers: I
// compares after upper-casing, T drops trailing blanks from the string and
// the substring when it is read, blank and O do nothing.  An empty substring
// counts 0.  A string that holds a multibyte character in a multibyte session
// goes to COUNT_FUNCTION.
ZEQ_EXPORT int32_t fnccous(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (ZeqStringService *svc = CheckVarcharAndMultibyte(args))
    return COUNT_FUNCTION(args, result, svc, 0, "COUNT");

  Bytes s = bytes_of(zeq::arg(args, 0));
  Bytes w = bytes_of(zeq::arg(args, 1));
  bool fold = false;
  if (args->argCount >= 3) {
    const Bytes m = bytes_of(zeq::arg(args, 2));
    zeq::read_byte_modifiers(m.p, m.n, "COUNT", [&](uint8_t letter) {
      switch (letter) {
        case 'O': return true;
        case 'I': fold = true; return true;
        case 'T':
          s.n = zeq::trailing_trimmed(s.p, s.n);
          w.n = zeq::trailing_trimmed(w.p, w.n);
          return true;
        default: return false;
      }
    });
  }
  answer(result, static_cast<double>(count_substring(s, w, fold)));
  return FNC_RC_OK;
}

// COUNTC, byte route.  Arguments: 1 string, 2 character list, 3 modifiers:
// the class letters A C D F G H L N P S U W X add bytes (charfn/words/words.h),
// I adds each listed byte in its upper- and lower-case forms, V counts the
// bytes outside the set, T drops trailing blanks from the string and the list
// when it is read, O keeps the finished table for the call site in the four
// caching environments.  A call served from that cache reads neither list nor
// modifiers.  An absent or empty string counts 0.
ZEQ_EXPORT int32_t fnccouc(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (ZeqStringService *svc = CheckVarcharAndMultibyte(args))
    return COUNTC_FUNCTION(args, result, svc, 0, "COUNTC");

  Bytes s = bytes_of(zeq::arg(args, 0));
  if (s.n == 0) {
    answer(result, 0);
    return FNC_RC_OK;
  }

  ByteSet set;
  if (const auto *cache = static_cast<const CountcCache *>(site_cache(args))) {
    if (cache->T == 1) s.n = zeq::trailing_trimmed(s.p, s.n);
    make_set(&set, cache->table);
    answer(result, static_cast<double>(kernels().count_set(s.p, s.n, &set)));
    return FNC_RC_OK;
  }

  Bytes list = args->argCount >= 2 ? bytes_of(zeq::arg(args, 1)) : Bytes{};
  uint8_t table[256] = {};
  bool classes = false, fold = false, keep = false, trim = false, outside = false;
  if (args->argCount >= 3) {
    const Bytes m = bytes_of(zeq::arg(args, 2));
    zeq::read_byte_modifiers(m.p, m.n, "COUNTC", [&](uint8_t letter) {
      if (zeq::words::add_class(table, letter)) return classes = true;
      switch (letter) {
        case 'I': fold = true; return true;
        case 'O': keep = true; return true;
        case 'V': outside = true; return true;
        case 'T':
          trim = true;
          s.n = zeq::trailing_trimmed(s.p, s.n);
          list.n = zeq::trailing_trimmed(list.p, list.n);
          return true;
        default: return false;
      }
    });
  }
  const bool caching = keep && caching_environment(args);

  // Without classes and without a cache, an empty list counts nothing, and a
  // one-byte list counts equal bytes without a table.  Case-blind, bytes are
  // compared after upper-casing on both sides for strings under 100 bytes;
  // longer strings go through the table (both case forms of the byte).
  const bool one_byte = list.n == 1 && (!fold || s.n < 100);
  if (!classes && !caching && (list.n == 0 || one_byte)) {
    int64_t in = 0;
    if (list.n == 1)
      in = fold ? count_folded(s, list.p[0]) : kernels().count_byte(s.p, s.n, list.p[0]);
    answer(result, static_cast<double>(outside ? s.n - in : in));
    return FNC_RC_OK;
  }

  zeq::words::add_list(table, reinterpret_cast<const char *>(list.p), list.n, fold);
  if (outside) zeq::words::invert(table);
  if (caching) {
    auto *block = static_cast<CountcCache *>(
        zeq::task_alloc(zeq::current_task(args), sizeof(CountcCache), ZEQ_FLAGS_CACHE));
    if (!block) return FNC_RC_NOROOM;
    block->T = trim ? 1 : 0;
    std::memcpy(block->table, table, sizeof table);
    set_site_cache(args, block);
  }
  make_set(&set, table);
  answer(result, static_cast<double>(kernels().count_set(s.p, s.n, &set)));
  return FNC_RC_OK;
}

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------

// COUNT_FUNCTION: roles source 1, substring 2, modifiers 3 when a third
// argument has a value; then COUNT_COMMON with kind 1.
ZEQ_EXPORT int32_t COUNT_FUNCTION(FncArgList *args, double *result, ZeqStringService *svc,
                                  int32_t wide, const char *name) noexcept {
  if (!args) return FNC_RC_NOTE;
  int32_t roles[ROLE_COUNT] = {1, 2, 0, 0, 0, 0, 0};
  const FncArg *m = zeq::arg(args, 2);
  if (args->argCount >= 3 && m && m->value) roles[ROLE_MODIFIERS] = 3;
  return COUNT_COMMON(args, result, svc, wide, roles, KIND_COUNT, name ? name : "COUNT");
}

// COUNTC_FUNCTION: roles source 1, character list 2, modifiers 3 when a third
// argument has a value; then COUNTC_COMMON with kind 1.
ZEQ_EXPORT int32_t COUNTC_FUNCTION(FncArgList *args, double *result, ZeqStringService *svc,
                                   int32_t wide, const char *name) noexcept {
  if (!args) return FNC_RC_NOTE;
  int32_t roles[ROLE_COUNT] = {1, 0, 2, 0, 0, 0, 0};
  const FncArg *m = zeq::arg(args, 2);
  if (args->argCount >= 3 && m && m->value) roles[ROLE_MODIFIERS] = 3;
  return COUNTC_COMMON(args, result, svc, wide, roles, KIND_COUNT, name ? name : "COUNTC");
}

namespace {

// True when the call's source (the role table's argument 1) is absent or
// empty.
bool source_empty(FncArgList *args, const int32_t *arglocs) {
  const int32_t n = arglocs[ROLE_SOURCE];
  const FncString *s = n > 0 ? zeq::str_value(zeq::arg(args, n - 1)) : nullptr;
  return !s || !s->data || s->length <= 0;
}

// Whether a character qualifies for COUNTC and FINDC on the multibyte route,
// tested in this order: in the list; with I, its other-case form in the list
// (for a character the service calls upper or lower case); then the class
// letters U L A C D G P S W X F N H.  The list is decoded once; answers for
// code points below 256 are remembered.
class Qualifier {
 public:
  Qualifier(ZeqStringService *svc, int32_t wide, const ModifierFlags &f, const ZeqStrView *list,
            bool bound)
      : svc_(svc), wide_(wide), f_(f) {
    std::memset(known_, 0xFF, sizeof known_);
    if (bound) list_.load(svc, wide, list);
  }

  bool operator()(TKChar c) {
    if (c < 256) {
      if (known_[c] < 0) known_[c] = test(c) ? 1 : 0;
      return known_[c] != 0;
    }
    return test(c);
  }

 private:
  static bool name_letter(TKChar c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  }

  bool test(TKChar c) const {
    ZeqStringService *s = svc_;
    if (list_.contains(c)) return true;
    if (f_.I && list_.bound()) {
      if (s->is_class(s, c, ZEQ_SC_UPPER) && list_.contains(s->lower(s, c))) return true;
      if (s->is_class(s, c, ZEQ_SC_LOWER) && list_.contains(s->upper(s, c))) return true;
    }
    if (f_.U && s->is_class(s, c, ZEQ_SC_UPPER)) return true;
    if (f_.Lpos && s->is_class(s, c, ZEQ_SC_LOWER)) return true;
    if (f_.A && s->is_class(s, c, ZEQ_SC_CODE_ALPHA)) return true;
    if (f_.C && s->is_class(s, c, ZEQ_SC_CODE_CONTROL)) return true;
    if (f_.D && s->is_class(s, c, ZEQ_SC_CODE_DIGIT)) return true;
    if (f_.G && s->is_class(s, c, ZEQ_SC_CODE_GRAPH)) return true;
    if (f_.P && zeq::words::stringIsPunct(s, c, wide_)) return true;
    if (f_.S && s->is_class(s, c, ZEQ_SC_CODE_SPACE)) return true;
    if (f_.W && s->is_class(s, c, ZEQ_SC_CODE_PRINT)) return true;
    if (f_.X && s->is_class(s, c, ZEQ_SC_CODE_XDIGIT)) return true;
    if (f_.F && name_letter(c)) return true;
    if (f_.Npos && (name_letter(c) || (c >= '0' && c <= '9'))) return true;
    if (f_.H && c == '\t') return true;
    return false;
  }

  ZeqStringService *svc_;
  int32_t wide_;
  const ModifierFlags &f_;
  zeq::words::CodeList list_;
  int8_t known_[256];
};

// The preamble COUNT_COMMON and COUNTC_COMMON share: the checks, the answer
// 0 for an absent or empty source, then the parsed call handed to `body`.
int32_t common_call(FncArgList *args, double *result, ZeqStringService *svc, int32_t wide, int32_t *arglocs,
                    int32_t kind, const char *name,
                    int32_t (*body)(zeq::ParsedCall &, ZeqStringService *, int32_t, int32_t, double *)) {
  if (!svc || !args || !arglocs) return FNC_RC_NOTE;
  wide = wide ? 1 : 0;
  answer(result, 0);
  if (source_empty(args, arglocs)) return FNC_RC_OK;
  zeq::ParsedCall call(args, svc, arglocs, wide, kind, name);
  return body(call, svc, wide, kind, result);
}

// Multibyte COUNT (kind 1) and FIND (kind 2).  The string is walked one
// character at a time from the start position of argInit, to the right, or
// to the left with B (argInit sets B for a negative start).  At each place
// the service compares the substring with the string, case-insensitively
// with I; only places where the whole substring fits are tried.  Kind 1
// counts matches and steps over each one; kind 2 answers the first match's
// 1-based position.  Right to left a match must end at or before the start
// position and begin at or after the scan limit.  An empty string or
// substring answers 0, as does a start of 0 (missing or out of range).
int32_t count_substring(zeq::ParsedCall &call, ZeqStringService *svc, int32_t wide, int32_t kind, double *result) {
  const ModifierFlags &f = call.flags;
  ParsedArgs &p = call.parsed;
  const int64_t n = p.source_chars, k = p.second_chars;
  if (n <= 0 || k <= 0 || !p.bound[0] || !p.bound[1] || p.start <= 0 || k > n) return FNC_RC_OK;
  const int32_t flags = f.I ? ZEQ_SS_IGNORE_CASE : 0;
  ZeqStrView a = p.source, b = p.second;
  svc->seek(svc, &b, 0, wide);
  int64_t count = 0, found = 0;

  if (!f.B) {
    int64_t i = p.start - 1;
    if (i + k <= n && svc->seek(svc, &a, i, wide) == 0) {
      while (i + k <= n) {
        if (svc->compare(svc, &a, &b, k, flags, wide) == 0) {
          if (kind != KIND_COUNT) {
            found = i + 1;
            break;
          }
          count++;
          i += k;
          if (svc->move(svc, &a, k, wide) != 0) break;
        } else {
          i++;
          if (svc->move(svc, &a, 1, wide) != 0) break;
        }
      }
    }
  } else {
    const int64_t floor = p.scan_limit > 1 ? p.scan_limit - 1 : 0;
    const int64_t top = p.start < n ? p.start : n;
    int64_t i = top - k;
    if (i >= floor && svc->seek(svc, &a, i, wide) == 0) {
      for (;;) {
        if (svc->compare(svc, &a, &b, k, flags, wide) == 0) {
          if (kind != KIND_COUNT) {
            found = i + 1;
            break;
          }
          count++;
          if (i - k < floor || svc->move(svc, &a, -k, wide) != 0) break;
          i -= k;
        } else {
          if (i - 1 < floor || svc->move(svc, &a, -1, wide) != 0) break;
          i--;
        }
      }
    }
  }
  answer(result, static_cast<double>(kind == KIND_COUNT ? count : found));
  return FNC_RC_OK;
}

// Multibyte COUNTC (kind 1) and FINDC (kind 2).  Kind 1 counts the
// characters that qualify (with V: that do not).  Kind 2 walks from the
// start position of argInit, to the right, or to the left with B or a
// negative start (down to the scan limit), and answers the 1-based position
// of the first character that qualifies (with K or V: that does not), or 0.
// T and O have no effect on this route.
int32_t count_chars(zeq::ParsedCall &call, ZeqStringService *svc, int32_t wide, int32_t kind, double *result) {
  const ModifierFlags &f = call.flags;
  ParsedArgs &p = call.parsed;
  const int64_t n = p.source_chars;
  if (n <= 0 || !p.bound[0] || p.start <= 0) return FNC_RC_OK;
  Qualifier qualifies(svc, wide, f, &p.charlist, p.bound[2] != 0);
  ZeqStrView a = p.source;

  if (kind == KIND_COUNT) {
    const bool outside = f.V != 0;
    int64_t count = 0;
    if (svc->seek(svc, &a, 0, wide) == 0) {
      for (;;) {
        const int32_t c = svc->read(svc, &a, wide);
        if (c < 0) break;
        count += qualifies(static_cast<TKChar>(c)) != outside;
        if (svc->move(svc, &a, 1, wide) != 0) break;
      }
    }
    answer(result, static_cast<double>(count));
    return FNC_RC_OK;
  }

  const bool outside = f.K || f.V;
  const int64_t step = f.B ? -1 : 1;
  const int64_t floor = f.B ? (p.scan_limit > 1 ? p.scan_limit - 1 : 0) : 0;
  int64_t i = p.start - 1;
  if (i > n - 1 && f.B) i = n - 1;
  int64_t found = 0;
  if (i < n && i >= floor && svc->seek(svc, &a, i, wide) == 0) {
    for (;;) {
      const int32_t c = svc->read(svc, &a, wide);
      if (c < 0) break;
      if (qualifies(static_cast<TKChar>(c)) != outside) {
        found = i + 1;
        break;
      }
      if (step < 0 && i - 1 < floor) break;
      if (svc->move(svc, &a, step, wide) != 0) break;
      i += step;
    }
  }
  answer(result, static_cast<double>(found));
  return FNC_RC_OK;
}

}  // namespace

ZEQ_EXPORT int32_t COUNT_COMMON(FncArgList *args, double *result, ZeqStringService *svc,
                                int32_t wide, int32_t *arglocs, int32_t kind,
                                const char *name) noexcept {
  return common_call(args, result, svc, wide, arglocs, kind, name, count_substring);
}


ZEQ_EXPORT int32_t COUNTC_COMMON(FncArgList *args, double *result, ZeqStringService *svc,
                                 int32_t wide, int32_t *arglocs, int32_t kind,
                                 const char *name) noexcept {
  return common_call(args, result, svc, wide, arglocs, kind, name, count_chars);
}
