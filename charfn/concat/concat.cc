// charfn/concat/concat.cc - CAT, CATT, CATS, CATB, CATC, CATX and CATM.
//
// One engine joins the items of a call; each entry is a row of the variant
// table below (trimming of items, separator, separator before empty items,
// in-place target).  Every entry has the shape (FncArgList*, FncString*) and
// returns FNC_RC_OK, FNC_RC_NOTE (result cut short, first cut argument
// marked) or FNC_RC_NOROOM (growing the result failed; nothing written).
//
// Result contract:
// - the result is sized first as ComputeLength does (extra per argument: the
//   separator's length), then filled up to its room (capacity when growable,
//   else maxLength); nothing is ever written past the room;
// - a separator or item that no longer fits is still counted in `needed`,
//   and nothing after it is written, so the result is a prefix of the full
//   concatenation holding at most the cut part of one item;
// - callForm 2 (the call-routine form) appends to the target argument (argument
//   1, or argument 2 after the separator of CATX/CATM), which the host also
//   passes as the result; the target's current value is trimmed first.
#include <cmath>
#include <cstring>

#include "charfn/concat/items.h"
#include "charfn/entries.h"
#include "core/frame.h"
#include "strkernel/short_copy.h"
#include "strkernel/strkernel.h"

namespace zeq::cat {

void format_number(FncArgList *args, double x, ItemText *out) {
  // Width 12 covers the ordinary magnitudes (and the missing value); very
  // large and very small magnitudes, zero included, get the widest width so
  // that the formatter can choose an exponent form.
  const double ax = std::fabs(x);
  const int32_t width = (x != x || (ax >= 0.0001 && ax <= 1e10)) ? 12 : 32;

  ZeqFmtRequest req;
  std::memset(&req, 0, sizeof req);
  double copy = x;
  // A formatter that writes nothing leaves blanks, which then drop away.
  std::memset(out->buf, ' ', sizeof out->buf);
  req.width = width;
  req.code = 99;
  req.value = &copy;
  req.value_size = 8;
  req.out = out->buf;
  req.width2 = width;
  req.task = args ? args->task : nullptr;
  zfmt(&req);

  int32_t produced = req.width;
  if (produced < 0) produced = 0;
  if (produced > 32) produced = 32;
  out->buf[produced] = '\0';  // stop byte
  int32_t lead = 0;
  while (lead < produced && out->buf[lead] == ' ') ++lead;
  out->data = out->buf + lead;
  out->length = produced - lead;
}

void item_text(FncArgList *args, const FncArg *g, Trim trim, ItemText *out) {
  out->data = nullptr;
  out->length = 0;
  if (!g || !g->value) return;
  if (g->type & FNC_ARG_NUMERIC) {
    format_number(args, *static_cast<const double *>(g->value), out);
    return;
  }
  if (!(g->type & FNC_ARG_ISCHAR)) return;
  const Span t = trimmed_text(static_cast<const FncString *>(g->value), trim);
  out->data = t.data;
  out->length = t.length;
}

}  // namespace zeq::cat

