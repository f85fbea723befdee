// charfn/countfind/findw.cc - FINDW(string, word [, delimiters] [, modifiers]
// [, start]): the 1-based position of the first occurrence of a word that
// stands between delimiters (or the string's ends), or with E its word
// number; 0 when there is none.
//
// Arguments 3 onward, in order: a numeric one is the start (a second numeric
// one is marked and the call answers FNC_RC_NOTE); the first character one is
// the delimiter list, the second the modifiers (a third is marked, and
// FNC_RC_NOTE).  Without a delimiter list the task's 17 default delimiters
// apply (charfn/words/words.h) and there are no modifiers.
//
// Start s: missing gives the missing value and FNC_RC_MISSING; s above the
// string's length gives 0; s <= -1 searches right to left from position
// min(length, trunc(-s)); otherwise left to right from position trunc(s),
// where -1 < s < 1 means from the start.
//
// Modifiers (upper-cased through the session table, blanks ignored): the
// class letters A C D F G H L N P S U W X add bytes; B searches right to
// left; E answers the word number; I adds both case forms of the list and
// compares the word case-blind; K or V invert the table after the list;
// M makes neighbouring delimiters delimit empty words; O keeps the table and
// the flags for the call site in the four caching environments; Q keeps
// quoted text whole (the quote characters are never delimiters); R drops
// the word's leading and trailing delimiters; T drops trailing blanks from
// the string, the list and the word.  Anything else is reported with
// message 6 and skipped.
//
// A call served from the call-site cache takes its table and the flags
// right to left, E, I, R (with the cached Q for the word's trimming) and T
// from the cache, reads neither list nor modifiers, and searches without M
// and without quote handling.  The start position keeps its place; the
// direction is the cached one.
#include <cmath>
#include <cstring>

#include "charfn/countfind/countfind.h"
#include "charfn/entries.h"
#include "charfn/words/delims.h"
#include "charfn/words/words.h"

using namespace zeq::args;

using namespace zeq::countfind;

namespace {

inline bool is_quote(int32_t c) { return c == '"' || c == '\''; }

// A string and a word as bytes: the delimiter table (with Q the quotes are
// clear) and the session's upper-case table.
struct ByteText {
  const uint8_t *s;
  const uint8_t *w;
  int64_t k;
  const uint8_t *d;
  const uint8_t *up;
  bool fold;

  int32_t at(int64_t i) const { return s[i]; }
  bool delim(int64_t i) const { return d[s[i]] != 0; }
  bool same(int64_t at) const {
    if (!fold) return std::memcmp(s + at, w, static_cast<size_t>(k)) == 0;
    for (int64_t j = 0; j < k; j++)
      if (up[s[at + j]] != up[w[j]]) return false;
    return true;
  }
};

// The search of both routes over a Text (ByteText, or CharText for the
// multibyte route): at(i) is the i-th unit, delim(i) tells delimiters,
// same(at) compares the word there.
template <class Text>
struct Search {
  Text t;
  int64_t n;
  int64_t k;
  bool E, M, Q;
  int64_t floor = 0;  // right to left: no word ends before this index

  bool delim(int64_t i) const { return t.delim(i); }
  // A candidate ending at c (an empty word: just before c + 1) lies below
  // the floor.
  bool before_floor(int64_t c) const { return (k == 0 ? c + 1 : c) < floor; }

