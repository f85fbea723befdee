// charfn/words/quoted.cc - the quoted-word scan (fncscnq) and count
// (fnccouq): the older word functions in which quoted text always stays
// whole.
//
// Scan, function form (callForm other than 2): (string, n <, delimiters>)
// answers the n-th word, quotes kept.  Call form (callForm 2): (string, n,
// position, length <, delimiters>) stores the word's 1-based byte position
// and length.  A negative n counts from the right; n = 0 answers an empty
// word.  Count: (string <, delimiters>) answers the number of words.
//
// Words are maximal runs of non-delimiters in which a quote runs on to the
// next quote of its kind (SCAN's Q without M).  Without a list the
// delimiters are the white-space bytes of the host's class table; a list
// may not hold a quote character (message 80).
//
// In the limited environments the list's table is kept for the call site in
// a block addressed by FncArgList.noteCount: 256 table bytes, the list's
// length (32 bits), then the list itself.  Elsewhere the table lives in the
// thread's scratch allocator (or the task's pool) for the call only.
#include <cstring>
#include <optional>

#include "charfn/entries.h"
#include "charfn/words/delims.h"
#include "core/messages.h"
#include "core/scratch.h"

using namespace zeq::words;

namespace {

constexpr uint32_t kListCacheFlags = 8192;
constexpr int64_t kListCacheHeader = 264;  // table, length, slack before the list bytes

struct ListCache {
  uint8_t table[kTableSize];
  int32_t length;
  char list[4];  // the list's bytes run on past the record
};
static_assert(sizeof(ListCache) == 264, "list cache header");

// The first quote character of a list, or 0.
int first_quote(const char *list, int64_t length) {
  for (int64_t i = 0; i < length; i++)
    if (list[i] == '"' || list[i] == '\'') return list[i];
  return 0;
}

void fill_table(uint8_t *table, const char *list, int64_t length) {
  std::memset(table, 0, kTableSize);
  add_list(table, list, length, false);
}

enum class ListStatus { Ok, Quote, NoRoom };

// Finds the delimiter table of a call with a list: the call-site cache when
// the environment keeps one, else `lease`.  A list that holds a quote is
// reported with message 80 and never cached.
ListStatus list_table(FncArgList *args, const FncString *list, std::optional<zeq::ThreadScratch> *lease,
                      const uint8_t **out) {
  const char *data = (list->data && list->length > 0) ? list->data : "";
  const int64_t length = (list->data && list->length > 0) ? list->length : 0;
  const bool limited = FNC_KIND_IS_LIMITED(args->resultKind) && length <= 0x7FFFFFFF - kListCacheHeader;

  if (limited && args->noteCount != 0) {
    auto *c = reinterpret_cast<ListCache *>(static_cast<uintptr_t>(args->noteCount));
    if (c->length == length && std::memcmp(c->list, data, static_cast<size_t>(length)) == 0) {
      *out = c->table;
      return ListStatus::Ok;
    }
  }
  if (const int q = first_quote(data, length)) {
    xpmlog(FNC_MSG_SET, zeq::msg::kQuoteInList, q == '"' ? 39 : 34, static_cast<i64>(length));
    return ListStatus::Quote;
  }
  if (!limited) {
    // The thread's scratch arena when it has one, else the task's pool.
    FncTask *task = zeq::ThreadArena::of(nullptr) ? nullptr : zeq::current_task(args);
    uint8_t *table = static_cast<uint8_t *>(lease->emplace(task).alloc(kTableSize, ZEQ_FLAGS_ZERO));
    if (!table) return ListStatus::NoRoom;
    fill_table(table, data, length);
    *out = table;
    return ListStatus::Ok;
  }

  FncTask *task = zeq::current_task(args);
  auto *c = reinterpret_cast<ListCache *>(static_cast<uintptr_t>(args->noteCount));
  if (!c) {
    c = static_cast<ListCache *>(zeq::task_alloc(task, kListCacheHeader + length, kListCacheFlags));
    if (!c) return ListStatus::NoRoom;
  } else if (c->length != length) {
    ZeqPool *pool = task ? task->pool : nullptr;
    if (!pool) return ListStatus::NoRoom;
    void *grown = xmrealc(pool, c, kListCacheHeader + c->length, kListCacheHeader + length, 0);
    if (!grown) return ListStatus::NoRoom;
    c = static_cast<ListCache *>(grown);
  }
  args->noteCount = static_cast<int64_t>(reinterpret_cast<uintptr_t>(c));
  fill_table(c->table, data, length);
  c->length = static_cast<int32_t>(length);
  if (length > 0) std::memcpy(c->list, data, static_cast<size_t>(length));
  *out = c->table;
  return ListStatus::Ok;
}

// The white-space table of the host's class table (quotes never delimit).
void whitespace_table(uint8_t *table) {
  const uint8_t *cls = zeq::class_table();
  for (int b = 0; b < kTableSize; b++) table[b] = (cls[b] & ZEQ_CLASS_SPACE) ? 1 : 0;
  clear_quotes(table);
}

// The delimiter table of a quoted-word call into *table: the list argument
// `list_index` through list_table, or without that argument the white-space
// table written into `spaces`.
ListStatus delimiter_table(FncArgList *args, int list_index, std::optional<zeq::ThreadScratch> *lease, uint8_t *spaces,
                           const uint8_t **table) {
  const FncString *list = zeq::str_value(zeq::arg(args, list_index));
  if (list) return list_table(args, list, lease, table);
  whitespace_table(spaces);
  *table = spaces;
  return ListStatus::Ok;
}

// A word number of the quoted scan: present, not missing, whole, inside the
// signed 32-bit range (0 allowed).
bool quoted_word_number(const FncArg *g, int64_t *n) {
  const double *v = zeq::num_value(g);
  if (!v) return false;
  const double x = *v;
  if (!(x >= -2147483648.0 && x <= 2147483647.0)) return false;
  const auto whole = static_cast<int64_t>(x);
  if (static_cast<double>(whole) != x) return false;
  *n = whole;
  return true;
}

double *numeric_target(FncArgList *args, int index) {
  FncArg *g = zeq::arg(args, index);
  if (!g || !(g->type & FNC_ARG_NUMERIC) || !g->value) return nullptr;
  return static_cast<double *>(g->value);
}

void set_targets(FncArgList *args, double position, double length) {
  if (double *p = numeric_target(args, 2)) *p = position;
  if (double *l = numeric_target(args, 3)) *l = length;
}

}  // namespace

