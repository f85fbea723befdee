// charfn/compare/compcost.cc - CALL COMPCOST('operation', value
// [, 'operation', value ...]): sets the task's COMPGED costs.
//
// Every call starts the table afresh (entries unset, MATCH 0), so operations
// that the latest call does not name fall back to their defaults or stay
// unset.  An operation is named by its first letter and any prefix of the
// rest of its name (case and blanks do not matter, a trailing "=" is
// dropped); D, F and S begin several names and are tried in a fixed order.
// Any error marks the argument, leaves entry 0 at 4294967295 so that COMPGED
// refuses the table until a later call succeeds, and answers FNC_RC_NOTE.

#include <cmath>
#include <initializer_list>

#include "charfn/args/modifiers.h"
#include "charfn/compare/edit_costs.h"
#include "charfn/entries.h"
#include "core/frame.h"
#include "task/task_context.h"


namespace zeq::cmp {

const int64_t defcost[COST_ENTRIES] = {
    10,   // least
    100,  // INSERT
    100,  // DELETE
    100,  // REPLACE
    200,  // FINSERT
    200,  // FDELETE
    200,  // FREPLACE
    50,   // APPEND
    10,   // TRUNCATE
    20,   // DOUBLE
    20,   // SINGLE
    20,   // SWAP
    10,   // BLANK
    30,   // PUNCTUATION
    0,    // MATCH
};

}  // namespace zeq::cmp

