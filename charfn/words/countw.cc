// charfn/words/countw.cc - COUNTW, and the multibyte word machine that
// COUNTW, SCAN and FINDW share (FINDW's floor exports it as COUNTW_COMMON,
// with the word search it owns).
//
// COUNTW(string <, charlist <, modifiers>>) answers the number of words as a
// double, words being those of SCAN (charfn/words/delims.h).  With one
// argument the 17 default delimiters separate words.  Accepted modifiers:
// A B C D F G H I K L M N O P Q S T U W X; anything else (R included) is
// reported with message 6 and skipped.  A missing string counts as empty:
// 0 words, or 1 with M on the byte route.
#include <cstring>

#include "charfn/entries.h"
#include "charfn/words/delims.h"
#include "strkernel/blanks.h"

using namespace zeq::args;

using namespace zeq::words;

// Byte route; hands the call to COUNTW_FUNCTION when the session is
// multibyte and the string really holds a multibyte character.
ZEQ_EXPORT int32_t fnccouw(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (ZeqStringService *svc = CheckVarcharAndMultibyte(args))
    return COUNTW_FUNCTION(args, result, svc, 0, "COUNTW");

  WordArgs where;
  where.source = 0;
  where.list = 1;
  where.modifiers = 2;
  where.name = "COUNTW";
  where.scan = false;
  uint8_t local[kTableSize];
  DelimSetup ds;
  const int32_t rc = build_delimiters(args, where, false, local, &ds);
  if (rc != FNC_RC_OK) return rc;

  const ByteText text{reinterpret_cast<const uint8_t *>(ds.source), ds.source_length, ds.table,
                      ds.flags.M, ds.flags.Q};
  const int64_t count = count_words(text, ds.flags.rtl);
  if (result) *result = static_cast<double>(count);
  return FNC_RC_OK;
}

// Multibyte route of COUNTW.  Roles: source 1; delimiters 2 when there is
// more than one argument and argument 2 has a value; modifiers 3 when there
// are more than two arguments and argument 3 has a value.
ZEQ_EXPORT int32_t COUNTW_FUNCTION(FncArgList *args, double *result, ZeqStringService *svc,
                                   int32_t wide, const char *name) noexcept {
  if (!args) return FNC_RC_NOTE;
  int32_t roles[ROLE_COUNT] = {1, 0, 0, 0, 0, 0, 0};
  const FncArg *list = zeq::arg(args, 1);
  if (args->argCount > 1 && list && list->value) roles[ROLE_DELIMS] = 2;
  const FncArg *mods = zeq::arg(args, 2);
  if (args->argCount > 2 && mods && mods->value) roles[ROLE_MODIFIERS] = 3;
  return zeq::words::word_machine(args, result, svc, wide, roles, KIND_COUNT, nullptr, name ? name : "COUNTW",
                                  nullptr);
}

