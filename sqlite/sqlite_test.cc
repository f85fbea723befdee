// The SQL extension through SQLite's C API: every catalogue function by its
// examples, argument counts refused at prepare time, SQL's NULL rules, BLOBs,
// wrong types and huge texts, what a database file may call, loading, the
// session encoding, COMPCOST per connection, the catalogue tables, and
// zeq_random against `zeq rand`.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "charfn/catalogue.h"

namespace {

using zeq::catalogue::Function;

std::string env(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}

// One connection with the extension loaded.  Queries answer the first column
// of every row as text: NULL as "NULL", REAL with 17 digits; a failure as
// "error: <message>" (prepare or step).
class Db {
 public:
  explicit Db(const std::string &path = ":memory:") {
    sqlite3_open(path.c_str(), &db_);
    sqlite3_enable_load_extension(db_, 1);
    char *err = nullptr;
    if (sqlite3_load_extension(db_, env("ZEQ_SQLITE_EXTENSION").c_str(), nullptr, &err) != SQLITE_OK)
      load_error_ = err ? err : "load failed";
    sqlite3_free(err);
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db &) = delete;
  Db &operator=(const Db &) = delete;

  const std::string &load_error() const { return load_error_; }
  sqlite3 *raw() { return db_; }

  std::vector<std::string> rows(const std::string &sql) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      return {"error: " + std::string(sqlite3_errmsg(db_))};
    std::vector<std::string> out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(cell(st, 0));
    if (rc != SQLITE_DONE) out = {"error: " + std::string(sqlite3_errmsg(db_))};
    sqlite3_finalize(st);
    return out;
  }

  std::string one(const std::string &sql) {
    auto r = rows(sql);
    return r.empty() ? "(no row)" : r[0];
  }

  // The declared SQLite type of the first column of the first row.
  int type(const std::string &sql) {
    sqlite3_stmt *st = nullptr;
    int t = -1;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      t = sqlite3_column_type(st, 0);
    sqlite3_finalize(st);
    return t;
  }

 private:
  static std::string cell(sqlite3_stmt *st, int i) {
    switch (sqlite3_column_type(st, i)) {
      case SQLITE_NULL: return "NULL";
      case SQLITE_FLOAT: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", sqlite3_column_double(st, i));
        return buf;
      }
      default: {
        const unsigned char *p = sqlite3_column_text(st, i);
        return std::string(reinterpret_cast<const char *>(p), (size_t)sqlite3_column_bytes(st, i));
      }
    }
  }

  sqlite3 *db_ = nullptr;
  std::string load_error_;
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto &c : out) c = (char)std::tolower((unsigned char)c);
  return out;
}

// A catalogue example call (NAME("text", 2)) as SQL: zeq_<lower-case name>
// and the double-quoted literals as single-quoted ones.
std::string example_sql(std::string_view call) {
  std::string out;
  size_t paren = call.find('(');
  out = "zeq_" + lower(call.substr(0, paren));
  bool in = false;
  for (size_t i = paren; i < call.size(); i++) {
    char c = call[i];
    if (c == '"') out += '\'', in = !in;
    else if (c == '\'' && in) out += "''";
    else out += c;
  }
  return "select " + out;
}

std::vector<std::string_view> split(std::string_view s, std::string_view sep) {
  std::vector<std::string_view> parts;
  for (size_t at; (at = s.find(sep)) != std::string_view::npos; s.remove_prefix(at + sep.size()))
    parts.push_back(s.substr(0, at));
  parts.push_back(s);
  return parts;
}

class Sql : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("ZEQ_SQLITE_EXTENSION").empty()) GTEST_SKIP() << "ZEQ_SQLITE_EXTENSION not set";
    ASSERT_EQ(db.load_error(), "");
  }
  Db db;
};

// --- every function of the catalogue --------------------------------------

// What zeq (the reference host's tool) answers for a statement in a UTF-8
// session (results of the declared length 200): stdout, "." for a missing number, and
// whether it exited 0.
struct ZeqAnswer {
  std::string out;
  bool ok = false;
};

// The output of a shell command.
ZeqAnswer run_command(const std::string &command) {
  ZeqAnswer a;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) a.out.append(buf, n);
    a.ok = pclose(p) == 0;
  }
  return a;
}

