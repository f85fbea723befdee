// sqlite_bench - the per-call cost of the SQL extension: a table of 1,000,000
// names, then
//   select count(*) from t where first(name) = 'J'
//   select count(*) from t where complev(name, 'John Smith') < 3
//   select count(*) from t where compged(name, 'John Smith') < 200
// each against the same scan with SQLite's own length(name), timed
// (processor time, best of three) with their ratios.  first(name) does
// almost nothing, so its time over length()'s is the extension's own cost of
// a call (argument, call site, result).
//
//   cmake --build build --target sqlite_bench && build/sqlite_bench [rows] [--json PATH]
#include <sqlite3.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_data.h"

namespace {

const char *const kFirst[] = {"John", "Jon", "Joan", "Jane", "Mary", "Marie", "Peter", "Pete",
                              "Anna", "Ann", "Paul", "Paula", "Mark", "Marc", "Lena", "Leo"};
const char *const kLast[] = {"Smith", "Smyth", "Smithe", "Schmidt", "Jones", "Johns", "Brown",
                             "Braun", "Miller", "Muller", "Taylor", "Tailor", "Wilson", "Willson"};

bool exec(sqlite3 *db, const char *sql) {
  char *err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
  std::fprintf(stderr, "sqlite_bench: %s: %s\n", sql, err ? err : "?");
  sqlite3_free(err);
  return false;
}

bool fill(sqlite3 *db, long rows) {
  if (!exec(db, "create table t(name text)") || !exec(db, "begin")) return false;
  sqlite3_stmt *ins = nullptr;
  sqlite3_prepare_v2(db, "insert into t values (?)", -1, &ins, nullptr);
  zeqbench::Xorshift r;
  for (long i = 0; i < rows; i++) {
    std::string name = std::string(kFirst[r.below(16)]) + " " + kLast[r.below(14)];
    if (r.below(4) == 0) name = zeqbench::typo(name, 1, r);
    sqlite3_bind_text(ins, 1, name.c_str(), (int)name.size(), SQLITE_TRANSIENT);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  return exec(db, "commit");
}

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// Best of three runs of a one-number query, in seconds; the count in *n.
double best_time(sqlite3 *db, const char *sql, long long *n) {
  double best = 1e300;
  for (int run = 0; run < 3; run++) {
    sqlite3_stmt *st = nullptr;
    const double t0 = cpu_seconds();
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    if (sqlite3_step(st) == SQLITE_ROW) *n = sqlite3_column_int64(st, 0);
    else std::fprintf(stderr, "sqlite_bench: %s: %s\n", sql, sqlite3_errmsg(db));
    sqlite3_finalize(st);
    const double s = cpu_seconds() - t0;
    if (s < best) best = s;
  }
  return best;
}

struct Query {
  const char *label, *sql;
  double seconds = 0;
  long long count = 0;
};

}  // namespace

int main(int argc, char **argv) {
  long rows = 1000000;
  const char *json = nullptr;
  for (int i = 1; i < argc; i++) {
    if (std::string(argv[i]) == "--json" && i + 1 < argc) json = argv[++i];
    else rows = std::atol(argv[i]);
  }
  const char *ext = std::getenv("ZEQ_SQLITE_EXTENSION");
  sqlite3 *db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_enable_load_extension(db, 1);
  char *err = nullptr;
  if (sqlite3_load_extension(db, ext ? ext : "build/libzeqsqlite", nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite_bench: %s\n", err ? err : "cannot load the extension");
    return 1;
  }
  if (!fill(db, rows)) return 1;
  Query length{"length(name) < 3", "select count(*) from t where length(name) < 3"};
  Query queries[] = {
      {"first(name) = 'J'", "select count(*) from t where first(name) = 'J'"},
      {"complev(name, 'John Smith') < 3", "select count(*) from t where complev(name, 'John Smith') < 3"},
      {"compged(name, 'John Smith') < 200", "select count(*) from t where compged(name, 'John Smith') < 200"},
  };
  length.seconds = best_time(db, length.sql, &length.count);
  std::printf("rows %ld (processor time, best of 3)\n%-34s %.3f s (%lld rows)\n", rows, length.label, length.seconds,
              length.count);
  FILE *out = json ? std::fopen(json, "w") : nullptr;
  if (out) std::fprintf(out, "[");
  const char *sep = "";
  for (Query &q : queries) {
    q.seconds = best_time(db, q.sql, &q.count);
    const double ratio = q.seconds / length.seconds;
    const double extra_us = (q.seconds - length.seconds) / (double)rows * 1e6;
    std::printf("%-34s %.3f s (%lld rows)  / length: %.2f  (%+.3f us a row)\n", q.label, q.seconds, q.count, ratio,
                extra_us);
    if (out)
      std::fprintf(out, "%s\n {\"workload\": \"%ld rows: %s\", \"zeqwucha_s\": %.4f, \"peer\": \"%s\", "
                   "\"peer_s\": %.4f, \"ratio\": %.3f, \"note\": \"%+.3f us a row over length()\"}",
                   sep, rows, q.label, q.seconds, length.label, length.seconds, ratio, extra_us);
    sep = ",";
  }
  if (out) std::fprintf(out, "\n]\n"), std::fclose(out);
  sqlite3_close(db);
  return 0;
}
