// core/anchors.h - the three process-wide anchors mcn_main writes once
// (load/entry.cc) and every floor reads: the host's global control block,
// its process information block and its kernel function table.
#pragma once

#include "zeq/host.h"

extern "C" {
extern ZeqControlBlock *v_global_gcb_anchor;
extern void *v_global_pidb_anchor;
extern ZeqKernel *Exported_TKHandle;
}
