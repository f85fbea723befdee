// charfn/words/words.h - word delimiters and the multibyte word machine, as
// the other families use them (FINDW builds its table with these helpers and
// runs its multibyte route in the word machine, charfn/words/delims.h).
//
// A delimiter table is 256 one-byte flags indexed by byte value; 1 marks a
// delimiter.  The class letters read the host's character-class table, the
// case tables of the control block (core/frame.h gives them), so the
// answers follow the session's single-byte tables.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "strkernel/blanks.h"

namespace zeq::words {

inline constexpr int kTableSize = 256;
inline constexpr uint8_t kDoubleQuote = 34;
inline constexpr uint8_t kSingleQuote = 39;

// The 17 default word delimiters: blank ! $ % & ( ) * + , - . / ; < ^ |.
inline constexpr char kDefaultDelimiters[] = " .<(+&!$*);^-/,%|";
inline constexpr int kDefaultDelimiterCount = 17;

// A built-in copy of the 17 defaults, for a context without a table.
struct BuiltinDefaults {
  uint8_t table[kTableSize] = {};
  constexpr BuiltinDefaults() {
    for (int i = 0; i < kDefaultDelimiterCount; i++) table[static_cast<uint8_t>(kDefaultDelimiters[i])] = 1;
  }
};
inline constexpr BuiltinDefaults kBuiltinDefaults;
inline const uint8_t *builtin_default_table() { return kBuiltinDefaults.table; }

// Adds the bytes of one class letter (already upper-cased) to the table:
//   A letters, C control, D digits 0-9, F A-Z and _ with their lower-case
//   forms, G graphic, H horizontal tab, L lower case, N digits, A-Z and _
//   with their lower-case forms, P punctuation, S white space, U upper case,
//   W printable, X hexadecimal digits.
// Returns false, and adds nothing, for any other byte.
bool add_class(uint8_t *table, uint8_t letter);

// Adds each byte of a character list; with ignore_case the bytes are added
// in the forms the host's upper-case and lower-case tables give them instead
// of as written.  A null list or a length <= 0 adds nothing.
void add_list(uint8_t *table, const char *list, int64_t length, bool ignore_case);

// Flips every flag (modifier K).
void invert(uint8_t *table);

// Clears the flags of the two quote characters (modifier Q; applied last, so
// Q wins over K).
void clear_quotes(uint8_t *table);

// The task's default delimiter table (FncContext.punctTable), building the
// task context on first use.  Never null: when the context holds no table a
// built-in copy of the 17 defaults is answered.
const uint8_t *default_table_of_task(FncArgList *args);

// The task's default table when the call names its task and the task's
// context already holds both of its tables; else null.
inline const uint8_t *ready_default_table(const FncArgList *args) {
  const FncTask *task = args->task;
  if (!task || !task->slots) return nullptr;
  const auto *ctx = static_cast<const FncContext *>(task->slots[FNC_TASK_SLOT_CONTEXT]);
  return ctx && ctx->punctTable && ctx->auxTable ? ctx->punctTable : nullptr;
}

// default_table_of_task, answered at once when the call names its task and
// the task's context already holds both of its tables.
inline const uint8_t *default_table(FncArgList *args) {
  if (const uint8_t *table = ready_default_table(args)) return table;
  return default_table_of_task(args);
}

// A character list decoded once through the string service, for the
// multibyte routes' "is c in the list" tests.  Up to kInline characters are
// kept as codes; a longer list is read through the service again on each
// lookup.
class CodeList {
 public:
  // Decodes `list` (bound to svc) from its first character until the service
  // answers no character or the inline room runs out.  A null list, a null
  // start or a length <= 0 leaves the list unbound and empty.
  void load(ZeqStringService *svc, int32_t wide, const ZeqStrView *list);
  // Whether load took a list (even one the service could not seek into).
  bool bound() const { return bound_; }
  bool contains(TKChar c) const;

 private:
  static constexpr int kInline = 64;
  ZeqStringService *svc_ = nullptr;
  int32_t wide_ = 0;
  ZeqStrView list_{};
  bool bound_ = false;
  bool spilled_ = false;  // longer than kInline: read through the service
  int count_ = 0;
  TKChar codes_[kInline];
};


}  // namespace zeq::words



