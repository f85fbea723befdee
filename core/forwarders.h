// core/forwarders.h - the host service forwarders: vector forwarders and
// pool handlers (tail transfers, core/forwarders.S), logger and kernel
// forwarders (core/forwarders.cc).
#pragma once

#include "core/export.h"
#include "zeq/abi.h"
#include "zeq/host.h"

// ---------------------------------------------------------------------------
// Vector forwarders (tail transfers, core/forwarders.S).
// ---------------------------------------------------------------------------
extern "C" {
int xpmlog(int set, int number, ...);
int xpslog(const char *format, ...);
int xpsstr(char *buffer, int size, const char *format, ...);
int zfmt(void *request);
int wzfmhc(const void *data, int length, int digits, int flag, char *dest);
int wtrsset(void *task, int slot, void *value);
void xexit(int code, int zero);
int xyrngef(const char *name, int length, int, int, int, void *out, int, void *task);
int xyrcgef(int, int option, int, int, int, char *buffer, int *length, int, void *task);
int zzeqver(char version[8]);
void *xalanch(void *task);
int xjundls(void *handle, char *text, void *value);
int xjsympc(void *handle, const char *name, int name_length, const char *value,
            int value_length, int scope, int zero);
void *xmrealc(void *pool, void *block, i64 old_size, i64 new_size, int zero);
int xprrlog(int status);
int xpselec(int, int);
int xpopset(int, int, int);
int wzrlchr(const char *text, int length, int, int *consumed, double *value);
int wzsxoff(...);   // name tests: see charfn/words/names.cc for the call shape
int wzsx8ac(...);

// Pool handlers.
void *vmalcp_handler(void *pool, u64 size, unsigned flags);
void *vmalloc_handler(void *pool, u64 size, unsigned flags);
void vmfree_handler(void *pool, void *block, ...);

// Logger forwarders (the logger object first).
int tklMessageToBuf(ZeqLogger *lg, TKChar *buf, i64 room, const TKChar *format, ...);
int tklMessageToJnl(ZeqLogger *lg, int level, const TKChar *format, ...);
int tklStatusToBuf(ZeqLogger *lg, TKChar *buf, i64 room, int status, ...);
int tklStatusToJnl(ZeqLogger *lg, int level, int status, ...);
void *tklGetLocale(ZeqLogger *lg);

// Kernel forwarders used inside the module.
double tkzdttme(void);
i64 tkzinfo(void *buffer352);
i64 tkzstats(void *record);
}
