// strkernel/strkernel.h - the exported string and memory kernel: byte
// primitives, case tables, UTF-8 operations, trimming and dequoting (the
// clock readings come from core/clock.h).  Lengths are unit counts (bytes or
// TKChar); scans answer a 0-based index or -1.
#pragma once

#include <cstdint>

#include "core/clock.h"
#include "zeq/abi.h"

extern "C" {
// --- byte primitives (strkernel/bytes.cc) ---------------------------------
int32_t skUnsup(void);
uint64_t skStrLen(const char *s);
uint64_t skStrTLen(const TKChar *s);
void skStrCpy(const char *src, char *dst);
void skStrTCpy(const TKChar *src, TKChar *dst);
void skStrUp(char *data, uint64_t count);
void skStrLow(char *data, uint64_t count);
int32_t skMemNot(int value, const void *data, uint64_t count);
int32_t skMemTNot(TKChar value, const TKChar *data, uint64_t count);
void skMemSet(void *data, int value, uint64_t count);
void skMemTSet(TKChar *data, TKChar value, uint64_t count);
int32_t skMemCmp(const void *left, const void *right, uint64_t count);
int32_t skWMemCmp(const TKChar *left, const TKChar *right, uint64_t count);
void *skMemCpy(const void *src, void *dst, uint64_t count);
void *skMemSCpy(const void *src, void *dst, uint64_t count);
void *skMemDup(const void *data, uint64_t count, void *allocator);
int64_t skMemScan(const void *data, uint64_t count, int value);
int64_t skMemNScan(const void *data, uint64_t count, int value);
int64_t skMemTNScan(const TKChar *data, uint64_t count, TKChar value);
int32_t skMissArray(const double *values, uint64_t count);

// --- case tables (strkernel/case.cc, tables generated) --------------------
extern const int16_t skz_metatable[512];
extern const int8_t skz_upshift[];
extern const int8_t skz_downshift[];
void tkzstup(TKChar *data, int64_t count);
void tkzstlo(TKChar *data, int64_t count);
int32_t tkzseqn(const TKChar *left, int64_t lcount, const TKChar *right, int64_t rcount);
int32_t tkzsncmp(const TKChar *left, int64_t lcount, const TKChar *right, int64_t rcount);
void tkzstmin(TKChar *data, int64_t count);
void tkzstmax(TKChar *data, int64_t count);

// --- UTF-8 (strkernel/utf8.cc) --------------------------------------------
extern const uint8_t _utf8_len[256];
extern const uint8_t valid_1st_utf8[256];
extern const uint8_t valid_2nd_utf8[256];
int64_t tkzsu8RemoveDelimiters(char *text, int64_t length);
int64_t tkzsu8NotEqual(const char *text, int64_t length, const char *character);
int64_t tkzsu8Delete(char *text, int64_t length, const char *set, int64_t set_length);
int32_t tkzsu8AddQuotes(const char *src, int64_t src_length, char *out, int64_t room,
                        const char *quote, int64_t *written);
void tkzsu8Reverse(char *text, int64_t length);

// --- trimming, dequoting, wide strings (strkernel/trim.cc) ----------------
int32_t wzstrip(const char *data, int32_t length);
int32_t zstripf(const char *data, int32_t length);
int32_t zstripl(const char *data, int32_t length);
int64_t tkzstrp(const TKChar *data, int64_t count);
int32_t wzstlen(const char *s);
void wzstjls(char *data, int32_t length, int mode, int32_t *out_length, int32_t *out_start);
void vzmp(const char *src, int32_t src_length, char *dst, int32_t dst_length);
int64_t vzstl(const uint8_t *data, int64_t length, const uint8_t *table);
int32_t wzstndx(const char *src, int32_t src_length, const char *excerpt, int32_t excerpt_length);
int32_t zdequote(const char *text, int32_t length, char *out, int32_t room);
int32_t zstripn(const char *text, int32_t length, char *out32);
int64_t tkzsdel(TKChar *text, int64_t length, const TKChar *set, int64_t set_count);
}
