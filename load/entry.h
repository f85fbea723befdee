// load/entry.h - what the host's loader reaches: mcn_main, the image
// record vi_mcn, the entry list mcn_pcns with its one entry record
// pcn_ZEQWUCHA, and zeqwucha, which hands out the function table.
#pragma once

#include "core/frame.h"

extern "C" {
// Records the control block and the process information block, copies the
// kernel function table (control block 0x290) into Exported_TKHandle and
// answers the image record.  Runs once, before any other entry.
const void *mcn_main(ZeqControlBlock *gcb, void *pidb);
// Empty hook called by mcn_main.
void himodcn(void);
// The 44-slot function table, allocated from the global pool (352 bytes,
// flags 8198) and owned by the host; null when the pool refuses.
void **zeqwucha(void);

extern const ZeqImageInfo vi_mcn;
extern void *const mcn_pcns[2];
extern const ZeqEntryRecord pcn_ZEQWUCHA;
}
