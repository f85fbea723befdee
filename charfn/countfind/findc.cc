// charfn/countfind/findc.cc - FINDC(string [, character-list] [, modifiers]
// [, start]): the 1-based position of the first byte of a string that
// belongs to a set (the listed bytes plus the classes that modifiers add),
// or 0.
//
// The modifiers and the start may come in either order.  With four
// arguments: a numeric argument 3 is the start and argument 4 (which must not
// be numeric) the modifiers; a character argument 3 is the modifiers and
// argument 4 must be numeric.  Otherwise argument 4 is marked and the call
// answers FNC_RC_NOTE.  The start follows FIND (charfn/countfind/find.cc):
// missing gives the missing value and FNC_RC_MISSING, beyond the length 0,
// s >= 1 searches from trunc(s) on, s < 1 searches the first trunc(-s) bytes
// right to left.
//
// Modifiers: the class letters of COUNTC, B (right to left; with a positive
// start from the end of the string down to the start), I (both case forms of
// the list), K or V (a byte outside the set), T (trailing blanks of the
// searched part and of the list), O (keep the table, the direction and T for
// the call site in the four caching environments; a call served from the
// cache reads neither list nor modifiers, and searches its part of the
// string, as its own start fixes it, in the cached direction).  Anything
// else but a blank is reported with message 6 and skipped.
#include <cstring>

#include "charfn/countfind/countfind.h"
#include "charfn/entries.h"
#include "charfn/words/words.h"

using namespace zeq::args;

using namespace zeq::countfind;

namespace {

// First (or last) byte of s[lo, hi) in the set, as a 1-based position.
double scan_part(const Bytes &s, const Part &part, const uint8_t *table, bool rtl) {
  if (part.hi <= part.lo) return 0;
  ByteSet set;
  make_set(&set, table);
  const Kernels &k = kernels();
  const int64_t at = rtl ? k.last_set(s.p + part.lo, part.hi - part.lo, &set)
                         : k.first_set(s.p + part.lo, part.hi - part.lo, &set);
  return at < 0 ? 0.0 : static_cast<double>(part.lo + at + 1);
}

// FINDC with the list alone (one or two arguments): no table needed for a
// one-byte list.
double find_in_list(const Bytes &s, const Bytes &list) {
  int64_t at = -1;
  if (list.n == 1) {
    const void *hit = std::memchr(s.p, list.p[0], static_cast<size_t>(s.n));
    at = hit ? static_cast<const uint8_t *>(hit) - s.p : -1;
  } else if (list.n > 1) {
    uint8_t table[256] = {};
    zeq::words::add_list(table, reinterpret_cast<const char *>(list.p), list.n, false);
    ByteSet set;
    make_set(&set, table);
    at = kernels().first_set(s.p, s.n, &set);
  }
  return at < 0 ? 0.0 : static_cast<double>(at + 1);
}

// Arguments 3 and 4: a third alone is the modifiers when character, else the
// start; with four, one must be numeric (the start) and the other not (the
// modifiers), else argument 4 is marked and the call answers FNC_RC_NOTE
// (false here).
bool sort_mods_and_start(FncArgList *args, FncArg **mods, FncArg **start) {
  FncArg *g3 = zeq::arg(args, 2);
  if (args->argCount == 3) {
    (zeq::is_char(g3) ? *mods : *start) = g3;
    return true;
  }
  FncArg *g4 = zeq::arg(args, 3);
  const bool g3_char = zeq::is_char(g3);
  if (g3_char ? !zeq::is_num(g4) : zeq::is_num(g4)) {
    zeq::mark_bad(g4);
    return false;
  }
  *mods = g3_char ? g3 : g4;
  *start = g3_char ? g4 : g3;
  return true;
}

// The set of a call from its modifiers and list, kept for the call site with
// O in a caching environment (FNC_RC_NOROOM when the block cannot be had).
int32_t build_set(FncArgList *args, const Bytes &s, Bytes list, const FncArg *mods, Part *part,
                  bool *rtl, uint8_t table[256]) {
  bool fold = false, keep = false, trim = false, outside = false;
  const Bytes m = bytes_of(mods);
  zeq::read_byte_modifiers(m.p, m.n, "FINDC", [&](uint8_t letter) {
    if (zeq::words::add_class(table, letter)) return true;
    switch (letter) {
      case 'B': *rtl = true; return true;
      case 'I': fold = true; return true;
      case 'K':
      case 'V': outside = true; return true;
      case 'O': keep = true; return true;
      case 'T':
        trim = true;
        part->hi = part->lo + zeq::trailing_trimmed(s.p + part->lo, part->hi - part->lo);
        list.n = zeq::trailing_trimmed(list.p, list.n);
        return true;
      default: return false;
    }
  });
  zeq::words::add_list(table, reinterpret_cast<const char *>(list.p), list.n, fold);
  if (outside) zeq::words::invert(table);
  if (!keep || !caching_environment(args)) return FNC_RC_OK;
  auto *block = static_cast<FindcCache *>(
      zeq::task_alloc(zeq::current_task(args), sizeof(FindcCache), ZEQ_FLAGS_CACHE));
  if (!block) return FNC_RC_NOROOM;
  block->rtl = *rtl ? 1 : 0;
  block->T = trim ? 1 : 0;
  std::memcpy(block->table, table, 256);
  set_site_cache(args, block);
  return FNC_RC_OK;
}

}  // namespace

