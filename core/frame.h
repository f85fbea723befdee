// core/frame.h - what every floor above core/ may use: the anchors, the
// host service forwarders, and the call-frame helpers (result sizing, the
// short-result note, argument access, the host's tables and services, task
// pool memory).  Implementations: core/anchors.cc, core/forwarders.{S,cc},
// core/frame.cc.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "core/anchors.h"
#include "core/export.h"
#include "core/forwarders.h"
#include "zeq/abi.h"
#include "zeq/host.h"

// ---------------------------------------------------------------------------
// Call frame (core/frame.cc).
// ---------------------------------------------------------------------------
extern "C" {
int32_t tkfncSetRetstg(FncString *result, int64_t needed);
int32_t ComputeLength(FncArgList *args, FncString *result, int32_t extra);
void printBadmodLog(const char *function, int modifier);
}

namespace zeq {

// The resultKind ('x') of the environment whose CALL routines let the host
// rewrite their character arguments first (zfncmunq).
inline constexpr uint8_t kResultKindX = 0x78;

// Room a function may fill in a character result: capacity when growable,
// maxLength otherwise.
inline int64_t result_room(const FncString *r) {
  return r->allocator ? r->capacity : r->maxLength;
}

// What tkfncSetRetstg answers without growing `r` for `needed` bytes: a
// result without an allocator takes maxLength as its capacity, and one whose
// buffer already holds min(needed, maxLength) bytes (or that needs none)
// stays as it is.  False when the result must grow.
inline bool sized_without_growing(FncString *r, int64_t needed) {
  if (!r->allocator) {
    r->capacity = r->maxLength;
    return true;
  }
  if (needed > r->maxLength) needed = r->maxLength;
  return needed <= 0 || (needed <= r->capacity && r->data);
}

// A function-form call whose result cannot grow: ComputeLength sizes
// nothing for it.
inline bool result_fixed_by_call(const FncArgList *args, const FncString *r) {
  return args && args->callForm == FNC_FORM_FUNCTION && !r->allocator;
}

// What one present argument adds to ComputeLength's bound before the extra:
// 12 for a number, the length of a character value, else nothing.
inline int64_t sizing_length(const FncArg &g) {
  if (g.type & FNC_ARG_NUMERIC) return 12;
  if (!(g.type & FNC_ARG_ISCHAR)) return 0;
  const int64_t len = static_cast<const FncString *>(g.value)->length;
  return len > 0 ? len : 0;
}

// Argument i (0-based) of a block, or null when i is out of range.
inline FncArg *arg(FncArgList *a, int i) {
  return (a && i >= 0 && i < a->argCount) ? &a->args[i] : nullptr;
}
inline bool is_char(const FncArg *g) { return g && (g->type & FNC_ARG_ISCHAR); }
inline bool is_num(const FncArg *g) { return g && (g->type & FNC_ARG_NUMERIC); }
inline FncString *str_value(const FncArg *g) {
  return (g && (g->type & FNC_ARG_ISCHAR)) ? static_cast<FncString *>(g->value) : nullptr;
}
// The bytes of argument i (0-based) when it is a character value with at
// least one byte; otherwise an empty text ("" and 0).
inline void text_or_empty(FncArgList *a, int i, const char **data, int64_t *length) {
  const FncString *s = str_value(arg(a, i));
  const bool given = s && s->data && s->length > 0;
  *data = given ? s->data : "";
  *length = given ? s->length : 0;
}
inline const double *num_value(const FncArg *g) {
  return (g && (g->type & FNC_ARG_NUMERIC)) ? static_cast<const double *>(g->value) : nullptr;
}
inline void mark_bad(FncArg *g) {
  if (g) g->mark |= FNC_MARK_BAD;
}
// The host's missing numeric value (bits 0xFFFFFE0000000000).
double missing_value();
inline bool is_missing(double x) { return x != x; }

// Short-result note shared by the concatenation functions: compares needed
// with room, counts notes in the limited environments, issues 27/28 (+29).
int32_t short_result_note(FncArgList *args, const char *function, int64_t needed, int64_t room,
                          bool in_place);

// Host tables of the control block (never null: built-in Latin-1 fallbacks).
const uint8_t *upcase_table();
const uint8_t *lowcase_table();
const uint8_t *class_table();

// Journal, name/value store, session encoding, string service of the kernel
// table; null when the host offers none.
ZeqLogger *journal();
ZeqNameValueStore *nv_store();
ZeqSessionEncoding *session_encoding();

// Task pool helpers: allocate / release through the task's pool.
void *task_alloc(FncTask *task, uint64_t size, uint32_t flags);
void task_release(FncTask *task, void *block);

}  // namespace zeq