  // Index just past the quoted stretch that opens at i, or n when it is
  // not closed.  A doubled quote inside does not end it.
  int64_t past_quote(int64_t i) const {
    const int32_t q = t.at(i);
    for (int64_t j = i + 1; j < n; j++) {
      if (t.at(j) != q) continue;
      if (j + 1 < n && t.at(j + 1) == q) {
        j++;
        continue;
      }
      return j + 1;
    }
    return n;
  }
  // Index just before the quoted stretch that closes at i (right to left),
  // or -1 when it has no opening quote.
  int64_t before_quote(int64_t i) const {
    const int32_t q = t.at(i);
    for (int64_t j = i - 1; j >= 0; j--) {
      if (t.at(j) != q) continue;
      if (j - 1 >= 0 && t.at(j - 1) == q) {
        j--;
        continue;
      }
      return j - 1;
    }
    return -1;
  }
  // First delimiter at or after i (n when none), passing quoted stretches
  // whole with Q.
  int64_t next_delim(int64_t i) const {
    while (i < n) {
      if (Q && is_quote(t.at(i)))
        i = past_quote(i);
      else if (delim(i))
        return i;
      else
        i++;
    }
    return n;
  }
  // Last delimiter at or before i (-1 when none).
  int64_t prev_delim(int64_t i) const {
    while (i >= 0) {
      if (Q && is_quote(t.at(i)))
        i = before_quote(i);
      else if (delim(i))
        return i;
      else
        i--;
    }
    return -1;
  }

  // The word equals the string at `at`; with Q every quote inside it must be
  // closed inside it.
  bool equal_at(int64_t at) const {
    if (!t.same(at)) return false;
    if (Q) {
      int32_t open = 0;
      for (int64_t j = at; j < at + k; j++) {
        const int32_t c = t.at(j);
        if (!is_quote(c)) continue;
        if (!open)
          open = c;
        else if (c == open)
          open = 0;
      }
      if (open) return false;
    }
    return true;
  }

  // Left to right from candidate c0 (0-based): every candidate is the start
  // of the string, the start position, or the place just after a delimiter.
  double ltr(int64_t c0) const {
    const int64_t last = n - k;
    int64_t c = c0;
    if (c > 0) c = next_delim(c - 1) + 1;
    int64_t words = 0;
    for (;;) {
      if (c > last) return 0;
      if (E && !M) {
        while (c < n && delim(c)) c++;
        if (c > last) return 0;
      }
      words++;
      const bool same = equal_at(c);
      if (same && (c + k == n || delim(c + k))) return E ? words : c + 1;
      // A match not followed by a delimiter moves one unit on first; that
      // only matters when it begins with a delimiter.
      c = next_delim(same && delim(c) ? c + 1 : c) + 1;
    }
  }

  // Right to left from e0 (0-based): candidates are word ends (the end of
  // the string, the start position, or the place just before a delimiter);
  // the match must begin the string or follow a delimiter.
  double rtl(int64_t e0) const {
    int64_t c = e0;
    if (c < n - 1) c = prev_delim(c + 1) - 1;
    int64_t words = 0;
    for (;;) {
      if (c - k + 1 < 0 || before_floor(c)) return 0;
      if (E && !M) {
        while (c >= 0 && delim(c)) c--;
        if (c - k + 1 < 0 || before_floor(c)) return 0;
      }
      words++;
      const int64_t begin = c - k + 1;
      const bool same = equal_at(begin);
      if (same && (begin == 0 || delim(begin - 1))) return E ? words : begin + 1;
      c = prev_delim(same && c >= 0 && delim(c) ? c - 1 : c) - 1;
    }
  }
};

// Left to right without E and Q, for a word that does not begin with a
// delimiter: the candidates the walk would visit are exactly the
// occurrences at c0 or just after a delimiter, so the substring search
// jumps from occurrence to occurrence.
double ltr_jump(const Search<ByteText> &search, int64_t c0) {
  const ByteText &t = search.t;
  const int64_t n = search.n, k = search.k;
  if (c0 > 0) c0 = search.next_delim(c0 - 1) + 1;
  if (c0 > n - k) return 0;
  Needle needle;
  prepare_needle(&needle, t.w, k, t.fold);
  int64_t from = c0;
  for (;;) {
    const int64_t hit = find_first(t.s + from, n - from, needle);
    if (hit < 0) return 0;
    const int64_t at = from + hit;
    if ((at == c0 || search.delim(at - 1)) && (at + k == n || search.delim(at + k))) return at + 1;
    from = at + 1;
  }
}

// A character of a multibyte text by index, through the string service.
// The search moves mostly by one character, so the view moves relatively.
class CharCursor {
 public:
  CharCursor(ZeqStringService *svc, const ZeqStrView &view, int32_t wide)
      : svc_(svc), v_(view), wide_(wide) {
    if (svc_->seek(svc_, &v_, 0, wide_) == ZEQ_SS_OUT_OF_RANGE) index_ = -1;
  }
  int32_t at(int64_t i) {
    if (i != index_) {
      if (index_ < 0 || svc_->move(svc_, &v_, i - index_, wide_) == ZEQ_SS_OUT_OF_RANGE) {
        if (svc_->seek(svc_, &v_, i, wide_) == ZEQ_SS_OUT_OF_RANGE) return -1;
      }
      index_ = i;
      cached_ = false;
    }
    if (!cached_) {
      c_ = svc_->read(svc_, &v_, wide_);
      cached_ = true;
    }
    return c_;
  }