// zeq with these arguments (shell words).
ZeqAnswer run_zeq(const std::string &args) { return run_command(env("ZEQ_TOOL") + " " + args); }

ZeqAnswer zeq_eval(const std::string &statement) {
  char path[] = "/tmp/zeqsql_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return {};
  FILE *f = fdopen(fd, "w");
  std::fputs((statement + "\n").c_str(), f);
  std::fclose(f);
  ZeqAnswer a = run_zeq(" --encoding utf-8 --show-log none < " + std::string(path));
  std::remove(path);
  if (!a.out.empty() && a.out.back() == '\n') a.out.pop_back();
  return a;
}

// Each catalogue example gives in SQL what zeq gives: the same value, or an
// error where zeq reports a note.
TEST_F(Sql, EveryFunctionAnswersAsZeqDoes) {
  if (env("ZEQ_TOOL").empty()) GTEST_SKIP() << "ZEQ_TOOL not set";
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    ASSERT_FALSE(fn.examples.empty()) << fn.name << " has no example to run";
    for (std::string_view ex : split(fn.examples, " | ")) {
      std::string call(split(ex, " => ")[0]);
      std::string sql = example_sql(call);
      std::string got = db.one(sql);
      ZeqAnswer want = zeq_eval(call);
      if (!want.ok) {
        EXPECT_EQ(got.rfind("error: " + std::string(fn.name), 0), 0u) << sql << ": " << got;
      } else {
        EXPECT_EQ(got == "NULL" ? "." : got, want.out) << sql;
      }
    }
  }
}

TEST_F(Sql, ArgumentCountsOutsideTheCatalogueRangeFailAtPrepare) {
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION) || fn.max_args == zeq::catalogue::kAnyCount) continue;
    for (int n : {fn.min_args - 1, fn.max_args + 1}) {
      if (n < 0) continue;
      std::string sql = "select zeq_" + lower(fn.name) + "(";
      for (int i = 0; i < n; i++) sql += i ? ", 'a'" : "'a'";
      sql += ")";
      EXPECT_NE(db.one(sql).find("wrong number of arguments"), std::string::npos) << sql;
    }
  }
  // Variadic functions are checked when they run, with the usage in the message.
  EXPECT_NE(db.one("select catx('-')").find("CATX"), std::string::npos);
}

// SQLite's own functions stay SQLite's; every catalogue function is also
// zeq_<name>, and the bare name where SQLite has none.
TEST_F(Sql, BuiltinsStayAndEveryFunctionHasItsZeqName) {
  EXPECT_EQ(db.one("select char(72, 105)"), "Hi");
  EXPECT_EQ(db.one("select count(*) from (select 1 union select 2)"), "2");
  EXPECT_EQ(db.one("select zeq_char('abc', 2)"), "b");
  EXPECT_EQ(db.one("select zeq_count('abab', 'ab')"), "2");
  EXPECT_EQ(db.one("select complev('kitten', 'sitting') = zeq_complev('kitten', 'sitting')"), "1");
}

