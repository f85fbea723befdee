// charfn/countfind/countfind.h - what COUNT, COUNTC, FIND, FINDC, FINDW and
// FINDLEV share: the byte-set scanning kernels (two builds, chosen once per
// process), the reading of byte-route arguments and start positions, the
// call-site cache records, and the multibyte-route entry points.
//
// Byte route: strings are bytes, positions are 1-based byte positions counted
// from the start of the whole string, case folding goes through the session's
// upper-case and lower-case byte tables (core/frame.h).
//
// Multibyte route: strings are read through the session string service
// (zeq/host.h) from the views that argInit binds (charfn/args/modifiers.h);
// positions are 1-based character positions.
#pragma once

#include <cstdint>

#include "charfn/args/modifiers.h"
#include "charfn/entries.h"
#include "core/frame.h"
#include "strkernel/blanks.h"
#include "task/task_context.h"

namespace zeq::countfind {

// ---------------------------------------------------------------------------
// Byte sets and scanning kernels (charfn/countfind/scan_kernels.cc).
// ---------------------------------------------------------------------------

// A set of byte values: the plain 256-entry table (non-zero = member) plus
// the nibble form that the wide build tests 32 bytes at a time.  For a byte b
// with high nibble h and low nibble l, b is a member when bit (h & 7) of
// lo[l] (h < 8) or of hi[l] (h >= 8) is set.
// A set of at most kFew bytes also lists them: the kernels then compare
// with each member instead.
struct ByteSet {
  static constexpr int kFew = 4;
  alignas(16) uint8_t lo[16];
  alignas(16) uint8_t hi[16];
  uint8_t table[256];  // 0 or 1
  int count;           // members
  uint8_t members[kFew];
};

// Fills set from a 256-entry table (non-zero entries are members).
void make_set(ByteSet *set, const uint8_t *table);
// The set of the bytes whose upper-case form (session table) equals that of c.
void make_fold_set(ByteSet *set, uint8_t c);

// Scanning routines over s[0, n).  n >= 0; no routine reads outside the
// range.  Indexes are 0-based; -1 means none.
struct Kernels {
  const char *name;  // "wide" or "generic"
  int64_t (*count_byte)(const uint8_t *s, int64_t n, uint8_t c);
  int64_t (*count_set)(const uint8_t *s, int64_t n, const ByteSet *set);
  int64_t (*first_set)(const uint8_t *s, int64_t n, const ByteSet *set);
  int64_t (*last_set)(const uint8_t *s, int64_t n, const ByteSet *set);
  // First i with s[i, i + k) == w; k >= 2.
  int64_t (*find_exact)(const uint8_t *s, int64_t n, const uint8_t *w, int64_t k);
  // First i with up[s[i + j]] == up[w[j]] for every j < k; k >= 2.  first
  // and last are the fold sets of w[0] and w[k - 1].
  int64_t (*find_fold)(const uint8_t *s, int64_t n, const uint8_t *w, int64_t k,
                       const ByteSet *first, const ByteSet *last, const uint8_t *up);
};

// The build chosen for this process: the wide build (AVX2) when the processor
// has it, unless ZEQ_FORCE_GENERIC=1 was in the environment at load time.
const Kernels &kernels();

// A word to search for on the byte route: its bytes, and with fold (compare
// after upper-casing through the session table) the fold sets of its first
// and last bytes, made once by prepare_needle.
struct Needle {
  const uint8_t *w = nullptr;
  int64_t k = 0;
  bool fold = false;
  ByteSet first, last;
};
void prepare_needle(Needle *needle, const uint8_t *w, int64_t k, bool fold);

// First i with s[i, i + k) equal to the needle, or -1 (also for k <= 0).
int64_t find_first(const uint8_t *s, int64_t n, const Needle &needle);
// Last such i (i + k <= n), or -1.
int64_t find_last(const uint8_t *s, int64_t n, const Needle &needle);

// ---------------------------------------------------------------------------
// Byte-route arguments.
// ---------------------------------------------------------------------------

// A byte string of an argument: data and length (absent, non-character,
// null data or a length <= 0 read as empty).
struct Bytes {
  const uint8_t *p = reinterpret_cast<const uint8_t *>("");
  int64_t n = 0;
};
Bytes bytes_of(const FncArg *g);


// The searched part of a string of length len under a start position, as
// FIND, FINDC and FINDLEV read it:
//   s > len            nothing (the answer is 0);
//   s >= 1             [trunc(s) - 1, len), left to right;
//   s < 1              [0, min(trunc(-s), len)), a prefix; an empty prefix
//                      (-1 < s < 1) is nothing.
// NaN is missing.  Infinite and huge values follow the same comparisons, so
// no conversion ever overflows.
enum class StartRule { Whole, Suffix, Prefix, Nothing, Missing };
struct Part {
  int64_t lo = 0, hi = 0;
};
StartRule resolve_start(const FncArg *start, int64_t len, Part *part);

// resolve_start for FIND, FINDC and FINDLEV, answering the calls it settles:
// a missing start writes the missing value and *rc = FNC_RC_MISSING, a start
// that leaves nothing to search writes 0 and *rc = FNC_RC_OK.  Returns false
// when the call is so answered, true when the search is to run over *part.
bool start_leaves_search(const FncArg *start, int64_t len, Part *part, StartRule *rule,
                         double *result, int32_t *rc);

// True in the four environments that keep call-site caches (and count notes).
inline bool caching_environment(const FncArgList *args) {
  return FNC_KIND_IS_LIMITED(args->resultKind);
}
// The cache block of a call site, or null.
inline void *site_cache(const FncArgList *args) {
  return caching_environment(args) && args->noteCount != 0
             ? reinterpret_cast<void *>(static_cast<uintptr_t>(args->noteCount))
             : nullptr;
}
inline void set_site_cache(FncArgList *args, void *block) {
  args->noteCount = static_cast<int64_t>(reinterpret_cast<uintptr_t>(block));
}

// Call-site caches, allocated from the task's pool with ZEQ_FLAGS_CACHE and
// never freed (they live as long as the call site).
struct CountcCache {
  int16_t T;  // 1: trailing blanks are removed from the string
  uint8_t table[256];
};
static_assert(sizeof(CountcCache) == 258, "COUNTC cache is 258 bytes");

struct FindcCache {
  int16_t rtl;  // 1: the search runs right to left
  int16_t T;
  uint8_t table[256];
};
static_assert(sizeof(FindcCache) == 260, "FINDC cache is 260 bytes");

struct FindwCache {
  int16_t rtl, E, I, Q, R, T;
  uint8_t table[256];
};
static_assert(sizeof(FindwCache) == 268, "FINDW cache is 268 bytes");

// Writes a numeric answer when the caller gave a result.
inline void answer(double *result, double x) {
  if (result) *result = x;
}

// FINDW's word trimming: drops the leading and trailing delimiter bytes of
// the word [*start, *start + *length).  With q the two quote characters are
// first cleared from the table, so they are never removed.
void remove(const uint8_t **start, int64_t *length, uint8_t *table, bool q);

}  // namespace zeq::countfind

