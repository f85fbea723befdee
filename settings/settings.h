// settings/settings.h - typed accessors of the host's name/value settings
// (settings/settings.cc), used by the random engine and by other host
// modules.
//
// Names and text values are TKChar texts with a unit count; a count below 1
// means the text runs to its terminating zero.  Nothing here fails its
// caller: a missing store degrades to the default answer, and real failures
// are written to the host journal.  Every entry has C linkage.
#pragma once

#include <cstdint>

#include "zeq/abi.h"

// Statuses the accessors write to the journal.
#define ZEQ_RC_NV_NOT_NUMBER   ((int32_t)0x8C7FE8C8) /* a setting is no number */
#define ZEQ_RC_NV_UNKNOWN_WORD ((int32_t)0x8C7FE8C9) /* a setting is no known word */
#define ZEQ_RC_NV_LIMIT        ((int32_t)0x8C7FE8CA) /* a countdown reached its last message */

extern "C" {

// ---------------------------------------------------------------------------
// Getters answer their default when the name is null, the host has no
// store, or the name has no value.  Setters answer the kernel status
// (0 when the name had no value or the host has no store).
// ---------------------------------------------------------------------------

// Reads a text setting into a byte buffer of `size` bytes (at most size - 1
// bytes and a terminating zero).  Answers the bytes read, 0 when unset.
// size < 1 leaves the buffer untouched; size 1 only terminates it.
int64_t tknrcget(const TKChar *name, int64_t name_len, char *buffer, int64_t size);
// The same into a TKChar buffer of `size` units.
int64_t tknrtget(const TKChar *name, int64_t name_len, TKChar *buffer, int64_t size);
// A double setting, or `dflt`.
double tknrdget(const TKChar *name, int64_t name_len, double dflt);
// A 64-bit integer setting (a text value is converted with tknrstol), or `dflt`.
int64_t tknrlget(const TKChar *name, int64_t name_len, int64_t dflt);
int32_t tknrdset(const TKChar *name, int64_t name_len, double value);
// Stores an integer; a name that holds a value of another type gets the
// number as text instead.
int32_t tknrlset(const TKChar *name, int64_t name_len, int64_t value);
// Stores a text (a null text stores an empty one, which unsets the name).
int32_t tknrtset(const TKChar *name, int64_t name_len, const TKChar *text, int64_t text_len);
// Looks the setting's word up among (const TKChar *word, int value) pairs
// ended by a null word.  Case-blind, trailing blanks ignored.  An unknown
// word is reported once and erased; the default answers.
int32_t tknrlook(const TKChar *name, int64_t name_len, int32_t dflt, ...);
// Countdown shared by every caller of the same name: answers the value after
// this call (the default first, then one less each call, then -1 for ever).
int64_t tknrlimit(const TKChar *name, int64_t name_len, int64_t dflt);
// Decimal text to integer: optional blanks and sign, digits, an optional
// decimal point followed only by zeros, trailing blanks.  Magnitudes above
// 2^53 answer +-2^53; anything that is no number answers -2^53.
int64_t tknrstol(const TKChar *text);

}  // extern "C"
