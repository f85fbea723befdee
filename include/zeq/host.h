/*
 * zeq/host.h - host services reached through the kernel function table.
 *
 * The kernel function table (the module keeps it as Exported_TKHandle) has a
 * few entries whose place every host agrees on (service entry, locale object,
 * default locale, clock-change record, process record).  The other services
 * the module uses -- journal, name/value store, session encoding record,
 * string service, national-language service -- sit at the offsets chosen
 * below.  EVERY optional field may be null: the module then degrades
 *   - no journal: nothing is written;
 *   - no name/value store: getters answer their defaults, setters 0;
 *   - no session encoding record: the session is single-byte Latin-1 and
 *     every function takes its byte route; zCharToTKChar widens bytes;
 *   - no string service: the multibyte route is never taken;
 *   - no processor record: the hardware random instruction is absent;
 *   - no scratch arena (FncTask.scratch, ZeqThread.scratch, zeq/abi.h):
 *     memory comes from the task's pool and is released before the call
 *     returns.
 */
#ifndef ZEQ_HOST_H
#define ZEQ_HOST_H

#include <stdarg.h>
#include "zeq/abi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Journal (logger object).                                             */
/* Formats are TKChar texts with printf conversions; %s, %S and %ls take */
/* a TKChar string, %hs a byte string; %.*S takes an int and a TKChar*. */
/* ------------------------------------------------------------------ */
typedef struct ZeqLogger ZeqLogger;
struct ZeqLogger {
    void *reserved0[4];
    /* 0x20 */ int32_t (*message_to_buf)(ZeqLogger *lg, TKChar *buf, int64_t room, const TKChar *format, va_list ap);
    /* 0x28 */ int32_t (*message_to_jnl)(ZeqLogger *lg, int32_t level, const TKChar *format, va_list ap);
    /* 0x30 */ int32_t (*status_to_buf)(ZeqLogger *lg, TKChar *buf, int64_t room, int32_t status, va_list ap);
    /* 0x38 */ int32_t (*status_to_jnl)(ZeqLogger *lg, int32_t level, int32_t status, va_list ap);
    void *reserved1[4];
    /* 0x60 */ void *(*get_locale)(ZeqLogger *lg);
};
ZEQ_STATIC_ASSERT(offsetof(ZeqLogger, message_to_buf) == 0x20, "logger 20");
ZEQ_STATIC_ASSERT(offsetof(ZeqLogger, message_to_jnl) == 0x28, "logger 28");
ZEQ_STATIC_ASSERT(offsetof(ZeqLogger, status_to_buf) == 0x30, "logger 30");
ZEQ_STATIC_ASSERT(offsetof(ZeqLogger, status_to_jnl) == 0x38, "logger 38");
ZEQ_STATIC_ASSERT(offsetof(ZeqLogger, get_locale) == 0x60, "logger 60");

/* ------------------------------------------------------------------ */
/* Name/value store (tkNameValueGet / tkNameValueSet).                  */
/* ------------------------------------------------------------------ */
#define ZEQ_NV_DOUBLE 2  /* 8 bytes */
#define ZEQ_NV_INT64  3  /* 8 bytes */
#define ZEQ_NV_TEXT   4  /* TKChar text (unit 4) or bytes (unit 1) */

typedef struct ZeqNameValueStore ZeqNameValueStore;
struct ZeqNameValueStore {
    /* Read `name` as `type`.  For ZEQ_NV_TEXT, `unit` is 4 for TKChar or 1
     * for bytes and `room` counts bytes; *produced receives the bytes written
     * (no terminator is written).  Statuses: 0, ZEQ_RC_NV_NOVALUE (no value),
     * ZEQ_RC_NV_WRONGTYPE1 (stored value is text but a number was asked),
     * ZEQ_RC_NV_WRONGTYPE2 (stored value is a number of the other type). */
    int32_t (*get)(ZeqNameValueStore *nv, const TKChar *name, int64_t name_len,
                   int32_t type, int32_t unit, void *value, int64_t room, int64_t *produced);
    /* Store `size` bytes of `value` as `type` (text: TKChar units).  A name
     * holding a value of another type answers ZEQ_RC_NV_WRONGTYPE2 unless
     * `type` is text (text replaces anything).  Storing an empty text makes
     * the name have no value. */
    int32_t (*set)(ZeqNameValueStore *nv, const TKChar *name, int64_t name_len,
                   int32_t mode, int32_t type, const void *value, int64_t size);
    /* 1 when the name has a value, else 0. */
    int32_t (*has_value)(ZeqNameValueStore *nv, const TKChar *name, int64_t name_len);
};

