// tests/call_test.cc - the call layer (host/call.h): values of every result
// shape, refusals with their sentences, notes, CALL forms, per-task costs,
// UTF-8 workers, several threads at once, and the records it must give back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/call.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqhost::CallOptions;
using zeqhost::CallOutcome;
using zeqhost::CallSite;
using zeqhost::Encoding;
using zeqhost::Value;
using zeqhost::Worker;
using zeqtest::host;

Value S(std::string s) { return Value::str(std::move(s)); }
Value N(double x) { return Value::num(x); }
Value M() { return Value::missing(); }

CallOptions call_form() {
  CallOptions o;
  o.call_form = true;
  return o;
}

CallOptions fixed(int64_t length) {
  CallOptions o;
  o.growable = false;
  o.length = length;
  return o;
}

// A value as one comparable text: 'text', a number, or "." for missing.
std::string show(const Value &v) {
  if (v.kind == Value::Text) return "'" + v.text + "'";
  if (v.kind == Value::Number) return zeqhost::format_number(v.number);
  return ".";
}

// ---------------------------------------------------------------------------
// Values of each result shape.
// ---------------------------------------------------------------------------
struct ValueCase {
  const char *name;
  std::vector<Value> args;
  CallOptions opt;
  std::string expected;  // show() of the result
  int32_t status = FNC_RC_OK;
};

class Values : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Values, AreWhatTheFunctionAnswers) {
  const ValueCase &tc = GetParam();
  Worker w(host());
  const CallOutcome out = w.call(tc.name, tc.args, tc.opt);
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.status, tc.status) << out.sentence();
  EXPECT_EQ(show(out.result), tc.expected);
}

const std::string kLong(1000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Call, Values,
    ::testing::Values(
        ValueCase{"CAT", {S("a "), S("b")}, {}, "'a b'"},                         // Char, growable
        ValueCase{"cat", {S("a"), N(1.5), N(-2)}, {}, "'a1.5-2'"},               // numbers joined as they are
        ValueCase{"CAT", {S(kLong), S("y")}, {}, "'" + kLong + "y'"},            // grows past the length
        ValueCase{"CAT", {S("ab"), S("c")}, fixed(10), "'abc'"},                 // fixed buffer
        ValueCase{"SUBPAD", {S("abc"), N(2), N(4)}, {}, "'bc  '"},
        ValueCase{"SCAN", {S("one two three"), N(-1)}, {}, "'three'"},
        ValueCase{"COMPGED", {S("abc"), S("abd")}, {}, "100"},                   // Number
        ValueCase{"COMPARE", {S("abc"), S("abd")}, {}, "-3"},
        ValueCase{"COUNTW", {S("a b  c")}, {}, "3"},
        ValueCase{"COUNTW", {M()}, {}, "0"},                                     // Missing as character: no value
        ValueCase{"FIRST", {S("xyz")}, {}, "'x'"},                               // Direct
        ValueCase{"CHAR", {S("abc"), M()}, {}, "''", FNC_RC_NOTE}));

// ---------------------------------------------------------------------------
// Calls refused before they run, with their sentences.
// ---------------------------------------------------------------------------
struct RefusalCase {
  const char *name;
  std::vector<Value> args;
  CallOptions opt;
  std::string sentence;
  int bad = 0;
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, NameTheFunctionAndTheArgument) {
  const RefusalCase &tc = GetParam();
  Worker w(host());
  host().clear_log();
  const CallOutcome out = w.call(tc.name, tc.args, tc.opt);
  EXPECT_FALSE(out.ok());
  EXPECT_EQ(out.sentence(), tc.sentence);
  EXPECT_EQ(out.bad_argument, tc.bad);
  EXPECT_TRUE(host().log().empty());  // nothing ran
  // check_call says the same, but for what only a call can know (the name, the lengths).
  const zeq::catalogue::Function *fn = zeq::catalogue::find(out.function);
  if (fn && out.sentence().find("declared length") == std::string::npos) {
    EXPECT_EQ(zeqhost::check_call(*fn, tc.args, tc.opt.call_form), tc.sentence);
  }
}