 private:
  ZeqStringService *svc_;
  ZeqStrView v_;
  int32_t wide_;
  int64_t index_ = 0;
  int32_t c_ = -1;
  bool cached_ = false;
};

// A string and a word as characters of the session encoding (or TKChar).
struct CharText {
  ZeqStringService *svc;
  CharCursor *s;
  CharCursor *w;
  int64_t k;
  const zeq::words::MbClassifier *d;
  bool fold;

  int32_t at(int64_t i) const { return s->at(i); }
  bool delim(int64_t i) const {
    const int32_t c = s->at(i);
    return c >= 0 && (*d)(static_cast<TKChar>(c));
  }
  bool same(int64_t at) const {
    for (int64_t j = 0; j < k; j++) {
      int32_t a = s->at(at + j), b = w->at(j);
      if (a < 0 || b < 0) return false;
      if (fold) {
        a = static_cast<int32_t>(svc->upper(svc, static_cast<TKChar>(a)));
        b = static_cast<int32_t>(svc->upper(svc, static_cast<TKChar>(b)));
      }
      if (a != b) return false;
    }
    return true;
  }
};

// The optional arguments of the byte route, by type: the numeric one is the
// start, the first character one the delimiter list, the second the
// modifiers.  A second start or a third character argument is marked, and
// the call answers FNC_RC_NOTE (false here).
struct Optional {
  FncArg *start = nullptr, *list = nullptr, *mods = nullptr;
};
bool sort_optional(FncArgList *args, Optional *o) {
  for (int i = 2; i < args->argCount; i++) {
    FncArg *g = zeq::arg(args, i);
    FncArg **slot = zeq::is_num(g) ? &o->start : !zeq::is_char(g) ? nullptr : !o->list ? &o->list : &o->mods;
    if (!slot) continue;
    if (*slot) {
      zeq::mark_bad(g);
      return false;
    }
    *slot = g;
  }
  return true;
}

// The start: a 1-based position (0: the string's start, or its end right to
// left) and whether it asks for right to left.  A missing start answers
// missing and one beyond the string 0 (false here, *rc set).
bool read_start(const FncArg *start, int64_t len, int64_t *pos, bool *rtl, double *result,
                int32_t *rc) {
  const double *v = start && start->value ? zeq::num_value(start) : nullptr;
  if (!v) return true;
  const double x = *v;
  if (zeq::is_missing(x)) {
    answer(result, zeq::missing_value());
    *rc = FNC_RC_MISSING;
    return false;
  }
  if (x > static_cast<double>(len)) {
    answer(result, 0);
    *rc = FNC_RC_OK;
    return false;
  }
  const double t = std::trunc(x);
  if (t < 0) {
    *rtl = true;
    *pos = -t >= static_cast<double>(len) ? len : static_cast<int64_t>(-t);
  } else {
    *pos = static_cast<int64_t>(t);
  }
  return true;
}

// The delimiter table and the options of one call.
struct Options {
  uint8_t table[256];
  bool rtl = false, E = false, fold = false, M = false, Q = false, R = false;
};

// Options from the call site's cache block.
void options_from_cache(const FindwCache *cache, Options *o, Bytes *s, Bytes *w) {
  std::memcpy(o->table, cache->table, sizeof o->table);
  o->rtl = cache->rtl != 0;
  o->E = cache->E != 0;
  o->fold = cache->I != 0;
  if (cache->T) {
    s->n = zeq::trailing_trimmed(s->p, s->n);
    w->n = zeq::trailing_trimmed(w->p, w->n);
  }
  if (cache->R) zeq::countfind::remove(&w->p, &w->n, o->table, cache->Q != 0);
}

// Options from the delimiter list and the modifiers; with O in a caching
// environment they are kept for the call site (FNC_RC_NOROOM when the block
// cannot be had).
int32_t options_from_list(FncArgList *args, const Optional &opt, Options *o, Bytes *s, Bytes *w) {
  std::memset(o->table, 0, sizeof o->table);
  Bytes chars = bytes_of(opt.list);
  bool invert = false, keep = false, trim = false;
  const Bytes m = bytes_of(opt.mods);
  zeq::read_byte_modifiers(m.p, m.n, "FINDW", [&](uint8_t letter) {
    if (zeq::words::add_class(o->table, letter)) return true;
    switch (letter) {
      case 'B': o->rtl = true; return true;
      case 'E': o->E = true; return true;
      case 'I': o->fold = true; return true;
      case 'K':
      case 'V': invert = true; return true;
      case 'M': o->M = true; return true;
      case 'O': keep = true; return true;
      case 'Q': o->Q = true; return true;
      case 'R': o->R = true; return true;
      case 'T':
        trim = true;
        s->n = zeq::trailing_trimmed(s->p, s->n);
        chars.n = zeq::trailing_trimmed(chars.p, chars.n);
        w->n = zeq::trailing_trimmed(w->p, w->n);
        return true;
      default: return false;
    }
  });
  zeq::words::add_list(o->table, reinterpret_cast<const char *>(chars.p), chars.n, o->fold);
  if (invert) zeq::words::invert(o->table);
  // Q: the quote characters are never delimiters, in this call's table and
  // in the one kept for the call site.
  if (o->Q) zeq::words::clear_quotes(o->table);
  if (keep && caching_environment(args)) {
    auto *block = static_cast<FindwCache *>(
        zeq::task_alloc(zeq::current_task(args), sizeof(FindwCache), ZEQ_FLAGS_CACHE));
    if (!block) return FNC_RC_NOROOM;
    block->rtl = o->rtl;
    block->E = o->E;
    block->I = o->fold;
    block->Q = o->Q;
    block->R = o->R;
    block->T = trim;
    std::memcpy(block->table, o->table, sizeof o->table);
    set_site_cache(args, block);
  }
  if (o->R) zeq::countfind::remove(&w->p, &w->n, o->table, o->Q);
  return FNC_RC_OK;
}

// The search itself, from pos (1-based; 0 for the end in the walking
// direction's start).
double search_word(const Bytes &s, const Bytes &w, const Options &o, int64_t pos) {
  const ByteText text{s.p, w.p, w.n, o.table, zeq::upcase_table(), o.fold};
  const Search<ByteText> search{text, s.n, w.n, o.E, o.M, o.Q};
  if (o.rtl) return search.rtl((pos > 0 && pos < s.n ? pos : s.n) - 1);
  const int64_t c0 = pos > 0 ? pos - 1 : 0;
  if (!o.E && !o.Q && w.n > 0 && !o.table[w.p[0]]) return ltr_jump(search, c0);
  return search.ltr(c0);
}

}  // namespace

