// module/function_table.cc - the module's function table and zeqwucha.
//
// The host calls zeqwucha once per load and receives a block of 44 pointer
// slots from its global pool.  Slot 0 and slots 41 to 43 are never written
// (the pool hands out zero-filled blocks, so they read as null); slots 1 to
// 40 hold the character functions in the order of the host's names for them.
// Eight concatenation entries and the quoted-string scan fill two
// consecutive slots with the same function: the host picks the slot, and the
// function behaves the same from either.
//
// Every entry is referenced weakly: a build that lacks a family still loads,
// and its slots stay null.  All table entries take two pointers and return a
// 32-bit status (character result, numeric result, or one character argument
// passed directly), so one pointer type covers every row.
#include <iterator>

#include "module/entry.h"

#define ZEQ_WEAK_ENTRY(name) __attribute__((weak)) int32_t name(void *, void *)

extern "C" {
ZEQ_WEAK_ENTRY(fncanyfirst);
ZEQ_WEAK_ENTRY(fncanyname);
ZEQ_WEAK_ENTRY(fnccat);
ZEQ_WEAK_ENTRY(fnccatb);
ZEQ_WEAK_ENTRY(fnccatc);
ZEQ_WEAK_ENTRY(fnccatm);
ZEQ_WEAK_ENTRY(fnccatn);
ZEQ_WEAK_ENTRY(fnccatq);
ZEQ_WEAK_ENTRY(fnccats);
ZEQ_WEAK_ENTRY(fnccatt);
ZEQ_WEAK_ENTRY(fnccatx);
ZEQ_WEAK_ENTRY(fncchar);
ZEQ_WEAK_ENTRY(fncomcos);
ZEQ_WEAK_ENTRY(fncomged);
ZEQ_WEAK_ENTRY(fncomlev);
ZEQ_WEAK_ENTRY(fnccouc);
ZEQ_WEAK_ENTRY(fnccouq);
ZEQ_WEAK_ENTRY(fnccouw);
ZEQ_WEAK_ENTRY(fncfind);
ZEQ_WEAK_ENTRY(fncfndc);
ZEQ_WEAK_ENTRY(fncfndl);
ZEQ_WEAK_ENTRY(fncfndw);
ZEQ_WEAK_ENTRY(fncfirst);
ZEQ_WEAK_ENTRY(fncndxt);
ZEQ_WEAK_ENTRY(fncninv);
ZEQ_WEAK_ENTRY(fncnlit);
ZEQ_WEAK_ENTRY(fncnotfirst);
ZEQ_WEAK_ENTRY(fncnotname);
ZEQ_WEAK_ENTRY(fncnval);
ZEQ_WEAK_ENTRY(fncscnq);
ZEQ_WEAK_ENTRY(fncsubp);
}

namespace zeq {

#define FUNCTION(slot, entry) {slot, #entry, entry}

// clang-format off
const TableRow function_table[] = {
  /* slot  entry            host function                        */
  FUNCTION( 1, fncanyfirst), /* ANYFIRST: first valid name start  */
  FUNCTION( 2, fncanyname),  /* ANYNAME: first valid name char    */
  FUNCTION( 3, fnccat),      /* CAT                               */
  FUNCTION( 4, fnccatb),     /* CATB                              */
  FUNCTION( 5, fnccatb),     /* CATB                              */
  FUNCTION( 6, fnccatc),     /* CATC                              */
  FUNCTION( 7, fnccatc),     /* CATC                              */
  FUNCTION( 8, fnccatm),     /* CATM                              */
  FUNCTION( 9, fnccatm),     /* CATM                              */
  FUNCTION(10, fnccatn),     /* no-op entry                       */
  FUNCTION(11, fnccatn),     /* no-op entry                       */
  FUNCTION(12, fnccatq),     /* CATQ                              */
  FUNCTION(13, fnccatq),     /* CATQ                              */
  FUNCTION(14, fnccats),     /* CATS                              */
  FUNCTION(15, fnccats),     /* CATS                              */
  FUNCTION(16, fnccatt),     /* CATT                              */
  FUNCTION(17, fnccatt),     /* CATT                              */
  FUNCTION(18, fnccatx),     /* CATX                              */
  FUNCTION(19, fnccatx),     /* CATX                              */
  FUNCTION(20, fncchar),     /* CHAR: one character at a position */
  FUNCTION(21, fncomcos),    /* COMPCOST                          */
  FUNCTION(22, fncomged),    /* COMPGED                           */
  FUNCTION(23, fncomlev),    /* COMPLEV                           */
  FUNCTION(24, fnccouc),     /* COUNTC                            */
  FUNCTION(25, fnccouq),     /* quoted-word count                 */
  FUNCTION(26, fnccouw),     /* COUNTW                            */
  FUNCTION(27, fncfind),     /* FIND                              */
  FUNCTION(28, fncfndc),     /* FINDC                             */
  FUNCTION(29, fncfndl),     /* FINDLEV                           */
  FUNCTION(30, fncfndw),     /* FINDW                             */
  FUNCTION(31, fncfirst),    /* FIRST                             */
  FUNCTION(32, fncndxt),     /* position of a text in a text      */
  FUNCTION(33, fncninv),     /* name test                         */
  FUNCTION(34, fncnlit),     /* name-literal quoting              */
  FUNCTION(35, fncnotfirst), /* NOTFIRST                          */
  FUNCTION(36, fncnotname),  /* NOTNAME                           */
  FUNCTION(37, fncnval),     /* name validity test                */
  FUNCTION(38, fncscnq),     /* quoted-word scan                  */
  FUNCTION(39, fncscnq),     /* quoted-word scan                  */
  FUNCTION(40, fncsubp),     /* SUBPAD                            */
};
// clang-format on

#undef FUNCTION

const int function_table_rows = static_cast<int>(std::size(function_table));

static_assert(std::size(function_table) == 40, "slots 1 to 40, one row each");

}  // namespace zeq

extern "C" ZEQ_EXPORT void **zeqwucha(void) {
  ZeqControlBlock *cb = v_global_gcb_anchor;
  ZeqPool *pool = cb ? cb->global_pool : nullptr;
  if (!pool || !pool->alloc) return nullptr;
  auto **table = static_cast<void **>(pool->alloc(pool, ZEQ_TABLE_BYTES, ZEQ_FLAGS_ZERO));
  if (!table) return nullptr;
  for (const zeq::TableRow &row : zeq::function_table)
    table[row.slot] = reinterpret_cast<void *>(row.entry);
  return table;
}