CallOptions too_long() {
  CallOptions o = fixed(zeqhost::kMaxResultLength + 1);
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Call, Refusals,
    ::testing::Values(
        RefusalCase{"COMPGED", {S("a")}, {},
                    "COMPGED takes 2 to 4 arguments, got 1; usage: COMPGED(s1, s2 [, cutoff] [, modifiers])"},
        RefusalCase{"CHAR", {S("a"), N(1), N(2)}, {}, "CHAR takes 2 arguments, got 3; usage: CHAR(string, position)"},
        RefusalCase{"CATX", {S("-")}, {}, "CATX takes at least 2 arguments, got 1; usage: CATX(separator, item, ...)"},
        RefusalCase{"SCAN", {S("a b"), N(1)}, call_form(),
                    "CALL SCAN takes 4 to 6 arguments, got 2; usage: CALL SCAN(string, n, pos, len [, delimiters [, "
                    "modifiers]])"},
        RefusalCase{"CHAR", {S("abc"), S("x")}, {}, "CHAR: argument 2 (position) must be numeric", 2},
        RefusalCase{"COMPGED", {S("a"), N(1)}, {}, "COMPGED: argument 2 (s2) must be character", 2},
        RefusalCase{"COMPGED", {S("a"), S("b"), N(1), N(2)}, {}, "COMPGED: argument 4 (modifiers) must be character", 4},
        RefusalCase{"CATX", {S("-"), N(5), S("a")}, call_form(), "CALL CATX: argument 2 (target) must be a character variable", 2},
        RefusalCase{"CATX", {S("-"), M(), S("a")}, call_form(), "CALL CATX: argument 2 (target) must be a character variable", 2},
        RefusalCase{"SCAN", {S("a b"), N(1), S("p"), M()}, call_form(), "CALL SCAN: argument 3 (pos) must be a numeric variable", 3},
        RefusalCase{"CAT", {S("a")}, call_form(), "CAT has no CALL form; usage: CAT(item, ...)"},
        RefusalCase{"COMPCOST", {S("insert"), N(1)}, {}, "COMPCOST is a call routine; usage: CALL COMPCOST(operation, cost, ...)"},
        RefusalCase{"CATN", {}, {}, "CATN is a table entry that programs do not call"},
        RefusalCase{"NOSUCH", {}, {}, "unknown function NOSUCH"},
        RefusalCase{"CAT", {S("a")}, too_long(), "CAT: the declared length 16777217 is outside 0 to 16777216"},
        RefusalCase{"CAT", {S("a")}, fixed(-1), "CAT: the declared length -1 is outside 0 to 16777216"}));

// ---------------------------------------------------------------------------
// Notes, and what the module marked.
// ---------------------------------------------------------------------------
TEST(CallNotes, ShortResultIsANoteWithItsMessage) {
  Worker w(host());
  const CallOutcome out = w.call("CAT", {S("abc"), S("def")}, fixed(5));
  EXPECT_EQ(out.status, FNC_RC_NOTE);
  EXPECT_EQ(show(out.result), "'abcde'");
  EXPECT_EQ(out.bad_argument, 2);
  ASSERT_EQ(out.messages.size(), 1u);
  EXPECT_EQ(out.messages[0].number, 28);
  EXPECT_EQ(out.messages[0].level, 2);
  EXPECT_EQ(out.sentence(),
            "CAT: note, argument 2 (item): Invalid argument to function CAT. The result was truncated: 6 bytes "
            "were needed, 5 were available. (message 28)");
}

// CATQ fills the room a growable result starts with instead of growing it:
// that room must hold whatever its arguments can give, past the declared
// length (200) and with every item quoted.
TEST(CallNotes, GrowableCatqIsNeverCutShort) {
  Worker w(host());
  const std::string item(300, ',');
  for (const char *mods : {"C", "A", "X"}) {
    const CallOutcome out = w.call("CATQ", {S(mods), S(item), S("b")});
    EXPECT_EQ(out.status, FNC_RC_OK) << mods << ": " << out.sentence();
    EXPECT_GT(out.result.text.size(), item.size()) << mods;
  }
}