// ---------------------------------------------------------------------------
// The multibyte word machine.
// ---------------------------------------------------------------------------
namespace {

constexpr int kPositionTarget = 2;  // SCAN call form: argument 3
constexpr int kLengthTarget = 3;    // argument 4

double *numeric_target(FncArgList *args, int index) {
  FncArg *g = zeq::arg(args, index);
  if (!g || !(g->type & FNC_ARG_NUMERIC) || !g->value) return nullptr;
  return static_cast<double *>(g->value);
}

// Character value of a role, or null.
const FncString *role_string(FncArgList *args, const int32_t *roles, int role) {
  const int n = roles[role];
  if (n <= 0) return nullptr;
  return zeq::str_value(zeq::arg(args, n - 1));
}

// Removes trailing blank code units from a bound view and recounts it.
void trim_view(ZeqStringService *svc, ZeqStrView *v, int64_t *chars, int32_t wide) {
  if (!v->start || v->length <= 0) return;
  const int64_t units = wide ? zeq::trailing_trimmed(static_cast<const TKChar *>(v->start), v->length)
                             : zeq::trailing_trimmed(static_cast<const char *>(v->start), v->length);
  if (units == v->length) return;
  v->length = units;
  StringInit(svc, wide ? 4 : 1, v);
  if (chars) {
    const int64_t n = units > 0 ? svc->count(svc, v->start, units, wide) : 0;
    *chars = n < 0 ? 0 : n;
  }
}

// A word found by the walk, in characters: [lo, hi) in string order.
struct Span {
  int64_t lo = 0, hi = 0;
};

// Writes the word [lo, hi) of the source into a SCAN result, whole
// characters only, dropping blanks with R and unquoting with R and Q.
int32_t copy_word(ZeqStringService *svc, const ZeqStrView &source, int32_t wide, Span w,
                  const ModifierFlags &f, FncString *result) {
  const int64_t unit = wide ? 4 : 1;
  ZeqStrView v = source;
  // Unit offsets of the word's two ends.
  if (svc->seek(svc, &v, w.hi, wide) == ZEQ_SS_OUT_OF_RANGE) return FNC_RC_OK;
  const int64_t end_units = v.pos;
  if (svc->seek(svc, &v, w.lo, wide) == ZEQ_SS_OUT_OF_RANGE) return FNC_RC_OK;
  const int64_t begin_units = v.pos;

  // With R and Q a word that begins and ends with the same quote loses its
  // outer quotes; doubled quotes of that kind inside become one and lone
  // ones are dropped.
  int32_t q = 0;
  if (f.R && f.Q && w.hi - w.lo >= 2) {
    const int32_t first = svc->read(svc, &v, wide);
    ZeqStrView last = v;
    svc->seek(svc, &last, w.hi - 1, wide);
    if ((first == '"' || first == '\'') && svc->read(svc, &last, wide) == first) q = first;
  }

  const int32_t rc = tkfncSetRetstg(result, (end_units - begin_units) * unit);
  if (rc != FNC_RC_OK) return rc;
  int64_t room = zeq::result_room(result);
  if (room > result->maxLength) room = result->maxLength;
  if (room <= 0 || !result->data) {
    result->length = 0;
    return rc;
  }

  const char *base = static_cast<const char *>(source.start);
  int64_t out = 0;
  int64_t i = w.lo, stop = w.hi;
  if (q) {
    i++;
    stop--;
    svc->seek(svc, &v, i, wide);
  }
  while (i < stop) {
    const int32_t c = svc->read(svc, &v, wide);
    const int64_t from = v.pos;
    if (c < 0 || svc->move(svc, &v, 1, wide) == ZEQ_SS_OUT_OF_RANGE) break;
    const int64_t to = v.pos;
    i++;
    if (q && c == q) {
      // Doubled: keep one and step over the second; lone: drop it.
      if (i < stop && svc->read(svc, &v, wide) == q) {
        svc->move(svc, &v, 1, wide);
        i++;
      } else {
        continue;
      }
    }
    const int64_t bytes = (to - from) * unit;
    if (out + bytes > room) break;  // only whole characters
    std::memcpy(result->data + out, base + from * unit, static_cast<size_t>(bytes));
    out += bytes;
  }
  result->length = out;
  return rc;
}

// Drops leading and trailing blank characters of a span (R).
void trim_span(ZeqStringService *svc, const ZeqStrView &source, int32_t wide, Span *w) {
  ZeqStrView v = source;
  while (w->hi > w->lo) {
    if (svc->seek(svc, &v, w->hi - 1, wide) == ZEQ_SS_OUT_OF_RANGE) return;
    if (svc->read(svc, &v, wide) != ' ') break;
    w->hi--;
  }
  while (w->hi > w->lo) {
    if (svc->seek(svc, &v, w->lo, wide) == ZEQ_SS_OUT_OF_RANGE) return;
    if (svc->read(svc, &v, wide) != ' ') break;
    w->lo++;
  }
}

// SCAN's answer when there is no word.
int32_t scan_not_found(FncArgList *args, int32_t kind, const ModifierFlags &f, FncString *result) {
  if (kind == KIND_SCAN_OTHER) {
    if (double *p = numeric_target(args, kPositionTarget)) *p = 0;
    if (double *l = numeric_target(args, kLengthTarget)) *l = 0;
    return FNC_RC_OK;
  }
  if (f.M || f.R) {
    if (result) result->length = 0;
    return FNC_RC_OK;
  }
  return scan_blank(result);
}

// The answer to a call whose source is missing or empty: COUNTW and FINDW
// answer 0; SCAN answers a blank, or position and length 0.
int32_t answer_empty_source(FncArgList *args, int32_t kind, double *count, FncString *result) {
  if (kind == KIND_SCAN_WORD) return scan_blank(result);
  if (kind == KIND_SCAN_OTHER) {
    if (double *p = numeric_target(args, kPositionTarget)) *p = 0;
    if (double *l = numeric_target(args, kLengthTarget)) *l = 0;
    return FNC_RC_OK;
  }
  if (count) *count = 0;
  return FNC_RC_OK;
}

// T trims the source, the delimiter list and FINDW's word, and moves a start
// that argInit chose to the trimmed ends; FINDW's start of 0 searches from
// the start, as on the byte route.
void settle_views(ZeqStringService *svc, FncArgList *args, const int32_t *arglocs, int32_t kind,
                  int32_t wide, const ModifierFlags &f, ParsedArgs *p) {
  if (f.T) {
    trim_view(svc, &p->source, &p->source_chars, wide);
    trim_view(svc, &p->delims, nullptr, wide);
    if (kind == KIND_FIND) trim_view(svc, &p->second, &p->second_chars, wide);
    const int64_t n = p->source_chars;
    if (arglocs[ROLE_START] <= 0) {
      p->start = f.B ? (n > 0 ? n : 1) : 1;
    } else if (f.B && p->start > n) {
      p->start = n > 0 ? n : 1;
    }
  }
  if (kind == KIND_FIND && arglocs[ROLE_START] > 0 && p->start == 0) {
    const double *s = zeq::num_value(zeq::arg(args, arglocs[ROLE_START] - 1));
    if (s && *s == *s && *s > -1.0 && *s < 1.0) p->start = f.B ? (p->source_chars > 0 ? p->source_chars : 1) : 1;
  }
}

// The word walker: from index in steps of step (-1: right to left, down to
// the scan limit), hands every word of the source to on_word in walking
// order until on_word answers true.  With Q quoted text is never cut; with M
// every delimiter ends a word, empty ones included.
template <typename OnWord>
void walk_words(ZeqStringService *svc, int32_t wide, const ModifierFlags &f, const ParsedArgs &p,
                const MbClassifier &delim, int64_t index, int64_t step, OnWord &on_word) {
  const bool rtl = step < 0;
  ZeqStrView v = p.source;
  svc->seek(svc, &v, index, wide);
  const int64_t limit = p.scan_limit > 1 ? p.scan_limit - 1 : 0;
  int32_t quote = 0;  // open quote character, 0 outside quotes
  bool in_word = false, any = false, stop = false;
  int64_t i = index, mark = rtl ? index + 1 : index, last = index;
  for (;;) {
    if (rtl && i < limit) break;
    const int32_t c = svc->read(svc, &v, wide);
    if (c < 0) break;
    any = true;
    last = i;
    bool is_delim;
    if (f.Q && quote) {
      if (c == quote) quote = 0;
      is_delim = false;
    } else if (f.Q && (c == kDoubleQuote || c == kSingleQuote)) {
      quote = c;
      is_delim = false;
    } else {
      is_delim = delim(static_cast<TKChar>(c));
    }
    if (f.M) {
      if (is_delim) {
        stop = rtl ? on_word(Span{i + 1, mark}) : on_word(Span{mark, i});
        mark = rtl ? i : i + 1;
      }
    } else if (!is_delim && !in_word) {
      in_word = true;
      mark = rtl ? i + 1 : i;
    } else if (is_delim && in_word) {
      in_word = false;
      stop = rtl ? on_word(Span{i + 1, mark}) : on_word(Span{mark, i});
    }
    if (stop) break;
    if (svc->move(svc, &v, step, wide) == ZEQ_SS_OUT_OF_RANGE) break;
    i += step;
  }
  if (!stop && any && (f.M || in_word)) {
    if (rtl)
      on_word(Span{last, mark});
    else
      on_word(Span{mark, last + 1});
  }
}

// COUNTW's consumer: counts every word.
struct WordCounter {
  int64_t words = 0;
  bool operator()(Span) {
    words++;
    return false;
  }
};

// SCAN's consumer: stops at the target-th word.
struct WordPicker {
  int64_t target;
  int64_t words = 0;
  bool found = false;
  Span hit;
  bool operator()(Span w) {
    if (++words != target) return false;
    found = true;
    hit = w;
    return true;
  }
};

// SCAN's answer for the word picked: the word (dropping blanks with R), or
// its position and length in the call form.
int32_t answer_scan(FncArgList *args, ZeqStringService *svc, int32_t wide, int32_t kind,
                    const ModifierFlags &f, const ParsedArgs &p, const WordPicker &picker,
                    FncString *result) {
  if (!picker.found) return scan_not_found(args, kind, f, result);
  Span hit = picker.hit;
  if (f.R) trim_span(svc, p.source, wide, &hit);
  if (kind == KIND_SCAN_OTHER) {
    if (double *pos = numeric_target(args, kPositionTarget)) *pos = static_cast<double>(hit.lo + 1);
    if (double *len = numeric_target(args, kLengthTarget)) *len = static_cast<double>(hit.hi - hit.lo);
    return FNC_RC_OK;
  }
  if (!result) return FNC_RC_OK;
  if (hit.hi == hit.lo) {
    result->length = 0;
    return FNC_RC_OK;
  }
  return copy_word(svc, p.source, wide, hit, f, result);
}

}  // namespace

