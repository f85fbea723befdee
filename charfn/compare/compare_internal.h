// charfn/compare/compare_internal.h - what COMPARE, COMPLEV and COMPGED share
// on their byte routes: the reading of the two strings and of the optional
// cutoff and modifier arguments, and the per-call scratch memory.  Private to
// charfn/compare/.
#pragma once

#include <cstdint>
#include <optional>

#include "charfn/args/modifiers.h"
#include "charfn/entries.h"
#include "core/frame.h"
#include "core/scratch.h"
#include "task/task_context.h"

namespace zeq::cmp {

// The two strings of a comparison after the modifiers of its optional
// arguments were applied, and what those arguments asked for.  Filled by
// read_compare_args, which writes every field before any other use; no
// initial values, which the compiler could not drop once the record's
// address reaches apply_modifiers.
struct CompareArgs {
  const uint8_t *s[2];
  int64_t n[2];
  bool nocase;             // I or N: compare through the session upper-case table
  int64_t cutoff;          // cap when no cutoff was given
  uint8_t literal[2][32];  // name-literal content (modifier N)
};

// Reads arguments 1 and 2 (absent or non-character values count as empty
// strings) and the optional arguments 3 and 4 of COMPARE, COMPLEV and COMPGED,
// in order:
//   - a number is the cutoff: missing, below 1 or not whole marks the argument
//     and answers FNC_RC_NOTE; above cap it counts as cap; a second number is
//     taken only while the cutoff counts as cap, else it is marked (NOTE);
//   - a character value holds modifiers, upper-cased by the session table and
//     acted on at once: blank nothing, I ignore case, L drop leading blanks of
//     both strings, N ignore case and replace a name literal by its content,
//     colon cut the longer string to the shorter length after the argument;
//     any other character writes the level-2 log line naming `name`.
// Returns FNC_RC_OK or FNC_RC_NOTE.  Inline: it runs on every call, and a
// call of a few short strings spends a fair share of its time here.
inline int32_t read_compare_args(FncArgList *args, const char *name, int64_t cap,
                                 CompareArgs *out);

// Acts on the letters of a modifier string, in order.
void apply_modifiers(const FncString *m, const char *name, CompareArgs *out);

namespace detail {

inline void string_arg(FncArgList *args, int i, const uint8_t **s, int64_t *n) {
  const char *data;
  zeq::text_or_empty(args, i, &data, n);
  *s = reinterpret_cast<const uint8_t *>(data);
}

// A cutoff is a whole number of at least 1; every double from 2^52 up is
// whole (infinity too).
inline bool valid_cutoff(double x) {
  if (!(x >= 1.0)) return false;  // below 1 or missing
  return x >= 4503599627370496.0 || (double)(int64_t)x == x;
}

}  // namespace detail

inline int32_t read_compare_args(FncArgList *args, const char *name, int64_t cap,
                                 CompareArgs *out) {
  detail::string_arg(args, 0, &out->s[0], &out->n[0]);
  detail::string_arg(args, 1, &out->s[1], &out->n[1]);
  out->nocase = false;
  out->cutoff = cap;
  bool have_cutoff = false;
  const int last = !args ? 0 : args->argCount < 4 ? args->argCount : 4;
  for (int i = 2; i < last; i++) {
    FncArg *g = &args->args[i];
    if (!g->value) continue;  // not written in the call
    if (g->type & FNC_ARG_NUMERIC) {
      const double x = *static_cast<const double *>(g->value);
      // A second number only while the first one means "no limit".
      if ((have_cutoff && out->cutoff != cap) || !detail::valid_cutoff(x)) {
        zeq::mark_bad(g);
        return FNC_RC_NOTE;
      }
      out->cutoff = x >= (double)cap ? cap : (int64_t)x;
      have_cutoff = true;
    } else if (g->type & FNC_ARG_ISCHAR) {
      const FncString *m = static_cast<const FncString *>(g->value);
      if (m->data && m->length > 0) apply_modifiers(m, name, out);
    }
  }
  return FNC_RC_OK;
}

// Per-call scratch memory (core/scratch.h).
using zeq::CallScratch;

// A call's scratch memory for a kernel, taken from the call's task on the
// first request only (most calls of a kernel never ask).
class LazyCallScratch final : public ScratchAllocator {
 public:
  explicit LazyCallScratch(FncArgList *args) : args_(args) {}
  void *alloc(uint64_t size) override {
    if (!scratch_) scratch_.emplace(zeq::current_task(args_));
    return scratch_->alloc(size);
  }

 private:
  FncArgList *args_;
  std::optional<CallScratch> scratch_;
};

}  // namespace zeq::cmp