// A database file cannot make a connection run what depends on its state from
// the schema: the session functions nowhere, COMPGED nowhere, the others not
// once the connection has left UTF-8.  Each case writes the schema in one
// connection and uses it from another, as a file opened later would.
TEST_F(Sql, SchemaCannotCallWhatDependsOnTheConnection) {
  struct Case { const char *schema, *latin1, *use, *want; };
  const Case cases[] = {
      {"create index i on t(complev(a, 'x'))", "", "insert into t values ('y')", ""},
      {"create trigger tr after insert on t begin select zeq_compcost('insert=', 1); end", "",
       "insert into t values ('y')", "unsafe use of zeq_compcost()"},
      {"create trigger tr after insert on t begin select zeq_encoding('latin1'); end", "",
       "insert into t values ('y')", "unsafe use of zeq_encoding()"},
      {"create view v as select compged(a, 'x') from t", "", "select * from v", "unsafe use of compged()"},
      {"create index i on t(countc(a, '\xC3\xA9'))", "latin1", "insert into t values ('\xC3\xA9')",
       "unsafe use of countc()"},
      {"create table c(a check (countw(a) < 5))", "latin1", "insert into c values ('y')", "unsafe use of countw()"},
      {"create table c(a check (compged(a, 'x') < 1000))", "", "insert into c values ('y')",
       "COMPGED cannot run in a CHECK constraint: its result depends on the connection's costs"},
  };
  char path[] = "/tmp/zeqsql_db_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  for (const auto &c : cases) {
    std::remove(path);
    {
      Db writer(path);
      EXPECT_EQ(writer.rows("create table t(a)"), std::vector<std::string>{});
      EXPECT_EQ(writer.rows(c.schema), std::vector<std::string>{}) << c.schema;
      writer.rows("insert into t values ('\xC3\xA9\xC3\xA9')");
    }
    Db user(path);
    if (*c.latin1) {
      EXPECT_EQ(user.one("select zeq_encoding('latin1')"), "latin1");
    }
    const std::string got = user.rows(c.use).empty() ? "" : user.one(c.use);
    EXPECT_EQ(got, *c.want ? "error: " + std::string(c.want) : "") << c.schema;
    EXPECT_EQ(user.one("select compged('abxc', 'abc')"), "100") << c.schema;
    EXPECT_EQ(Db(path).one("pragma integrity_check"), "ok") << c.schema;
  }
  std::remove(path);
  // A new index cannot use COMPGED, nor any function in a Latin-1 connection.
  EXPECT_NE(db.one("create index i2 on t2(compged(a, 'x'))").find("error"), std::string::npos);
  db.rows("create table t3(a)");
  EXPECT_EQ(db.rows("create index i3 on t3(complev(a, 'x'))"), std::vector<std::string>{});
  db.one("select zeq_encoding('latin1')");
  EXPECT_NE(db.one("create index i4 on t3(complev(a, 'y'))").find("non-deterministic"), std::string::npos);
}

// --- values in and out ---------------------------------------------------

TEST_F(Sql, ResultTypes) {
  struct Case { const char *sql; int type; std::string text; };
  const Case cases[] = {
      {"select complev('kitten', 'sitting')", SQLITE_INTEGER, "3"},
      {"select find('abc', 'c')", SQLITE_INTEGER, "3"},
      {"select cat('a', 1.5)", SQLITE_TEXT, ""},
      {"select first('xyz')", SQLITE_TEXT, "x"},
      {"select cat('', '')", SQLITE_TEXT, ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(db.type(c.sql), c.type) << c.sql;
    if (!c.text.empty()) {
      EXPECT_EQ(db.one(c.sql), c.text) << c.sql;
    }
  }
}

// NULLs, BLOBs (invalid UTF-8 too), numbers where text is wanted and texts
// where numbers are: every function answers a value or an error, never a
// crash, in every argument position.
TEST_F(Sql, OddArgumentsGetAValueOrAnError) {
  const char *odd[] = {"NULL", "X'FFFEC3'", "X''", "-5", "1e308", "0.5", "'abc'", "''", "'\xC3\xA9t\xC3\xA9'"};
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    int max = fn.max_args == zeq::catalogue::kAnyCount ? fn.min_args + 2 : fn.max_args;
    for (int n = std::max(fn.min_args, 1); n <= max; n++) {
      for (const char *v : odd) {
        for (int pos = 0; pos < n; pos++) {
          std::string sql = "select " + lower(fn.name) + "(";
          for (int i = 0; i < n; i++) sql += std::string(i ? ", " : "") + (i == pos ? v : "'a b'");
          sql += ")";
          std::string got = db.one(sql);
          EXPECT_NE(got, "(no row)") << sql;
          if (got.rfind("error: ", 0) == 0) {
            EXPECT_GT(got.size(), 12u) << sql;
          }
        }
      }
    }
  }
}