ZEQ_EXPORT int32_t fncscnq(FncArgList *args, FncString *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  const bool call_form = args->callForm == FNC_FORM_CALL;
  auto empty = [&] {
    if (!call_form && result) result->length = 0;
  };
  auto bad = [&](int culprit) {
    zeq::mark_bad(zeq::arg(args, culprit));
    if (call_form)
      set_targets(args, zeq::missing_value(), zeq::missing_value());
    else
      empty();
    return FNC_RC_NOTE;
  };

  int64_t n = 0;
  if (!quoted_word_number(zeq::arg(args, 1), &n)) return bad(1);
  if (n == 0) {
    if (call_form)
      set_targets(args, 0, 0);
    else
      empty();
    return FNC_RC_OK;
  }

  std::optional<zeq::ThreadScratch> lease;
  uint8_t spaces[kTableSize];
  const uint8_t *table = nullptr;
  const int list_index = call_form ? 4 : 2;
  switch (delimiter_table(args, list_index, &lease, spaces, &table)) {
    case ListStatus::Quote: return bad(list_index);
    case ListStatus::NoRoom: return FNC_RC_NOROOM;
    case ListStatus::Ok: break;
  }

  const char *src;
  int64_t src_length;
  zeq::text_or_empty(args, 0, &src, &src_length);
  const ByteText text{reinterpret_cast<const uint8_t *>(src), src_length, table, false, true};
  const WordSpan w = find_word(text, n < 0 ? -n : n, n < 0);

  if (call_form) {
    if (w.found)
      set_targets(args, static_cast<double>(w.offset + 1), static_cast<double>(w.length));
    else
      set_targets(args, 0, 0);
    return FNC_RC_OK;
  }
  if (!result) return FNC_RC_OK;
  if (!w.found || w.length == 0) {
    result->length = 0;
    return FNC_RC_OK;
  }
  const int32_t rc = tkfncSetRetstg(result, w.length);
  if (rc != FNC_RC_OK) return rc;
  int64_t room = zeq::result_room(result);
  if (room > result->maxLength) room = result->maxLength;
  const int64_t copy = w.length < room ? w.length : room;
  if (copy > 0 && result->data) {
    std::memcpy(result->data, src + w.offset, static_cast<size_t>(copy));
    result->length = copy;
  } else {
    result->length = 0;
  }
  return FNC_RC_OK;
}

ZEQ_EXPORT int32_t fnccouq(FncArgList *args, double *result) noexcept {
  if (!args) return FNC_RC_NOTE;
  std::optional<zeq::ThreadScratch> lease;
  uint8_t spaces[kTableSize];
  const uint8_t *table = nullptr;
  switch (delimiter_table(args, 1, &lease, spaces, &table)) {
    case ListStatus::Quote:
      zeq::mark_bad(zeq::arg(args, 1));
      return FNC_RC_NOTE;
    case ListStatus::NoRoom: return FNC_RC_NOROOM;
    case ListStatus::Ok: break;
  }
  const char *src;
  int64_t src_length;
  zeq::text_or_empty(args, 0, &src, &src_length);
  const ByteText text{reinterpret_cast<const uint8_t *>(src), src_length, table, false, true};
  if (result) *result = static_cast<double>(count_words(text, false));
  return FNC_RC_OK;
}