ZEQ_EXPORT int32_t fncfndc(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  if (ZeqStringService *svc = CheckVarcharAndMultibyte(args))
    return FINDC_FUNCTION(args, result, svc, 0, "FINDC");

  const Bytes s = bytes_of(zeq::arg(args, 0));
  if (s.n == 0) {
    answer(result, 0);
    return FNC_RC_OK;
  }
  const Bytes list = args->argCount >= 2 ? bytes_of(zeq::arg(args, 1)) : Bytes{};
  if (args->argCount <= 2) {
    answer(result, find_in_list(s, list));
    return FNC_RC_OK;
  }

  FncArg *mods = nullptr, *start = nullptr;
  if (!sort_mods_and_start(args, &mods, &start)) return FNC_RC_NOTE;
  Part part;
  StartRule rule;
  int32_t rc;
  if (!start_leaves_search(start, s.n, &part, &rule, result, &rc)) return rc;
  bool rtl = rule == StartRule::Prefix;

  if (const auto *cache = static_cast<const FindcCache *>(site_cache(args))) {
    rtl = cache->rtl != 0;
    if (cache->T == 1) part.hi = part.lo + zeq::trailing_trimmed(s.p + part.lo, part.hi - part.lo);
    answer(result, scan_part(s, part, cache->table, rtl));
    return FNC_RC_OK;
  }

  uint8_t table[256] = {};
  if ((rc = build_set(args, s, list, mods, &part, &rtl, table)) != FNC_RC_OK) return rc;
  answer(result, scan_part(s, part, table, rtl));
  return FNC_RC_OK;
}

// Multibyte route: roles source 1, character list 2 when argument 2 has a
// value; a third argument alone takes the start role when numeric and the
// modifiers role otherwise; with four, the type rule of the byte route.  Then
// COUNTC_COMMON with kind 2.  One argument answers 0.
ZEQ_EXPORT int32_t FINDC_FUNCTION(FncArgList *args, double *result, ZeqStringService *svc,
                                  int32_t wide, const char *name) noexcept {
  if (!args) return FNC_RC_NOTE;
  int32_t roles[ROLE_COUNT] = {1, 0, 0, 0, 0, 0, 0};
  const FncArg *list = zeq::arg(args, 1);
  if (list && list->value) roles[ROLE_CHARLIST] = 2;
  FncArg *g3 = zeq::arg(args, 2), *g4 = zeq::arg(args, 3);
  if (args->argCount == 3) {
    roles[zeq::is_num(g3) ? ROLE_START : ROLE_MODIFIERS] = 3;
  } else if (args->argCount >= 4) {
    if (zeq::is_char(g3) ? !zeq::is_num(g4) : zeq::is_num(g4)) {
      zeq::mark_bad(g4);
      return FNC_RC_NOTE;
    }
    roles[ROLE_START] = zeq::is_char(g3) ? 4 : 3;
    roles[ROLE_MODIFIERS] = zeq::is_char(g3) ? 3 : 4;
  }
  if (args->argCount <= 1) {
    answer(result, 0);
    return FNC_RC_OK;
  }
  return COUNTC_COMMON(args, result, svc, wide, roles, KIND_FIND, name ? name : "FINDC");
}
