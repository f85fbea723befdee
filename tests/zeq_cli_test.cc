// zeq end to end: the built tool run as a user runs it, its stdout, stderr
// and exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "charfn/catalogue.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

struct Case {
  const char *args;
  const char *out;
  int status;
  const char *err = "";  // a text stderr must contain
};

class ZeqCli : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = std::getenv("ZEQ_TOOL") ? std::getenv("ZEQ_TOOL") : ZEQ_BINARY_DIR "/zeq";
    char tmpl[] = "/tmp/zeq_cli_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
  }

  std::string file(const std::string &name, const std::string &content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Runs `zeq ARGS` (a shell word list) with `input` on stdin.
  ToolRun zeq(const std::string &args, const std::string &input = "") {
    const std::string in = file("stdin", input);
    const std::string cmd =
        "{ " + tool_ + " " + args + "; } <" + in + " >" + dir_ + "/stdout 2>" + dir_ + "/stderr";
    ToolRun r;
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = slurp(dir_ + "/stdout");
    r.err = slurp(dir_ + "/stderr");
    return r;
  }

  // Runs a shell command line as it is (the tool's path written in it).
  ToolRun zeq_shell(const std::string &cmd) {
    const std::string full = "{ " + cmd + "; } >" + dir_ + "/stdout 2>" + dir_ + "/stderr";
    ToolRun r;
    const int st = std::system(full.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = slurp(dir_ + "/stdout");
    r.err = slurp(dir_ + "/stderr");
    return r;
  }

  // Runs each case with an empty stdin and checks status, stdout and stderr.
  void expect_cases(const Case *b, const Case *e) {
    for (const Case *c = b; c != e; c++) {
      ToolRun r = zeq(c->args);
      EXPECT_EQ(r.status, c->status) << c->args << "\n" << r.err;
      EXPECT_EQ(r.out, c->out) << c->args;
      EXPECT_NE(r.err.find(c->err), std::string::npos) << c->args << "\nstderr: " << r.err;
    }
  }

  std::string tool_, dir_;
};

#define EXPECT_CASES(cases) expect_cases(std::begin(cases), std::end(cases))

// One row per family: every statement answers on its own line.
TEST_F(ZeqCli, EveryFamilyAnswers) {
  const Case cases[] = {
      {"'CHAR(\"abc\", 2)' 'SUBPAD(\"abc\", 0, 5)'", "b\n abc \n", 0},
      {"'CATX(\"-\", \"a\", \"  \", \"b\")' 'CATM(\"-\", \"a\", \"  \", \"b\")'", "a-b\na--b\n", 0},
      {"--char t='  ab' 'CALL CATB(t, \"c\")'", "T='ab c'\n", 0},
      {"--char t=x 'CALL CATX(\"-\", t, \"a\", \"b\")' 'CALL CATX(\"+\", t, \"c\")'", "T='x-a-b'\nT='x-a-b+c'\n", 0},
      {"'CATQ(\"C\", \"a,b\", \"c\")'", "\"a,b\",c\n", 0},
      {"'COMPARE(\"abc\", \"abd\")' 'COMPLEV(\"kitten\", \"sitting\")' 'COMPGED(\"abc\", \"acb\")'", "-3\n3\n20\n", 0},
      {"'CALL COMPCOST(\"swap=\", 1)' 'COMPGED(\"abc\", \"acb\")'", "\n1\n", 0},
      {"'COUNT(\"aaaa\", \"aa\")' 'COUNTC(\"Hello World\", \"lo\")' 'COUNTW(\"a b  c\")'", "2\n5\n3\n", 0},
      {"'FIND(\"She sells sea shells\", \"she\", \"i\")' 'FINDC(\"abc,def\", \",\")'", "1\n4\n", 0},
      {"'FINDW(\"the brown fox\", \"fox\")' 'FINDLEV(\"a cat\", \"cat\", 0)'", "11\n3\n", 0},
      {"'SCAN(\"one two three\", -1)' 'SCANQ(\"a \"\"b c\"\" d\", 2)' 'COUNTQ(\"a \"\"b c\"\" d\")'",
       "three\n\"b c\"\n3\n", 0},
      {"--num p=0 --num l=0 'CALL SCAN(\"one two three\", 2, p, l)'", "P=5 L=3\n", 0},
      {"'NVALID(\"abc\")' 'NLITERAL(\"a b\")' 'ANYFIRST(\"12ab\")' 'POSITION(\"abc\", \"c\")'", "1\n\"a b\"N\n3\n3\n", 0},
      {"--encoding utf-8 'COUNTW(\"\u00fcber stra\u00dfe\")' 'FIND(\"\u00fcber stra\u00dfe\", \"stra\u00dfe\")'", "2\n6\n", 0},
      {"--encoding utf-8 'SCAN(\"\u00fcber stra\u00dfe\", -1)' 'COMPARE(\"\u00fcber\", \"\u00fcbex\")'",
       "stra\u00dfe\n-4\n", 0},
  };
  EXPECT_CASES(cases);
}

// Failures keep one line per statement: an empty line (or "." for a missing
// number), a sentence on stderr that names the line, and the exit status.
TEST_F(ZeqCli, FailedStatementsKeepTheirLine) {
  const Case cases[] = {
      {"'COMPGED(\"a\")' 'CHAR(\"abc\", 2)'", "\nb\n", 2,
       "line 1: COMPGED takes 2 to 4 arguments, got 1; usage: COMPGED(s1, s2 [, cutoff] [, modifiers])"},
      {"'CHAR(\"abc\",1,2,3)' 'FIRST(\"q\")'", "\nq\n", 2, "line 1: CHAR takes 2 arguments, got 4"},
      {"'CHAR(\"abc\", .)'", "\n", 1, "line 1: CHAR: note"},
      {"--length 5 'CAT(\"abc\", \"def\")'", "abcde\n", 1, "NOTE:"},
      {"'CHAR(\"abc\"' 'FIRST(\"z\")'", "\nz\n", 2, "line 1: parse error at column"},
      {"'FIRST(\"z\")' 'NOSUCH(1)'", "z\n\n", 2, "line 2: unknown function NOSUCH"},
      {"'CHAR(v, 1)'", "\n", 2, "line 1: undefined variable V"},
      {"'COMPCOST(\"swap=\", 1)'", "\n", 2, "COMPCOST is a call routine"},
  };
  EXPECT_CASES(cases);
  for (const Case &c : cases) EXPECT_EQ(zeq(c.args).err.find("0x"), std::string::npos) << c.args;
}

TEST_F(ZeqCli, StatementsFromStdin) {
  ToolRun r = zeq("", "# comment\nFIRST(\"xyz\")  # the first\n\nNOSUCH(1)\nCHAR(\"xyz\", 3)\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "x\n\nz\n");
  EXPECT_NE(r.err.find("line 4: unknown function NOSUCH"), std::string::npos) << r.err;
  EXPECT_EQ(zeq("", "").status, 0);
}

// Option values are whole numbers within documented bounds; anything else is
// a usage error before anything runs.
TEST_F(ZeqCli, OptionValuesAreChecked) {
  const Case cases[] = {
      {"--length 99999999999 'CAT(\"abc\")'", "", 2, "--length: '99999999999' is not a whole number from 1 to 32767"},
      {"--length 2147483647 'CAT(\"abc\")'", "", 2, "from 1 to 32767"},
      {"--length abc 'CAT(\"abc\")'", "", 2, "'abc' is not a whole number"},
      {"--length 0 'CAT(\"abc\")'", "", 2, "--length"},
      {"--length 32767 'CAT(\"abc\")'", "abc\n", 0},
      {"--length -5 'CAT(\"abc\")'", "", 2, "--length"},
      {"--repeat 0 'CAT(\"a\")'", "", 2, "--repeat"},
      {"--repeat 2x 'CAT(\"a\")'", "", 2, "--repeat"},
      {"--kind 256 'CAT(\"a\")'", "", 2, "--kind"},
      {"--kind 0x58 'CAT(\"a\")'", "a\n", 0},
      {"--char novalue 'CAT(\"a\")'", "", 2, "NAME=VALUE"},
      {"--bogus 'CHAR(\"a\", 1)'", "", 2, "--bogus"},
      {"--encoding ebcdic 'CAT(\"a\")'", "", 2, "--encoding"},
      {"'CAT(\"a\")' >/dev/full", "", 2, "cannot write the output"},
      {"rand --count -1", "", 2, "--count: '-1' is not a whole number"},
      {"rand --count lots", "", 2, "--count"},
      {"rand --seed -3", "", 2, "--seed"},
      {"rand --format hex", "", 2, "--format"},
      {"batch --jobs 0 - 'a=CAT(\"x\")'", "", 2, "--jobs"},
      {"batch --on-error maybe - 'a=CAT(\"x\")'", "", 2, "--on-error"},
      {"batch --progress --no-progress - 'a=CAT(\"x\")'", "", 2, "excludes"},
  };
  EXPECT_CASES(cases);
}

TEST_F(ZeqCli, HelpAndVersion) {
  ToolRun v = zeq("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("zeq ", 0), 0u) << v.out;

  ToolRun list = zeq("help");
  EXPECT_EQ(list.status, 0);
  size_t lines = 0;
  for (const auto &f : zeq::catalogue::kFunctions) {
    if (f.has(zeq::catalogue::ZEQ_FN_HIDDEN)) {
      EXPECT_EQ(list.out.find(std::string(f.name) + " "), std::string::npos) << f.name;
      continue;
    }
    lines++;
    EXPECT_NE(list.out.find(std::string(f.name) + "  " ), std::string::npos) << f.name;
    EXPECT_NE(list.out.find(std::string(f.unit()) + std::string(12 - f.unit().size(), ' ') + std::string(f.summary)),
              std::string::npos) << f.name;
  }
  EXPECT_EQ((size_t)std::count(list.out.begin(), list.out.end(), '\n'), lines);

  ToolRun one = zeq("help compged");
  EXPECT_EQ(one.status, 0);
  for (const char *part : {"Usage: COMPGED(s1, s2 [, cutoff] [, modifiers])", "Unit: bytes in a UTF-8", "Arguments:", "cutoff", "Modifiers:",
                           "  I  ", "Examples:", "COMPGED(\"abc\", \"abd\") => 100"})
    EXPECT_NE(one.out.find(part), std::string::npos) << part << "\n" << one.out;
  EXPECT_EQ(zeq("help nosuch").status, 2);
  ToolRun usage = zeq("--help");
  EXPECT_EQ(usage.status, 0);
  EXPECT_NE(usage.out.find("32767"), std::string::npos);
  EXPECT_EQ(zeq("rand --help").status, 0);
  EXPECT_EQ(zeq("batch --help").status, 0);
}

TEST_F(ZeqCli, Rand) {
  const Case cases[] = {
      {"rand --method MT32 --seed 5489 --count 2 --as uint32", "3499211612\n581869302\n", 0},
      {"rand --method XOR64 --seed 1 --count 1 --as uint64", "5180492295206395165\n", 0},
      {"rand --method MT32 --as nosuch", "", 2, "unknown slot"},
      {"rand --method nosuch --count 1", "", 2, "unknown method 'nosuch'; the methods are SUBKEY32, SUBKEY64"},
      {"rand --method MT32 --seed 5489 --count 2 --as uint32 --format binary",
       "\x5c\xbb\x91\xd0\xf6\x9e\xae\x22", 0},
      {"rand --method mt --seed 1 --count 0", "", 0},
      // A positioned counter-based stream (the value zeq rand has always given).
      {"rand --method FRY4X64 --seed 7 --key 3 --position 2 --count 1 --as uint64", "16612467746238893872\n", 0},
      {"rand --method MT64 --count 1 --as 32_open_open", "", 2, "MT64 does not offer the slot double_32_open_open"},
      {"rand --method MT64 --position 5", "", 2, "method MT64 cannot be positioned"},
      {"rand --method MT64 --position -1", "", 2, "--position wants an unsigned integer"},
      {"rand --method MT64 --seed-double x", "", 2, "--seed-double wants a finite number, got x"},
      {"rand --method MT64 --seed-double 1e400", "", 2, "--seed-double wants a finite number, got 1e400"},
      {"rand --method PCG32I --key-double 1e300 --count 0", "", 2, "method PCG32I takes whole keys"},
      {"rand --method XOR64 --thread 3", "", 2, "method XOR64 takes no thread number; the methods that take one are"},
      {"rand --count 2 stray", "", 2, "zeq rand takes no further words, got 'stray'"},
  };
  EXPECT_CASES(cases);
  ToolRun methods = zeq("rand --list-methods");
  EXPECT_EQ(methods.status, 0);
  EXPECT_EQ(std::count(methods.out.begin(), methods.out.end(), '\n'), 19);
  for (const char *m : {"MTHYBRID  32-bit", "MT64      64-bit", "PCG64I", "constant without a key"})
    EXPECT_NE(methods.out.find(m), std::string::npos) << m << "\n" << methods.out;
  EXPECT_EQ(methods.out.rfind("SUBKEY32 ", 0), 0u) << methods.out;  // the listing order is kept
}

// A reader that stops after one line ends the draw at once: the values are
// written as they are drawn, and the closed pipe ends zeq quietly.
TEST_F(ZeqCli, RandEndsWithItsReader) {
  // `timeout` only guards against a hang; a draw held in memory would not end.
  const std::string cmd = "timeout 60 " + tool_ + " rand --method MT64 --count 4000000000000 2>" + dir_ +
                          "/err | head -1";
  FILE *p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
  pclose(p);
  EXPECT_NE(std::string(line).find('.'), std::string::npos) << line;
  EXPECT_EQ(slurp(dir_ + "/err"), "");  // no complaint about the closed pipe
  ToolRun bin = zeq("rand --count 100000000 --format binary | head -c 16 | wc -c");
  EXPECT_EQ(bin.out, "16\n");
}

// ---------------------------------------------------------------------------
// batch
// ---------------------------------------------------------------------------

TEST_F(ZeqCli, BatchQuotedFieldsAndEmbeddedNewlines) {
  const std::string csv = file("people.csv",
                               "id,name,text\n"
                               "1,\"Smith, John\",\"a b c\"\n"
                               "2,\"O\"\"Brien\",\"multi\nline words\"\n"
                               "3,,x\n");
  ToolRun r = zeq("batch --jobs 2 " + csv + " 'd=COMPGED(name, \"Smith\")' 'w=COUNTW(text)' 'c=CATX(\"-\", id, name)'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "id,name,text,d,w,c\n"
            "1,\"Smith, John\",a b c,240,3,\"1-Smith, John\"\n"
            "2,\"O\"\"Brien\",\"multi\nline words\",630,2,\"2-O\"\"Brien\"\n"
            "3,,x,1000,1,3\n");
  EXPECT_EQ(r.err, "");

}

// The dialects and the ways of naming columns: output, exit status and a
// text stderr must hold.
TEST_F(ZeqCli, BatchDialectsAndColumnNames) {
  const struct {
    const char *opts, *input, *specs, *out;
    int status;
    const char *err;
  } cases[] = {
      // TSV: no quoting, escapes decoded on the way in and written back on the way out.
      {"--tsv", "a\tb\nx \"y\t(p\\tq\\\\)\n", "'n=COUNTW(a)' 'j=CATX(\"|\", a, b)'",
       "a\tb\tn\tj\nx \"y\t(p\\tq\\\\)\t2\tx \"y|(p\\tq\\\\)\n", 0, ""},
      {"--delimiter ';'", "a;b\n\"1;2\";x,y\n", "'c=CATX(\";\", a, b)'", "a;b;c\n\"1;2\";x,y;\"1;2;x,y\"\n", 0, ""},
      {"--no-header", "p q,1\nr,2\n", "'n=COUNTW(c1)' 'x=CATX(\"-\", c2, C1)'", "p q,1,2,1-p q\nr,2,1,2-r\n", 0, ""},
      {"--no-header", "a,b\nc\n", "'n=COUNTW(c1)'", "a,b,1\n", 2, "line 2: 1 field where the first row has 2"},
      {"", "First Name,e-mail\nAl Bo,al@x\n", "'n=COUNTW(\"First Name\"n)' 'm=FIND(\"e-MAIL\"N, \"@\")'",
       "First Name,e-mail,n,m\nAl Bo,al@x,2,3\n", 0, ""},
      {"", "a,b\nx,y\n", "'n=COUNTW(\"a\")'", "a,b,n\nx,y,1\n", 0, ""},  // a string is text
      {"", "a,b\nx,y\n", "'n=COUNTW(\"c d\"n)'", "", 2, "c d names no input column (the columns are a, b)"},
      {"", "id,Name,x,name ,ID\n1,2,3,4,5\n", "'n=COUNTW(x)'", "", 2,
       "the header names a column twice: 'id' in columns 1 and 5; 'Name' in columns 2 and 4"},
      {"", "a,b\nx,y\n", "'B=COUNTW(a)'", "", 2, "column B: the input already has a column B"},
      {"", "a,b\nx,y\n", "'n=COUNTW(a)' 'N=COUNTW(b)'", "", 2, "column N is given twice"},
      {"--delimiter ab", "a\n", "'n=COUNTW(a)'", "", 2, "--delimiter wants one character"},
      {"--tsv --delimiter ,", "a\n", "'n=COUNTW(a)'", "", 2, "TSV fields are split on tabs"},
  };
  for (const auto &c : cases) {
    ToolRun r = zeq(std::string("batch ") + c.opts + " - " + c.specs, c.input);
    EXPECT_EQ(r.status, c.status) << c.opts << " " << c.specs << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.opts << " " << c.specs;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.specs << "\n" << r.err;
  }
}

// Results go to --output FILE, which may not be the input.
TEST_F(ZeqCli, BatchOutputFile) {
  const std::string in = file("in.csv", "a\nx y\n"), out = dir_ + "/out.csv";
  ToolRun r = zeq("batch --output " + out + " " + in + " 'n=COUNTW(a)'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(slurp(out), "a,n\nx y,2\n");
  ToolRun same = zeq("batch -o " + in + " " + in + " 'n=COUNTW(a)'");
  EXPECT_EQ(same.status, 2);
  EXPECT_NE(same.err.find("is the input file"), std::string::npos) << same.err;
  EXPECT_EQ(slurp(in), "a\nx y\n");
}

// A forced progress bar (stderr is no terminal: 80 columns) never wraps and
// leaves nothing behind: no line break, and its last word clears the line.
TEST_F(ZeqCli, ProgressBarClearsItself) {
  ToolRun r = zeq_shell("yes 'a b c' | head -3000000 | " + tool_ + " batch --progress --no-header - 'n=COUNTW(c1)' | tail -1");
  EXPECT_EQ(r.out, "a b c,3\n");
  EXPECT_EQ(r.err.find('\n'), std::string::npos) << r.err;
  ASSERT_GE(r.err.size(), 4u);
  EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K");
  for (size_t b = 0, e; b < r.err.size(); b = e + 1) {
    e = std::min(r.err.find('\r', b), r.err.size());
    EXPECT_LT(e - b, 80u + 3) << r.err.substr(b, e - b);  // the text and the erase-line sequence
  }
}

// A full disk stops every command at once with the system's sentence and
// exit 2, even on endless input or an endless draw (timeout only guards a
// hang); a closed pipe ends zeq quietly.
TEST_F(ZeqCli, WriteErrorsStopAtOnce) {
  const char *commands[] = {
      "yes 'a b c' | timeout 60 {} batch --no-header - 'n=COUNTW(c1)' >/dev/full",
      "yes 'COUNTW(\"a b\")' | timeout 60 {} >/dev/full",
      "timeout 60 {} rand --count 1000000000000 >/dev/full",
      "timeout 60 {} rand --count 1000000000000 --format binary --as uint64 >/dev/full",
      "timeout 60 {} help >/dev/full",
  };
  for (std::string cmd : commands) {
    cmd.replace(cmd.find("{}"), 2, tool_);
    ToolRun r = zeq_shell(cmd);
    EXPECT_EQ(r.status, 2) << cmd;
    EXPECT_EQ(r.err, "zeq: cannot write the output: No space left on device\n") << cmd;
  }
  ToolRun pipe = zeq_shell("yes 'a b' | " + tool_ + " batch --no-header - 'n=COUNTW(c1)' | head -2");
  EXPECT_EQ(pipe.out, "a b,2\na b,2\n");
  EXPECT_EQ(pipe.err, "");
}

// Whole numbers print in full, even above a million, and a growable result
// takes more than 16 MiB when it needs it.
TEST_F(ZeqCli, BigNumbersAndResults) {
  const std::string needle = std::string(1500000, 'a') + "b";
  ToolRun r = zeq("", "FIND(\"" + needle + "\", \"b\")\n");
  EXPECT_EQ(r.out, "1500001\n") << r.err;
  ToolRun b = zeq("batch --no-header - 'p=FIND(c1, \"b\")'", needle + "\n");
  EXPECT_EQ(b.out.substr(b.out.size() - 9), ",1500001\n");
  ToolRun g = zeq("--growable 'SUBPAD(\"a\", 1, 20000000)' | wc -c");
  EXPECT_EQ(g.status, 0) << g.err;
  EXPECT_EQ(g.out, "20000001\n");
}

TEST_F(ZeqCli, BatchMalformedInput) {
  const Case cases[] = {
      {"batch - 'c=CAT(a, b)'", "a,b,c\n1,2,12\n", 2, "line 3: malformed field"},
      {"batch - 'c=CAT(a, b)'", "a,b,c\n1,2,12\n", 2, "line 3: 1 field where the header has 2"},
      {"batch - 'c=CAT(a, b)'", "a,b,c\n1,2,12\n", 2, "line 3: a quoted field is not closed"},
  };
  const char *inputs[] = {"a,b\n1,2\n3,\"x\"y\n5,6\n", "a,b\n1,2\n3\n5,6\n", "a,b\n1,2\n3,\"4\n5,6\n"};
  for (size_t i = 0; i < 3; i++) {
    ToolRun r = zeq(cases[i].args, inputs[i]);
    EXPECT_EQ(r.status, cases[i].status) << inputs[i];
    EXPECT_EQ(r.out, cases[i].out) << inputs[i];
    EXPECT_NE(r.err.find(cases[i].err), std::string::npos) << r.err;
  }
  EXPECT_EQ(zeq("batch - 'c=CAT(a)'", "").status, 2);  // no header
  EXPECT_EQ(zeq("batch /nonexistent/file.csv 'c=CAT(a)'").status, 2);
}

TEST_F(ZeqCli, BatchColumnsAreCheckedBeforeTheFirstRow) {
  const std::string csv = file("a.csv", "name,n\nx,1\n");
  const struct {
    const char *spec, *err;
  } cases[] = {
      {"'d=COMPGED(name)'", "column d: COMPGED takes 2 to 4 arguments, got 1"},
      {"'d=COMPGED(nme, \"x\")'", "column d: NME names no input column (the columns are name, n)"},
      {"'d=NOSUCH(name)'", "unknown function NOSUCH"},
      {"'d=CHAR(name'", "column d: parse error"},
      {"'=CAT(name)'", "is not NAME=EXPRESSION"},
      {"'CAT(name)'", "is not NAME=EXPRESSION"},
      {"'d=CAT(name)' 'CALL COMPCOST(\"swap=\", 1)'", "a CALL can only come before"},
      {"--num nope 'd=CAT(name)'", "--num nope: no such column"},  // options may follow the file
  };
  for (const auto &c : cases) {
    ToolRun r = zeq(std::string("batch ") + csv + " " + c.spec);
    EXPECT_EQ(r.status, 2) << c.spec;
    EXPECT_EQ(r.out, "") << c.spec;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.spec << "\n" << r.err;
  }
}

TEST_F(ZeqCli, BatchOnError) {
  const std::string csv = file("n.csv", "s,p\nabc,2\nabc,x\nabc,\nxyz,3\n");
  const Case cases[] = {
      {"stop", "s,p,c\nabc,2,b\n", 1, "row 2, column c: the value 'x' of column p is not a number"},
      {"skip", "s,p,c\nabc,2,b\nxyz,3,z\n", 1, "row 3, column c: CHAR: note"},
      {"empty", "s,p,c\nabc,2,b\nabc,x,\nabc,,\nxyz,3,z\n", 1, "row 2, column c:"},
  };
  for (const Case &c : cases) {
    ToolRun r = zeq(std::string("batch --num p --on-error ") + c.args + " " + csv + " 'c=CHAR(s, p)'");
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << "\n" << r.err;
  }
}

// A CALL before the columns sets every worker's task: each thread sees the
// same costs.
TEST_F(ZeqCli, BatchTaskStatePerWorker) {
  std::string csv = "n\n";
  for (int i = 0; i < 5000; i++) csv += "abxc\n";
  const std::string path = file("c.csv", csv);
  ToolRun r = zeq("batch --jobs 2 " + path + " 'CALL COMPCOST(\"insert=\", 5)' 'd=COMPGED(n, \"abc\")'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string want = "n,d\n";
  for (int i = 0; i < 5000; i++) want += "abxc,5\n";
  EXPECT_EQ(r.out, want);
}

// Threads change nothing in the output: --jobs 2 writes the same bytes as
// --jobs 1, rows in input order, over many blocks.
TEST_F(ZeqCli, BatchJobsGiveIdenticalOutput) {
  std::string csv = "id,name,text,x\n";
  uint32_t s = 12345;
  auto next = [&] { return s = s * 1103515245u + 12345u; };
  const char *names[] = {"Smith", "Smyth", "Schmidt", "O'Brien", "M\xfcller", "Jones, Jr", "Nguyen", ""};
  for (int i = 0; i < 30000; i++) {
    std::string text;
    for (uint32_t w = next() % 7; w > 0; w--) text += (next() % 3 ? "word " : "\"\"q\"\", ");
    csv += std::to_string(i) + ",\"" + names[next() % 8] + "\",\"" + text + "\"," +
           (next() % 10 ? std::to_string(next() % 50) : "") + "\n";
  }
  const std::string path = file("big.csv", csv);
  const std::string cols =
      " 'CALL COMPCOST(\"swap=\", 7)' 'g=COMPGED(name, \"Smith\")' 'w=COUNTW(text)' 'c=CHAR(name, x)'"
      " 'j=CATX(\"|\", id, name, x)'";
  ToolRun one = zeq("batch --num x --on-error empty --jobs 1 " + path + cols);
  ToolRun two = zeq("batch --num x --on-error empty --jobs 2 " + path + cols);
  EXPECT_EQ(one.status, two.status);
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 30001) << one.err.substr(0, 500);
  EXPECT_TRUE(one.out == two.out) << "outputs differ";
  EXPECT_TRUE(one.err == two.err) << "messages differ";
}

}  // namespace
