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
#include "charfn/words/words.h"

using namespace zeq::countfind;

namespace {

inline bool is_quote(uint8_t c) { return c == '"' || c == '\''; }

struct Search {
  const uint8_t *s;
  int64_t n;
  const uint8_t *w;
  int64_t k;
  const uint8_t *d;  // delimiter flags; with Q the quotes are clear
  bool fold, E, M, Q;
  const uint8_t *up;

  bool delim(int64_t i) const { return d[s[i]] != 0; }

  // Index just past the quoted stretch that opens at i, or n when it is
  // not closed.  A doubled quote inside does not end it.
  int64_t past_quote(int64_t i) const {
    const uint8_t q = s[i];
    for (int64_t j = i + 1; j < n; j++) {
      if (s[j] != q) continue;
      if (j + 1 < n && s[j + 1] == q) {
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
    const uint8_t q = s[i];
    for (int64_t j = i - 1; j >= 0; j--) {
      if (s[j] != q) continue;
      if (j - 1 >= 0 && s[j - 1] == q) {
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
      if (Q && is_quote(s[i]))
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
      if (Q && is_quote(s[i]))
        i = before_quote(i);
      else if (delim(i))
        return i;
      else
        i--;
    }
    return -1;
  }

  // The word equals s[at, at + k); with Q every quote inside it must be
  // closed inside it.
  bool equal_at(int64_t at) const {
    if (fold) {
      for (int64_t j = 0; j < k; j++)
        if (up[s[at + j]] != up[w[j]]) return false;
    } else if (std::memcmp(s + at, w, static_cast<size_t>(k)) != 0) {
      return false;
    }
    if (Q) {
      uint8_t open = 0;
      for (int64_t j = at; j < at + k; j++) {
        if (!is_quote(s[j])) continue;
        if (!open)
          open = s[j];
        else if (s[j] == open)
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
      // A match not followed by a delimiter moves one byte on first; that
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
      if (c - k + 1 < 0) return 0;
      if (E && !M) {
        while (c >= 0 && delim(c)) c--;
        if (c - k + 1 < 0) return 0;
      }
      words++;
      const int64_t begin = c - k + 1;
      const bool same = equal_at(begin);
      if (same && (begin == 0 || delim(begin - 1))) return E ? words : begin + 1;
      c = prev_delim(same && c >= 0 && delim(c) ? c - 1 : c) - 1;
    }
  }

  // Left to right without E and Q, for a word that does not begin with a
  // delimiter: the candidates the walk would visit are exactly the
  // occurrences at c0 or just after a delimiter, so the substring search
  // jumps from occurrence to occurrence.
  double ltr_jump(int64_t c0) const {
    if (c0 > 0) c0 = next_delim(c0 - 1) + 1;
    if (c0 > n - k) return 0;
    Needle needle;
    prepare_needle(&needle, w, k, fold);
    int64_t from = c0;
    for (;;) {
      const int64_t hit = find_first(s + from, n - from, needle);
      if (hit < 0) return 0;
      const int64_t at = from + hit;
      if ((at == c0 || delim(at - 1)) && (at + k == n || delim(at + k))) return at + 1;
      from = at + 1;
    }
  }
};

}  // namespace

ZEQ_EXPORT int32_t fncfndw(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (ZeqStringService *svc = CheckVarcharAndMultibyte(args))
    return FINDW_FUNCTION(args, result, svc, 0, "FINDW");

  Bytes s = bytes_of(zeq::arg(args, 0));
  Bytes w = bytes_of(zeq::arg(args, 1));

  FncArg *start = nullptr, *list = nullptr, *mods = nullptr;
  for (int i = 2; i < args->argCount; i++) {
    FncArg *g = zeq::arg(args, i);
    if (zeq::is_num(g)) {
      if (start) {
        zeq::mark_bad(g);
        return FNC_RC_NOTE;
      }
      start = g;
    } else if (zeq::is_char(g)) {
      if (!list) {
        list = g;
      } else if (!mods) {
        mods = g;
      } else {
        zeq::mark_bad(g);
        return FNC_RC_NOTE;
      }
    }
  }

  // The start: a 1-based position (0: the string's start, or its end right
  // to left) and whether it asks for right to left.
  int64_t pos = 0;
  bool rtl = false;
  if (const double *v = start && start->value ? zeq::num_value(start) : nullptr) {
    const double x = *v;
    if (zeq::is_missing(x)) {
      answer(result, zeq::missing_value());
      return FNC_RC_MISSING;
    }
    if (x > static_cast<double>(s.n)) {
      answer(result, 0);
      return FNC_RC_OK;
    }
    const double t = std::trunc(x);
    if (t < 0) {
      rtl = true;
      pos = -t >= static_cast<double>(s.n) ? s.n : static_cast<int64_t>(-t);
    } else {
      pos = static_cast<int64_t>(t);
    }
  }

  uint8_t table[256];
  bool E = false, fold = false, M = false, Q = false, R = false;
  if (const auto *cache = static_cast<const FindwCache *>(site_cache(args))) {
    std::memcpy(table, cache->table, sizeof table);
    rtl = cache->rtl != 0;
    E = cache->E != 0;
    fold = cache->I != 0;
    if (cache->T) {
      s.n = trim_blanks(s.p, s.n);
      w.n = trim_blanks(w.p, w.n);
    }
    if (cache->R) zeq::countfind::remove(&w.p, &w.n, table, cache->Q != 0);
  } else if (list) {
    std::memset(table, 0, sizeof table);
    Bytes chars = bytes_of(list);
    bool invert = false, keep = false, trim = false;
    const Bytes m = bytes_of(mods);
    const uint8_t *up = zeq::upcase_table();
    for (int64_t i = 0; i < m.n; i++) {
      const uint8_t letter = up[m.p[i]];
      if (letter == ' ' || zeq::words::add_class(table, letter)) continue;
      switch (letter) {
        case 'B': rtl = true; break;
        case 'E': E = true; break;
        case 'I': fold = true; break;
        case 'K':
        case 'V': invert = true; break;
        case 'M': M = true; break;
        case 'O': keep = true; break;
        case 'Q': Q = true; break;
        case 'R': R = true; break;
        case 'T':
          trim = true;
          s.n = trim_blanks(s.p, s.n);
          chars.n = trim_blanks(chars.p, chars.n);
          w.n = trim_blanks(w.p, w.n);
          break;
        default: bad_modifier("FINDW", letter); break;
      }
    }
    zeq::words::add_list(table, reinterpret_cast<const char *>(chars.p), chars.n, fold);
    if (invert) zeq::words::invert(table);
    // Q: the quote characters are never delimiters, in this call's table and
    // in the one kept for the call site.
    if (Q) zeq::words::clear_quotes(table);
    if (keep && caching_environment(args)) {
      auto *block = static_cast<FindwCache *>(
          zeq::task_alloc(zeq::current_task(args), sizeof(FindwCache), ZEQ_FLAGS_CACHE));
      if (!block) return FNC_RC_NOROOM;
      block->rtl = rtl;
      block->E = E;
      block->I = fold;
      block->Q = Q;
      block->R = R;
      block->T = trim;
      std::memcpy(block->table, table, sizeof table);
      set_site_cache(args, block);
    }
    if (R) zeq::countfind::remove(&w.p, &w.n, table, Q);
  } else {
    std::memcpy(table, zeq::words::default_table(args), sizeof table);
  }

  if (w.n > s.n || (w.n == 0 && !M)) {
    answer(result, 0);
    return FNC_RC_OK;
  }
  const Search search{s.p, s.n, w.p, w.n, table, fold, E, M, Q, zeq::upcase_table()};
  double found;
  if (rtl) {
    found = search.rtl((pos > 0 && pos < s.n ? pos : s.n) - 1);
  } else {
    const int64_t c0 = pos > 0 ? pos - 1 : 0;
    if (!E && !Q && w.n > 0 && !table[w.p[0]])
      found = search.ltr_jump(c0);
    else
      found = search.ltr(c0);
  }
  answer(result, found);
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