ZEQ_EXPORT int32_t fncfndw(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (ZeqStringService *svc = CheckVarcharAndMultibyte(args))
    return FINDW_FUNCTION(args, result, svc, 0, "FINDW");

  Bytes s = bytes_of(zeq::arg(args, 0));
  Bytes w = bytes_of(zeq::arg(args, 1));
  Optional opt;
  if (!sort_optional(args, &opt)) return FNC_RC_NOTE;
  int64_t pos = 0;
  Options o;
  int32_t rc = FNC_RC_OK;
  if (!read_start(opt.start, s.n, &pos, &o.rtl, result, &rc)) return rc;

  if (const auto *cache = static_cast<const FindwCache *>(site_cache(args))) {
    options_from_cache(cache, &o, &s, &w);
  } else if (opt.list) {
    if ((rc = options_from_list(args, opt, &o, &s, &w)) != FNC_RC_OK) return rc;
  } else {
    std::memcpy(o.table, zeq::words::default_table(args), sizeof o.table);
  }

  answer(result, w.n > s.n || (w.n == 0 && !o.M) ? 0 : search_word(s, w, o, pos));
  return FNC_RC_OK;
}

// Multibyte route.  The types of the arguments ("1" numeric, "2" character)
// must form one of the patterns below; they fill the delimiter, modifier and
// start roles of argInit (source 1 and word 2 always).  A delimiter or
// modifier argument without a value leaves its role empty.  Any other
// pattern answers FNC_RC_NOTE.  The word machine of COUNTW_COMMON (kind 2)
// does the search.
ZEQ_EXPORT int32_t FINDW_FUNCTION(FncArgList *args, double *result, ZeqStringService *svc,
                                  int32_t wide, const char *name) noexcept {
  if (!args) return FNC_RC_NOTE;
  struct Form {
    const char *types;
    int delims, mods, start;  // 1-based argument numbers, 0: none
  };
  static constexpr Form kForms[] = {
      {"22", 0, 0, 0},     {"222", 3, 0, 0},    {"2222", 3, 4, 5},  {"22221", 3, 4, 5},
      {"2221", 3, 5, 4},   {"22212", 3, 5, 4},  {"221", 4, 5, 3},   {"2212", 4, 5, 3},
      {"22122", 4, 5, 3},
  };
  char types[8] = {};
  const int argc = args->argCount;
  if (argc < 2 || argc > 5) return FNC_RC_NOTE;
  for (int i = 0; i < argc; i++) {
    const FncArg *g = zeq::arg(args, i);
    types[i] = zeq::is_num(g) ? '1' : zeq::is_char(g) ? '2' : '0';
  }
  const Form *form = nullptr;
  for (const Form &f : kForms)
    if (std::strcmp(f.types, types) == 0) form = &f;
  if (!form) return FNC_RC_NOTE;

  int32_t roles[ROLE_COUNT] = {1, 2, 0, 0, 0, 0, 0};
  auto valued = [&](int n) {
    const FncArg *g = zeq::arg(args, n - 1);
    return n > 0 && n <= argc && g && g->value;
  };
  if (valued(form->delims)) roles[ROLE_DELIMS] = form->delims;
  if (valued(form->mods)) roles[ROLE_MODIFIERS] = form->mods;
  if (form->start > 0 && form->start <= argc) roles[ROLE_START] = form->start;
  return COUNTW_COMMON(args, result, svc, wide, roles, KIND_FIND, nullptr, name ? name : "FINDW");
}


