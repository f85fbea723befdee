/*
 * zeq/abi.h - records exchanged between the host and the zeqwucha module.
 *
 * Every record here is a wire format: the host lays the bytes out and the
 * module reads them (or the reverse), so each offset and size is pinned with
 * a static assertion.  This header is the only declaration of these records;
 * the module, the reference host, the tools and the tests all include it.
 *
 * Plain C so that a host written in C can include it unchanged.
 */
#ifndef ZEQ_ABI_H
#define ZEQ_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define ZEQ_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#else
#define ZEQ_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

/* One Unicode code point in 32 bits: the host's character unit. */
typedef uint32_t TKChar;

/* ------------------------------------------------------------------ */
/* Status codes returned by every entry point (signed 32-bit).         */
/* ------------------------------------------------------------------ */
#define FNC_RC_OK       ((int32_t)0)
#define FNC_RC_MISSING  ((int32_t)0x0001D801) /* 120833 */
#define FNC_RC_NOTE     ((int32_t)0x0001D804) /* 120836 */
#define FNC_RC_NOROOM   ((int32_t)0x8001D811)
#define FNC_RC_NOMEM    ((int32_t)0x80000803)

/* Kernel-level statuses the module produces or tests. */
#define ZEQ_RC_UNSUPPORTED   ((int32_t)0x803FC004) /* skUnsup */
#define ZEQ_RC_NULL_STREAM   ((int32_t)0x803FC002)
#define ZEQ_RC_UTF8_NOROOM   ((int32_t)0x803FE807)
#define ZEQ_RC_NV_NOVALUE    ((int32_t)0x803FC26A)
#define ZEQ_RC_NV_WRONGTYPE1 ((int32_t)0x803FC009)
#define ZEQ_RC_NV_WRONGTYPE2 ((int32_t)0x803FC264)

/* Argument type bits (FncArg.type). */
#define FNC_ARG_NUMERIC 0x01u
#define FNC_ARG_CHAR    0x02u
#define FNC_ARG_VARCHAR 0x08u
#define FNC_ARG_ISCHAR  0x0Au /* mask: character data of either kind */

/* Mark bit (FncArg.mark). Functions only set it. */
#define FNC_MARK_BAD 0x01u

/* callForm values. */
#define FNC_FORM_FUNCTION 1
#define FNC_FORM_CALL     2

/* Bit pattern of the host's ordinary missing numeric value. */
#define FNC_MISSING_BITS 0xFFFFFE0000000000ull

/* Catalogue set of this module's messages. */
#define FNC_MSG_SET 744

/* Pool allocation flag words used by the module. */
#define ZEQ_FLAGS_ZERO      8198   /* 0x2006: zero-filled block */
#define ZEQ_FLAGS_CONTEXT   12294  /* 0x3006: task context */
#define ZEQ_FLAGS_CACHE     0x2004 /* call-site caches */
#define ZEQ_RESIZE_FLAGS    0x40000000u

/* ------------------------------------------------------------------ */
/* Memory pools (global pool, task pools, host pool objects).          */
/* ------------------------------------------------------------------ */
typedef struct ZeqPool ZeqPool;
struct ZeqPool {
    void *(*alloc)(ZeqPool *pool, uint64_t size, uint32_t flags); /* zero-filled or null */
    void (*release)(ZeqPool *pool, void *block);
};
ZEQ_STATIC_ASSERT(offsetof(ZeqPool, alloc) == 0x00, "pool alloc");
ZEQ_STATIC_ASSERT(offsetof(ZeqPool, release) == 0x08, "pool release");

/* Scratch arena: a stack of blocks given back to a mark.  Reached from
 * FncTask.scratch (the task's arena) and ZeqThread.scratch (the thread's
 * scratch allocator).  Either may be null; see zeq/host.h. */
typedef struct ZeqScratch ZeqScratch;
struct ZeqScratch {
    void *(*alloc)(ZeqScratch *arena, uint64_t size);       /* zero-filled or null */
    uint64_t (*mark)(ZeqScratch *arena);                     /* current level */
    void (*release)(ZeqScratch *arena, uint64_t mark);       /* back to a level */
};

/* ------------------------------------------------------------------ */
/* Task and thread records.                                             */
/* ------------------------------------------------------------------ */
#define FNC_TASK_SLOT_CONTEXT 37

typedef struct FncTask {
    uint8_t     reserved0[0x28];
    ZeqPool    *pool;      /* 0x28: the task's memory pool */
    void      **slots;     /* 0x30: per-module slots; slot 37 is FncContext */
    ZeqScratch *scratch;   /* 0x38: the task's scratch arena (may be null) */
} FncTask;
ZEQ_STATIC_ASSERT(offsetof(FncTask, pool) == 0x28, "task pool");
ZEQ_STATIC_ASSERT(offsetof(FncTask, slots) == 0x30, "task slots");
ZEQ_STATIC_ASSERT(offsetof(FncTask, scratch) == 0x38, "task scratch");
ZEQ_STATIC_ASSERT(sizeof(FncTask) == 0x40, "task size");

