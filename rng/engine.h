// rng/engine.h - the random-stream engine's exported operations, its
// diagnostics and its seed helpers (the typed settings accessors it relies
// on are in settings/settings.h).
//
// Conventions shared by every entry below:
//  - names and text values are TKChar texts with a unit count; a count below
//    1 means the text runs to its terminating zero;
//  - nothing here fails its caller: a missing host service degrades to the
//    default answer, and real failures are written to the host journal;
//  - every entry has C linkage and is safe to call from C (no C++ types,
//    no exceptions).
#pragma once

#include <cstdint>

#include "zeq/abi.h"
#include "zeq/host.h"
#include "zeq/rng.h"
#include "settings/settings.h"

extern "C" {

// ---------------------------------------------------------------------------
// Diagnostics (rng/engine/diag.cc).
// ---------------------------------------------------------------------------

// Severities of zrngmsg.
#define ZRNG_SEV_INFO    1
#define ZRNG_SEV_NOTE    2
#define ZRNG_SEV_WARNING 3
#define ZRNG_SEV_ERROR   4

// Message numbers of the engine (texts in the host catalogue).
#define ZRNG_MSG_SEED_UNUSED   ((int32_t)0x8C7FE817)
#define ZRNG_MSG_SEED_ROUNDED  ((int32_t)0x8C7FE818)
#define ZRNG_MSG_D2I_RANGE     ((int32_t)0x8C7FE819)
#define ZRNG_MSG_KEY_UNUSED    ((int32_t)0x8C7FE81A)
#define ZRNG_MSG_KEY_DOUBLE    ((int32_t)0x8C7FE81B)
#define ZRNG_MSG_KEY_RANGE     ((int32_t)0x8C7FE81C)
#define ZRNG_MSG_METHOD        ((int32_t)0x8C7FE828)
#define ZRNG_MSG_METHOD_SEED   ((int32_t)0x8C7FE829)
#define ZRNG_MSG_METHOD_KEY    ((int32_t)0x8C7FE82A)
#define ZRNG_MSG_BUILDER       ((int32_t)0x8C7FE851)
#define ZRNG_MSG_BLOB_SIZE     ((int32_t)0x8C7FE852)

// Issues engine message `number` with the further arguments (integers as
// 64-bit values, doubles as doubles, texts as addresses).  Decides from the
// OSENV.ZEQ_RNG_* settings whether and at which level it is shown.  Answers
// the journal's status, or 0 when nothing was written.
int32_t zrngmsg(int32_t severity, int32_t number, ...);

// ---------------------------------------------------------------------------
// Seed helpers and session encoding (rng/engine/seed.cc).
// ---------------------------------------------------------------------------

int32_t zrngi31(void);    // fresh 31-bit seed ("tkbug.RNGSEED", hardware, clock)
uint64_t zrngi64(void);   // fresh seed of at most 53 bits
uint32_t zrngt32(void);   // clock value, never 0
uint64_t zrngt64(void);   // clock and process statistics, mixed
// A seed given as a double, as a whole number in 1 .. limit (0 for NaN and
// values <= 0).
double zrngd2i(uint64_t limit, double d);
// Legacy multiplicative step modulo 2^31 - 1; updates *state.
double zranuni(uint64_t *state);

int32_t zsknls(int32_t encoding_id);
int32_t zSessCei(void);
void *zLocaleh(void);
ZeqTranscoder *zSessToTKChar(void);
ZeqTranscoder *zSessFromTKChar(void);
// Converts `count` bytes of session text into at most `count` TKChar units;
// answers the units written.
int64_t zCharToTKChar(const char *text, TKChar *buffer, int64_t count);

// ---------------------------------------------------------------------------
// Random streams (rng/engine/stream.cc).
//
// Operations on a null stream answer ZEQ_RC_NULL_STREAM and do nothing.
// ---------------------------------------------------------------------------

zrand_stream *zrand_alloc_mva_reb(FncTask *task, uint64_t seed, uint64_t key);
zrand_stream *zrand_alloc_mva(uint64_t seed, uint64_t key);
zrand_stream *zrndalo(uint64_t seed);
zrand_stream *zrand_alloc_tk(ZeqPool *pool, ...);
int32_t zrand_clone(zrand_stream *dst, uint64_t key, zrand_stream *src);
zrand_stream *zrand_clone_mva(ZeqPool *pool, uint64_t key, zrand_stream *src);
zrand_stream *zrand_clone_tk(ZeqPool *pool, uint64_t key, zrand_stream *src);
void zrndfre(void *stream);
int32_t zrand_seed(uint64_t seed, zrand_stream *stream);
int32_t zrand_crude(zrand_stream *stream);
int32_t zrand_init(void *stream);
int32_t zrand_rewind(zrand_stream *stream);
int32_t zrand_method(const void *word, int64_t length, zrand_stream *stream);
int32_t zrand_check(zrand_stream *stream, int64_t ignored);
void zrand_macros(int32_t scope, zrand_stream *stream);
int32_t zrndsp(void);
int32_t zrndIsMT32(void);
// Value of `word` in the host's debug options: 0 when absent, 1 when present,
// the number after '=' when one is given.
int64_t zbugi(const char *word);

}  // extern "C"
