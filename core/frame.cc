// core/frame.cc - the call frame every character function shares: result
// sizing (ComputeLength, tkfncSetRetstg), the short-result note of the
// concatenation functions, the invalid-modifier message, and null-safe
// access to the host's tables and services.
#include <cstring>
#include <limits>

#include "core/frame.h"
#include "core/messages.h"

namespace {

constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();

// Saturating addition for length bounds: lengths never wrap.
int64_t add_sat(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? kI64Max : std::numeric_limits<int64_t>::min();
  return r;
}

// ---------------------------------------------------------------------------
// Built-in Latin-1 byte tables, used when the control block offers none.
// Upper/lower case follow ISO 8859-1: a-z and U+00E0..U+00FE (without
// U+00F7) have upper-case partners 0x20 below; U+00DF and U+00FF have none.
// ---------------------------------------------------------------------------
constexpr bool latin1_upper(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}
constexpr bool latin1_lower(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7);
}

struct ByteTable {
  uint8_t v[256];
};

constexpr ByteTable make_upcase() {
  ByteTable t{};
  for (int c = 0; c < 256; c++) {
    bool has_partner = latin1_lower(c) && c != 0xDF && c != 0xFF;
    t.v[c] = static_cast<uint8_t>(has_partner ? c - 0x20 : c);
  }
  return t;
}

constexpr ByteTable make_lowcase() {
  ByteTable t{};
  for (int c = 0; c < 256; c++) t.v[c] = static_cast<uint8_t>(latin1_upper(c) ? c + 0x20 : c);
  return t;
}

constexpr ByteTable make_class() {
  ByteTable t{};
  for (int c = 0; c < 256; c++) {
    uint8_t bits = 0;
    if (latin1_upper(c)) bits |= ZEQ_CLASS_UPPER;
    if (latin1_lower(c)) bits |= ZEQ_CLASS_LOWER;
    if (c >= '0' && c <= '9') bits |= ZEQ_CLASS_DIGIT | ZEQ_CLASS_XDIGIT;
    if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) bits |= ZEQ_CLASS_XDIGIT;
    if ((c >= 9 && c <= 13) || c == ' ' || c == 0xA0) bits |= ZEQ_CLASS_SPACE;
    if (c == ' ' || c == 0xA0) bits |= 0x20;  // blank: printable but not graphic
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) bits |= ZEQ_CLASS_CONTROL;
    bool ascii_punct = (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) ||
                       (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
    bool latin1_symbol = (c >= 0xA1 && c <= 0xBF) || c == 0xD7 || c == 0xF7;
    if (ascii_punct || latin1_symbol) bits |= ZEQ_CLASS_PUNCT;
    t.v[c] = bits;
  }
  return t;
}

constexpr ByteTable kUpcase = make_upcase();
constexpr ByteTable kLowcase = make_lowcase();
constexpr ByteTable kClass = make_class();

static_assert(kUpcase.v[uint8_t{'a'}] == 'A' && kUpcase.v[0xE9] == 0xC9 && kUpcase.v[0xFF] == 0xFF);
static_assert(kLowcase.v[uint8_t{'Z'}] == 'z' && kLowcase.v[0xD7] == 0xD7);

}  // namespace

// ---------------------------------------------------------------------------
// Result sizing.
// ---------------------------------------------------------------------------

// Makes sure a growable result can hold `needed` bytes.  A fixed result
// (no allocator) gets capacity = maxLength.  A growable one never shrinks;
// it grows to the next multiple of 1024 at or above the need, clamped to
// maxLength.  When the host's resize fails the record is left with the new
// capacity and a null data, and the caller must return FNC_RC_NOROOM at
// once.  A record left in that state (null data) is never taken as big
// enough: the next sizing asks the host for a block again instead of
// letting a function write through the null pointer.
ZEQ_EXPORT int32_t tkfncSetRetstg(FncString *result, int64_t needed) {
  if (!result) return FNC_RC_OK;
  if (zeq::sized_without_growing(result, needed)) return FNC_RC_OK;
  if (needed > result->maxLength) needed = result->maxLength;

  int64_t size = needed;
  if (size % 1024 != 0) size = (size > kI64Max - 1023) ? kI64Max : (size / 1024 + 1) * 1024;
  if (size > result->maxLength) size = result->maxLength;

  FncStringAllocator *grower = result->allocator;
  result->capacity = size;
  result->data = grower->resize
                     ? static_cast<char *>(grower->resize(grower, result->data, size, ZEQ_RESIZE_FLAGS))
                     : nullptr;
  return result->data ? FNC_RC_OK : FNC_RC_NOROOM;
}