typedef struct ZeqThread {
    uint8_t     reserved0[0x110];
    FncTask    *task;      /* 0x110: the current task */
    ZeqScratch *scratch;   /* 0x118: the thread's scratch allocator (may be null) */
} ZeqThread;
ZEQ_STATIC_ASSERT(offsetof(ZeqThread, task) == 0x110, "thread task");
ZEQ_STATIC_ASSERT(offsetof(ZeqThread, scratch) == 0x118, "thread scratch");

/* ------------------------------------------------------------------ */
/* Character values and argument blocks.                                */
/* ------------------------------------------------------------------ */
typedef struct FncStringAllocator FncStringAllocator;
struct FncStringAllocator {
    void *reserved[5];
    /* 0x28: grow `data` to `size` bytes; returns the new data or null. */
    void *(*resize)(FncStringAllocator *self, void *old_data, int64_t size, uint32_t flags);
};
ZEQ_STATIC_ASSERT(offsetof(FncStringAllocator, resize) == 0x28, "allocator resize");

typedef struct FncString {
    int64_t             maxLength; /* 0x00 */
    int64_t             length;    /* 0x08 */
    char               *data;      /* 0x10 */
    FncStringAllocator *allocator; /* 0x18 */
    int64_t             capacity;  /* 0x20 */
} FncString;
ZEQ_STATIC_ASSERT(offsetof(FncString, maxLength) == 0x00, "maxLength");
ZEQ_STATIC_ASSERT(offsetof(FncString, length) == 0x08, "length");
ZEQ_STATIC_ASSERT(offsetof(FncString, data) == 0x10, "data");
ZEQ_STATIC_ASSERT(offsetof(FncString, allocator) == 0x18, "allocator");
ZEQ_STATIC_ASSERT(offsetof(FncString, capacity) == 0x20, "capacity");
ZEQ_STATIC_ASSERT(sizeof(FncString) == 0x28, "FncString size");

typedef struct FncArg {
    uint8_t type;        /* +0 FNC_ARG_* */
    uint8_t mark;        /* +1 FNC_MARK_BAD */
    uint8_t reserved[6]; /* +2 */
    void   *value;       /* +8 double* or FncString*; null when absent */
} FncArg;
ZEQ_STATIC_ASSERT(offsetof(FncArg, type) == 0, "arg type");
ZEQ_STATIC_ASSERT(offsetof(FncArg, mark) == 1, "arg mark");
ZEQ_STATIC_ASSERT(offsetof(FncArg, value) == 8, "arg value");
ZEQ_STATIC_ASSERT(sizeof(FncArg) == 16, "FncArg size");

typedef struct FncArgList {
    FncTask *task;        /* 0x00 */
    uint8_t  callForm;    /* 0x08 */
    uint8_t  pad0[7];
    int64_t  noteCount;   /* 0x10: the call site's own word */
    uint8_t  resultKind;  /* 0x18 */
    uint8_t  pad1[7];
    int32_t  argCount;    /* 0x20 */
    int32_t  pad2;
    FncArg   args[1];     /* 0x28: argCount entries follow */
} FncArgList;
ZEQ_STATIC_ASSERT(offsetof(FncArgList, task) == 0x00, "task");
ZEQ_STATIC_ASSERT(offsetof(FncArgList, callForm) == 0x08, "callForm");
ZEQ_STATIC_ASSERT(offsetof(FncArgList, noteCount) == 0x10, "noteCount");
ZEQ_STATIC_ASSERT(offsetof(FncArgList, resultKind) == 0x18, "resultKind");
ZEQ_STATIC_ASSERT(offsetof(FncArgList, argCount) == 0x20, "argCount");
ZEQ_STATIC_ASSERT(offsetof(FncArgList, args) == 0x28, "args");

/* Bytes of an argument block holding n arguments. */
#define FNC_ARGLIST_SIZE(n) (offsetof(FncArgList, args) + (size_t)(n) * sizeof(FncArg))

/* The four environments whose notes are counted and limited and whose
 * once-only modifier keeps a call-site cache in noteCount. */
#define FNC_KIND_IS_LIMITED(k) ((k) == 0x48 || (k) == 0x58 || (k) == 0x68 || (k) == 0x88)

/* Entry-point shapes. */
typedef int32_t (*FncCharEntry)(FncArgList *args, FncString *result);
typedef int32_t (*FncNumEntry)(FncArgList *args, double *result);
typedef int32_t (*FncDirectEntry)(FncString *arg, FncString *result);

