// tests/reference/countfind_reference.h - plain loops that the tests hold
// COUNT, COUNTC, FIND, FINDC, FINDW and FINDLEV against.  Each one tries
// every position in turn and states its rule directly, with no skipping,
// no vectors and no automaton.  Also the argument lists those tests build.
// Used by tests only.
//
// Indexes are 0-based; -1 means none.  `up` is a 256-entry upper-case table
// (the session's); null compares bytes as they are.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/args.h"
#include "tests/support/call.h"

namespace zeqref {

using ByteFlags = std::array<bool, 256>;

// Non-overlapping occurrences of w in s, leftmost first.  0 for an empty w.
int64_t count_occurrences(std::string_view s, std::string_view w, const uint8_t *up);

// First occurrence lying wholly in s[lo, hi), or -1.
int64_t first_occurrence(std::string_view s, std::string_view w, const uint8_t *up, int64_t lo,
                         int64_t hi);
// Last occurrence lying wholly in s[0, hi), or -1.
int64_t last_occurrence(std::string_view s, std::string_view w, const uint8_t *up, int64_t hi);

// Bytes of s[lo, hi) in the set; first and last such byte.
int64_t count_members(std::string_view s, const ByteFlags &set, int64_t lo, int64_t hi);
int64_t first_member(std::string_view s, const ByteFlags &set, int64_t lo, int64_t hi);
int64_t last_member(std::string_view s, const ByteFlags &set, int64_t lo, int64_t hi);

// FINDW without quotes, stated on word boundaries instead of as a walk.
//   Left to right from c0: the first candidate is c0 when c0 is 0 or follows
//   a delimiter, else the place after the next delimiter.  An occurrence is
//   a place x at or after it that is the first candidate or follows a
//   delimiter, holds w, and is followed by a delimiter or the end.
//   Right to left from e0: the mirror image (occurrences end at or before
//   the first candidate end).
//   With E the answer is the word number counted from the first candidate:
//   without M the word starts (ends) from there up to the occurrence, with M
//   one plus the delimiters passed.  The word must not begin (end) with a
//   delimiter byte when E is asked without M.
// Answers the 1-based position, the word number with E, or 0.
int64_t find_word(std::string_view s, std::string_view w, const ByteFlags &delims,
                  const uint8_t *up, bool rtl, int64_t start0, bool E, bool M);

// FINDLEV over s[lo, hi): the first x with w at x (x + |w| <= hi, each byte
// equal, or with `fold_up`/`fold_low` equal to the upper- or lower-case form
// of the pattern byte), with a boundary byte before it (or, at lo,
// lead_ok) when P, and one after it (or, at hi, tail_ok) when S.  A
// boundary is a byte for which is_boundary is true.
int64_t find_anchored(std::string_view s, std::string_view w, const uint8_t *fold_up,
                      const uint8_t *fold_low, const ByteFlags &is_boundary, int64_t lo,
                      int64_t hi, bool P, bool S, bool lead_ok, bool tail_ok);

// ---------------------------------------------------------------------------
// Argument lists for the count and find tests.
// ---------------------------------------------------------------------------

// The argument rows of tests/support/args.h, under the names these tests use.
using Arg = zeqtest::Arg;
inline Arg S(std::string s) { return zeqtest::C(std::move(s)); }
inline Arg Var(std::string s) { return zeqtest::V(std::move(s)); }
inline Arg Missing() { return zeqtest::Miss(); }
using zeqtest::Absent;
using zeqtest::N;
using zeqtest::add_args;

// Re-points character argument i of a built block at another text.
void set_text(zeqtest::Call &call, int i, const char *text);

// True for the host's missing value (bits 0xFFFFFE0000000000).
bool is_missing_value(double x);

// The names above that a count or find test uses in nearly every row, to
// take in with one `using namespace zeqref::rows;`.
namespace rows {
using zeqref::Absent;
using zeqref::add_args;
using zeqref::Arg;
using zeqref::is_missing_value;
using zeqref::Missing;
using zeqref::N;
using zeqref::S;
using zeqref::set_text;
using zeqref::Var;
}  // namespace rows

// Runs the calling test executable again with ZEQ_FORCE_GENERIC=1 (every
// test but the Builds suite) and answers its exit status; 0 is success.
int rerun_with_generic_build();

}  // namespace zeqref
