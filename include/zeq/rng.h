/*
 * zeq/rng.h - random-engine records shared with the host: the generator
 * descriptor (zrng_desc, 496 bytes) and the random stream (zrand_stream,
 * 6088 bytes).  The host calls the descriptor's slots through a stream, so
 * every offset is fixed.
 */
#ifndef ZEQ_RNG_H
#define ZEQ_RNG_H

#include "zeq/abi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Slot signatures.  Seeding, keying, thread and positioning slots answer 0. */
typedef int64_t  (*zrng_blob_size_fn)(void);
typedef void     (*zrng_dump32_fn)(const uint32_t *words, int64_t count);
typedef void     (*zrng_dump64_fn)(const uint64_t *words, int64_t count);
typedef int32_t  (*zrng_state_fn)(void *blob, const void *bytes, int64_t length, int32_t mode);
typedef int32_t  (*zrng_set32_fn)(void *blob, uint32_t value);
typedef int32_t  (*zrng_set64_fn)(void *blob, uint64_t value);
typedef int32_t  (*zrng_setd_fn)(void *blob, double value);
typedef uint32_t (*zrng_u32_fn)(void *blob);
typedef uint64_t (*zrng_u64_fn)(void *blob);
typedef double   (*zrng_double_fn)(void *blob);

/* Capability bits of zrng_desc.flags. */
#define ZRNG_HAS_DESCRIPTION 0x0001u
#define ZRNG_NOT_RDRAND      0x0002u
#define ZRNG_HAS_STATE       0x0004u
#define ZRNG_SEED_32         0x0008u
#define ZRNG_SEED_64         0x0010u
#define ZRNG_KEY_32          0x0020u
#define ZRNG_KEY_64          0x0040u
#define ZRNG_THREAD_32       0x0080u
#define ZRNG_THREAD_64       0x0100u
#define ZRNG_COUNT_32        0x0200u
#define ZRNG_COUNT_64        0x0400u
#define ZRNG_FAMILY_32       0x0800u
#define ZRNG_FAMILY_64       0x1000u
#define ZRNG_LEGACY_2000     0x2000u

#define ZRNG_TAKES_SEED(f)   (((f) & (ZRNG_SEED_32 | ZRNG_SEED_64)) != 0)
#define ZRNG_TAKES_KEY(f)    (((f) & (ZRNG_KEY_32 | ZRNG_KEY_64)) != 0)
#define ZRNG_TAKES_THREAD(f) (((f) & (ZRNG_THREAD_32 | ZRNG_THREAD_64)) != 0)

typedef struct zrng_desc {
    int32_t  name_size;          /*   0: 16 */
    int32_t  description_size;   /*   4: 64 */
    char     name[16];           /*   8 */
    char     description[64];    /*  24 */
    TKChar   wide_name[16];      /*  88 */
    uint64_t state_bytes;        /* 152 */
    int32_t  state_bits;         /* 160 */
    int32_t  output_bits;        /* 164 */
    uint8_t  reserved0[8];       /* 168 */
    uint64_t flags;              /* 176 */
    uint64_t seed_max;           /* 184 */
    uint64_t key_max;            /* 192 */
    uint8_t  reserved1[8];       /* 200 */
    /* 208: 36 slots */
    zrng_blob_size_fn blob_size;          /*  1 */
    zrng_dump32_fn    dump_blob_32;       /*  2 */
    zrng_dump64_fn    dump_blob_64;       /*  3 */
    zrng_state_fn     state;              /*  4 */
    zrng_set32_fn     seed_32;            /*  5 */
    zrng_set64_fn     seed_64;            /*  6 */
    zrng_setd_fn      seed_double;        /*  7 */
    zrng_set32_fn     key_32;             /*  8 */
    zrng_set64_fn     key_64;             /*  9 */
    zrng_setd_fn      key_double;         /* 10 */
    zrng_set32_fn     thread_32;          /* 11 */
    zrng_set64_fn     thread_64;          /* 12 */
    zrng_set32_fn     count_32;           /* 13 */
    zrng_set64_fn     count_64;           /* 14 */
    zrng_u32_fn       uint32;             /* 15 */
    zrng_u64_fn       uint64;             /* 16 */
    zrng_double_fn    double_default;     /* 17 */
    zrng_double_fn    double_crude;       /* 18 */
    zrng_double_fn    double_with_zero;   /* 19 */
    void             *reserved_slot;      /* 20: always null */
    zrng_double_fn    double_32[5];       /* 21-25: reject_zero, open_open, open_closed, closed_open, closed_closed */
    zrng_double_fn    double_53[5];       /* 26-30 */
    zrng_double_fn    double_64[5];       /* 31-35: reject_zero_one, open_open, open_closed, closed_open, closed_closed */
    zrng_double_fn    double_infinite;    /* 36 */
} zrng_desc;
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, name_size) == 0, "desc 0");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, description_size) == 4, "desc 4");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, name) == 8, "desc name");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, description) == 24, "desc description");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, wide_name) == 88, "desc wide_name");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, state_bytes) == 152, "desc state_bytes");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, state_bits) == 160, "desc state_bits");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, output_bits) == 164, "desc output_bits");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, flags) == 176, "desc flags");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, seed_max) == 184, "desc seed_max");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, key_max) == 192, "desc key_max");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, blob_size) == 208, "desc slots");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, uint32) == 208 + 14 * 8, "desc uint32");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, double_default) == 208 + 16 * 8, "desc default");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, reserved_slot) == 208 + 19 * 8, "desc slot 20");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, double_32) == 208 + 20 * 8, "desc d32");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, double_53) == 208 + 25 * 8, "desc d53");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, double_64) == 208 + 30 * 8, "desc d64");
ZEQ_STATIC_ASSERT(offsetof(zrng_desc, double_infinite) == 208 + 35 * 8, "desc infinite");
ZEQ_STATIC_ASSERT(sizeof(zrng_desc) == 496, "zrng_desc size");

