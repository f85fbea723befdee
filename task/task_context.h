// task/task_context.h - the task floor: which task a call runs for, and the
// per-task context FncContext (slot 37 of the task's slot vector) that
// fncinit builds and fncrini resets (task/task_context.cc).
#pragma once

#include "core/frame.h"

namespace zeq {

// The task of a call: args->task, else the current task (stored back).
FncTask *current_task(FncArgList *args);

// Slot 37 of the task, built on first use; ends the host with xexit(1016, 0)
// when it cannot be had.
FncContext *task_context(FncArgList *args);

}  // namespace zeq

extern "C" {
int32_t fncinit(FncTask *task);
int32_t fncrini(FncTask *task);
}
