// charfn/entries.h - the prototype of every exported entry of the catalogue
// and of every multibyte twin, expanded from charfn/functions.def by its
// result shape.  Every family's
// source includes it, so an entry whose definition strays from its row's
// shape fails to compile, and the function table (load/function_table.cc)
// takes each entry with its real type.
#pragma once

#include <cstdint>

#include "core/export.h"
#include "zeq/abi.h"
#include "zeq/host.h"

// One prototype per result shape (see RESULT in charfn/functions.def).
#define ZEQ_ENTRY_SHAPE_Char(ENTRY) ZEQ_EXPORT int32_t ENTRY(FncArgList *args, FncString *result) noexcept;
#define ZEQ_ENTRY_SHAPE_Number(ENTRY) ZEQ_EXPORT int32_t ENTRY(FncArgList *args, double *result) noexcept;
#define ZEQ_ENTRY_SHAPE_Direct(ENTRY) ZEQ_EXPORT int32_t ENTRY(FncString *arg, FncString *result) noexcept;
#define ZEQ_ENTRY_SHAPE_Routine(ENTRY) ZEQ_EXPORT int32_t ENTRY(FncArgList *args) noexcept;

// A multibyte twin takes the entry's arguments, then the session's string
// service, the wide flag and the function name its messages give.
#define ZEQ_TWIN_SHAPE_Char(MB) \
  ZEQ_EXPORT int32_t MB(FncArgList *args, FncString *result, ZeqStringService *svc, int32_t wide, const char *name) noexcept;
#define ZEQ_TWIN_SHAPE_Number(MB) \
  ZEQ_EXPORT int32_t MB(FncArgList *args, double *result, ZeqStringService *svc, int32_t wide, const char *name) noexcept;
// Declares the twin only when the row names one (MB_ENTRY left empty: none).
#define ZEQ_TWIN(RESULT, ...) __VA_OPT__(ZEQ_TWIN_SHAPE_##RESULT(__VA_ARGS__))

#define ZEQ_FUNCTION(NAME, SLOT, SLOT2, ENTRY, MB, RESULT, ...) ZEQ_ENTRY_SHAPE_##RESULT(ENTRY) ZEQ_TWIN(RESULT, MB)
#include "charfn/functions.def"
#undef ZEQ_FUNCTION
#undef ZEQ_TWIN
#undef ZEQ_TWIN_SHAPE_Char
#undef ZEQ_TWIN_SHAPE_Number

#undef ZEQ_ENTRY_SHAPE_Char
#undef ZEQ_ENTRY_SHAPE_Number
#undef ZEQ_ENTRY_SHAPE_Direct
#undef ZEQ_ENTRY_SHAPE_Routine
