// module/task_context.cc - the per-task context FncContext (232 bytes, slot
// 37 of the task's slot vector): built by fncinit on first use, reset by
// fncrini, reached by the functions through zeq::task_context.
#include <cstring>

#include "module/frame.h"
#include "rng/engine.h"
#include "strkernel/strkernel.h"

// The random engine creates and re-initialises the task's stream.  The
// references are weak so that the spine stands without the engine; a missing
// engine counts as a stream that cannot be had.
#pragma weak zrand_alloc_mva_reb
#pragma weak zbugi
#pragma weak zrand_init

namespace {

// -pi, stored by fncinit and fncrini in resetDouble (bits 0xC00921FB54442D18).
constexpr double kMinusPi = -3.141592653589793;

// The default word delimiters: blank followed by the 16 characters that the
// host lists in this order.
constexpr char kDefaultDelimiters[] = " .<(+&!$*);^-/,%|";
static_assert(sizeof(kDefaultDelimiters) - 1 == 17, "17 default delimiters");

constexpr int kFatalNoContext = 1016;

FncContext *slot_context(FncTask *task) {
  if (!task || !task->slots) return nullptr;
  return static_cast<FncContext *>(task->slots[FNC_TASK_SLOT_CONTEXT]);
}

uint8_t *build_punct_table(FncTask *task) {
  auto *table = static_cast<uint8_t *>(zeq::task_alloc(task, 256, ZEQ_FLAGS_ZERO));
  if (!table) return nullptr;
  for (const char *p = kDefaultDelimiters; *p; p++) table[static_cast<uint8_t>(*p)] = 1;
  return table;
}

void reset_fields(FncContext *ctx) {
  ctx->resetWord = 0;
  ctx->resetDouble = kMinusPi;
}

}  // namespace

// Builds the task's context and registers it as slot 37 before filling it,
// so a context that runs out of memory half-way stays registered with what
// was built (see zeq::task_context for how a user completes it).
// Returns FNC_RC_OK, FNC_RC_NOMEM, or the option service's status for
// YEARCUTOFF.
extern "C" ZEQ_EXPORT int32_t fncinit(FncTask *task) {
  if (!task) return FNC_RC_NOMEM;
  auto *ctx = static_cast<FncContext *>(zeq::task_alloc(task, sizeof(FncContext), ZEQ_FLAGS_CONTEXT));
  if (!ctx) return FNC_RC_NOMEM;
  wtrsset(task, FNC_TASK_SLOT_CONTEXT, ctx);

  // The task's random stream; the debug option -rngseed gives its seed.
  if (!zrand_alloc_mva_reb) return FNC_RC_NOMEM;
  uint64_t seed = zbugi ? static_cast<uint64_t>(zbugi("-rngseed")) : 0;
  ctx->stream = zrand_alloc_mva_reb(task, seed, 0);
  if (!ctx->stream) return FNC_RC_NOMEM;

  reset_fields(ctx);

  int rc = xyrngef("YEARCUTOFF", 10, 0, 0, 0, ctx->yearCutoff, 0, task);
  if (rc != 0) return rc;

  zzeqver(ctx->hostVersion);
  ctx->hostVersionLength = static_cast<int16_t>(wzstrip(ctx->hostVersion, sizeof ctx->hostVersion));

  ctx->punctTable = build_punct_table(task);
  if (!ctx->punctTable) return FNC_RC_NOMEM;
  ctx->auxTable = static_cast<uint8_t *>(zeq::task_alloc(task, 256, ZEQ_FLAGS_ZERO));
  if (!ctx->auxTable) return FNC_RC_NOMEM;
  return FNC_RC_OK;
}

// Returns the task's stream and the two reset fields to their starting
// state (building the context first when the task has none).  Answers the
// stream re-initialisation's status; FNC_RC_NOMEM when there is no stream.
extern "C" ZEQ_EXPORT int32_t fncrini(FncTask *task) {
  FncContext *ctx = slot_context(task);
  if (!ctx) {
    fncinit(task);
    ctx = slot_context(task);
    if (!ctx) {
      xexit(kFatalNoContext, 0);
      return FNC_RC_NOMEM;  // only without a host to end
    }
  }
  reset_fields(ctx);
  if (!zrand_init || !ctx->stream) return FNC_RC_NOMEM;
  return zrand_init(ctx->stream);
}

namespace zeq {

// Get-or-build: the context of the call's task; when slot 37 is empty,
// fncinit builds it; when it still cannot be had the host is ended with
// xexit(1016, 0).  A context left without its delimiter or work table by an
// earlier shortage of memory gets them now, so users may rely on punctTable.
// Null only when there is no host to end.
FncContext *task_context(FncArgList *args) {
  FncTask *task = current_task(args);
  FncContext *ctx = slot_context(task);
  if (!ctx) {
    fncinit(task);
    ctx = slot_context(task);
    if (!ctx) {
      xexit(kFatalNoContext, 0);
      return nullptr;
    }
  }
  if (!ctx->punctTable) ctx->punctTable = build_punct_table(task);
  if (!ctx->auxTable) ctx->auxTable = static_cast<uint8_t *>(task_alloc(task, 256, ZEQ_FLAGS_ZERO));
  if (!ctx->punctTable) {
    xexit(kFatalNoContext, 0);
    return nullptr;
  }
  return ctx;
}

}  // namespace zeq
