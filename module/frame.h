// module/frame.h - what every family of the module may use: the anchors,
// the host service forwarders, the call-frame helpers and the task context.
// Implementations live in module/ (forwarders.S, forwarders.cc, frame.cc,
// entry.cc, task_context.cc).
#pragma once

#include <cstdarg>
#include <cstdint>

#include "zeq/abi.h"
#include "zeq/host.h"

// Exported names carry default visibility; everything else is hidden
// (-fvisibility=hidden) and the linker version script lists the exports.
#define ZEQ_EXPORT extern "C" __attribute__((visibility("default")))

using i64 = long long;
using u64 = unsigned long long;

// ---------------------------------------------------------------------------
// Anchors written once by mcn_main.
// ---------------------------------------------------------------------------
extern "C" {
extern ZeqControlBlock *v_global_gcb_anchor;
extern void *v_global_pidb_anchor;
extern ZeqKernel *Exported_TKHandle;
}

// ---------------------------------------------------------------------------
// Vector forwarders (tail transfers, module/forwarders.S).
// ---------------------------------------------------------------------------
extern "C" {
int xpmlog(int set, int number, ...);
int xpslog(const char *format, ...);
int xpsstr(char *buffer, int size, const char *format, ...);
int zfmt(void *request);
int wzfmhc(const void *data, int length, int digits, int flag, char *dest);
int wtrsset(void *task, int slot, void *value);
void xexit(int code, int zero);
int xyrngef(const char *name, int length, int, int, int, void *out, int, void *task);
int xyrcgef(int, int option, int, int, int, char *buffer, int *length, int, void *task);
int zzeqver(char version[8]);
void *xalanch(void *task);
int xjundls(void *handle, char *text, void *value);
int xjsympc(void *handle, const char *name, int name_length, const char *value,
            int value_length, int scope, int zero);
void *xmrealc(void *pool, void *block, i64 old_size, i64 new_size, int zero);
int xprrlog(int status);
int xpselec(int, int);
int xpopset(int, int, int);
int wzrlchr(const char *text, int length, int, int *consumed, double *value);
int wzsxoff(...);   // name tests: see charfn/words/names.cc for the call shape
int wzsx8ac(...);

// Pool handlers.
void *vmalcp_handler(void *pool, u64 size, unsigned flags);
void *vmalloc_handler(void *pool, u64 size, unsigned flags);
void vmfree_handler(void *pool, void *block, ...);

// Logger forwarders (the logger object first).
int tklMessageToBuf(ZeqLogger *lg, TKChar *buf, i64 room, const TKChar *format, ...);
int tklMessageToJnl(ZeqLogger *lg, int level, const TKChar *format, ...);
int tklStatusToBuf(ZeqLogger *lg, TKChar *buf, i64 room, int status, ...);
int tklStatusToJnl(ZeqLogger *lg, int level, int status, ...);
void *tklGetLocale(ZeqLogger *lg);

// Kernel forwarders used inside the module.
double tkzdttme(void);
i64 tkzinfo(void *buffer352);
i64 tkzstats(void *record);
}

// ---------------------------------------------------------------------------
// Call frame (module/frame.cc).
// ---------------------------------------------------------------------------
extern "C" {
int32_t tkfncSetRetstg(FncString *result, int64_t needed);
int32_t ComputeLength(FncArgList *args, FncString *result, int32_t extra);
void printBadmodLog(const char *function, int modifier);
}

namespace zeq {

// Room a function may fill in a character result: capacity when growable,
// maxLength otherwise.
inline int64_t result_room(const FncString *r) {
  return r->allocator ? r->capacity : r->maxLength;
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

// The task of a call: args->task, else the current task (stored back).
FncTask *current_task(FncArgList *args);

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

// Task context (module/task_context.cc): slot 37 of the task, built on first
// use; ends the host with xexit(1016, 0) when it cannot be had.
FncContext *task_context(FncArgList *args);

}  // namespace zeq

// Task context entries.
extern "C" {
int32_t fncinit(FncTask *task);
int32_t fncrini(FncTask *task);
}