namespace {

using zeq::cat::ItemText;
using zeq::cat::sat_add;
using zeq::cat::Trim;

enum class Sep : uint8_t {
  None,   // items follow each other directly
  Fixed,  // a constant separator (CATB, CATC)
  Arg1,   // argument 1's whole value, blanks included (CATX, CATM)
};

struct Variant {
  const char *name;      // the name in messages 27, 28, 29
  Trim trim;             // trimming of each character item
  Sep sep;
  const char *fixed;     // Sep::Fixed: the separator
  int32_t fixed_length;
  bool sep_before_empty; // CATM: every item after the first gets a separator
  bool has_in_place;     // CAT has no call-routine form
  Trim target_trim;      // in-place: Trailing drops trailing blanks, Both left-justifies
};

constexpr Variant kCat{"CAT", Trim::None, Sep::None, nullptr, 0, false, false, Trim::None};
constexpr Variant kCatt{"CATT", Trim::Trailing, Sep::None, nullptr, 0, false, true, Trim::Trailing};
constexpr Variant kCats{"CATS", Trim::Both, Sep::None, nullptr, 0, false, true, Trim::Both};
constexpr Variant kCatb{"CATB", Trim::Both, Sep::Fixed, " ", 1, false, true, Trim::Both};
constexpr Variant kCatc{"CATC", Trim::Both, Sep::Fixed, ", ", 2, false, true, Trim::Both};
constexpr Variant kCatx{"CATX", Trim::Both, Sep::Arg1, nullptr, 0, false, true, Trim::Both};
constexpr Variant kCatm{"CATM", Trim::Both, Sep::Arg1, nullptr, 0, true, true, Trim::Both};

// Trims the in-place target's current value and returns its trimmed length.
// CATT keeps leading blanks; the others left-justify the value within its
// current length (wzstjls mode L blanks the bytes the text vacated).
int64_t trim_target(FncString *t, int64_t room, Trim how) {
  int64_t len = t->length;
  if (len > room) len = room;
  if (len > INT32_MAX) len = INT32_MAX;  // the text routines count in 32 bits
  if (len <= 0 || !t->data) return 0;
  if (how == Trim::Trailing) return wzstrip(t->data, static_cast<int32_t>(len));
  int32_t out_length = 0, out_start = 0;
  wzstjls(t->data, static_cast<int32_t>(len), 'L', &out_length, &out_start);
  return out_length > 0 ? out_length : 0;
}

// The separator of a call: the variant's fixed text, or argument 1 (its
// text, or a number's formatted text).  record is argument 1's string when
// that is the separator, so that its bytes can be found again after the
// result grew.  Answers the index of the first item.
struct Separator {
  const char *data = nullptr;
  int64_t length = 0;
  ItemText text;
  const FncString *record = nullptr;
};
int read_separator(FncArgList *args, const Variant &v, Separator *sep) {
  if (v.sep == Sep::Fixed) {
    sep->data = v.fixed;
    sep->length = v.fixed_length;
    return 0;
  }
  if (v.sep != Sep::Arg1) return 0;
  const FncArg *s = zeq::arg(args, 0);
  if (s && s->value && (s->type & FNC_ARG_ISCHAR)) {
    const auto *sv = static_cast<const FncString *>(s->value);
    if (sv->data && sv->length > 0) {
      sep->record = sv;
      sep->data = sv->data;
      sep->length = sv->length > INT32_MAX ? INT32_MAX : sv->length;
    }
  } else if (s && s->value && (s->type & FNC_ARG_NUMERIC)) {
    // A numeric separator is used as its formatted text.
    zeq::cat::format_number(args, *static_cast<const double *>(s->value), &sep->text);
    sep->data = sep->text.data;
    sep->length = sep->text.length;
  }
  return 1;
}

// The result as it is filled: bytes written, bytes the whole result needs,
// and whether an item was cut (only the first cut item is marked).
struct Filler {
  char *out;
  int64_t room, written, needed;
  bool cut = false;

  void put_separator(const Separator &sep) {
    needed = sat_add(needed, sep.length);
    if (needed <= room && sep.length > 0) {
      zeq::move_short(out + written, sep.data, sep.length);
      written += sep.length;
    }
  }

