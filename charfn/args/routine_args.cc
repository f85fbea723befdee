// charfn/args/routine_args.cc - zfncmunq, the preparation of a call
// routine's character arguments that SCAN and COMPCOST share: it belongs to
// the argument layer, below every family.
#include <cstring>

#include "charfn/args/modifiers.h"
#include "core/export.h"
#include "core/forwarders.h"
#include "core/frame.h"
#include "task/task_context.h"

// Prepares the character arguments of a call-routine call (callForm 2) in
// the environment whose resultKind is 120 ('x'): each non-empty fixed-length
// character argument is handed to the host's xjundls, and when the host
// rewrote it the argument's length becomes the length of the
// zero-terminated result (never more than the value's maxLength).
ZEQ_EXPORT void zfncmunq(FncArgList *args) noexcept {
  if (!args || args->callForm != FNC_FORM_CALL || args->resultKind != zeq::kResultKindX) return;
  void *handle = nullptr;
  bool have_handle = false;
  for (int i = 0; i < args->argCount; ++i) {
    FncArg *g = &args->args[i];
    if (!(g->type & FNC_ARG_CHAR) || !g->value) continue;
    auto *s = static_cast<FncString *>(g->value);
    if (!s->data || s->length <= 0) continue;
    if (!have_handle) {
      handle = xalanch(zeq::current_task(args));
      have_handle = true;
    }
    if (xjundls(handle, s->data, s) != 0) {
      // Bounded: a result that fills the buffer has no terminating zero.
      const int64_t room = s->maxLength > 0 ? s->maxLength : s->length;
      const void *z = std::memchr(s->data, 0, static_cast<size_t>(room));
      s->length = z ? static_cast<const char *>(z) - s->data : room;
    }
  }
}
