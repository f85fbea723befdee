// fuzz/fuzz_sql.cc - SQL statements through the extension, in process: each
// input takes the connection the extension (compiled in) is registered on,
// maybe lowers the length limit or switches to Latin-1, and runs a few calls of
// catalogue functions, zeq_compcost and zeq_random with arguments bound
// from the input (NULLs, numbers, texts and BLOBs of any bytes).
//
// Every statement must give a row or an error with a message; a numeric
// function answers INTEGER, REAL or NULL, a character function TEXT, BLOB or
// NULL, and TEXT is always valid UTF-8 within the connection's length limit.
#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>
#include <sqlite3ext.h>

#include <cstdlib>
#include <string>

#include "charfn/catalogue.h"
#include "fuzz/fuzz_common.h"

extern "C" int sqlite3_zeqsqlite_init(sqlite3 *db, char **err, const sqlite3_api_routines *api);

namespace {

using zeq::catalogue::Function;

// Lead bytes followed by the right number of continuation bytes.
bool utf8(const unsigned char *p, int n) {
  for (int i = 0; i < n; i++) {
    const unsigned c = p[i];
    int more = c < 0x80 ? 0 : c >= 0xC2 && c < 0xE0 ? 1 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xF0 && c < 0xF5 ? 3 : -1;
    if (more < 0 || i + more >= n) return false;
    for (; more > 0; more--)
      if ((p[++i] & 0xC0) != 0x80) return false;
  }
  return true;
}

void bind_some(sqlite3_stmt *st, int at, FuzzedDataProvider &p) {
  switch (p.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: sqlite3_bind_null(st, at); break;
    case 1: sqlite3_bind_int64(st, at, p.ConsumeIntegralInRange<sqlite3_int64>(-40, 40)); break;
    case 2: sqlite3_bind_double(st, at, zeqfuzz::some_number(p)); break;
    case 3: {
      const std::string t = zeqfuzz::some_text(p, 64);
      sqlite3_bind_text(st, at, t.data(), (int)t.size(), SQLITE_TRANSIENT);
      break;
    }
    default: {
      const std::string t = zeqfuzz::some_text(p, 64);
      sqlite3_bind_blob(st, at, t.data(), (int)t.size(), SQLITE_TRANSIENT);
    }
  }
}

// A call of a catalogue function, by either of its names, with bound arguments.
std::string function_call(FuzzedDataProvider &p, const Function *&fn) {
  do fn = &zeq::catalogue::kFunctions[p.ConsumeIntegralInRange<size_t>(0, zeq::catalogue::kFunctionCount - 1)];
  while (!fn->has(zeq::catalogue::ZEQ_FN_FUNCTION));
  const int most = fn->max_args == zeq::catalogue::kAnyCount ? fn->min_args + 4 : fn->max_args;
  const int n = p.ConsumeIntegralInRange<int>(fn->min_args, most);
  std::string name(fn->name);
  for (char &c : name) c = (char)std::tolower((unsigned char)c);
  std::string sql = "select zeq_" + name + "(";
  for (int i = 0; i < n; i++) sql += i ? ", ?" : "?";
  return sql + ")";
}

std::string other_call(FuzzedDataProvider &p) {
  switch (p.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return "select zeq_compcost(?, ?, ?, ?)";
    case 1: return "select sum(length(value)) from zeq_random(?, ?, abs(?) % 64, ?, ?, ?, ?)";
    case 2: return "select zeq_compcost_reset()";
    default: return "select count(*) from zeq_functions, zeq_methods";
  }
}

void run(sqlite3 *db, FuzzedDataProvider &p) {
  const Function *fn = nullptr;
  const std::string sql = p.ConsumeBool() ? function_call(p, fn) : other_call(p);
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    zeqfuzz::require(sqlite3_errcode(db) == SQLITE_TOOBIG, sqlite3_errmsg(db));  // a very low length limit
    return;
  }
  for (int i = 1; i <= sqlite3_bind_parameter_count(st); i++) bind_some(st, i, p);
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW && fn) {
    const int type = sqlite3_column_type(st, 0);
    const bool number = fn->result == zeq::catalogue::Result::Number;
    zeqfuzz::require(type == SQLITE_NULL || (number ? type == SQLITE_INTEGER || type == SQLITE_FLOAT
                                                    : type == SQLITE_TEXT || type == SQLITE_BLOB),
                     "a result of the wrong SQL type");
    if (type == SQLITE_TEXT) {
      const unsigned char *t = sqlite3_column_text(st, 0);
      const int n = sqlite3_column_bytes(st, 0);
      zeqfuzz::require(utf8(t, n), "a TEXT result that is not UTF-8");
      zeqfuzz::require(n <= sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1), "a result beyond the length limit");
    }
  } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    zeqfuzz::require(sqlite3_errmsg(db)[0] != 0, "an error without a message");
  }
  sqlite3_finalize(st);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("ZEQ_MODULE", ZEQ_FUZZ_MODULE, 0);
  return 0;
}

// One connection for the process (registering the extension costs more than
// an input); every input sets what it depends on: the length limit, the
// encoding and the costs.
sqlite3 *connection() {
  static sqlite3 *db = [] {
    sqlite3 *d = nullptr;
    if (sqlite3_open(":memory:", &d) != SQLITE_OK) zeqfuzz::finding("cannot open a connection");
    char *err = nullptr;
    if (sqlite3_zeqsqlite_init(d, &err, nullptr) != SQLITE_OK) zeqfuzz::finding(err ? err : "extension init failed");
    return d;
  }();
  return db;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider p(data, size);
  sqlite3 *db = connection();
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, p.ConsumeBool() ? p.ConsumeIntegralInRange<int>(64, 65536) : 1 << 20);
  sqlite3_exec(db, p.ConsumeBool() ? "select zeq_encoding('latin1')" : "select zeq_encoding('utf-8')", nullptr,
               nullptr, nullptr);
  for (int i = p.ConsumeIntegralInRange<int>(1, 8); i > 0 && p.remaining_bytes() > 0; i--) run(db, p);
  sqlite3_exec(db, "select zeq_compcost_reset()", nullptr, nullptr, nullptr);
  return 0;
}
