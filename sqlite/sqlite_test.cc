// The SQL extension through SQLite's C API: every catalogue function by its
// examples, argument counts refused at prepare time, NULLs, BLOBs, wrong types
// and huge texts, the session encoding, COMPCOST per connection, and
// zeq_random against `zeq rand`.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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
  Db() {
    sqlite3_open(":memory:", &db_);
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

// A catalogue example call (NAME("text", 2)) as SQL: the lower-case name and
// the double-quoted literals as single-quoted ones.
std::string example_sql(std::string_view call) {
  std::string out;
  size_t paren = call.find('(');
  out = lower(call.substr(0, paren));
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

// zeq with these arguments (shell words).
ZeqAnswer run_zeq(const std::string &args) {
  ZeqAnswer a;
  if (FILE *p = popen((env("ZEQ_TOOL") + " " + args).c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) a.out.append(buf, n);
    a.ok = pclose(p) == 0;
  }
  return a;
}

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

// Names SQLite itself defines (char, count) keep SQLite's meaning for the
// argument counts the catalogue does not claim.
bool sqlite_has(const std::string &call) {
  sqlite3 *bare = nullptr;
  sqlite3_open(":memory:", &bare);
  sqlite3_stmt *st = nullptr;
  bool ok = sqlite3_prepare_v2(bare, ("select " + call).c_str(), -1, &st, nullptr) == SQLITE_OK;
  sqlite3_finalize(st);
  sqlite3_close(bare);
  return ok;
}

TEST_F(Sql, ArgumentCountsOutsideTheCatalogueRangeFailAtPrepare) {
  for (const Function &fn : zeq::catalogue::kFunctions) {
    if (!fn.has(zeq::catalogue::ZEQ_FN_FUNCTION)) continue;
    std::vector<int> wrong;
    if (fn.max_args != zeq::catalogue::kAnyCount) wrong = {fn.min_args - 1, fn.max_args + 1};
    for (int n : wrong) {
      if (n < 0) continue;
      std::string call = lower(fn.name) + "(";
      for (int i = 0; i < n; i++) call += i ? ", 'a'" : "'a'";
      call += ")";
      if (sqlite_has(call)) continue;
      std::string sql = "select " + call;
      sqlite3_stmt *st = nullptr;
      EXPECT_NE(sqlite3_prepare_v2(db.raw(), sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
      EXPECT_NE(std::string(sqlite3_errmsg(db.raw())).find("wrong number of arguments"), std::string::npos) << sql;
      sqlite3_finalize(st);
    }
  }
  // Variadic functions are checked when they run, with the usage in the message.
  EXPECT_NE(db.one("select catx('-')").find("CATX"), std::string::npos);
}

TEST_F(Sql, TaskDependentFunctionsStayOutOfIndexes) {
  db.rows("create table t(a text)");
  EXPECT_EQ(db.rows("create index i1 on t(complev(a, 'x'))"), std::vector<std::string>{});
  EXPECT_NE(db.one("create index i2 on t(compged(a, 'x'))").find("non-deterministic"), std::string::npos);
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

TEST_F(Sql, MissingArgumentsAndResults) {
  // A missing optional argument is an absent one.
  EXPECT_EQ(db.one("select find('abcabc', 'c', NULL)"), db.one("select find('abcabc', 'c')"));
  // After a refused COMPCOST, COMPGED has no costs and answers NULL.
  EXPECT_NE(db.one("select zeq_compcost('nonsense=', 5)").find("COMPCOST"), std::string::npos);
  EXPECT_EQ(db.one("select compged('abc', 'abd')"), "NULL");
  EXPECT_EQ(db.one("select zeq_compcost()"), "default costs");
  EXPECT_EQ(db.one("select compged('abc', 'abd')"), "100");
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
  // 20 million characters: counted and searched; a result beyond the call
  // layer's limit is an error, not a crash.
  db.rows("create table big(s text)");
  db.rows("insert into big values (printf('%.*c', 20000000, 'a') || 'z')");
  EXPECT_EQ(db.one("select findc(s, 'z') from big"), "20000001");
  EXPECT_EQ(db.one("select countc(s, 'a') from big"), "20000000");
  EXPECT_NE(db.one("select cats(s, s) from big").rfind("error: ", 0), std::string::npos);
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
  EXPECT_EQ(db.one("select hex(char(X'E961', 1))"), "E9");
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
  EXPECT_EQ(other.one(q), standard);
  EXPECT_EQ(other.one("select zeq_compcost('insert=', 7)"), "insert=7");
  EXPECT_EQ(other.one(q), "7");
  EXPECT_EQ(db.one(q), "5");
  EXPECT_EQ(db.one("select zeq_compcost()"), "default costs");
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

}  // namespace
