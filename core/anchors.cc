// core/anchors.cc - the process-wide anchors (hidden, not exported; the
// forwarders and the call frame read them, mcn_main writes them).
#include "core/anchors.h"

extern "C" {
ZeqControlBlock *v_global_gcb_anchor = nullptr;
void *v_global_pidb_anchor = nullptr;
ZeqKernel *Exported_TKHandle = nullptr;
}
