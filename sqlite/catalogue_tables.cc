// sqlite/catalogue_tables.cc - read-only tables that describe what the
// extension offers, so a user can look without provoking errors:
//
//   select * from zeq_functions;    -- name, arguments, result, unit, deterministic, summary
//   select * from zeq_methods;      -- the random-number methods and what they take
//   select * from zeq_conversions;  -- the conversions zeq_random draws through
//
// Each is an eponymous table whose rows are built when a statement first
// opens it.
#include <algorithm>
#include <climits>
#include <string>
#include <variant>
#include <vector>

#include "charfn/catalogue.h"
#include "host/rng_draw.h"
#include "sqlite/zeqsqlite.h"

SQLITE_EXTENSION_INIT3

namespace zeqsql {
namespace {

using Cell = std::variant<std::monostate, sqlite3_int64, std::string>;
using Rows = std::vector<std::vector<Cell>>;

struct Table {
  const char *schema;
  Rows (*rows)();
};

struct Vtab {
  sqlite3_vtab base{};
  const Table *table;
  Rows rows;
};

struct Cursor {
  sqlite3_vtab_cursor base{};
  size_t row = 0;
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto &c : out) c = (char)std::tolower((unsigned char)c);
  return out;
}

Rows function_rows() {
  Rows out;
  for (const auto &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    out.push_back({lower(fn.name), std::string(fn.usage),
                   std::string(fn.result == zeq::catalogue::Result::Number ? "number" : "text"), std::string(fn.unit()),
                   sqlite3_int64(fn.deterministic()), std::string(fn.summary)});
  }
  return out;
}

// A uint64 an INTEGER cannot hold is its decimal text.
Cell whole(uint64_t v) { return v <= (uint64_t)LLONG_MAX ? Cell(sqlite3_int64(v)) : Cell(std::to_string(v)); }

// Every method with the stream options it takes (rng/methods.def) and
// whether the loaded module builds it on this processor.
Rows method_rows() {
  Rows out;
  std::string why;
  zeqhost::Host *host = shared_host(why);
  const std::vector<std::string> built = host ? zeqhost::draw_method_names(*host) : std::vector<std::string>{};
  for (const zeqhost::MethodOptions &m : zeqhost::all_method_options()) {
    const auto yes = [](bool b) { return Cell(sqlite3_int64(b)); };
    const bool available = std::find(built.begin(), built.end(), m.name) != built.end();
    out.push_back({std::string(m.name), std::string(m.description), sqlite3_int64(m.output_bits), yes(m.seed),
                   yes(m.key), yes(m.thread), yes(m.position), yes(m.constant_without_key), whole(m.key_max),
                   whole(m.thread_max), yes(available)});
  }
  return out;
}

Rows conversion_rows() {
  Rows out;
  for (const auto &c : zeqhost::rng::conversions()) {
    const bool integer = c.kind != zeqhost::rng::DrawKind::Double;
    const char *kind = c.kind == zeqhost::rng::DrawKind::U32 ? "uint32" : c.kind == zeqhost::rng::DrawKind::U64 ? "uint64" : "double";
    const char *sql = c.kind == zeqhost::rng::DrawKind::U64 ? "INTEGER, or TEXT above 2^63-1" : integer ? "INTEGER" : "REAL";
    out.push_back({std::string(c.name), std::string(kind), std::string(sql)});
  }
  out.push_back({std::string("int64"), std::string("uint64"), std::string("INTEGER (the same 64 bits, signed)")});
  return out;
}

const Table kFunctionsTable{"create table x(name, arguments, result, unit, deterministic, summary)", function_rows};
const Table kMethodsTable{
    "create table x(name, description, output_bits, takes_seed, takes_key, takes_thread, takes_position,"
    " constant_without_key, key_max, thread_max, available)",
    method_rows};
const Table kConversionsTable{"create table x(name, kind, sql_type)", conversion_rows};

int connect(sqlite3 *db, void *aux, int, const char *const *, sqlite3_vtab **out, char **) {
  const auto *table = static_cast<const Table *>(aux);
  const int rc = sqlite3_declare_vtab(db, table->schema);
  if (rc != SQLITE_OK) return rc;
  auto *v = new (std::nothrow) Vtab;
  if (!v) return SQLITE_NOMEM;
  v->table = table;
  *out = &v->base;
  sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
  return SQLITE_OK;
}

int disconnect(sqlite3_vtab *vtab) {
  delete reinterpret_cast<Vtab *>(vtab);
  return SQLITE_OK;
}

int best_index(sqlite3_vtab *, sqlite3_index_info *info) {
  info->estimatedCost = 100;
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

Vtab &vtab_of(sqlite3_vtab_cursor *cur) { return *reinterpret_cast<Vtab *>(cur->pVtab); }

int filter(sqlite3_vtab_cursor *cur, int, const char *, int, sqlite3_value **) {
  try {
    Vtab &v = vtab_of(cur);
    if (v.rows.empty()) v.rows = v.table->rows();
    reinterpret_cast<Cursor *>(cur)->row = 0;
    return SQLITE_OK;
  } catch (const std::bad_alloc &) {
    return SQLITE_NOMEM;
  }
}

int next(sqlite3_vtab_cursor *cur) {
  reinterpret_cast<Cursor *>(cur)->row++;
  return SQLITE_OK;
}

int eof(sqlite3_vtab_cursor *cur) { return reinterpret_cast<Cursor *>(cur)->row >= vtab_of(cur).rows.size(); }

int column(sqlite3_vtab_cursor *cur, sqlite3_context *ctx, int col) {
  const Cell &cell = vtab_of(cur).rows[reinterpret_cast<Cursor *>(cur)->row][(size_t)col];
  if (const auto *i = std::get_if<sqlite3_int64>(&cell)) sqlite3_result_int64(ctx, *i);
  else if (const auto *s = std::get_if<std::string>(&cell))
    sqlite3_result_text64(ctx, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  else sqlite3_result_null(ctx);
  return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor *cur, sqlite3_int64 *out) {
  *out = (sqlite3_int64)reinterpret_cast<Cursor *>(cur)->row + 1;
  return SQLITE_OK;
}

sqlite3_module make_module() {
  sqlite3_module m{};
  m.xConnect = connect;  // no xCreate: the table exists only under its own name
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

int register_catalogue_tables(sqlite3 *db) {
  int rc = sqlite3_create_module_v2(db, "zeq_functions", &kModule, (void *)&kFunctionsTable, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_create_module_v2(db, "zeq_methods", &kModule, (void *)&kMethodsTable, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_module_v2(db, "zeq_conversions", &kModule, (void *)&kConversionsTable, nullptr);
  return rc;
}

}  // namespace zeqsql
