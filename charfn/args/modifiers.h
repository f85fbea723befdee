// charfn/args/modifiers.h - the argument layer: modifier arguments, argument
// roles and the route choice that the counting, finding, scanning and
// comparing functions share.  Implemented in charfn/args/modifiers.cc.
#pragma once

#include <cstdint>

#include "core/frame.h"

namespace zeq::args {

// Modifier letters in the order of their fields; one byte each, all zero
// before parsing.
struct ModifierFlags {
  uint8_t A, C, D, F, G, P, S, U;
  uint8_t Lpos;  // 1-based place of the last L read (0: none)
  uint8_t Npos;  // 1-based place of the last N read (0: none)
  uint8_t W, B, H, X, E, V, K, R, I, T, O, Q;
  uint8_t default_delims;  // set by argInit for the word functions
  uint8_t M, colon;
  uint8_t L_before_N;      // COMPARE only
};
static_assert(sizeof(ModifierFlags) == 26, "ModifierFlags holds 26 one-byte fields");

// Roles of the argument-role table (arglocs), 1-based argument numbers.
enum ArgRole : int {
  ROLE_SOURCE = 0,
  ROLE_SECOND = 1,
  ROLE_CHARLIST = 2,
  ROLE_MODIFIERS = 3,
  ROLE_START = 4,
  ROLE_WORDNUM = 5,
  ROLE_DELIMS = 6,
  ROLE_COUNT = 7
};

// Function kinds of argInit.
enum FnKind : int {
  KIND_COUNT = 1,    // COUNT, COUNTC, COUNTW
  KIND_FIND = 2,     // FIND, FINDC, FINDW
  KIND_SCAN_WORD = 3,
  KIND_SCAN_OTHER = 4,
  KIND_COMPARE = 5
};

struct ParsedArgs {
  ZeqStrView source;
  ZeqStrView second;
  ZeqStrView charlist;
  ZeqStrView delims;
  int64_t start;       // start position (1-based characters)
  int64_t scan_limit;  // initially 1
  int64_t word;        // word number
  uint8_t bound[4];    // which views argTerm releases
  int64_t source_chars;
  int64_t second_chars;
  TKChar name_buf[2][32];  // name-literal content for COMPARE (128 bytes each)
};

}  // namespace zeq::args

extern "C" {
// Fills flags and parsed from the argument block according to arglocs
// (seven 1-based argument numbers, 0 = absent).  wide: 1 when the strings
// are TKChar, 0 for bytes.  kind: FnKind.  name: the function's name for
// message 6.
void argInit(FncArgList *args, ZeqStringService *svc, int32_t *arglocs, zeq::args::ParsedArgs *parsed,
             zeq::args::ModifierFlags *flags, int32_t wide, int32_t kind, const char *name);
void argTerm(zeq::args::ParsedArgs *parsed);
// The session string service when the call must take the multibyte route
// (session multibyte, argument 1 varchar and holding a multibyte character),
// else null.
ZeqStringService *CheckVarcharAndMultibyte(FncArgList *args);
int32_t hasMultiByte(ZeqStringService *svc, const char *bytes, int64_t length);
// Prepares the character arguments of a call routine in the environment whose
// resultKind is 120 (charfn/args/routine_args.cc); other calls are left alone.
void zfncmunq(FncArgList *args) noexcept;
}

namespace zeq {

// The byte route's reading of a modifier argument: each byte is upper-cased
// through the session table, blanks are skipped (unless skip_blanks is
// false: FINDLEV refuses them), and every other letter goes to take(letter),
// in order, which acts on it and answers whether the function accepts it; a
// letter refused is reported with message 6 naming `function`, and reading
// goes on.
template <typename Take>
void read_byte_modifiers(const uint8_t *data, int64_t n, const char *function, Take take,
                         bool skip_blanks = true) {
  const uint8_t *up = upcase_table();
  for (int64_t i = 0; i < n; i++) {
    const uint8_t letter = up[data[i]];
    if (letter == ' ' && skip_blanks) continue;
    if (!take(letter)) printBadmodLog(function, letter);
  }
}

// One call's parsed arguments: argInit when made, argTerm when it goes, so
// the views bound for the call are released on every return.
class ParsedCall {
 public:
  ParsedCall(FncArgList *args, ZeqStringService *svc, int32_t *arglocs, int32_t wide, int32_t kind,
             const char *name) {
    argInit(args, svc, arglocs, &parsed, &flags, wide, kind, name);
  }
  ~ParsedCall() { argTerm(&parsed); }
  ParsedCall(const ParsedCall &) = delete;
  ParsedCall &operator=(const ParsedCall &) = delete;

  args::ParsedArgs parsed;
  args::ModifierFlags flags;
};

// The session string service (created on first use under "MVA"), or null.
ZeqStringService *string_service();
// The modifier alphabet, 25 letters and a terminating zero.
extern const TKChar upcase_modifiers[26];
}  // namespace zeq

namespace zeq::cmp {

// A name literal holds at most this many characters of content.
inline constexpr int64_t kNameLiteralMax = 32;
// Content buffer of the multibyte route: 32 characters of up to 4 bytes.
inline constexpr int64_t kNameBufferBytes = 128;

// Name-literal extraction on the multibyte route (the encoding form of
// zstripn): the text under `text` (a bound view; its position is ignored)
// without its trailing blanks must be a quote, content with doubled quotes,
// the same quote and the letter N (either case).  The content, in the view's
// code units, goes to out (kNameBufferBytes bytes) and *out_units receives its
// length in code units.  Returns the content's length in characters, -1 when
// the text is no name literal, and the negated length when the content holds
// more than 32 characters (nothing usable is then in out).
int64_t zstripn_enc(ZeqStringService *svc, int32_t wide, const ZeqStrView *text, void *out,
                    int64_t *out_units);

}  // namespace zeq::cmp
