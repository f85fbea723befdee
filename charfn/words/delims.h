// charfn/words/delims.h - how SCAN and COUNTW build their delimiter set and
// read their modifiers, the call-site caches that keep a built set, and the
// character classification of the multibyte route.
//
// Byte route.  The set is a 256-byte table (charfn/words/words.h).  It is
// built per call, in this order: class letters as the modifiers are read,
// then the character list (both case forms with I), then K inverts, then the
// call-site cache is stored (O in a limited environment), then Q clears the
// two quote characters.  A call with no character-list position at all uses
// the task's default table.  T trims the list of a table built for one call;
// a table built for the call-site cache takes the list at its full length,
// as the hosts that keep such caches expect.
//
// Multibyte route.  The same classification is made per character through the
// session string service, from the ModifierFlags and ParsedArgs that argInit
// filled (charfn/args/modifiers.h).
#pragma once

#include <cstdint>

#include "charfn/args/modifiers.h"
#include "charfn/entries.h"
#include "charfn/words/words.h"
#include "task/task_context.h"

namespace zeq::words {

using namespace zeq::args;  // the argument layer's flags and roles

// Option flags of a word call.
struct WordFlags {
  bool rtl = false;  // B, or (SCAN) a negative word number
  bool M = false;
  bool Q = false;
  bool R = false;
  bool T = false;
};

// Where the arguments of a word function sit (0-based entries of args), and
// what the function accepts.
struct WordArgs {
  int source = 0;
  int list = 1;
  int modifiers = 2;
  const char *name = "COUNTW";
  bool scan = false;  // SCAN: accepts R, keeps the 266-byte cache record
};

// What build_delimiters hands back.  `table` points either at the caller's
// local table, at the task's default table, or (never written) at a cache.
struct DelimSetup {
  const uint8_t *table = nullptr;
  WordFlags flags;
  const char *source = "";
  int64_t source_length = 0;  // trailing blanks removed with T
  bool defaults = false;      // `table` is the task's default table
};

// Call-site cache records, kept in FncArgList.noteCount.
struct ScanCache {
  int16_t rtl, M, Q, R, T;
  uint8_t table[kTableSize];
};
static_assert(sizeof(ScanCache) == 266, "SCAN cache record is 266 bytes");

struct CountwCache {
  int16_t B, M, Q, T;
  uint8_t table[kTableSize];
};
static_assert(sizeof(CountwCache) == 264, "COUNTW cache record is 264 bytes");

// The call-site cache block of a call, or null: kept only in the limited
// environments (resultKind 0x48, 0x58, 0x68, 0x88).
inline const void *site_cache_block(const FncArgList *args) {
  if (!FNC_KIND_IS_LIMITED(args->resultKind) || args->noteCount == 0) return nullptr;
  return reinterpret_cast<const void *>(static_cast<uintptr_t>(args->noteCount));
}

// build_delimiters past the source: the call-site cache, or a table built
// from the list and the modifiers.
int32_t build_listed_delimiters(FncArgList *args, const WordArgs &where, bool negative_word,
                                uint8_t *local, DelimSetup *out);

// Builds the delimiter set of one call (or takes it from the call-site
// cache).  `local` is the caller's 256-byte scratch table.  negative_word
// tells SCAN's cache that the word number counts from the right.  Returns
// FNC_RC_OK, or FNC_RC_NOROOM when the cache block cannot be allocated.
// A call without a character-list position (and outside a call-site cache)
// takes the task's default table, with nothing to build.
inline int32_t build_delimiters(FncArgList *args, const WordArgs &where, bool negative_word,
                                uint8_t *local, DelimSetup *out) {
  zeq::text_or_empty(args, where.source, &out->source, &out->source_length);
  const bool cached = site_cache_block(args) != nullptr;
  if (!cached && args->argCount <= where.list) {
    out->table = default_table(args);
    out->defaults = true;
    return FNC_RC_OK;
  }
  return build_listed_delimiters(args, where, negative_word, local, out);
}

// ---------------------------------------------------------------------------
// Byte-route word engine, shared by SCAN, COUNTW and the quoted-word scan and
// count.  Words follow one of two rules:
//   without M: a word is a maximal run of non-delimiters;
//   with M:    words are the stretches between neighbouring delimiters (and
//              the string ends), so k delimiters make k + 1 words.
// With Q a quote character (never a delimiter) runs on to the next quote of
// the same kind, and delimiters in between belong to the word; an unclosed
// quote runs to the end of the walk (from the right: to the start).  Quotes
// pair in the walking direction.
// ---------------------------------------------------------------------------
struct ByteText {
  const uint8_t *s;
  int64_t n;
  const uint8_t *delim;  // 256 flags; the quote characters must be clear with Q
  bool M;
  bool Q;
  // The table is the task's default table: most likely the 17 defaults,
  // whose nibble form is made at build time.
  bool defaults = false;
};

// A found word: its 0-based offset and length.  With M from the right, words
// wanted beyond the start are empty and lie at offset -1.
struct WordSpan {
  bool found = false;
  int64_t offset = 0;
  int64_t length = 0;
};

// The k-th word (k >= 1) from the left, or from the right with rtl.  Without
// Q it is find_unquoted_word's answer.
WordSpan find_word(const ByteText &t, int64_t k, bool rtl);

// What the builds of the unquoted search answer: the span, or a length of
// -1 for no word (two words, so that it comes back in registers).
struct FoundSpan {
  int64_t offset;
  int64_t length;
};

// The chosen build's unquoted search, by direction (1: from the right) and
// rule (1: with M); k >= 1 (charfn/words/word_masks.cc).
using UnquotedFinder = FoundSpan (*)(const ByteText &, int64_t);
extern UnquotedFinder unquoted_finders[2][2];

// find_word without Q (t.Q is ignored): reads 64 bytes at a time into
// delimiter bit masks and counts words by their bits.  Two builds, chosen
// once per process like the other kernels (core/cpu.h).
inline WordSpan find_unquoted_word(const ByteText &t, int64_t k, bool rtl) {
  if (k < 1) return {};
  const FoundSpan f = unquoted_finders[rtl][t.M](t, k);
  return {f.length >= 0, f.offset, f.length};
}

// The number of words; rtl pairs quotes from the right.
int64_t count_words(const ByteText &t, bool rtl);

// ---------------------------------------------------------------------------
// Multibyte route.
// ---------------------------------------------------------------------------

// Classifies characters as delimiters from the flags and the character list
// of argInit.  The list is decoded once; lists longer than the inline room
// are read through the service on every test.
class MbClassifier {
 public:
  MbClassifier(ZeqStringService *svc, int32_t wide, const ModifierFlags *flags,
               const ZeqStrView *list, bool list_bound);
  // Delimiter answer before K.
  bool raw(TKChar c) const;
  // Delimiter answer with K applied; with Q the quote characters never are.
  bool operator()(TKChar c) const {
    if (quotes_ && (c == kDoubleQuote || c == kSingleQuote)) return false;
    return raw(c) != invert_;
  }