// Upper bound of a concatenation result: per present argument, 12 for a
// number or the character value's length, plus `extra`; then sizes the
// result.  Nothing to size for a null result, or for a function-form call
// whose result cannot grow.
ZEQ_EXPORT int32_t ComputeLength(FncArgList *args, FncString *result, int32_t extra) {
  if (!result) return FNC_RC_OK;
  if (zeq::result_fixed_by_call(args, result)) return FNC_RC_OK;

  int64_t needed = 0;
  int count = args ? args->argCount : 0;
  for (int i = 0; i < count; i++) {
    const FncArg &a = args->args[i];
    if (!a.value) continue;
    needed = add_sat(needed, zeq::sizing_length(a));
    needed = add_sat(needed, extra);
  }
  if (needed < 0) needed = 0;
  return tkfncSetRetstg(result, needed);
}

// Catalogue message 6: the modifier character `modifier` is not valid in
// `function`.  The character goes to the host as an int holding its byte.
ZEQ_EXPORT void printBadmodLog(const char *function, int modifier) {
  xpmlog(FNC_MSG_SET, zeq::msg::kBadModifier, function ? function : "", static_cast<int>(static_cast<uint8_t>(modifier)));
}

namespace zeq {

double missing_value() {
  uint64_t bits = FNC_MISSING_BITS;
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// needed <= room: nothing to say.  In the limited environments the call
// site's noteCount counts short results: the first five are reported, the
// fifth with the closing message 29, and later ones stay silent.  Elsewhere
// every short result is reported and noteCount is left alone.
int32_t short_result_note(FncArgList *args, const char *function, int64_t needed, int64_t room,
                          bool in_place) {
  if (needed <= room) return FNC_RC_OK;
  int64_t count = 0;
  if (args && FNC_KIND_IS_LIMITED(args->resultKind)) {
    count = add_sat(args->noteCount, 1);
    args->noteCount = count;
    if (count > 5) return FNC_RC_NOTE;
  }
  const char *name = function ? function : "";
  xpmlog(FNC_MSG_SET, in_place ? zeq::msg::kShortInPlace : zeq::msg::kShortResult, name, static_cast<i64>(needed), static_cast<i64>(room));
  if (count == 5) xpmlog(FNC_MSG_SET, zeq::msg::kShortNotesEnd, name);
  return FNC_RC_NOTE;
}

const uint8_t *upcase_table() {
  ZeqControlBlock *cb = v_global_gcb_anchor;
  return (cb && cb->upcase) ? cb->upcase : kUpcase.v;
}

const uint8_t *lowcase_table() {
  ZeqControlBlock *cb = v_global_gcb_anchor;
  return (cb && cb->lowcase) ? cb->lowcase : kLowcase.v;
}

const uint8_t *class_table() {
  ZeqControlBlock *cb = v_global_gcb_anchor;
  return (cb && cb->charclass) ? cb->charclass : kClass.v;
}

ZeqLogger *journal() { return Exported_TKHandle ? Exported_TKHandle->journal : nullptr; }

ZeqNameValueStore *nv_store() { return Exported_TKHandle ? Exported_TKHandle->store : nullptr; }

ZeqSessionEncoding *session_encoding() {
  return Exported_TKHandle ? Exported_TKHandle->encoding : nullptr;
}

void *task_alloc(FncTask *task, uint64_t size, uint32_t flags) {
  ZeqPool *pool = task ? task->pool : nullptr;
  if (!pool || !pool->alloc) return nullptr;
  return pool->alloc(pool, size, flags);
}

void task_release(FncTask *task, void *block) {
  ZeqPool *pool = task ? task->pool : nullptr;
  if (!block || !pool || !pool->release) return;
  pool->release(pool, block);
}

}  // namespace zeq