namespace {

// FINDW on the multibyte route: the byte route's search over characters
// (the word machine's kind 2, charfn/words/delims.h tells the arguments).
double find_word_chars(ZeqStringService *svc, int32_t wide, const ZeqStrView &source, int64_t n,
                       const ZeqStrView &word, int64_t k, const zeq::words::MbClassifier &delim,
                       const ModifierFlags &f, bool right_to_left, int64_t index, int64_t floor) {
  if (k > n || (k == 0 && !f.M)) return 0;
  CharCursor s(svc, source, wide), w(svc, word, wide);
  const CharText text{svc, &s, &w, k, &delim, f.I != 0};
  const Search<CharText> search{text, n, k, f.E != 0, f.M != 0, f.Q != 0, floor};
  if (right_to_left) return search.rtl(index >= 0 && index < n ? index : n - 1);
  return search.ltr(index > 0 ? index : 0);
}

}  // namespace

// The word machine of charfn/words with this floor's word search.
ZEQ_EXPORT int32_t COUNTW_COMMON(FncArgList *args, double *count, ZeqStringService *svc, int32_t wide,
                                 int32_t *arglocs, int32_t kind, FncString *result, const char *name) noexcept {
  return zeq::words::word_machine(args, count, svc, wide, arglocs, kind, result, name, find_word_chars);
}