// The arguments of an SQL call "select f(a, b, ...)", as written.
std::vector<std::string> call_args(const std::string &sql) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (size_t i = sql.find('(') + 1; i + 1 < sql.size(); i++) {
    const char c = sql[i];
    if (c == '\'') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.push_back(cur);
      cur.clear();
    } else if (!(c == ' ' && cur.empty())) {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

std::string call_of(const Function &fn, const std::vector<std::string> &args) {
  std::string sql = "select zeq_" + lower(fn.name) + "(";
  for (size_t i = 0; i < args.size(); i++) sql += (i ? ", " : "") + args[i];
  return sql + ")";
}

// SQL's NULL rules over every catalogue example: a NULL required argument
// gives NULL, NULLs after the example's arguments change nothing, and a NULL
// item of a concatenation is an empty text.
TEST_F(Sql, NullsFollowSql) {
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    const bool variadic = fn.max_args == zeq::catalogue::kAnyCount;
    for (std::string_view ex : split(fn.examples, " | ")) {
      const std::vector<std::string> args = call_args(example_sql(split(ex, " => ")[0]));
      const std::string want = db.one(call_of(fn, args));
      for (size_t i = 0; i < args.size(); i++) {
        std::vector<std::string> with = args;
        with[i] = "NULL";
        const bool item = variadic && (int)i + 1 >= fn.min_args;
        if (item) with[i] = "''";
        const std::string got = db.one(call_of(fn, with));
        with[i] = "NULL";
        if (item) {
          EXPECT_EQ(db.one(call_of(fn, with)), got) << call_of(fn, with);
        } else if ((int)i < fn.min_args) {
          EXPECT_EQ(got, "NULL") << call_of(fn, with);
        }
      }
      std::vector<std::string> padded = args;
      while (!variadic && (int)padded.size() < fn.max_args) padded.push_back("NULL");
      EXPECT_EQ(db.one(call_of(fn, padded)), want) << call_of(fn, padded);
    }
  }
  struct Case { const char *sql, *want; };
  const Case cases[] = {
      {"select countw('a b c', NULL)", "3"},
      {"select scan('a b c', 2, NULL)", "b"},
      {"select findw('one two', 'two', NULL)", "5"},
      {"select complev('ab', 'abx', NULL, 'i')", "1"},
      {"select findc('ab1', NULL, 'd')", "3"},
      {"select catx(NULL, 'a', 'b')", "NULL"},
      {"select catx('-', 'a', NULL, 'b')", "a-b"},
  };
  for (const auto &c : cases) EXPECT_EQ(db.one(c.sql), c.want) << c.sql;
  // After a refused COMPCOST, COMPGED has no costs and answers NULL.
  EXPECT_NE(db.one("select zeq_compcost('nonsense=', 5)").find("COMPCOST"), std::string::npos);
  EXPECT_EQ(db.one("select compged('abc', 'abd')"), "NULL");
  EXPECT_EQ(db.one("select zeq_compcost_reset()"), "default costs");
  EXPECT_EQ(db.one("select compged('abc', 'abd')"), "100");
}

// Character results that are not UTF-8 are BLOBs, in both encodings.
TEST_F(Sql, ResultsThatAreNotTextAreBlobs) {
  EXPECT_EQ(db.one("select typeof(first('\xC3\x89mile')) || hex(first('\xC3\x89mile'))"), "blobC3");
  EXPECT_EQ(db.one("select typeof(scan('\xC3\xA9t\xC3\xA9 x', 1))"), "text");
  db.one("select zeq_encoding('latin1')");
  EXPECT_EQ(db.one("select typeof(scan(X'E974E9', 1)) || hex(scan(X'E974E9', 1))"), "blobE974E9");
  EXPECT_EQ(db.one("select typeof(scan('abc', 1))"), "text");
}

// CATQ fills only the room a result has: the extension gives it enough for
// long separators, quoting and hexadecimal items.
TEST_F(Sql, CatqGetsRoomForItsWholeResult) {
  struct Case { const char *sql; const char *want; };
  const Case cases[] = {
      {"select catq('D', '<-------->', 'a', 'b', 'c', 'd')", "a<-------->b<-------->c<-------->d"},
      {"select catq('XC', 'a', X'0102')", "a,'0102'x"},
      {"select catq('A', 'it''s', 'b')", "\"it's\" \"b\""},
      {"select catq(' ', 1.5, 2)", "1.5 2"},
  };
  for (const auto &c : cases) EXPECT_EQ(db.one(c.sql), c.want) << c.sql;
}