namespace zeq::words {

int32_t word_machine(FncArgList *args, double *count, ZeqStringService *svc, int32_t wide, int32_t *arglocs,
                     int32_t kind, FncString *result, const char *name, WordFind find) noexcept {
  if (!svc || !args || !arglocs) return FNC_RC_NOTE;
  wide = wide ? 1 : 0;
  const FncString *src = role_string(args, arglocs, ROLE_SOURCE);
  if (!src || !src->data || src->length <= 0) return answer_empty_source(args, kind, count, result);

  zeq::ParsedCall call(args, svc, arglocs, wide, kind, name);
  ModifierFlags &f = call.flags;
  ParsedArgs &p = call.parsed;
  settle_views(svc, args, arglocs, kind, wide, f, &p);
  // FINDW: V inverts the table as K does.
  if (kind == KIND_FIND && f.V) f.K = 1;
  const MbClassifier delim(svc, wide, &f, &p.delims, p.bound[3] != 0);

  // FINDW with R: the word loses its leading and trailing delimiters.
  if (kind == KIND_FIND && f.R && p.bound[1]) {
    stripDelims(svc, delim, &p.second, &p.second_chars, 1, wide);
    stripDelims(svc, delim, &p.second, &p.second_chars, -1, wide);
  }

  int64_t index = 0, step = 1;
  const bool nothing = SetPos(svc, &f, &p, &index, &step, wide) != 0;
  switch (kind) {
    case KIND_COUNT: {
      WordCounter counter;
      if (!nothing) walk_words(svc, wide, f, p, delim, index, step, counter);
      if (count) *count = static_cast<double>(counter.words);
      return FNC_RC_OK;
    }
    case KIND_FIND: {
      // FINDW searches by the byte route's rules, over characters (right to
      // left down to the scan limit that B with a positive start sets).
      double answer = 0;
      const int64_t floor = p.scan_limit > 1 ? p.scan_limit - 1 : 0;
      if (!nothing && p.bound[1] && find)
        answer = find(svc, wide, p.source, p.source_chars, p.second, p.second_chars, delim,
                                 f, step < 0, index, floor);
      if (count) *count = answer;
      return FNC_RC_OK;
    }
    default: {
      WordPicker picker{p.word > 0 ? p.word : 1};
      if (!nothing) walk_words(svc, wide, f, p, delim, index, step, picker);
      return answer_scan(args, svc, wide, kind, f, p, picker, result);
    }
  }
}

}  // namespace zeq::words