 private:
  ZeqStringService *svc_;
  int32_t wide_;
  const ModifierFlags *f_;
  CodeList list_;
  bool invert_ = false;
  bool quotes_ = false;
};

// True when the service's class test with code 16 accepts c, or when c is
// one of the nine characters of "`+$=|<>^~".
bool stringIsPunct(ZeqStringService *svc, TKChar c, int32_t wide);

// Clears the view's position and end, then has the service bind it over its
// start and length for the code-unit size (1 for bytes, 4 for TKChar).
void StringInit(ZeqStringService *svc, int32_t unit, ZeqStrView *view);

// Start index (0-based) and step of a walk over the source view.  Returns 1
// when there is nothing to scan, else 0.
int32_t SetPos(ZeqStringService *svc, const ModifierFlags *flags, ParsedArgs *parsed,
               int64_t *index, int64_t *step, int32_t wide);

// Moves over delimiters at one end of a view (direction 1: from the start,
// -1: from the end) and shortens *chars by the characters passed.
void stripDelims(ZeqStringService *svc, const MbClassifier &delim, ZeqStrView *view,
                 int64_t *chars, int32_t direction, int32_t wide);

// SCAN's one-blank word (a null result is left alone): a result of room 0
// gets length 0, else one blank when the result can be sized to hold it
// (length 0 when it still has no room).  Returns the status of sizing.
int32_t scan_blank(FncString *result);

// A word search over characters for the word machine's kind 2 (FINDW's
// floor supplies it): the n characters of `source` searched for the k
// characters of `word` from character `index` in the direction given (right
// to left, down to the word ends at `floor` or later), with the flags E, I, M
// and Q.  Answers the 1-based position, the word number with E, or 0.
using WordFind = double (*)(ZeqStringService *svc, int32_t wide, const ZeqStrView &source, int64_t n,
                            const ZeqStrView &word, int64_t k, const MbClassifier &delim, const ModifierFlags &f,
                            bool right_to_left, int64_t index, int64_t floor);

// The word machine behind COUNTW_COMMON (charfn/words/words.h tells the
// kinds); kind 2 searches with `find` (null: 0).
int32_t word_machine(FncArgList *args, double *count, ZeqStringService *svc, int32_t wide, int32_t *arglocs,
                     int32_t kind, FncString *result, const char *name, WordFind find) noexcept;

}  // namespace zeq::words