// ---------------------------------------------------------------------------
// The engines behind the multibyte routes (the routes themselves, like the
// byte-route entries, are declared in charfn/entries.h from their rows).
// ---------------------------------------------------------------------------
extern "C" {
// The multibyte word machine shared by COUNTW (kind 1, count written to
// *count), FINDW (kind 2), and SCAN (kind 3: the word into *result; kind 4:
// position and length, in characters, into arguments 3 and 4).  arglocs is
// the role table (charfn/args/modifiers.h) that the caller filled; the
// character list of a word function sits in the delimiter-list role.
//
// Kind 2 writes to *count the 1-based character position of the first word
// of the string that equals the second-string role (compared by the service,
// case-blind with I) and is followed (from the right: preceded) by a
// delimiter or an end of the string; with E the word's number in the walking
// direction instead; 0 when there is none.  A start that truncates to 0
// searches from the start; a start inside a word skips that word; R strips
// the searched word's delimiters first; T trims the string, the list and the
// word.  An empty word is found only with M.
//
// A missing or empty string answers 0 (kinds 1 and 2), one blank (kind 3)
// or position and length 0 (kind 4).  Returns FNC_RC_NOTE at once when svc
// is null.
int32_t COUNTW_COMMON(FncArgList *args, double *count, ZeqStringService *svc, int32_t wide,
                      int32_t *arglocs, int32_t kind, FncString *result, const char *name) noexcept;

// In the shape of COUNTW_COMMON: arglocs is the
// role table of argInit (seven 1-based argument numbers), kind 1 counts
// (COUNT, COUNTC) and kind 2 finds (FIND, FINDC).  The answer goes to
// *result; FNC_RC_NOTE when svc (or args, or arglocs) is null, else
// FNC_RC_OK.
int32_t COUNT_COMMON(FncArgList *args, double *result, ZeqStringService *svc, int32_t wide,
                     int32_t *arglocs, int32_t kind, const char *name) noexcept;
int32_t COUNTC_COMMON(FncArgList *args, double *result, ZeqStringService *svc, int32_t wide,
                      int32_t *arglocs, int32_t kind, const char *name) noexcept;
}
