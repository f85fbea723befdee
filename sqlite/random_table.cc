// sqlite/random_table.cc - zeq_random, a table-valued function over a random
// stream:
//
//   select value from zeq_random('MT64', 42, 1000);
//   select value from zeq_random('TF2', 42, 5) where position = 100 and conversion = 'uint64';
//   select max(value) from zeq_random('MT64', 42, 1000, null, null, null, 'int64');
//
// Arguments are the hidden columns method, seed, count, key, thread,
// position, conversion (in that order, or by name in the WHERE clause); count
// is required, a NULL in any other is the same as leaving it out.  The rows
// are drawn as `zeq rand` draws them (host/rng_draw); the conversion 'int64'
// is SQL's own: the uint64 draws as signed INTEGERs, bit for bit.
#include <climits>
#include <cmath>
#include <memory>
#include <string>

#include "host/rng_draw.h"
#include "sqlite/zeqsqlite.h"

SQLITE_EXTENSION_INIT3

namespace zeqsql {
namespace {

enum Column { kValue, kMethod, kSeed, kCount, kKey, kThread, kPosition, kConversion, kColumns };

const char *const kColumnNames[kColumns] = {"value", "method", "seed", "count", "key",
                                            "thread", "position", "conversion"};

struct Cursor {
  sqlite3_vtab_cursor base{};
  std::unique_ptr<zeqhost::RandomDraw> draw;
  sqlite3_int64 row = 0, count = 0;
  zeqhost::DrawValue current;
  sqlite3_int64 given[kColumns] = {};  // seed, count, key, thread, position as given
  bool has[kColumns] = {};
  std::string conversion = "default";
  bool signed64 = false;  // conversion 'int64'
};

int fail(sqlite3_vtab *vtab, const std::string &why) {
  sqlite3_free(vtab->zErrMsg);
  vtab->zErrMsg = sqlite3_mprintf("zeq_random: %s", why.c_str());
  return SQLITE_ERROR;
}

int connect(sqlite3 *db, void *, int, const char *const *, sqlite3_vtab **out, char **) {
  int rc = sqlite3_declare_vtab(db,
      "create table x(value, method hidden, seed hidden, count hidden, key hidden,"
      " thread hidden, position hidden, conversion hidden)");
  if (rc != SQLITE_OK) return rc;
  auto *vtab = static_cast<sqlite3_vtab *>(sqlite3_malloc(sizeof(sqlite3_vtab)));
  if (!vtab) return SQLITE_NOMEM;
  *vtab = sqlite3_vtab{};
  *out = vtab;
  sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
  return SQLITE_OK;
}

int disconnect(sqlite3_vtab *vtab) {
  sqlite3_free(vtab);
  return SQLITE_OK;
}

// Every equality on a hidden column becomes a filter argument, in column
// order; idxNum has a bit for each column given.  Without a count, or with a
// hidden column SQLite cannot hand over, the plan is refused.
int best_index(sqlite3_vtab *, sqlite3_index_info *info) {
  int at[kColumns];
  for (int &a : at) a = -1;
  for (int i = 0; i < info->nConstraint; i++) {
    const auto &c = info->aConstraint[i];
    if (c.iColumn <= kValue) continue;
    if (c.op != SQLITE_INDEX_CONSTRAINT_EQ || !c.usable) return SQLITE_CONSTRAINT;
    at[c.iColumn] = i;
  }
  if (at[kCount] < 0) return SQLITE_CONSTRAINT;
  int mask = 0, argv = 0;
  for (int col = kMethod; col < kColumns; col++) {
    if (at[col] < 0) continue;
    mask |= 1 << col;
    info->aConstraintUsage[at[col]].argvIndex = ++argv;
    info->aConstraintUsage[at[col]].omit = 1;
  }
  info->idxNum = mask;
  info->estimatedCost = 1000;
  info->estimatedRows = 1000;
  return SQLITE_OK;
}

int open_cursor(sqlite3_vtab *, sqlite3_vtab_cursor **out) {
  auto *c = new (std::nothrow) Cursor;
  if (!c) return SQLITE_NOMEM;
  *out = &c->base;
  return SQLITE_OK;
}

int close_cursor(sqlite3_vtab_cursor *cur) {
  delete reinterpret_cast<Cursor *>(cur);
  return SQLITE_OK;
}

// A non-negative integer argument (a whole REAL is taken too).
bool whole(sqlite3_value *v, sqlite3_int64 &out) {
  int type = sqlite3_value_type(v);
  if (type == SQLITE_INTEGER) out = sqlite3_value_int64(v);
  else if (type == SQLITE_FLOAT) {
    double x = sqlite3_value_double(v);
    if (!(x >= 0 && x < 9.2e18 && x == std::trunc(x))) return false;
    out = (sqlite3_int64)x;
  } else return false;
  return out >= 0;
}

std::string lower(std::string s) {
  for (char &ch : s) ch = (char)std::tolower((unsigned char)ch);
  return s;
}

bool text_of(sqlite3_value *v, std::string &out) {
  if (sqlite3_value_type(v) != SQLITE_TEXT) return false;
  const unsigned char *p = sqlite3_value_text(v);
  out.assign(p ? reinterpret_cast<const char *>(p) : "", (size_t)sqlite3_value_bytes(v));
  return true;
}

// Reads one filter argument into the request; "" when it is sound.
std::string take(Cursor &c, zeqhost::DrawRequest &rq, int col, sqlite3_value *v) {
  std::string name = kColumnNames[col];
  if (sqlite3_value_type(v) == SQLITE_NULL && col != kCount) return "";
  if (col == kMethod || col == kConversion) {
    std::string &dst = col == kMethod ? rq.method : rq.conversion;
    return text_of(v, dst) ? "" : name + " must be a text";
  }
  sqlite3_int64 n = 0;
  if (!whole(v, n)) return name + " must be a non-negative integer";
  c.given[col] = n;
  c.has[col] = true;
  if (col == kSeed) rq.seed = (uint64_t)n;
  else if (col == kKey) rq.key = (uint64_t)n;
  else if (col == kThread) rq.thread = (uint64_t)n;
  else if (col == kPosition) rq.position = (uint64_t)n;
  else c.count = n;
  return "";
}

int filter(sqlite3_vtab_cursor *cur, int mask, const char *, int argc, sqlite3_value **argv) {
  auto &c = *reinterpret_cast<Cursor *>(cur);
  try {
    c.draw.reset();
    c.row = c.count = 0;
    zeqhost::DrawRequest rq;
    rq.strict_method = true;
    int arg = 0;
    for (int col = kMethod; col < kColumns && arg < argc; col++) {
      if (!(mask & (1 << col))) continue;
      std::string why = take(c, rq, col, argv[arg++]);
      if (!why.empty()) return fail(cur->pVtab, why);
    }
    c.signed64 = lower(rq.conversion) == "int64";
    if (c.signed64) rq.conversion = "uint64";
    std::string why;
    zeqhost::Host *host = shared_host(why);
    if (host) c.draw = zeqhost::RandomDraw::open(*host, rq, why);
    if (!c.draw) return fail(cur->pVtab, why);
    c.conversion = c.signed64 ? "int64" : rq.conversion;
    if (c.count > 0) c.current = c.draw->next();
    return SQLITE_OK;
  } catch (const std::bad_alloc &) {
    return SQLITE_NOMEM;
  }
}

int next(sqlite3_vtab_cursor *cur) {
  auto &c = *reinterpret_cast<Cursor *>(cur);
  if (++c.row < c.count) c.current = c.draw->next();
  return SQLITE_OK;
}

int eof(sqlite3_vtab_cursor *cur) {
  auto &c = *reinterpret_cast<Cursor *>(cur);
  return c.row >= c.count;
}

// Integers that an INTEGER holds are INTEGER; larger uint64 draws are their
// decimal TEXT, so every value reads as zeq rand prints it; 'int64' gives
// every uint64 draw as the signed INTEGER of the same bits.
void value_result(sqlite3_context *ctx, const zeqhost::DrawValue &v, bool signed64) {
  if (!v.integer) return sqlite3_result_double(ctx, v.d);
  if (signed64) return sqlite3_result_int64(ctx, (sqlite3_int64)v.u);
  if (v.u <= (uint64_t)LLONG_MAX) return sqlite3_result_int64(ctx, (sqlite3_int64)v.u);
  std::string text = v.text();
  sqlite3_result_text(ctx, text.c_str(), (int)text.size(), SQLITE_TRANSIENT);
}

int column(sqlite3_vtab_cursor *cur, sqlite3_context *ctx, int col) {
  auto &c = *reinterpret_cast<Cursor *>(cur);
  const zrand_stream *s = c.draw->stream();
  switch (col) {
    case kValue: value_result(ctx, c.current, c.signed64); break;
    case kMethod: sqlite3_result_text(ctx, s->desc->name, -1, SQLITE_TRANSIENT); break;
    case kSeed: sqlite3_result_int64(ctx, (sqlite3_int64)s->seed_used); break;
    case kConversion: sqlite3_result_text(ctx, c.conversion.c_str(), -1, SQLITE_TRANSIENT); break;
    default:
      if (c.has[col]) sqlite3_result_int64(ctx, c.given[col]);
      else if (col == kKey || col == kThread) sqlite3_result_int64(ctx, 0);
      else sqlite3_result_null(ctx);
  }
  return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor *cur, sqlite3_int64 *out) {
  *out = reinterpret_cast<Cursor *>(cur)->row + 1;
  return SQLITE_OK;
}

sqlite3_module make_module() {
  sqlite3_module m{};
  m.xConnect = connect;
  m.xBestIndex = best_index;
  m.xDisconnect = disconnect;
  m.xOpen = open_cursor;
  m.xClose = close_cursor;
  m.xFilter = filter;
  m.xNext = next;
  m.xEof = eof;
  m.xColumn = column;
  m.xRowid = rowid;
  return m;
}

const sqlite3_module kModule = make_module();

}  // namespace

int register_random_table(sqlite3 *db) {
  return sqlite3_create_module_v2(db, "zeq_random", &kModule, nullptr, nullptr);
}

}  // namespace zeqsql