TEST(CallNotes, StatusWordsAreNeverBareCodes) {
  Worker w(host());
  CallOutcome missing = w.call("COMPGED", {S("abc"), S("abd"), N(std::nan(""))});
  EXPECT_EQ(missing.status, FNC_RC_NOTE);
  EXPECT_EQ(missing.sentence(),
            "COMPGED: argument 3 (cutoff) must be a whole number of at least 1 (values above 999999 count as 999999), "
            "got a missing value");
  CallOutcome odd;
  odd.function = "CAT";
  odd.status = (int32_t)0x80001234;
  EXPECT_EQ(odd.sentence(), "CAT: error 0x80001234");
  odd.status = FNC_RC_NOROOM;
  EXPECT_EQ(odd.sentence(), "CAT: no room (the result could not be enlarged)");
  odd.status = FNC_RC_MISSING;
  odd.bad_argument = 3;
  EXPECT_EQ(odd.sentence(), "CAT: missing (a numeric argument the result depends on was missing), argument 3 (item)");
}

TEST(CallNotes, MessagesOfAnOkCallAreKept) {
  Worker w(host());
  const CallOutcome out = w.call("COMPARE", {S("abc"), S("abd"), S("Q")});
  EXPECT_TRUE(out.ok());
  EXPECT_EQ(out.sentence(), "");
  ASSERT_EQ(out.messages.size(), 1u);
  EXPECT_NE(out.messages[0].text.find("\"Q\""), std::string::npos) << out.messages[0].text;
}

// ---------------------------------------------------------------------------
// CALL forms: every argument as it is after the call.
// ---------------------------------------------------------------------------
struct CallFormCase {
  const char *name;
  std::vector<Value> args;
  std::vector<std::string> outputs;
};

class CallForms : public ::testing::TestWithParam<CallFormCase> {};

TEST_P(CallForms, WriteBackTargetsAndVariables) {
  const CallFormCase &tc = GetParam();
  Worker w(host());
  const CallOutcome out = w.call(tc.name, tc.args, call_form());
  ASSERT_TRUE(out.ok()) << out.sentence();
  std::vector<std::string> got;
  for (const Value &v : out.outputs) got.push_back(show(v));
  EXPECT_EQ(got, tc.outputs);
}

INSTANTIATE_TEST_SUITE_P(
    Call, CallForms,
    ::testing::Values(
        CallFormCase{"CATX", {S("-"), S("x"), S("a "), S(" b")}, {"'-'", "'x-a-b'", "'a '", "' b'"}},
        CallFormCase{"CATS", {S("ab"), S(" c ")}, {"'abc'", "' c '"}},
        CallFormCase{"SCAN", {S("one two three"), N(2), M(), M()}, {"'one two three'", "2", "5", "3"}},
        CallFormCase{"SCAN", {S("a,b"), N(2), N(-1), N(-1), S(",")}, {"'a,b'", "2", "3", "1", "','"}},
        CallFormCase{"COMPCOST", {S("insert"), N(5)}, {"'insert'", "5"}}));

// ---------------------------------------------------------------------------
// Task state: each Worker's COMPCOST costs are its own.
// ---------------------------------------------------------------------------
TEST(CallTasks, CostsStayWithTheirWorker) {
  Worker a(host()), b(host());
  ASSERT_TRUE(a.call("COMPCOST", {S("replace"), N(7)}, call_form()).ok());
  ASSERT_TRUE(b.call("COMPCOST", {S("replace"), N(50)}, call_form()).ok());
  Worker fresh(host());
  EXPECT_EQ(show(a.call("COMPGED", {S("abc"), S("abd")}).result), "7");
  EXPECT_EQ(show(b.call("COMPGED", {S("abc"), S("abd")}).result), "50");
  EXPECT_EQ(show(fresh.call("COMPGED", {S("abc"), S("abd")}).result), "100");
}

TEST(CallTasks, WorkersAndCachesAreGivenBack) {
  const size_t tasks = host().task_count();
  {
    Worker w(host());
    EXPECT_EQ(host().task_count(), tasks + 1);
    const auto &scan = *zeq::catalogue::find("SCAN");
    ASSERT_TRUE(w.call("COUNTW", {S("a b")}).ok());  // the task context exists from here on
    zeqhost::Pool &pool = host().pool_of(w.task());
    const size_t live = pool.live_blocks();
    {
      CallOptions o;
      o.result_kind = 0x58;
      CallSite site(w, scan, o);
      const std::vector<Value> args = {S("a,b c"), N(2), S(","), S("O")};
      for (int i = 0; i < 3; i++) EXPECT_EQ(show(site.call(args).result), "'b c'");
      EXPECT_GT(pool.live_blocks(), live);  // the call site's cache
    }
    EXPECT_EQ(pool.live_blocks(), live);
    EXPECT_FALSE(pool.double_free_seen());
  }
  EXPECT_EQ(host().task_count(), tasks);
}

