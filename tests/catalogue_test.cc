// The catalogue (charfn/functions.def) against the module it describes: every
// example runs through the reference host and gives what the row says, the
// function table holds each row's entry in its slots, and every entry and
// multibyte twin a row names is exported.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "charfn/catalogue.h"
#include "tools/zeq/session.h"

namespace {

namespace cat = zeq::catalogue;

// One session (and so one host) for the executable.
zeqtool::Session &session() {
  static zeqtool::Session *s = [] {
    zeqtool::SessionOptions o;
    o.log_none = true;
    return new zeqtool::Session(o);
  }();
  return *s;
}

struct Example {
  std::string function, call, want;
  bool has_result;
};

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    size_t at = text.find(sep);
    parts.emplace_back(text.substr(0, at));
    text = at == std::string_view::npos ? std::string_view{} : text.substr(at + sep.size());
  }
  return parts;
}

std::vector<Example> examples() {
  std::vector<Example> out;
  for (const cat::Function &f : cat::kFunctions)
    for (const std::string &pair : split(f.examples, " | ")) {
      std::vector<std::string> sides = split(pair, " => ");
      out.push_back({std::string(f.name), sides[0], sides.size() > 1 ? sides[1] : "", sides.size() > 1});
    }
  return out;
}

TEST(Catalogue, EveryUserFunctionHasAnExample) {
  std::set<std::string> with_example;
  for (const Example &e : examples()) with_example.insert(e.function);
  for (const cat::Function &f : cat::kFunctions)
    if (!f.has(cat::ZEQ_FN_HIDDEN)) {
      EXPECT_TRUE(with_example.count(std::string(f.name))) << f.name;
    }
}

TEST(Catalogue, ExamplesGiveTheirResults) {
  ASSERT_TRUE(session().ready()) << session().load_error();
  for (const Example &e : examples()) {
    zeqtool::Outcome o = session().run_text(e.call);
    ASSERT_TRUE(o.ok) << e.call << ": " << o.error;
    EXPECT_EQ(o.status, FNC_RC_OK) << e.call;
    if (!e.has_result) continue;
    ASSERT_EQ(o.output.size(), 1u) << e.call;
    EXPECT_EQ(o.output[0], e.want) << e.call;
  }
}

TEST(Catalogue, FunctionTableHoldsEachRowInItsSlots) {
  ASSERT_TRUE(session().ready()) << session().load_error();
  zeqhost::Host &h = session().host();
  std::set<int> named;
  for (const cat::Function &f : cat::kFunctions) {
    void *entry = h.symbol(std::string(f.entry).c_str());
    ASSERT_NE(entry, nullptr) << f.entry << " is not exported";
    for (int slot : {f.slot, f.slot2}) {
      if (slot == 0) continue;
      EXPECT_TRUE(named.insert(slot).second) << "slot " << slot << " named twice";
      EXPECT_EQ(h.slot(slot), entry) << f.name << " slot " << slot;
    }
  }
  for (int slot = 1; slot <= 40; slot++) EXPECT_TRUE(named.count(slot)) << "slot " << slot << " unnamed";
  for (int slot : {0, 41, 42, 43}) EXPECT_EQ(h.slot(slot), nullptr) << "slot " << slot;
}

TEST(Catalogue, MultibyteTwinsAreExported) {
  ASSERT_TRUE(session().ready()) << session().load_error();
  for (const cat::Function &f : cat::kFunctions)
    if (!f.mb_entry.empty()) {
      EXPECT_NE(session().host().symbol(std::string(f.mb_entry).c_str()), nullptr) << f.mb_entry;
    }
}

// Each modifier letter a row lists is one its function accepts: a call with
// that letter alone writes nothing to the log (an invalid letter gives
// message 6, or a log line in the comparisons).
TEST(Catalogue, ListedModifierLettersAreAccepted) {
  ASSERT_TRUE(session().ready()) << session().load_error();
  struct Shape {
    std::string_view function, before, after;  // call text around the letter
  } const shapes[] = {
      {"COUNT", "COUNT(\"banana\", \"an\", \"", "\")"},
      {"COUNTC", "COUNTC(\"banana\", \"an\", \"", "\")"},
      {"FIND", "FIND(\"banana\", \"an\", \"", "\")"},
      {"FINDC", "FINDC(\"banana\", \"an\", \"", "\")"},
      {"FINDW", "FINDW(\"a banana\", \"banana\", \" \", \"", "\")"},
      {"FINDLEV", "FINDLEV(\"a banana\", \"banana\", 0, \"", "\")"},
      {"COUNTW", "COUNTW(\"a b c\", \" \", \"", "\")"},
      {"SCAN", "SCAN(\"a b c\", 2, \" \", \"", "\")"},
      {"COMPLEV", "COMPLEV(\"abc\", \"abd\", \"", "\")"},
      {"COMPGED", "COMPGED(\"abc\", \"abd\", \"", "\")"},
      {"COMPARE", "COMPARE(\"abc\", \"abd\", \"", "\")"},
  };
  zeqhost::Host &h = session().host();
  for (const Shape &s : shapes) {
    const cat::Function *f = cat::find(s.function);
    ASSERT_NE(f, nullptr) << s.function;
    ASSERT_FALSE(f->modifiers.empty()) << s.function;
    for (const std::string &item : split(f->modifiers, "; ")) {
      const std::string call = std::string(s.before) + item[0] + std::string(s.after);
      h.clear_log();
      zeqtool::Outcome o = session().run_text(call);
      ASSERT_TRUE(o.ok) << call << ": " << o.error;
      EXPECT_TRUE(h.log().empty()) << call << " logs " << h.log()[0].number;
    }
  }
}

}  // namespace