/* ------------------------------------------------------------------ */
/* Host control block (fields the module reads).                        */
/* ------------------------------------------------------------------ */
typedef struct ZeqKernel ZeqKernel;

typedef struct ZeqControlBlock {
    void         ***vectors;      /* 0x000: service vectors, vector V at index V */
    uint8_t        *vector_bytes; /* 0x008: one byte per vector */
    uint8_t         reserved0[0x10];
    ZeqThread      *thread;       /* 0x020: current thread record */
    uint8_t         reserved1[0x08];
    const uint8_t  *upcase;       /* 0x030: 256-entry upper-case mapping */
    const uint8_t  *lowcase;      /* 0x038: 256-entry lower-case mapping */
    const uint8_t  *charclass;    /* 0x040: 256-entry class bits (ZEQ_CLASS_*) */
    uint8_t         reserved2[0x08];
    ZeqPool        *global_pool;  /* 0x050 */
    uint8_t         reserved3[0x290 - 0x58];
    ZeqKernel      *kernel;       /* 0x290: copied into Exported_TKHandle */
    uint8_t         reserved4[0x2F8 - 0x298];
    int64_t         thread_invalid; /* 0x2F8: zero when `thread` is valid */
} ZeqControlBlock;
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, vectors) == 0x000, "cb vectors");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, vector_bytes) == 0x008, "cb bytes");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, thread) == 0x020, "cb thread");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, upcase) == 0x030, "cb upcase");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, lowcase) == 0x038, "cb lowcase");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, charclass) == 0x040, "cb class");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, global_pool) == 0x050, "cb pool");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, kernel) == 0x290, "cb kernel");
ZEQ_STATIC_ASSERT(offsetof(ZeqControlBlock, thread_invalid) == 0x2F8, "cb 2f8");
ZEQ_STATIC_ASSERT(sizeof(ZeqControlBlock) == 0x300, "cb size");

/* Character-class bits of ZeqControlBlock.charclass. */
#define ZEQ_CLASS_UPPER   0x01u
#define ZEQ_CLASS_LOWER   0x02u
#define ZEQ_CLASS_DIGIT   0x04u
#define ZEQ_CLASS_SPACE   0x08u
#define ZEQ_CLASS_PUNCT   0x10u
#define ZEQ_CLASS_CONTROL 0x40u
#define ZEQ_CLASS_XDIGIT  0x80u

/* Service vector numbers and entries (vector V, entry S). */
#define ZEQ_VEC(v, s) ((uint64_t)(v) << 32 | (uint64_t)(s))

/* ------------------------------------------------------------------ */
/* Loader records.                                                      */
/* ------------------------------------------------------------------ */
typedef struct ZeqImageInfo {          /* vi_mcn, 120 bytes */
    char        tag[24];               /* 0x00 "ZEQ_Image_Information=" */
    uint32_t    stamp;                 /* 0x18 0xB0BDEBED */
    uint32_t    zero;                  /* 0x1C */
    int64_t     eight;                 /* 0x20 8 */
    char        release_short[6];      /* 0x28 */
    char        release_full[18];      /* 0x2E */
    char        build_date[16];        /* 0x40 two zero bytes, then the date */
    uint8_t     reserved[16];          /* 0x50 */
    void *const *entries;              /* 0x60 -> mcn_pcns */
    const char *banner;                /* 0x68 */
    char        level[8];              /* 0x70 "001" */
} ZeqImageInfo;
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, stamp) == 0x18, "vi stamp");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, zero) == 0x1C, "vi zero");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, eight) == 0x20, "vi eight");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, release_short) == 0x28, "vi release");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, release_full) == 0x2E, "vi build");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, build_date) == 0x40, "vi date");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, reserved) == 0x50, "vi reserved");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, entries) == 0x60, "vi entries");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, banner) == 0x68, "vi banner");
ZEQ_STATIC_ASSERT(offsetof(ZeqImageInfo, level) == 0x70, "vi level");
ZEQ_STATIC_ASSERT(sizeof(ZeqImageInfo) == 120, "vi size");

typedef void **(*ZeqTableEntry)(void);