TEST(CallTasks, ACallSiteKeepsItsArgumentCount) {
  Worker w(host());
  CallSite site(w, *zeq::catalogue::find("COUNTW"));
  EXPECT_TRUE(site.call(std::vector<Value>{S("a b")}).ok());
  const CallOutcome out = site.call(std::vector<Value>{S("a b"), S(" ")});
  EXPECT_EQ(out.sentence(), "COUNTW: this call site takes 1 argument, got 2");
}

// A worker reuses its argument, result and message buffers from call to call:
// every call of a mixed sequence answers what it answers on a fresh worker.
TEST(CallTasks, ReusedBuffersCarryNothingOver) {
  const std::string big(70000, 'x');  // beyond what the buffers keep for the next call
  struct Step {
    const char *name;
    std::vector<Value> args;
    CallOptions opt;
  };
  const Step steps[] = {
      {"CAT", {S(big), S("y")}, {}},                     // a result grown far past its room
      {"CAT", {S("a"), S("b")}, {}},                     // then a short one in the kept block
      {"CAT", {S("abcdef"), N(12345)}, fixed(4)},        // cut to a fixed length, with a message
      {"COUNTW", {S("one two three")}, {}},              // a clean call after a message
      {"COUNTW", {S("a b"), M()}, {}},                   // a missing character argument
      {"COMPGED", {N(1), S("abc")}, {}},                 // refused before it runs
      {"COMPGED", {S("abc"), S("abd"), M(), S("il")}, {}},
      {"SCAN", {S("a,b c"), N(2), S(",")}, {}},
      {"CATS", {S(" p "), S(big.substr(0, 300))}, call_form()},  // a CALL target, blank-padded
      {"SCAN", {S("a,b c"), N(1), S(",")}, {}},
  };
  auto line = [](const CallOutcome &o) {
    std::string l = o.function + " " + std::to_string(o.status) + " " + show(o.result) + " " + o.sentence();
    for (const auto &v : o.outputs) l += " " + show(v);
    return l;
  };
  Worker reused(host());
  for (int round = 0; round < 2; round++)
    for (const Step &s : steps) {
      Worker fresh(host());
      EXPECT_EQ(line(reused.call(s.name, s.args, s.opt)), line(fresh.call(s.name, s.args, s.opt)))
          << s.name << " round " << round;
    }
  // One call site, long and short arguments in turn.
  CallSite site(reused, *zeq::catalogue::find("COMPARE"));
  for (const auto &[a, b, want] : {std::tuple{big, big + "z", "-70001"}, {"abc", "abd", "-3"}, {"ab", "ab", "0"}})
    EXPECT_EQ(show(site.call(std::vector<Value>{S(a), S(b)}).result), want);
}