namespace {

using namespace zeq::cmp;

struct OpName {
  char first;
  const char *rest;  // the name after its first letter
  int entry;
};

// Names sharing a first letter stand in the order they are tried.
constexpr OpName kOps[] = {
    {'A', "PPEND", COST_APPEND},     {'B', "LANK", COST_BLANK},
    {'D', "ELETE", COST_DELETE},     {'D', "OUBLE", COST_DOUBLE},
    {'F', "INSERT", COST_FINSERT},   {'F', "DELETE", COST_FDELETE},
    {'F', "REPLACE", COST_FREPLACE}, {'I', "NSERT", COST_INSERT},
    {'M', "ATCH", COST_MATCH},       {'P', "UNCTUATION", COST_PUNCT},
    {'R', "EPLACE", COST_REPLACE},   {'S', "INGLE", COST_SINGLE},
    {'S', "WAP", COST_SWAP},         {'T', "RUNCATE", COST_TRUNCATE},
};

// Whether text (after the first letter) spells a prefix of rest: blanks are
// skipped anywhere, letters compare after upper-casing, and whatever follows
// the complete name is ignored.
bool fits(const uint8_t *text, int64_t n, const char *rest, const uint8_t *up) {
  int64_t k = 0;
  for (int64_t i = 0; i < n; i++) {
    if (rest[k] == 0) return true;
    if (text[i] == ' ') continue;
    if (up[text[i]] != (uint8_t)rest[k]) return false;
    k++;
  }
  return true;
}

// Resolves an operation text to its table entry; -1 when it names none
// (message 39) or is one of the ambiguous letters D, F, S alone.
int resolve_operation(const uint8_t *s, int64_t n, const uint8_t *up) {
  while (n > 0 && s[0] == ' ') {
    s++;
    n--;
  }
  while (n > 0 && s[n - 1] == ' ') n--;
  if (n > 0 && s[n - 1] == '=') n--;
  if (n <= 0) return -1;
  const uint8_t first = up[s[0]];
  bool rest_blank = true;
  for (int64_t i = 1; i < n; i++)
    if (s[i] != ' ') rest_blank = false;
  if (rest_blank && (first == 'D' || first == 'F' || first == 'S')) return -1;
  for (const OpName &op : kOps) {
    if ((uint8_t)op.first != first) continue;
    if (fits(s + 1, n - 1, op.rest, up)) return op.entry;
  }
  return -1;
}

// Reads the value argument of a pair into *entry (getnum).  argno is the
// argument's 1-based number.  Returns false after issuing the message.
bool getnum(FncArg *g, int64_t *entry, int64_t argno) {
  if (g->type & FNC_ARG_ISCHAR) {
    FncString *s = static_cast<FncString *>(g->value);
    int64_t len = (s && s->data && s->length > 0) ? s->length : 0;
    const char *data = (s && s->data) ? s->data : "";
    xpmlog(FNC_MSG_SET, 2, (i64)argno, (i64)len, data);
    return false;
  }
  const double *p = zeq::num_value(g);
  if (!p || zeq::is_missing(*p)) {
    *entry = kCostUnset;
    return true;
  }
  double x = *p;
  if (x != std::trunc(x) || x < -2147483647.0 || x > 2147483647.0) {
    xpmlog(FNC_MSG_SET, 3, (i64)argno, (i64)-2147483647, (i64)2147483647);
    return false;
  }
  *entry = (int64_t)x;
  return true;
}

// Fills the entries the call left unset and derives the least cost.
void complete_table(int64_t *t) {
  if (t[COST_MATCH] == kCostUnset) t[COST_MATCH] = 0;
  for (int e : {COST_INSERT, COST_DELETE, COST_REPLACE})
    if (t[e] == kCostUnset) t[e] = 100;
  if (t[COST_FINSERT] == kCostUnset) t[COST_FINSERT] = t[COST_INSERT];
  if (t[COST_FDELETE] == kCostUnset) t[COST_FDELETE] = t[COST_DELETE];
  if (t[COST_FREPLACE] == kCostUnset) t[COST_FREPLACE] = t[COST_REPLACE];
  int64_t least = kCostUnset;
  for (int e : {COST_BLANK, COST_PUNCT})
    if (t[e] != 0 && t[e] < least) least = t[e];
  for (int e : {COST_INSERT, COST_DELETE, COST_FINSERT, COST_FDELETE, COST_APPEND, COST_TRUNCATE,
                COST_DOUBLE, COST_SINGLE})
    if (t[e] < least) least = t[e];
  t[COST_LEAST] = least;
}

int32_t compcost(FncArgList *args) {
  FncContext *ctx = zeq::task_context(args);
  if (!ctx) return FNC_RC_NOROOM;
  auto *t = static_cast<int64_t *>(ctx->editCosts);
  if (!t) {
    t = static_cast<int64_t *>(
        zeq::task_alloc(zeq::current_task(args), kCostTableBytes, ZEQ_FLAGS_CACHE));
    if (!t) return FNC_RC_NOROOM;
    ctx->editCosts = t;
  }
  for (int e = 0; e < COST_MATCH; e++) t[e] = kCostUnset;
  t[COST_MATCH] = 0;

  const int32_t argc = args->argCount;
  if (argc % 2 != 0) {
    xpmlog(FNC_MSG_SET, 9, "COMPCOST", (i64)argc);
    return FNC_RC_NOTE;
  }
  if (args->resultKind == 0x78 && args->callForm == FNC_FORM_CALL) zfncmunq(args);

  const uint8_t *up = zeq::upcase_table();
  auto fail = [&](FncArg *g) {
    zeq::mark_bad(g);
    t[COST_LEAST] = kCostUnset;
    return FNC_RC_NOTE;
  };
  for (int32_t i = 0; i + 1 < argc; i += 2) {
    FncArg *op = &args->args[i];
    const int64_t op_no = i + 1;
    if (op->type & FNC_ARG_NUMERIC) {
      xpmlog(FNC_MSG_SET, 1, (i64)op_no);
      xpslog("%3zArgument type=%i", (int)op->type);
      return fail(op);
    }
    FncString *s = zeq::str_value(op);
    if (!s) {
      xpmlog(FNC_MSG_SET, 32, "COMPCOST", (i64)op_no);
      return fail(op);
    }
    const int64_t n = (s->data && s->length > 0) ? s->length : 0;
    const uint8_t *text = reinterpret_cast<const uint8_t *>(s->data);
    if (n == 0) {
      xpmlog(FNC_MSG_SET, 33, "COMPCOST", (i64)op_no);
      return fail(op);
    }
    bool blank = true;
    for (int64_t k = 0; k < n && blank; k++) blank = text[k] == ' ';
    if (blank) {
      xpmlog(FNC_MSG_SET, 34, "COMPCOST", (i64)op_no);
      return fail(op);
    }
    int entry = resolve_operation(text, n, up);
    if (entry < 0) {
      xpmlog(FNC_MSG_SET, 39, (i64)op_no);
      return fail(op);
    }
    FncArg *val = &args->args[i + 1];
    if (!getnum(val, &t[entry], op_no + 1)) return fail(val);
  }
  complete_table(t);
  return FNC_RC_OK;
}

}  // namespace

extern "C" {

ZEQ_EXPORT int32_t fncomcos(FncArgList *args) noexcept {
  if (!args) return FNC_RC_NOTE;
  return compcost(args);
}

}  // extern "C"