  void put_item(FncArg *g, const ItemText &t) {
    if (t.length <= 0) return;
    int64_t take = t.length;
    if (sat_add(needed, t.length) > room) {
      take = room > needed ? room - needed : 0;
      if (!cut) {
        cut = true;
        zeq::mark_bad(g);
      }
    }
    zeq::move_short(out + written, t.data, take);  // an item may be the target itself
    written += take;
    needed = sat_add(needed, t.length);
  }
};

// Whether a separator goes before an item whose text has `length` bytes,
// with `written` bytes already in the destination.
template <const Variant &v>
bool separator_before(bool first, bool in_place, int64_t length, int64_t written) {
  if (v.sep == Sep::None) return false;
  if (v.sep_before_empty) return !(first && !in_place);
  return length > 0 && written > 0;
}

// One pass over the arguments for two bounds.  `sizing` is the bound
// ComputeLength asks tkfncSetRetstg for: per present argument 12 for a
// number or the character value's length, plus the separator's length.
// `items` bounds the bytes the items from `first` on can add: each character
// item at its untrimmed length and a separator for every item; -1 when an
// item is a number (its text is only known once formatted).
struct Bounds {
  int64_t sizing = 0;
  int64_t items = 0;
};
// The sums are of non-negative terms in 128 bits, so clamping them at the end
// gives what adding with saturation at every step gives.
inline int64_t clamp64(unsigned __int128 x) { return x > INT64_MAX ? INT64_MAX : static_cast<int64_t>(x); }
Bounds bounds(const FncArgList *args, int first, int64_t sep_length) {
  unsigned __int128 sizing = 0, items = 0;
  bool number = false;
  for (int i = 0; i < args->argCount; ++i) {
    const FncArg &g = args->args[i];
    const bool is_number = g.value && (g.type & FNC_ARG_NUMERIC);
    const int64_t len = g.value ? zeq::sizing_length(g) : 0;
    if (g.value) sizing += static_cast<uint64_t>(len) + static_cast<uint64_t>(sep_length);
    if (i >= first) {
      items += static_cast<uint64_t>(len) + static_cast<uint64_t>(sep_length);
      number |= is_number;
    }
  }
  return {clamp64(sizing), number ? -1 : clamp64(items)};
}

// Sizes the destination as ComputeLength does with the bound above: a
// function-form call whose result cannot grow is left alone.
int32_t size_destination(const FncArgList *args, FncString *dest, int64_t bound) {
  if (zeq::result_fixed_by_call(args, dest)) return FNC_RC_OK;
  return tkfncSetRetstg(dest, bound);
}

// The items of a call whose bound fits the room, appended after `written`
// bytes with no room checks; answers the bytes written.
template <const Variant &v>
int64_t fill_whole(FncArgList *args, int first, const Separator &sep, bool in_place, char *out,
                   int64_t written) {
  const char *const sep_data = sep.data;  // locals: the stores below may alias `sep`
  const int64_t sep_length = sep.length;
  for (int i = first; i < args->argCount; ++i) {
    const FncArg &g = args->args[i];
    zeq::cat::Span t;
    if (g.value && (g.type & FNC_ARG_ISCHAR)) {
      t = zeq::cat::trimmed_text(static_cast<const FncString *>(g.value), v.trim);
    }
    if (separator_before<v>(i == first, in_place, t.length, written)) {
      zeq::move_short(out + written, sep_data, sep_length);
      written += sep_length;
    }
    zeq::move_short(out + written, t.data, t.length);  // an item may be the target itself
    written += t.length;
  }
  return written;
}

// One instance per variant, so that its choices fold away in the item loop.
template <const Variant &v>
int32_t concatenate(FncArgList *args, FncString *result) {
  if (!args) return FNC_RC_NOTE;
  Separator sep;
  int first_item = read_separator(args, v, &sep);

  // Destination: the result, or in the call-routine form the target.
  const bool in_place = v.has_in_place && args->callForm == FNC_FORM_CALL;
  FncString *dest = result;
  bool target_usable = false;
  if (in_place) {
    if (FncString *t = zeq::str_value(zeq::arg(args, first_item))) {
      dest = t;
      target_usable = true;
    }
    ++first_item;
  }
  if (!dest) return FNC_RC_NOTE;

  const Bounds bound = bounds(args, first_item, sep.length);
  const int32_t rc = size_destination(args, dest, bound.sizing);
  if (rc != FNC_RC_OK) return rc;
  // The separator may be the target itself (CATX(x, x, ...) in the call
  // form): growing the target moved its bytes, so read them where they are now.
  if (sep.record) {
    sep.data = sep.record->data;
    if (!sep.data) sep.length = 0;
  }

  const int64_t room = zeq::cat::usable_room(dest);
  int64_t old_length = dest->length;
  if (old_length < 0) old_length = 0;
  if (old_length > room) old_length = room;
  const int64_t kept = target_usable ? trim_target(dest, room, v.target_trim) : 0;
  Filler fill{dest->data, room, kept, kept};

  if (bound.items >= 0 && bound.items <= room - kept) {
    fill.written = fill.needed = fill_whole<v>(args, first_item, sep, in_place, fill.out, kept);
  } else {
    for (int i = first_item; i < args->argCount; ++i) {
      FncArg *g = &args->args[i];
      ItemText t;
      zeq::cat::item_text(args, g, v.trim, &t);
      if (separator_before<v>(i == first_item, in_place, t.length, fill.written)) fill.put_separator(sep);
      fill.put_item(g, t);
    }
  }

  dest->length = target_usable ? (fill.written > old_length ? fill.written : old_length) : fill.written;
  return zeq::short_result_note(args, v.name, fill.needed, room, in_place);
}

}  // namespace

// CAT: joins the items as they are, blanks included.  No in-place form: with
// callForm 2 it still writes the result record.
ZEQ_EXPORT int32_t fnccat(FncArgList *args, FncString *result) noexcept {
  return concatenate<kCat>(args, result);
}

// CATT: drops the trailing blanks of each character item.
ZEQ_EXPORT int32_t fnccatt(FncArgList *args, FncString *result) noexcept {
  return concatenate<kCatt>(args, result);
}

// CATS: drops the leading and trailing blanks of each character item.
ZEQ_EXPORT int32_t fnccats(FncArgList *args, FncString *result) noexcept {
  return concatenate<kCats>(args, result);
}

// CATB: as CATS, with one blank between non-empty items.
ZEQ_EXPORT int32_t fnccatb(FncArgList *args, FncString *result) noexcept {
  return concatenate<kCatb>(args, result);
}

// CATC: as CATS, with a comma and a blank between non-empty items.
ZEQ_EXPORT int32_t fnccatc(FncArgList *args, FncString *result) noexcept {
  return concatenate<kCatc>(args, result);
}

// CATX: argument 1 (verbatim, blanks included) separates the non-empty
// trimmed items that follow it.
ZEQ_EXPORT int32_t fnccatx(FncArgList *args, FncString *result) noexcept {
  return concatenate<kCatx>(args, result);
}

// CATM: as CATX, but empty items keep their separators.
ZEQ_EXPORT int32_t fnccatm(FncArgList *args, FncString *result) noexcept {
  return concatenate<kCatm>(args, result);
}

// No-op entry of the function table.
ZEQ_EXPORT int32_t fnccatn(FncArgList *args, FncString *result) noexcept { return FNC_RC_OK; }