typedef struct ZeqEntryRecord {        /* pcn_ZEQWUCHA, 80 bytes */
    uint8_t       marker[8];           /* 0x00 00 00 FF FF FF FF FF FF */
    int64_t       size1;               /* 0x08 1024 */
    int64_t       size2;               /* 0x10 1024 */
    char          name[16];            /* 0x18 "zeqwucha" */
    ZeqTableEntry entry;               /* 0x28 &zeqwucha */
    int64_t       one;                 /* 0x30 1 */
    int64_t       id;                  /* 0x38 9683 */
    int64_t       code;                /* 0x40 0x2001CC7E */
    int64_t       fifteen;             /* 0x48 15 */
} ZeqEntryRecord;
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, size1) == 0x08, "pcn 08");
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, size2) == 0x10, "pcn 10");
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, name) == 0x18, "pcn name");
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, entry) == 0x28, "pcn entry");
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, one) == 0x30, "pcn 30");
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, id) == 0x38, "pcn 38");
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, code) == 0x40, "pcn 40");
ZEQ_STATIC_ASSERT(offsetof(ZeqEntryRecord, fifteen) == 0x48, "pcn 48");
ZEQ_STATIC_ASSERT(sizeof(ZeqEntryRecord) == 80, "pcn size");

/* Function table returned by zeqwucha: 44 pointer slots (352 bytes). */
#define ZEQ_TABLE_SLOTS 44
#define ZEQ_TABLE_BYTES (ZEQ_TABLE_SLOTS * 8)

/* ------------------------------------------------------------------ */
/* Per-task context kept in task slot 37 (232 bytes).                   */
/* ------------------------------------------------------------------ */
typedef struct FncContext {
    uint8_t  reserved0[0x08];
    int64_t  resetWord;         /* 0x08 */
    void    *stream;            /* 0x10 zrand_stream* */
    uint8_t  reserved1[0x08];
    double   resetDouble;       /* 0x20 -pi */
    uint8_t  reserved2[0x10];
    uint8_t *punctTable;        /* 0x38 default word delimiters */
    uint8_t  yearCutoff[8];     /* 0x40 option YEARCUTOFF as stored by the option service */
    uint8_t *auxTable;          /* 0x48 */
    char     hostVersion[8];    /* 0x50 */
    int16_t  hostVersionLength; /* 0x58 */
    uint8_t  reserved3[0x98 - 0x5A];
    void    *editCosts;         /* 0x98 COMPCOST table */
    uint8_t  reserved4[232 - 0xA0];
} FncContext;
ZEQ_STATIC_ASSERT(offsetof(FncContext, resetWord) == 0x08, "ctx 08");
ZEQ_STATIC_ASSERT(offsetof(FncContext, stream) == 0x10, "ctx 10");
ZEQ_STATIC_ASSERT(offsetof(FncContext, resetDouble) == 0x20, "ctx 20");
ZEQ_STATIC_ASSERT(offsetof(FncContext, punctTable) == 0x38, "ctx 38");
ZEQ_STATIC_ASSERT(offsetof(FncContext, yearCutoff) == 0x40, "ctx 40");
ZEQ_STATIC_ASSERT(offsetof(FncContext, auxTable) == 0x48, "ctx 48");
ZEQ_STATIC_ASSERT(offsetof(FncContext, hostVersion) == 0x50, "ctx 50");
ZEQ_STATIC_ASSERT(offsetof(FncContext, hostVersionLength) == 0x58, "ctx 58");
ZEQ_STATIC_ASSERT(offsetof(FncContext, editCosts) == 0x98, "ctx 98");
ZEQ_STATIC_ASSERT(sizeof(FncContext) == 232, "ctx size");

/* Number-formatting request handed to zfmt (80 bytes). */
typedef struct ZeqFmtRequest {
    int32_t     width;      /* 0x00 in: width; out: bytes produced */
    int32_t     code;       /* 0x04 99 */
    const double *value;    /* 0x08 */
    int32_t     value_size; /* 0x10 8 */
    int32_t     pad0;
    char       *out;        /* 0x18 at least 33 bytes */
    int32_t     width2;     /* 0x20 the width again */
    int32_t     pad1;
    uint8_t     reserved[8];
    FncTask    *task;       /* 0x30 */
    uint8_t     reserved2[0x50 - 0x38];
} ZeqFmtRequest;
ZEQ_STATIC_ASSERT(offsetof(ZeqFmtRequest, code) == 0x04, "fmt code");
ZEQ_STATIC_ASSERT(offsetof(ZeqFmtRequest, value) == 0x08, "fmt value");
ZEQ_STATIC_ASSERT(offsetof(ZeqFmtRequest, value_size) == 0x10, "fmt size");
ZEQ_STATIC_ASSERT(offsetof(ZeqFmtRequest, out) == 0x18, "fmt out");
ZEQ_STATIC_ASSERT(offsetof(ZeqFmtRequest, width2) == 0x20, "fmt width2");
ZEQ_STATIC_ASSERT(offsetof(ZeqFmtRequest, task) == 0x30, "fmt task");
ZEQ_STATIC_ASSERT(sizeof(ZeqFmtRequest) == 80, "fmt size");

#ifdef __cplusplus
}
#endif
#endif /* ZEQ_ABI_H */
