// charfn/compare/compare_internal.h - what COMPARE, COMPLEV and COMPGED share
// on their byte routes: the reading of the two strings and of the optional
// cutoff and modifier arguments, and the per-call scratch memory.  Private to
// charfn/compare/.
#pragma once

#include <cstdint>

#include "charfn/args/modifiers.h"
#include "charfn/entries.h"
#include "core/frame.h"
#include "task/task_context.h"

namespace zeq::cmp {

// The two strings of a comparison after the modifiers of its optional
// arguments were applied, and what those arguments asked for.
struct CompareArgs {
  const uint8_t *s[2] = {nullptr, nullptr};
  int64_t n[2] = {0, 0};
  bool nocase = false;  // I or N: compare through the session upper-case table
  int64_t cutoff = 0;   // cap when no cutoff was given
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
// Returns FNC_RC_OK or FNC_RC_NOTE.
int32_t read_compare_args(FncArgList *args, const char *name, int64_t cap, CompareArgs *out);

// Per-call scratch memory: the task's scratch arena, given back to the mark
// taken at the first allocation; without an arena, blocks of the task's pool,
// released when the object goes.  alloc answers null when neither exists or
// the memory is refused.
class CallScratch {
 public:
  explicit CallScratch(FncTask *task) : task_(task) {}
  ~CallScratch();
  CallScratch(const CallScratch &) = delete;
  CallScratch &operator=(const CallScratch &) = delete;
  void *alloc(uint64_t size);

 private:
  FncTask *task_;
  bool marked_ = false;
  uint64_t mark_ = 0;
  static constexpr int kMaxPoolBlocks = 4;
  void *pool_blocks_[kMaxPoolBlocks] = {};
  int pool_count_ = 0;
};

}  // namespace zeq::cmp