/* ------------------------------------------------------------------ */
/* Locale object (kernel table 0xD8): case entries for units above 127.  */
/* ------------------------------------------------------------------ */
typedef struct ZeqLocale ZeqLocale;
struct ZeqLocale {
    void *reserved[31];
    /* 0xF8 */ TKChar (*upper)(ZeqLocale *loc, TKChar unit, int32_t one);
    /* 0x100 */ TKChar (*lower)(ZeqLocale *loc, TKChar unit, int32_t one);
};
ZEQ_STATIC_ASSERT(offsetof(ZeqLocale, upper) == 0xF8, "locale upper");
ZEQ_STATIC_ASSERT(offsetof(ZeqLocale, lower) == 0x100, "locale lower");

/* ------------------------------------------------------------------ */
/* Session encoding and transcoders.                                    */
/* ------------------------------------------------------------------ */
#define ZEQ_ENC_LATIN1 1
#define ZEQ_ENC_UTF8   20

typedef struct ZeqTranscoder ZeqTranscoder;
struct ZeqTranscoder {
    /* Convert in_bytes of input into at most out_room bytes; *produced gets
     * the bytes written.  Returns 0 or a non-zero status. */
    int32_t (*convert)(ZeqTranscoder *tc, const void *in, int64_t in_bytes,
                       void *out, int64_t out_room, int64_t *produced);
    void (*close)(ZeqTranscoder *tc);
};

#define ZEQ_NLS_TO_TKCHAR   0
#define ZEQ_NLS_FROM_TKCHAR 1

typedef struct ZeqNls ZeqNls;
struct ZeqNls {
    ZeqTranscoder *(*open)(ZeqNls *nls, int32_t encoding_id, int32_t direction);
};

typedef struct ZeqSessionEncoding {
    void          *locale_handle;   /* 0x00 */
    int32_t        encoding_id;     /* 0x08 ZEQ_ENC_* */
    int32_t        multibyte;       /* 0x0C non-zero: a character may take several bytes */
    ZeqTranscoder *to_tkchar;       /* 0x10 session encoding -> TKChar */
    ZeqTranscoder *from_tkchar;     /* 0x18 TKChar -> session encoding */
} ZeqSessionEncoding;
ZEQ_STATIC_ASSERT(offsetof(ZeqSessionEncoding, encoding_id) == 0x08, "enc id");
ZEQ_STATIC_ASSERT(offsetof(ZeqSessionEncoding, to_tkchar) == 0x10, "enc to");
ZEQ_STATIC_ASSERT(offsetof(ZeqSessionEncoding, from_tkchar) == 0x18, "enc from");

/* ------------------------------------------------------------------ */
/* Session string service (multibyte route).                            */
/*                                                                      */
/* A view covers a text of `length` code units (bytes when `wide` is 0,  */
/* TKChar units when 1).  `pos` is the code-unit offset of the current   */
/* character.  Character indexes are 0-based.                            */
/* ------------------------------------------------------------------ */
typedef struct ZeqStrView {
    const void *start;   /* first code unit */
    int64_t     length;  /* code units */
    int64_t     pos;     /* code-unit offset of the current character */
    const void *end;     /* one past the last code unit */
} ZeqStrView;
ZEQ_STATIC_ASSERT(sizeof(ZeqStrView) == 32, "view size");

/* Class codes of is_class: a code is a mask of these bits; a character is
 * in the class when it has any of them. */
#define ZEQ_SC_UPPER   0x001
#define ZEQ_SC_LOWER   0x002
#define ZEQ_SC_DIGIT   0x004
#define ZEQ_SC_SPACE   0x008  /* white space */
#define ZEQ_SC_PUNCT   0x010
#define ZEQ_SC_BLANK   0x020  /* the blank and other printable spaces */
#define ZEQ_SC_CONTROL 0x040
#define ZEQ_SC_XDIGIT  0x080
#define ZEQ_SC_ALPHA   0x100  /* letters without case */
#define ZEQ_SC_GRAPH   0x200  /* other graphic characters (symbols, marks) */
/* Codes used by the character functions. */
#define ZEQ_SC_CODE_ALPHA   259  /* A: upper, lower, other letters */
#define ZEQ_SC_CODE_CONTROL 64   /* C */
#define ZEQ_SC_CODE_DIGIT   4    /* D */
#define ZEQ_SC_CODE_GRAPH   791  /* G */
#define ZEQ_SC_CODE_PUNCT   16   /* P */
#define ZEQ_SC_CODE_SPACE   40   /* S */
#define ZEQ_SC_CODE_PRINT   823  /* W */
#define ZEQ_SC_CODE_XDIGIT  128  /* X */

#define ZEQ_SS_OUT_OF_RANGE (-99)
#define ZEQ_SS_IGNORE_CASE  0x1  /* compare flag */