TEST_F(Sql, HugeTexts) {
  // 20 million characters: counted, searched and scanned whole; nothing is
  // cut: a result beyond the connection's SQLITE_LIMIT_LENGTH is an error
  // naming the function and the limit.
  db.rows("create table big(s text)");
  db.rows("insert into big values (printf('%.*c', 20000000, 'a') || 'z')");
  EXPECT_EQ(db.one("select findc(s, 'z') from big"), "20000001");
  EXPECT_EQ(db.one("select countc(s, 'a') from big"), "20000000");
  EXPECT_EQ(db.one("select length(scan(s, 1)) from big"), "20000001");
  EXPECT_EQ(db.one("select length(nliteral(printf('%.*c', 300, 'a') || ' b'))"), "305");
  sqlite3_limit(db.raw(), SQLITE_LIMIT_LENGTH, 30000000);
  for (const char *sql : {"select cats(s, s) from big", "select subpad('a', 1, 40000000)"}) {
    const std::string got = db.one(sql);
    EXPECT_EQ(got.rfind("error: ", 0), 0u) << sql;
    EXPECT_NE(got.find("30000000 bytes, the connection's SQLITE_LIMIT_LENGTH"), std::string::npos) << got;
  }
}

// --- session encoding ------------------------------------------------------

TEST_F(Sql, EncodingIsPerConnectionAndSaysWhatItIs) {
  Db other;
  EXPECT_EQ(db.one("select zeq_encoding()"), "utf-8");
  EXPECT_EQ(db.one("select zeq_encoding('LATIN1')"), "latin1");
  EXPECT_EQ(other.one("select zeq_encoding()"), "utf-8");
  // The byte route sees bytes, the multibyte route characters.
  const std::string count = "select countc('\xC3\xA9\xC3\xA9" "a', '\xC3\xA9')";
  EXPECT_EQ(db.one(count), "4");
  EXPECT_EQ(other.one(count), "2");
  EXPECT_EQ(db.one("select countc(X'E9E961', X'E9')"), "2");
  EXPECT_EQ(db.one("select hex(zeq_char(X'E961', 1))"), "E9");
  EXPECT_EQ(db.one("select zeq_encoding('utf8')"), "utf-8");
  EXPECT_EQ(db.one(count), "2");
  EXPECT_NE(db.one("select zeq_encoding('ebcdic')").find("latin1"), std::string::npos);
  EXPECT_NE(db.one("select zeq_encoding(NULL)").find("utf-8"), std::string::npos);
}

// --- COMPCOST ----------------------------------------------------------------

TEST_F(Sql, CompcostBelongsToItsConnection) {
  Db other;
  const std::string q = "select compged('abxc', 'abc')";
  std::string standard = db.one(q);
  EXPECT_EQ(db.one("select zeq_compcost('insert=', 5, 'delete=', 20)"), "insert=5 delete=20");
  EXPECT_EQ(db.one(q), "5");
  EXPECT_EQ(db.one("select zeq_compcost()"), "insert=5 delete=20");
  EXPECT_EQ(other.one(q), standard);
  EXPECT_EQ(other.one("select zeq_compcost()"), "default costs");
  EXPECT_EQ(other.one("select zeq_compcost('insert=', 7)"), "insert=7");
  EXPECT_EQ(other.one(q), "7");
  EXPECT_EQ(db.one(q), "5");
  // A second load in the same connection keeps its costs and encoding.
  db.one("select zeq_encoding('latin1')");
  char *err = nullptr;
  EXPECT_EQ(sqlite3_load_extension(db.raw(), env("ZEQ_SQLITE_EXTENSION").c_str(), nullptr, &err), SQLITE_OK);
  sqlite3_free(err);
  EXPECT_EQ(db.one(q), "5");
  EXPECT_EQ(db.one("select zeq_encoding()"), "latin1");
  EXPECT_EQ(db.one("select zeq_compcost_reset()"), "default costs");
  EXPECT_EQ(db.one(q), standard);
  EXPECT_EQ(other.one(q), "7");
}

TEST_F(Sql, CompcostMistakesAreErrorsNamingTheArgument) {
  std::string odd = db.one("select zeq_compcost('insert=', 5, 'delete=')");
  EXPECT_EQ(odd.rfind("error: ", 0), 0u) << odd;
  EXPECT_NE(odd.find("COMPCOST"), std::string::npos) << odd;
  std::string bad = db.one("select zeq_compcost('nonsense=', 5)");
  EXPECT_EQ(bad.rfind("error: ", 0), 0u) << bad;
}

