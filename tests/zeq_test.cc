// zeq: the statement parser, number formatting, the registry and the CSV reader
// (the tool end to end: zeq_cli_test.cc).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tools/zeq/csv.h"
#include "tools/zeq/parser.h"
#include "tools/zeq/registry.h"
#include "tools/zeq/session.h"

using namespace zeqtool;

namespace {

struct ParseCase {
  const char *text;
  bool ok;
  const char *name;
  std::vector<std::pair<Arg::Kind, std::string>> args;  // kind and text (numbers as formatted)
};

std::string render(const Arg &a) {
  if (a.kind == Arg::Number) return format_number(a.number);
  return a.text;
}

TEST(ZeqParser, Statements) {
  const ParseCase cases[] = {
      {"CHAR(\"abc\", 2)", true, "CHAR", {{Arg::String, "abc"}, {Arg::Number, "2"}}},
      {"char('it''s', 2.5)", true, "CHAR", {{Arg::String, "it's"}, {Arg::Number, "2.5"}}},
      {"subpad(\"a\"\"b\", -1, .5)", true, "SUBPAD", {{Arg::String, "a\"b"}, {Arg::Number, "-1"}, {Arg::Number, "0.5"}}},
      {"CHAR('x', .)", true, "CHAR", {{Arg::String, "x"}, {Arg::Missing, ""}}},
      {"CATX('-', t, 1e15)", true, "CATX", {{Arg::String, "-"}, {Arg::Variable, "T"}, {Arg::Number, "1000000000000000"}}},
      {"FIRST('#') # a comment", true, "FIRST", {{Arg::String, "#"}}},
      {"  FIRST ( '' ) ;", true, "FIRST", {{Arg::String, ""}}},
      {"COUNTW()", true, "COUNTW", {}},
      {"CHAR('abc', 2", false, nullptr, {}},
      {"CHAR('abc, 2)", false, nullptr, {}},
      {"CHAR 'abc'", false, nullptr, {}},
      {"CHAR('a',, 2)", false, nullptr, {}},
      {"CHAR('a') extra", false, nullptr, {}},
      {"CHAR('a') ## extra", true, "CHAR", {{Arg::String, "a"}}},
      {"1abc('a')", false, nullptr, {}},
      {"CHAR('a', 1.2.3)", false, nullptr, {}},
      {"", false, nullptr, {}},
  };
  for (const auto &c : cases) {
    ParseError err;
    auto st = parse_statement(c.text, err);
    ASSERT_EQ(st.has_value(), c.ok) << c.text << " : " << err.message;
    if (!c.ok) {
      EXPECT_FALSE(err.message.empty()) << c.text;
      EXPECT_GE(err.column, 1u) << c.text;
      continue;
    }
    EXPECT_FALSE(st->call);
    EXPECT_EQ(st->name, c.name);
    ASSERT_EQ(st->args.size(), c.args.size()) << c.text;
    for (size_t i = 0; i < c.args.size(); i++) {
      EXPECT_EQ(st->args[i].kind, c.args[i].first) << c.text << " arg " << i;
      EXPECT_EQ(render(st->args[i]), c.args[i].second) << c.text << " arg " << i;
    }
  }
}

TEST(ZeqParser, CallForm) {
  ParseError err;
  auto st = parse_statement("call catx(\"-\", t, 'a', \"b\")", err);
  ASSERT_TRUE(st);
  EXPECT_TRUE(st->call);
  EXPECT_EQ(st->name, "CATX");
  ASSERT_EQ(st->args.size(), 4u);
  EXPECT_EQ(st->args[1].kind, Arg::Variable);
}

TEST(ZeqFormat, Numbers) {
  EXPECT_EQ(format_number(std::nan("")), ".");
  EXPECT_EQ(format_number(15), "15");
  EXPECT_EQ(format_number(-0.0), "0");
  EXPECT_EQ(format_number(0.1), "0.1");
  EXPECT_EQ(format_number(1e20), "100000000000000000000");
  EXPECT_EQ(format_number(123456789), "123456789");
  EXPECT_EQ(format_number(-3.25), "-3.25");
}

// The registry is the catalogue less its hidden rows; usage lines and the
// paired fields are read from the rows.
TEST(ZeqRegistry, ComesFromTheCatalogue) {
  size_t visible = 0;
  for (const auto &f : zeq::catalogue::kFunctions) {
    const bool hidden = f.has(zeq::catalogue::ZEQ_FN_HIDDEN);
    EXPECT_EQ(find_function(f.name) != nullptr, !hidden) << f.name;
    visible += !hidden;
  }
  EXPECT_EQ(functions().size(), visible);
  EXPECT_EQ(find_function("NOSUCH"), nullptr);
  const struct {
    const char *name, *usage;
  } lines[] = {
      {"COMPGED", "COMPGED(s1, s2 [, cutoff] [, modifiers])"},
      {"CATB", "CATB(item, ...) | CALL CATB(target, item, ...)"},
      {"COMPCOST", "CALL COMPCOST(operation, cost, ...)"},
  };
  for (const auto &l : lines) EXPECT_EQ(usage_line(*find_function(l.name)), l.usage);
}

TEST(ZeqRegistry, FieldPairs) {
  using P = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(field_pairs("s1: first string; s2: second", ':'), (P{{"s1", "first string"}, {"s2", "second"}}));
  EXPECT_EQ(field_pairs("I=ignore case; :=truncate", '='), (P{{"I", "ignore case"}, {":", "truncate"}}));
  EXPECT_EQ(field_pairs("==equals", '='), (P{{"=", "equals"}}));
  EXPECT_EQ(field_pairs("", '='), P{});
}

// Reads every record of `text`; "|"-joined fields, "@line" after each.
std::string read_all(const std::string &text, char delimiter, std::string &error,
                     size_t cap = CsvReader::kMaxRecordBytes) {
  std::FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  CsvReader reader(f, Dialect{delimiter, delimiter == '\t'}, cap);
  std::string out;
  Record rec;
  while (reader.next(rec)) {
    for (size_t i = 0; i < rec.size(); i++) out += (i ? "|" : "") + rec[i];
    out += "@" + std::to_string(reader.line()) + ";";
  }
  error = reader.error();
  std::fclose(f);
  return out;
}

TEST(ZeqCsv, ReadsRecordsAndTheirLines) {
  const struct {
    const char *text;
    char delimiter;
    const char *records, *error;
  } cases[] = {
      {"a,b\n1,2\n", ',', "a|b@1;1|2@2;", ""},
      {"a,b\r\n\r\n1, 2 \r\n", ',', "a|b@1;1| 2 @3;", ""},  // CRLF, a blank line, blanks kept
      {"\xEF\xBB\xBF" "a\n\"x\"\"y\"\n", ',', "a@1;x\"y@2;", ""},  // byte-order mark, doubled quote
      {"a,b\n\"1\n2\",\"3,4\"\nz,w", ',', "a|b@1;1\n2|3,4@2;z|w@4;", ""},  // newline inside, no final one
      {"a\tb\nx y\t\"p\tq\"\n", '\t', "a|b@1;x y|\"p|q\"@2;", ""},  // TSV: quotes are text
      {"a\tb\nx\\ty\t\\\\n\\q\\\n", '\t', "a|b@1;x\ty|\\n\\q\\@2;", ""},  // escapes; others kept
      {"a;b\r1;\"2;3\"\r", ';', "a|b@1;1|2;3@1;", ""},  // lone CRs end records
      {"a\n1\n2\"x\n3\n", ',', "a@1;1@2;", "line 3: malformed field"},
      {"a\n\"1\"x\n", ',', "a@1;", "line 2: malformed field"},
      {"a\n1\n\"open\n\nmore", ',', "a@1;1@2;", "line 3: a quoted field is not closed"},
      {"", ',', "", ""},
  };
  for (const auto &c : cases) {
    std::string error;
    EXPECT_EQ(read_all(c.text, c.delimiter, error), c.records) << c.text;
    EXPECT_EQ(error.substr(0, std::string(c.error).size()), c.error) << c.text;
    EXPECT_EQ(error.empty(), std::string(c.error).empty()) << c.text;
  }
}

// A field longer than the read chunk comes back whole; a record longer than
// the cap is an error, not an unbounded buffer.
TEST(ZeqCsv, LongFieldsAndTheCap) {
  std::string error;
  const std::string big(200000, 'x');
  EXPECT_EQ(read_all("a,b\n\"" + big + "\",1\n", ',', error), "a|b@1;" + big + "|1@2;");
  const size_t cap = 1u << 20;
  std::string open = "a\n\"" + std::string(cap + 100000, 'y');
  read_all(open, ',', error, cap);
  EXPECT_NE(error.find("line 2: a record longer than"), std::string::npos) << error;
}

// What the writer writes, the reader reads back field for field, in every
// dialect, whatever bytes the fields hold and wherever the read chunks end.
TEST(ZeqCsv, WrittenRecordsReadBack) {
  const Dialect dialects[] = {{',', false}, {';', false}, {'\t', true}};
  const char alphabet[] = {'a', ' ', ',', ';', '\t', '"', '\\', '\n', '\r', 'n', 't', '\xC3', '\xA9'};
  uint32_t s = 7;
  auto next = [&] { return (s = s * 1664525u + 1013904223u) >> 8; };
  for (const Dialect &d : dialects) {
    std::vector<Record> records;
    std::string text;
    for (int r = 0; r < 3000; r++) {
      Record rec(1 + next() % 4);
      for (auto &f : rec)
        for (uint32_t n = next() % (r % 100 == 0 ? 400000 : 12); n > 0; n--) f.push_back(alphabet[next() % sizeof alphabet]);
      if (rec.size() == 1 && rec[0].empty()) rec[0] = "x";  // an empty line is a blank line
      append_record(text, rec, d);
      records.push_back(std::move(rec));
    }
    std::FILE *f = fmemopen(text.data(), text.size(), "r");
    CsvReader reader(f, d);
    Record got;
    size_t i = 0;
    while (reader.next(got)) ASSERT_EQ(got, records[i++]) << "record " << i << " delimiter " << (int)d.delimiter;
    std::fclose(f);
    EXPECT_EQ(reader.error(), "");
    EXPECT_EQ(i, records.size());
  }
}

TEST(ZeqCsv, WritesQuotedOnlyWhenNeeded) {
  std::string line;
  append_record(line, {"plain", "a,b", "say \"hi\"", "two\nlines", " blank ", ""}, Dialect{});
  EXPECT_EQ(line, "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\", blank ,\n");
  line.clear();
  append_record(line, {"a,b", "c\td", "x\\y\nz\r"}, Dialect{'\t', true});
  EXPECT_EQ(line, "a,b\tc\\td\tx\\\\y\\nz\\r\n");
}

}  // namespace