typedef struct ZeqStringService ZeqStringService;
struct ZeqStringService {
    int32_t encoding_id;   /* ZEQ_ENC_*; 20 for UTF-8 */
    int32_t multibyte;     /* 0 for a single-byte encoding */
    /* Bind a view over data (units code units) at character 0. */
    int32_t (*bind)(ZeqStringService *s, ZeqStrView *v, const void *data, int64_t units, int32_t wide);
    /* Number of characters in data, or a negative status. */
    int64_t (*count)(ZeqStringService *s, const void *data, int64_t units, int32_t wide);
    /* Code point at the view's position; -1 at the end. */
    int32_t (*read)(ZeqStringService *s, const ZeqStrView *v, int32_t wide);
    /* Move the position by n characters (n < 0: backwards).  Returns 0, or
     * ZEQ_SS_OUT_OF_RANGE (position unchanged) when that leaves the text;
     * moving exactly to the end is allowed. */
    int64_t (*move)(ZeqStringService *s, ZeqStrView *v, int64_t n, int32_t wide);
    /* Set the position to character index i (0 .. count); ZEQ_SS_OUT_OF_RANGE
     * when outside. */
    int64_t (*seek)(ZeqStringService *s, ZeqStrView *v, int64_t i, int32_t wide);
    TKChar (*upper)(ZeqStringService *s, TKChar c);
    TKChar (*lower)(ZeqStringService *s, TKChar c);
    /* Non-zero when c has any class bit of `code`. */
    int32_t (*is_class)(ZeqStringService *s, TKChar c, int32_t code);
    /* Compare k characters from the current positions of a and b, the
     * shorter padded with blanks.  flags: ZEQ_SS_IGNORE_CASE.  Returns 0 when
     * equal, else +-(1-based index of the first difference), negative when
     * a's character is the smaller. */
    int64_t (*compare)(ZeqStringService *s, const ZeqStrView *a, const ZeqStrView *b,
                       int64_t k, int32_t flags, int32_t wide);
    /* Encode one code point in the session encoding (wide 0) or as one TKChar
     * (wide 1) into out (room for 4 units); returns the units written. */
    int32_t (*encode)(ZeqStringService *s, TKChar c, void *out, int32_t wide);
};

/* Creates (or returns the existing) session string service. */
typedef ZeqStringService *(*ZeqStringServiceFactory)(const TKChar *wide_name, void *options128);

/* ------------------------------------------------------------------ */
/* Kernel function table (Exported_TKHandle).                           */
/* ------------------------------------------------------------------ */
typedef int64_t (*ZeqKernelService)(int64_t number, int64_t argument, int64_t flags);

typedef struct ZeqClockChange {
    void (*changed)(void);   /* called by bkztod when the clock jumps */
} ZeqClockChange;

struct ZeqKernel {
    uint8_t                 reserved0[0x58];
    void                 *(*process_record)(void);  /* 0x058 */
    uint8_t                 reserved1[0xD8 - 0x60];
    ZeqLocale              *locale;                 /* 0x0D8 may be null */
    uint8_t                 reserved2[0x108 - 0xE0];
    ZeqKernelService        service;                /* 0x108 */
    uint8_t                 reserved3[0x118 - 0x110];
    int64_t                *default_locale;         /* 0x118 */
    ZeqLogger              *journal;                /* 0x120 may be null */
    ZeqNameValueStore      *store;                  /* 0x128 may be null */
    ZeqSessionEncoding     *encoding;               /* 0x130 may be null */
    ZeqStringServiceFactory string_service;         /* 0x138 may be null */
    ZeqNls                 *nls;                    /* 0x140 may be null */
    uint8_t                 reserved4[0x5C8 - 0x148];
    ZeqClockChange         *clock_change;           /* 0x5C8 may be null */
    uint8_t                 reserved5[0x600 - 0x5D0];
};
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, process_record) == 0x058, "k 58");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, locale) == 0x0D8, "k d8");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, service) == 0x108, "k 108");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, default_locale) == 0x118, "k 118");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, journal) == 0x120, "k 120");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, store) == 0x128, "k 128");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, encoding) == 0x130, "k 130");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, string_service) == 0x138, "k 138");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, nls) == 0x140, "k 140");
ZEQ_STATIC_ASSERT(offsetof(ZeqKernel, clock_change) == 0x5C8, "k 5c8");
ZEQ_STATIC_ASSERT(sizeof(ZeqKernel) == 0x600, "kernel size");

/* Kernel service flags word and the system-information buffer. */
#define ZEQ_KFLAGS           0x10000000
#define ZEQ_INFO_BYTES       352
#define ZEQ_INFO_PROCESSOR   344   /* offset of the processor record address */
#define ZEQ_CPU_RDRAND_BYTE  119   /* processor record: byte with the RDRAND bit */
#define ZEQ_CPU_RDRAND_BIT   0x40

#ifdef __cplusplus
}
#endif
#endif /* ZEQ_HOST_H */