/* Indexes into double_32 / double_53 / double_64. */
#define ZRNG_REJECT 0
#define ZRNG_OO     1
#define ZRNG_OC     2
#define ZRNG_CO     3
#define ZRNG_CC     4

/* Builder of a method: fills a descriptor in place. */
typedef void (*zrng_builder_fn)(zrng_desc *desc);

/* Stream statuses. */
#define ZRAND_RC_NOT_INIT    ((int32_t)0x8C7FE80A)
#define ZRAND_RC_BAD_METHOD  ((int32_t)0x8C7FE80B)
#define ZRAND_RC_NO_HARDWARE ((int32_t)0x8C7FE80C)
#define ZRAND_RC_SEED_UNUSED ((int32_t)0x8C7FE80D)
#define ZRAND_RC_KEY_UNUSED  ((int32_t)0x8C7FE80F)
#define ZRAND_RC_KEY_RANGE   ((int32_t)0x8C7FE810)

#define ZRAND_FLAG_TKCHAR_WORD 0x1
#define ZRAND_FLAG_NOTE_DONE   0x2
#define ZRAND_FLAG_NOTE_WANTED 0x4

#define ZRAND_STREAM_BYTES 6088
#define ZRAND_HEADER_BYTES 576
#define ZRAND_CLONE_BYTES  552
#define ZRAND_INLINE_BYTES 5016
#define ZRAND_INIT_STAMP   123456789

typedef struct zrand_stream {
    int64_t        init_stamp;      /*   0 */
    uint8_t        reserved0[8];    /*   8 */
    TKChar         wide_name[16];   /*  16 */
    uint64_t       seed;            /*  80 */
    uint64_t       key;             /*  88 */
    uint64_t       thread;          /*  96 */
    int64_t        stream_flags;    /* 104 */
    int64_t        host_word1;      /* 112 */
    int64_t        host_word2;      /* 120 */
    uint8_t        reserved1[16];   /* 128 */
    uint32_t       status;          /* 144 */
    uint8_t        ready;           /* 148 */
    uint8_t        reserved2[3];
    int64_t        state_size;      /* 152 */
    void          *state;           /* 160 */
    void          *state_view1;     /* 168 */
    void          *state_view2;     /* 176 */
    zrng_double_fn double_fn;       /* 184 */
    zrng_desc     *desc;            /* 192 */
    void          *journal;         /* 200 ZeqLogger* */
    uint8_t        reserved3[80];   /* 208 */
    double         cache_a;         /* 288 */
    uint8_t        reserved4[64];   /* 296 */
    double         cache_b;         /* 360 */
    uint8_t        reserved5[40];   /* 368 */
    double         cache_c;         /* 408 */
    uint8_t        cache_d;         /* 416 */
    uint8_t        reserved6[7];
    double         cache_e;         /* 424 */
    uint8_t        reserved7[56];   /* 432 */
    uint8_t        cache_f;         /* 488 */
    uint8_t        reserved8[39];   /* 489 */
    uint64_t       seed_used;       /* 528 */
    uint64_t       seed_end;        /* 536 */
    FncTask       *task;            /* 544 */
    const void    *method_word;     /* 552 */
    double         seed_double;     /* 560 */
    double         key_double;      /* 568 */
    zrng_desc      embedded_desc;   /* 576 */
    uint8_t        inline_state[ZRAND_INLINE_BYTES]; /* 1072 */
} zrand_stream;
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, wide_name) == 16, "s 16");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, seed) == 80, "s 80");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, key) == 88, "s 88");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, thread) == 96, "s 96");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, stream_flags) == 104, "s 104");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, host_word1) == 112, "s 112");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, host_word2) == 120, "s 120");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, status) == 144, "s 144");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, ready) == 148, "s 148");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, state_size) == 152, "s 152");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, state) == 160, "s 160");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, state_view1) == 168, "s 168");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, state_view2) == 176, "s 176");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, double_fn) == 184, "s 184");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, desc) == 192, "s 192");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, journal) == 200, "s 200");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, cache_a) == 288, "s 288");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, cache_b) == 360, "s 360");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, cache_c) == 408, "s 408");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, cache_d) == 416, "s 416");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, cache_e) == 424, "s 424");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, cache_f) == 488, "s 488");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, seed_used) == 528, "s 528");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, seed_end) == 536, "s 536");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, task) == 544, "s 544");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, method_word) == 552, "s 552");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, seed_double) == 560, "s 560");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, key_double) == 568, "s 568");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, embedded_desc) == 576, "s 576");
ZEQ_STATIC_ASSERT(offsetof(zrand_stream, inline_state) == 1072, "s 1072");
ZEQ_STATIC_ASSERT(sizeof(zrand_stream) == ZRAND_STREAM_BYTES, "stream size");

#ifdef __cplusplus
}
#endif
#endif /* ZEQ_RNG_H */
