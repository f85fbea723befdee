// charfn/words/delims.cc - delimiter tables of the word functions (SCAN,
// COUNTW, and FINDW's table helpers), their call-site caches, and the
// multibyte classification with the view helpers of the word machine.
#include "charfn/words/delims.h"

#include <cstring>

using namespace zeq::args;

namespace zeq::words {

namespace {

// Host class bits (zeq/abi.h) plus the "printable" bit that W adds.
constexpr uint8_t kClassLetters = ZEQ_CLASS_UPPER | ZEQ_CLASS_LOWER;
constexpr uint8_t kClassGraphic = ZEQ_CLASS_UPPER | ZEQ_CLASS_LOWER | ZEQ_CLASS_DIGIT | ZEQ_CLASS_PUNCT;
constexpr uint8_t kClassPrintable = kClassGraphic | 0x20;

// Without a branch, so that the loop runs a vector at a time.
void add_by_class(uint8_t *table, uint8_t bits) {
  const uint8_t *cls = zeq::class_table();
  for (int b = 0; b < kTableSize; b++) table[b] |= (cls[b] & bits) != 0 ? 1 : 0;
}

// A-Z and the underscore, each with the form the lower-case table gives it.
void add_name_letters(uint8_t *table) {
  const uint8_t *low = zeq::lowcase_table();
  for (int c = 'A'; c <= 'Z'; c++) {
    table[c] = 1;
    table[low[c]] = 1;
  }
  table[uint8_t{'_'}] = 1;
  table[low[uint8_t{'_'}]] = 1;
}

void add_digits(uint8_t *table) {
  for (int c = '0'; c <= '9'; c++) table[c] = 1;
}
}  // namespace

bool add_class(uint8_t *table, uint8_t letter) {
  switch (letter) {
    case 'A': add_by_class(table, kClassLetters); return true;
    case 'C': add_by_class(table, ZEQ_CLASS_CONTROL); return true;
    case 'D': add_digits(table); return true;
    case 'F': add_name_letters(table); return true;
    case 'G': add_by_class(table, kClassGraphic); return true;
    case 'H': table[uint8_t{'\t'}] = 1; return true;
    case 'L': add_by_class(table, ZEQ_CLASS_LOWER); return true;
    case 'N': add_digits(table); add_name_letters(table); return true;
    case 'P': add_by_class(table, ZEQ_CLASS_PUNCT); return true;
    case 'S': add_by_class(table, ZEQ_CLASS_SPACE); return true;
    case 'U': add_by_class(table, ZEQ_CLASS_UPPER); return true;
    case 'W': add_by_class(table, kClassPrintable); return true;
    case 'X': add_by_class(table, ZEQ_CLASS_XDIGIT); return true;
    default: return false;
  }
}

void add_list(uint8_t *table, const char *list, int64_t length, bool ignore_case) {
  if (!list || length <= 0) return;
  const auto *p = reinterpret_cast<const uint8_t *>(list);
  if (!ignore_case) {
    for (int64_t i = 0; i < length; i++) table[p[i]] = 1;
    return;
  }
  const uint8_t *up = zeq::upcase_table();
  const uint8_t *low = zeq::lowcase_table();
  for (int64_t i = 0; i < length; i++) {
    table[up[p[i]]] = 1;
    table[low[p[i]]] = 1;
  }
}

void invert(uint8_t *table) {
  for (int i = 0; i < kTableSize; i++) table[i] = table[i] ? 0 : 1;
}

void clear_quotes(uint8_t *table) {
  table[kDoubleQuote] = 0;
  table[kSingleQuote] = 0;
}

const uint8_t *default_table_of_task(FncArgList *args) {
  FncContext *ctx = zeq::task_context(args);
  if (ctx && ctx->punctTable) return ctx->punctTable;
  return builtin_default_table();
}

namespace {

// A call site served from its cache reads neither list nor modifiers: the
// cached flags and table serve (with Q, a copy without the quotes).
void from_site_cache(const void *block, const WordArgs &where, uint8_t *local, DelimSetup *out) {
  const uint8_t *cached;
  if (where.scan) {
    const auto *c = static_cast<const ScanCache *>(block);
    out->flags.rtl = c->rtl != 0;
    out->flags.M = c->M != 0;
    out->flags.Q = c->Q != 0;
    out->flags.R = c->R != 0;
    out->flags.T = c->T != 0;
    cached = c->table;
  } else {
    const auto *c = static_cast<const CountwCache *>(block);
    out->flags.rtl = c->B != 0;
    out->flags.M = c->M != 0;
    out->flags.Q = c->Q != 0;
    out->flags.T = c->T != 0;
    cached = c->table;
  }
  if (out->flags.T) out->source_length = trailing_trimmed(out->source, out->source_length);
  if (out->flags.Q) {
    std::memcpy(local, cached, kTableSize);
    clear_quotes(local);
    out->table = local;
  } else {
    out->table = cached;
  }
}

// What the modifiers ask beyond the flags of DelimSetup.
struct WordOptions {
  bool ignore_case = false, complement = false, keep = false;
};

// Reads SCAN's or COUNTW's modifiers: class letters go to the table, T trims
// the source and the list at once.
WordOptions read_word_modifiers(FncArgList *args, const WordArgs &where, uint8_t *local,
                                const char *list_data, int64_t *list_length, DelimSetup *out) {
  WordOptions o;
  const FncString *mods = zeq::str_value(zeq::arg(args, where.modifiers));
  if (!mods || !mods->data || mods->length <= 0) return o;
  const auto *m = reinterpret_cast<const uint8_t *>(mods->data);
  zeq::read_byte_modifiers(m, mods->length, where.name, [&](uint8_t letter) {
    if (add_class(local, letter)) return true;
    switch (letter) {
      case 'B': out->flags.rtl = true; return true;
      case 'I': o.ignore_case = true; return true;
      case 'K': o.complement = true; return true;
      case 'M': out->flags.M = true; return true;
      case 'O': o.keep = true; return true;
      case 'Q': out->flags.Q = true; return true;
      case 'T':
        out->flags.T = true;
        out->source_length = trailing_trimmed(out->source, out->source_length);
        if (list_data) *list_length = trailing_trimmed(list_data, *list_length);
        return true;
      case 'R': return where.scan && (out->flags.R = true);
      default: return false;
    }
  });
  return o;
}

// Keeps the finished table and flags for the call site (O in a caching
// environment); FNC_RC_NOROOM when the block cannot be had.
int32_t keep_for_site(FncArgList *args, const WordArgs &where, bool negative_word,
                      const uint8_t *local, const DelimSetup &out) {
  FncTask *task = zeq::current_task(args);
  if (where.scan) {
    auto *c = static_cast<ScanCache *>(zeq::task_alloc(task, sizeof(ScanCache), ZEQ_FLAGS_CACHE));
    if (!c) return FNC_RC_NOROOM;
    c->rtl = out.flags.rtl || negative_word;
    c->M = out.flags.M;
    c->Q = out.flags.Q;
    c->R = out.flags.R;
    c->T = out.flags.T;
    std::memcpy(c->table, local, kTableSize);
    args->noteCount = static_cast<int64_t>(reinterpret_cast<uintptr_t>(c));
    return FNC_RC_OK;
  }
  auto *c = static_cast<CountwCache *>(zeq::task_alloc(task, sizeof(CountwCache), ZEQ_FLAGS_CACHE));
  if (!c) return FNC_RC_NOROOM;
  c->B = out.flags.rtl;
  c->M = out.flags.M;
  c->Q = out.flags.Q;
  c->T = out.flags.T;
  std::memcpy(c->table, local, kTableSize);
  args->noteCount = static_cast<int64_t>(reinterpret_cast<uintptr_t>(c));
  return FNC_RC_OK;
}

}  // namespace

int32_t build_listed_delimiters(FncArgList *args, const WordArgs &where, bool negative_word,
                                uint8_t *local, DelimSetup *out) {
  if (const void *block = site_cache_block(args)) {
    from_site_cache(block, where, local, out);
    return FNC_RC_OK;
  }
  const bool limited = FNC_KIND_IS_LIMITED(args->resultKind);

  std::memset(local, 0, kTableSize);
  const FncString *list = zeq::str_value(zeq::arg(args, where.list));
  const char *list_data = (list && list->data && list->length > 0) ? list->data : nullptr;
  int64_t list_length = list_data ? list->length : 0;
  const WordOptions o = read_word_modifiers(args, where, local, list_data, &list_length, out);

  const bool caching = o.keep && limited;
  add_list(local, list_data, list_length, o.ignore_case);
  if (o.complement) invert(local);
  if (caching) {
    const int32_t rc = keep_for_site(args, where, negative_word, local, *out);
    if (rc != FNC_RC_OK) return rc;
  }
  if (out->flags.Q) clear_quotes(local);
  out->table = local;
  return FNC_RC_OK;
}

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------

namespace {

constexpr char kPunctExtra[] = "`+$=|<>^~";

bool is_name_letter(TKChar c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool is_default_delim(TKChar c) {
  return c < 128 && builtin_default_table()[c];
}

}  // namespace

bool stringIsPunct(ZeqStringService *svc, TKChar c, int32_t wide) {
  if (svc && svc->is_class && svc->is_class(svc, c, ZEQ_SC_CODE_PUNCT)) return true;
  // The nine are ASCII, so they have the same code point in TKChar and in
  // every ASCII-compatible session encoding.
  for (const char *p = kPunctExtra; *p; p++)
    if (c == static_cast<TKChar>(*p)) return true;
  return false;
}

int32_t scan_blank(FncString *result) {
  if (!result) return FNC_RC_OK;
  if (result->maxLength <= 0) {
    result->length = 0;
    return FNC_RC_OK;
  }
  const int32_t rc = tkfncSetRetstg(result, 1);
  if (rc != FNC_RC_OK) return rc;
  if (zeq::result_room(result) >= 1 && result->data) {
    result->data[0] = ' ';
    result->length = 1;
  } else {
    result->length = 0;
  }
  return FNC_RC_OK;
}

void StringInit(ZeqStringService *svc, int32_t unit, ZeqStrView *view) {
  view->pos = 0;
  view->end = nullptr;
  if (svc && svc->bind) svc->bind(svc, view, view->start, view->length, unit == 4 ? 1 : 0);
}

MbClassifier::MbClassifier(ZeqStringService *svc, int32_t wide, const ModifierFlags *flags,
                           const ZeqStrView *list, bool list_bound)
    : svc_(svc), wide_(wide), f_(flags) {
  invert_ = flags->K != 0;
  quotes_ = flags->Q != 0;
  if (list_bound) list_.load(svc, wide, list);
}

void CodeList::load(ZeqStringService *svc, int32_t wide, const ZeqStrView *list) {
  if (!list || !list->start || list->length <= 0) return;
  svc_ = svc;
  wide_ = wide;
  list_ = *list;
  bound_ = true;
  ZeqStrView v = list_;
  if (svc_->seek(svc_, &v, 0, wide_) == ZEQ_SS_OUT_OF_RANGE) return;
  for (;;) {
    const int32_t c = svc_->read(svc_, &v, wide_);
    if (c < 0) break;
    if (count_ == kInline) {
      spilled_ = true;
      break;
    }
    codes_[count_++] = static_cast<TKChar>(c);
    if (svc_->move(svc_, &v, 1, wide_) == ZEQ_SS_OUT_OF_RANGE) break;
  }
}

bool CodeList::contains(TKChar c) const {
  if (!bound_) return false;
  if (!spilled_) {
    for (int i = 0; i < count_; i++)
      if (codes_[i] == c) return true;
    return false;
  }
  ZeqStrView v = list_;
  if (svc_->seek(svc_, &v, 0, wide_) == ZEQ_SS_OUT_OF_RANGE) return false;
  for (;;) {
    const int32_t x = svc_->read(svc_, &v, wide_);
    if (x < 0) return false;
    if (static_cast<TKChar>(x) == c) return true;
    if (svc_->move(svc_, &v, 1, wide_) == ZEQ_SS_OUT_OF_RANGE) return false;
  }
}

bool MbClassifier::raw(TKChar c) const {
  const ModifierFlags &f = *f_;
  if (list_.bound()) {
    if (list_.contains(c)) return true;
    if (f.I && (list_.contains(svc_->upper(svc_, c)) || list_.contains(svc_->lower(svc_, c))))
      return true;
  }
  if (f.U && svc_->is_class(svc_, c, ZEQ_SC_UPPER)) return true;
  if (f.Lpos && svc_->is_class(svc_, c, ZEQ_SC_LOWER)) return true;
  if (f.default_delims && is_default_delim(c)) return true;
  if (f.A && svc_->is_class(svc_, c, ZEQ_SC_CODE_ALPHA)) return true;
  if (f.C && svc_->is_class(svc_, c, ZEQ_SC_CODE_CONTROL)) return true;
  if (f.D && svc_->is_class(svc_, c, ZEQ_SC_CODE_DIGIT)) return true;
  if (f.G && svc_->is_class(svc_, c, ZEQ_SC_CODE_GRAPH)) return true;
  if (f.P && stringIsPunct(svc_, c, wide_)) return true;
  if (f.S && svc_->is_class(svc_, c, ZEQ_SC_CODE_SPACE)) return true;
  if (f.W && svc_->is_class(svc_, c, ZEQ_SC_CODE_PRINT)) return true;
  if (f.X && svc_->is_class(svc_, c, ZEQ_SC_CODE_XDIGIT)) return true;
  if (f.F && is_name_letter(c)) return true;
  if (f.Npos && (is_name_letter(c) || (c >= '0' && c <= '9'))) return true;
  if (f.H && c == '\t') return true;
  return false;
}

int32_t SetPos(ZeqStringService *svc, const ModifierFlags *flags, ParsedArgs *parsed,
               int64_t *index, int64_t *step, int32_t wide) {
  const bool bound = parsed->bound[0] && parsed->source.start;
  if (!bound && !flags->M) return 1;
  *step = flags->B ? -1 : 1;
  *index = parsed->start - 1;
  const bool empty = !bound || parsed->source.length <= 0 || parsed->source_chars <= 0;
  if (parsed->start == 1 && empty) return flags->M ? 0 : 1;
  if (!bound) return 1;
  if (svc->seek(svc, &parsed->source, *index, wide) == ZEQ_SS_OUT_OF_RANGE) return 1;
  return 0;
}

void stripDelims(ZeqStringService *svc, const MbClassifier &delim, ZeqStrView *view,
                 int64_t *chars, int32_t direction, int32_t wide) {
  if (!view->start || view->length <= 0 || *chars <= 0) return;
  const int64_t unit = wide ? 4 : 1;
  ZeqStrView v = *view;
  if (direction >= 0) {
    if (svc->seek(svc, &v, 0, wide) == ZEQ_SS_OUT_OF_RANGE) return;
    int64_t passed = 0;
    while (passed < *chars) {
      const int32_t c = svc->read(svc, &v, wide);
      if (c < 0 || !delim(static_cast<TKChar>(c))) break;
      if (svc->move(svc, &v, 1, wide) == ZEQ_SS_OUT_OF_RANGE) break;
      passed++;
    }
    if (passed == 0) return;
    const int64_t skip = v.pos;  // code units passed over
    view->start = static_cast<const char *>(view->start) + skip * unit;
    view->length -= skip;
    *chars -= passed;
    StringInit(svc, static_cast<int32_t>(unit), view);
  } else {
    if (svc->seek(svc, &v, *chars - 1, wide) == ZEQ_SS_OUT_OF_RANGE) return;
    int64_t passed = 0;
    int64_t keep = view->length;
    while (passed < *chars) {
      const int32_t c = svc->read(svc, &v, wide);
      if (c < 0 || !delim(static_cast<TKChar>(c))) break;
      keep = v.pos;
      passed++;
      if (svc->move(svc, &v, -1, wide) == ZEQ_SS_OUT_OF_RANGE) break;
    }
    if (passed == 0) return;
    view->length = keep;
    *chars -= passed;
    StringInit(svc, static_cast<int32_t>(unit), view);
  }
}

}  // namespace zeq::words

// ---------------------------------------------------------------------------
// Byte-route word engine.
// ---------------------------------------------------------------------------
namespace zeq::words {

namespace {

inline bool is_quote(uint8_t c) { return c == kDoubleQuote || c == kSingleQuote; }

// Index just past the quoted stretch that opens at i (left to right): past
// the matching quote, or n when the quote is not closed.
inline int64_t skip_quote_ltr(const uint8_t *s, int64_t n, int64_t i) {
  const void *close = std::memchr(s + i + 1, s[i], static_cast<size_t>(n - i - 1));
  return close ? static_cast<const uint8_t *>(close) - s + 1 : n;
}

// Index just before the quoted stretch that closes at i (right to left):
// before the matching quote, or -1 when it has none.
inline int64_t skip_quote_rtl(const uint8_t *s, int64_t i) {
  const uint8_t q = s[i];
  for (int64_t j = i - 1; j >= 0; j--)
    if (s[j] == q) return j - 1;
  return -1;
}

// End (exclusive) of the word that starts at i, left to right; a quote
// runs on to its partner.
inline int64_t word_end_ltr(const ByteText &t, int64_t i) {
  const uint8_t *s = t.s;
  const uint8_t *d = t.delim;
  while (i < t.n && !d[s[i]]) {
    if (is_quote(s[i]))
      i = skip_quote_ltr(s, t.n, i);
    else
      i++;
  }
  return i;
}

// Index just before the word that ends at i (inclusive), right to left; a
// quote runs back to its partner.
inline int64_t word_begin_rtl(const ByteText &t, int64_t i) {
  const uint8_t *s = t.s;
  const uint8_t *d = t.delim;
  while (i >= 0 && !d[s[i]]) {
    if (is_quote(s[i]))
      i = skip_quote_rtl(s, i);
    else
      i--;
  }
  return i;
}

WordSpan find_quoted_ltr(const ByteText &t, int64_t k) {
  WordSpan w;
  const uint8_t *d = t.delim;
  int64_t i = 0, seen = 0;
  if (t.M) {
    for (;;) {
      const int64_t end = word_end_ltr(t, i);
      if (++seen == k) return {true, i, end - i};
      if (end >= t.n) return w;  // the last word ended at the string's end
      i = end + 1;
    }
  }
  for (;;) {
    while (i < t.n && d[t.s[i]]) i++;
    if (i >= t.n) return w;
    const int64_t end = word_end_ltr(t, i);
    if (++seen == k) return {true, i, end - i};
    i = end;
  }
}

WordSpan find_quoted_rtl(const ByteText &t, int64_t k) {
  WordSpan w;
  const uint8_t *d = t.delim;
  int64_t i = t.n - 1, seen = 0;
  if (t.M) {
    for (;;) {
      const int64_t before = word_begin_rtl(t, i);
      if (++seen == k) return {true, before + 1, i - before};
      // Past the start every further word is empty, just before the string.
      if (before < 0) return {true, -1, 0};
      i = before - 1;
    }
  }
  for (;;) {
    while (i >= 0 && d[t.s[i]]) i--;
    if (i < 0) return w;
    const int64_t before = word_begin_rtl(t, i);
    if (++seen == k) return {true, before + 1, i - before};
    i = before;
  }
}

// Runs of non-delimiters, without quotes: one table lookup per byte, no
// branches, so the loop vectorises.
int64_t count_runs(const ByteText &t) {
  const uint8_t *s = t.s;
  const uint8_t *d = t.delim;
  int64_t count = 0;
  uint8_t prev = 1;
  for (int64_t i = 0; i < t.n; i++) {
    const uint8_t cur = d[s[i]];
    count += prev & (cur ^ 1);
    prev = cur;
  }
  return count;
}

int64_t count_delims(const ByteText &t) {
  const uint8_t *s = t.s;
  const uint8_t *d = t.delim;
  int64_t count = 0;
  for (int64_t i = 0; i < t.n; i++) count += d[s[i]];
  return count;
}

int64_t count_quoted(const ByteText &t, bool rtl) {
  const uint8_t *s = t.s;
  const uint8_t *d = t.delim;
  int64_t count = 0;
  if (t.M) {
    // Delimiters outside quoted stretches, plus one.
    count = 1;
    if (!rtl) {
      for (int64_t i = 0; i < t.n;) {
        if (is_quote(s[i])) {
          i = skip_quote_ltr(s, t.n, i);
        } else {
          count += d[s[i]];
          i++;
        }
      }
    } else {
      for (int64_t i = t.n - 1; i >= 0;) {
        if (is_quote(s[i])) {
          i = skip_quote_rtl(s, i);
        } else {
          count += d[s[i]];
          i--;
        }
      }
    }
    return count;
  }
  if (!rtl) {
    for (int64_t i = 0; i < t.n;) {
      if (d[s[i]]) {
        i++;
        continue;
      }
      count++;
      i = word_end_ltr(t, i);
    }
  } else {
    for (int64_t i = t.n - 1; i >= 0;) {
      if (d[s[i]]) {
        i--;
        continue;
      }
      count++;
      i = word_begin_rtl(t, i);
    }
  }
  return count;
}

}  // namespace

WordSpan find_word(const ByteText &t, int64_t k, bool rtl) {
  if (k < 1) return {};
  if (!t.Q) return find_unquoted_word(t, k, rtl);
  return rtl ? find_quoted_rtl(t, k) : find_quoted_ltr(t, k);
}

int64_t count_words(const ByteText &t, bool rtl) {
  if (t.Q) return count_quoted(t, rtl);
  return t.M ? count_delims(t) + 1 : count_runs(t);
}

}  // namespace zeq::words