// --- zeq_random ----------------------------------------------------------------

std::vector<std::string> zeq_rand(const std::string &args) {
  const std::string text = run_zeq("rand " + args).out;
  std::vector<std::string> out;
  for (std::string_view line : split(text, "\n"))
    if (!line.empty()) out.emplace_back(line);
  return out;
}

TEST_F(Sql, RandomDrawsMatchZeqRand) {
  if (env("ZEQ_TOOL").empty()) GTEST_SKIP() << "ZEQ_TOOL not set";
  struct Case { const char *sql; const char *zeq; };
  const Case cases[] = {
      {"select value from zeq_random('MT64', 42, 1000)", "--method MT64 --seed 42 --count 1000"},
      {"select value from zeq_random('TF2', 42, 20, 3, 4, 100, 'uint64')",
       "--method TF2 --seed 42 --count 20 --key 3 --thread 4 --position 100 --as uint64"},
      {"select value from zeq_random where method = 'xor128' and seed = 7 and count = 50"
       " and conversion = 'uint32'", "--method xor128 --seed 7 --count 50 --as uint32"},
      {"select value from zeq_random('PCG32I', 9, 30) where conversion = 'uint32'",
       "--method PCG32I --seed 9 --count 30 --as uint32"},
      {"select value from zeq_random('MT64', 1, 30) where conversion = 'double_53_closed_closed'",
       "--method MT64 --seed 1 --count 30 --as double_53_closed_closed"},
      {"select value from zeq_random(NULL, 5, 10)", "--seed 5 --count 10"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> want = zeq_rand(c.zeq);
    std::vector<std::string> got = db.rows(c.sql);
    ASSERT_EQ(got.size(), want.size()) << c.sql << (got.empty() ? "" : ": " + got[0]);
    for (size_t i = 0; i < got.size(); i++) {
      if (got[i].find_first_of(".e") == std::string::npos) {
        EXPECT_EQ(got[i], want[i]) << c.sql << " row " << i;
      } else {
        EXPECT_EQ(std::strtod(got[i].c_str(), nullptr), std::strtod(want[i].c_str(), nullptr)) << c.sql;
      }
    }
  }
}

TEST_F(Sql, RandomHiddenColumnsAndRowids) {
  EXPECT_EQ(db.one("select method from zeq_random('threefry', 1, 1)"), "FRY4X64");
  EXPECT_EQ(db.one("select seed from zeq_random('MT64', 42, 1)"), "42");
  EXPECT_EQ(db.rows("select rowid from zeq_random('MT64', 42, 3)"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(db.rows("select value from zeq_random('MT64', 42, 0)"), std::vector<std::string>{});
  // The same settings give the same draws on another connection.
  Db other;
  EXPECT_EQ(db.rows("select value from zeq_random('MH3', 11, 5)"),
            other.rows("select value from zeq_random('MH3', 11, 5)"));
}

TEST_F(Sql, RandomMistakesNameWhatIsValid) {
  struct Case { const char *sql; const char *mentions; };
  const Case cases[] = {
      {"select value from zeq_random('MT65', 1, 3)", "MT64"},
      {"select value from zeq_random('MT64', 1, 3) where conversion = 'bogus'", "uint64"},
      {"select value from zeq_random('MT64', 1)", "error"},
      {"select value from zeq_random('MT64', -1, 3)", "seed"},
      {"select value from zeq_random('MT64', 1, 'many')", "count"},
      {"select value from zeq_random(5, 1, 3)", "method"},
      {"select value from zeq_random('MT64', 1, 3, 0, 0, 5)", "cannot be positioned"},
      {"select value from zeq_random('MT64', 1, 3) where seed > 5", "error"},
  };
  for (const auto &c : cases) {
    std::string got = db.one(c.sql);
    EXPECT_EQ(got.rfind("error: ", 0), 0u) << c.sql << ": " << got;
    EXPECT_NE(got.find(c.mentions), std::string::npos) << c.sql << ": " << got;
  }
}

// The catalogue tables answer what the catalogue says, row for row.
TEST_F(Sql, CatalogueTablesDescribeWhatIsOffered) {
  size_t functions = 0;
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    functions++;
    const std::string where = " from zeq_functions where name = '" + lower(fn.name) + "'";
    EXPECT_EQ(db.one("select unit" + where), fn.unit()) << fn.name;
    EXPECT_EQ(db.one("select deterministic" + where), fn.deterministic() ? "1" : "0") << fn.name;
    EXPECT_EQ(db.one("select arguments" + where), fn.usage) << fn.name;
  }
  EXPECT_EQ(db.one("select count(*) from zeq_functions"), std::to_string(functions));
  EXPECT_EQ(db.one("select unit from zeq_functions where name = 'complev'"), "bytes");
  EXPECT_EQ(db.one("select group_concat(name) from zeq_methods where takes_thread = 0 and name like 'XOR%'"),
            "XOR64,XOR128,XOR1024,XOR4096,XORGENS");
  EXPECT_EQ(db.one("select count(*) from zeq_conversions where name in ('uint64', 'int64', 'default')"), "3");
  EXPECT_EQ(db.one("select zeq_version() <> ''"), "1");
}

// 'int64' gives the uint64 draws bit for bit as signed INTEGERs, so max()
// and ORDER BY compare numbers; a NULL hidden argument is one left out, so
// the conversion can be given by position for any method; an option the
// method ignores is refused with the methods that take it.
TEST_F(Sql, RandomInt64AndArgumentsByPosition) {
  const auto u = db.rows("select value from zeq_random('MT64', 42, 200, NULL, NULL, NULL, 'uint64')");
  const auto i = db.rows("select value from zeq_random('MT64', 42, 200, NULL, NULL, NULL, 'int64')");
  ASSERT_EQ(u.size(), 200u);
  ASSERT_EQ(i.size(), 200u);
  long long most = LLONG_MIN;
  for (size_t k = 0; k < u.size(); k++) {
    EXPECT_EQ((unsigned long long)std::stoll(i[k]), std::stoull(u[k])) << k;
    most = std::max(most, std::stoll(i[k]));
  }
  EXPECT_EQ(db.one("select max(value) from zeq_random('MT64', 42, 200, NULL, NULL, NULL, 'int64')"),
            std::to_string(most));
  EXPECT_EQ(db.one("select typeof(value) from zeq_random('MT64', 42, 1, NULL, NULL, NULL, 'int64')"), "integer");
  const std::string refused = db.one("select value from zeq_random('XOR64', 42, 2, 0, 3)");
  EXPECT_EQ(refused.rfind("error: zeq_random: ", 0), 0u) << refused;
  EXPECT_NE(refused.find("MT64"), std::string::npos) << refused;
}

// Loading: the module is found beside the extension's real file, and a load
// that failed is tried again (run through the sqlite3 shell, whose process
// has not loaded the extension yet).
TEST_F(Sql, LoadingFollowsLinksAndRetries) {
  const std::string shell = env("ZEQ_SQLITE3_SHELL");
  if (shell.empty()) GTEST_SKIP() << "ZEQ_SQLITE3_SHELL not set";
  const std::string ext = env("ZEQ_SQLITE_EXTENSION");
  const std::string dir = ext.substr(0, ext.rfind('/'));
  char tmp[] = "/tmp/zeqsql_load_XXXXXX";
  ASSERT_NE(mkdtemp(tmp), nullptr);
  const std::string t = tmp;
  const std::string input = ".load " + t + "/link.so sqlite3_zeqsqlite_init\nselect length(zeq_version()) > 0;\n" +
                            ".load " + t + "/copy.so sqlite3_zeqsqlite_init\n" + ".shell cp " + dir +
                            "/libzeqwucha.so " + t + "/\n" + ".load " + t + "/copy.so sqlite3_zeqsqlite_init\n" +
                            "select zeq_countw(char(97));\n";
  const std::string script = "ln -s " + ext + " " + t + "/link.so && cp " + ext + " " + t + "/copy.so && printf '" +
                             input + "' | env -u ZEQ_MODULE " + shell + " :memory: 2>&1; rm -rf " + t;
  const std::string out = run_command(script).out;
  EXPECT_EQ(out.rfind("1\n", 0), 0u) << out;
  EXPECT_NE(out.find("cannot load the module " + t + "/libzeqwucha.so"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 2), "1\n") << out;
}

}  // namespace