// A front end that runs for long keeps no global log: its calls still get
// their own lines.  (A second host needs a process of its own.)
TEST(CallLog, WithoutTheGlobalLogCallsStillGetTheirLines) {
  EXPECT_EXIT(
      {
        zeqhost::HostOptions o;
        o.keep_log = false;
        zeqhost::Host h(o);
        Worker w(h);
        const CallOutcome out = w.call("CAT", {S("abc"), S("def")}, fixed(5));
        std::exit(out.messages.size() == 1 && out.messages[0].number == 28 && h.log().empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Encodings.
// ---------------------------------------------------------------------------
const std::string kE = "\xc3\xa9", kO = "\xc3\xb6";  // é, ö in UTF-8

TEST(CallEncodings, Utf8WorkersCountCharacters) {
  Worker utf8(host(), Encoding::Utf8), latin(host(), Encoding::Latin1);
  const std::vector<Value> scan = {S(kE + kE + " " + kO + "x"), N(2), M(), M()};
  EXPECT_EQ(show(utf8.call("SCAN", scan, call_form()).outputs[2]), "4");
  EXPECT_EQ(show(latin.call("SCAN", scan, call_form()).outputs[2]), "6");
  EXPECT_EQ(host().utf8(), false);  // the last call switched the session back
  const std::vector<Value> cmp = {S(kE + "a"), S(kE + "b")};
  EXPECT_EQ(show(utf8.call("COMPARE", cmp).result), "-2");
  EXPECT_EQ(show(latin.call("COMPARE", cmp).result), "-3");
  EXPECT_EQ(show(utf8.call("COUNTC", {S(kE + "a" + kE), S(kE)}).result), "2");
  EXPECT_EQ(show(utf8.call("SCAN", {S(kE + " " + kO + kE), N(2)}).result), "'" + kO + kE + "'");
  utf8.set_encoding(Encoding::Latin1);
  EXPECT_EQ(utf8.encoding(), Encoding::Latin1);
  EXPECT_EQ(show(utf8.call("COMPARE", cmp).result), "-3");
}

// ---------------------------------------------------------------------------
// Threads: each Worker on its own thread gives what it gives alone.
// ---------------------------------------------------------------------------
std::vector<std::string> mixed_run(int seed, Encoding enc) {
  Worker w(host(), enc);
  std::vector<std::string> log;
  auto note = [&](const CallOutcome &o) {
    std::string line = o.function + " " + std::to_string(o.status) + " " + show(o.result);
    for (const auto &v : o.outputs) line += " " + show(v);
    for (const auto &m : o.messages) line += " [" + m.text + "]";
    log.push_back(line);
  };
  CallOptions scan_opt;
  scan_opt.result_kind = 0x58;
  CallSite scan(w, *zeq::catalogue::find("SCAN"), scan_opt);
  note(w.call("COMPCOST", {S("replace"), N(10 + seed), S("insert"), N(20 + seed)}, call_form()));
  for (int i = 0; i < 200; i++) {
    const std::string s = "w" + std::to_string(i % 7) + ",x" + std::to_string(seed) + " y" + kE;
    note(w.call("COMPGED", {S(s), S("w1,x9 y")}));
    note(w.call("COUNTW", {S(s), S(", ")}));
    note(scan.call(std::vector<Value>{S(s), N(i % 3 + 1), S(", "), S("O")}));
    note(w.call("CAT", {S(s), N(i), S("Q")}, fixed(8 + i % 6)));
    note(w.call("COMPARE", {S(s), S("w3"), S(i % 5 ? "I" : "I!")}));
  }
  return log;
}

TEST(CallThreads, FourWorkersMatchOneThread) {
  std::vector<std::vector<std::string>> alone(4), together(4);
  for (int t = 0; t < 4; t++) alone[t] = mixed_run(t, t == 3 ? Encoding::Utf8 : Encoding::Latin1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&, t] { together[t] = mixed_run(t, t == 3 ? Encoding::Utf8 : Encoding::Latin1); });
  for (auto &th : threads) th.join();
  for (int t = 0; t < 4; t++) EXPECT_EQ(together[t], alone[t]) << "thread " << t;
  EXPECT_NE(alone[0], alone[1]);  // the costs differ
}

// ---------------------------------------------------------------------------
// Numbers as text.
// ---------------------------------------------------------------------------
TEST(CallNumbers, ShortestTextThatReadsBack) {
  const std::pair<double, const char *> cases[] = {
      {0.0, "0"}, {-0.0, "0"}, {3.0, "3"}, {-2.5, "-2.5"}, {0.1, "0.1"}, {1e21, "1e+21"},
      {123456789012.0, "123456789012"}, {std::nan(""), ""}, {INFINITY, "inf"}, {-INFINITY, "-inf"}};
  for (const auto &[x, text] : cases) EXPECT_EQ(zeqhost::format_number(x), text) << x;
  for (double x : {1.0 / 3, 2.0 / 3e300, 5e-324, 1.7976931348623157e308, 0.30000000000000004})
    EXPECT_EQ(std::strtod(zeqhost::format_number(x).c_str(), nullptr), x);
}

}  // namespace
