// Name/value settings: typed reads and writes, word look-up, countdowns,
// decimal parsing, degraded hosts and the debug trace.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "zeq/abi.h"

namespace {

constexpr int64_t kTwo53 = int64_t{1} << 53;
constexpr int kNotNumber = static_cast<int>(0x8C7FE8C8);
constexpr int kUnknownWord = static_cast<int>(0x8C7FE8C9);
constexpr int kLimitNotice = static_cast<int>(0x8C7FE8CA);

// A zero-terminated TKChar text.
std::vector<TKChar> tk(const std::string &s) {
  std::vector<TKChar> v(s.begin(), s.end());
  for (auto &c : v) c &= 0xFF;
  v.push_back(0);
  return v;
}

std::string narrow(const TKChar *t) {
  std::string s;
  while (*t) s.push_back(static_cast<char>(*t++));
  return s;
}

using CGet = int64_t (*)(const TKChar *, int64_t, char *, int64_t);
using TGet = int64_t (*)(const TKChar *, int64_t, TKChar *, int64_t);
using DGet = double (*)(const TKChar *, int64_t, double);
using LGet = int64_t (*)(const TKChar *, int64_t, int64_t);
using DSet = int32_t (*)(const TKChar *, int64_t, double);
using LSet = int32_t (*)(const TKChar *, int64_t, int64_t);
using TSet = int32_t (*)(const TKChar *, int64_t, const TKChar *, int64_t);
using Look = int32_t (*)(const TKChar *, int64_t, int32_t, ...);
using Limit = int64_t (*)(const TKChar *, int64_t, int64_t);
using Stol = int64_t (*)(const TKChar *);

class Settings : public ::testing::Test {
 protected:
  explicit Settings(zeqhost::HostOptions o = {}) : host(o) {}
  void SetUp() override { ASSERT_TRUE(host.loaded()) << host.load_error(); }

  int64_t lget(const std::string &name, int64_t dflt) {
    return host.fn<LGet>("tknrlget")(tk(name).data(), -1, dflt);
  }
  int64_t limit(const std::string &name, int64_t dflt) {
    return host.fn<Limit>("tknrlimit")(tk(name).data(), 0, dflt);
  }
  int32_t severity_look(const std::string &name, int32_t dflt) {
    auto w = [](const char *s) { return tk(s); };
    auto warn = w("WARN"), warning = w("WARNING"), error = w("ERROR"), all = w("ALL");
    return host.fn<Look>("tknrlook")(tk(name).data(), -1, dflt, warn.data(), 3, warning.data(), 3,
                                     error.data(), 4, all.data(), 0,
                                     static_cast<const TKChar *>(nullptr));
  }
  int count_status(int status) {
    int n = 0;
    for (int s : host.journal_statuses()) n += s == status;
    return n;
  }

  zeqhost::Host host;
};

TEST(SettingsParse, TknrstolReadsDecimalIntegers) {
  zeqhost::Host host;
  ASSERT_TRUE(host.loaded()) << host.load_error();
  auto stol = host.fn<Stol>("tknrstol");
  const struct { const char *text; int64_t want; } cases[] = {
      {"42", 42},
      {"0", 0},
      {"-0", 0},
      {"   -17", -17},
      {"+5", 5},
      {"42.000  ", 42},
      {"42.", 42},
      {"12   ", 12},
      {"9007199254740992", kTwo53},           // exactly 2^53 is still exact
      {"9007199254740993", kTwo53},           // beyond: clamped
      {"99999999999999999999", kTwo53},
      {"-99999999999999999999", -kTwo53},
      {"99999999999999999999xyz", kTwo53},    // clamping answers at once
      {"42.5", -kTwo53},
      {"42.0001", -kTwo53},
      {"4x2", -kTwo53},
      {"1 2", -kTwo53},
      {"", -kTwo53},
      {"   ", -kTwo53},
      {"-", -kTwo53},
      {"+-1", -kTwo53},
      {".5", -kTwo53},
      {"\t7", -kTwo53},                       // only U+0020 is a blank
  };
  for (const auto &c : cases) EXPECT_EQ(stol(tk(c.text).data()), c.want) << '"' << c.text << '"';
  EXPECT_EQ(stol(nullptr), -kTwo53);
  // Units beyond Latin-1 are no digits.
  std::vector<TKChar> wide = {0x0661, 0};  // ARABIC-INDIC DIGIT ONE
  EXPECT_EQ(stol(wide.data()), -kTwo53);
}

TEST_F(Settings, IntegerReadsTakeNumbersFromText) {
  host.set_setting_int("N.INT", 7);
  host.set_setting("N.TEXT", "42");
  host.set_setting("N.PADDED", "42.000   ");
  host.set_setting("N.BAD", "4x2");
  host.set_setting("N.HUGE", "-99999999999999999999");
  const struct { const char *name; int64_t want; int not_number; } cases[] = {
      {"N.INT", 7, 0},   {"N.TEXT", 42, 0}, {"N.PADDED", 42, 0},
      {"N.BAD", -3, 1},  {"N.HUGE", -3, 1}, {"N.UNSET", -3, 0},
  };
  for (const auto &c : cases) {
    host.clear_log();
    EXPECT_EQ(lget(c.name, -3), c.want) << c.name;
    EXPECT_EQ(count_status(kNotNumber), c.not_number) << c.name;
  }
}

TEST_F(Settings, TextReadsRespectTheBufferSize) {
  host.set_setting("T.WORD", "hello");
  auto cget = host.fn<CGet>("tknrcget");
  auto tget = host.fn<TGet>("tknrtget");
  auto name = tk("T.WORD");

  const struct { int64_t size; int64_t want; const char *text; } cases[] = {
      {0, 0, nullptr},  // untouched
      {-4, 0, nullptr},
      {1, 0, ""},
      {4, 3, "hel"},
      {6, 5, "hello"},
      {64, 5, "hello"},
  };
  for (const auto &c : cases) {
    char bytes[80];
    std::memset(bytes, '#', sizeof bytes);
    EXPECT_EQ(cget(name.data(), -1, bytes, c.size), c.want) << c.size;
    if (c.text) EXPECT_STREQ(bytes, c.text) << c.size;
    else EXPECT_EQ(bytes[0], '#') << c.size;

    TKChar units[80];
    for (auto &u : units) u = '#';
    EXPECT_EQ(tget(name.data(), -1, units, c.size), c.want) << c.size;
    if (c.text) EXPECT_EQ(narrow(units), c.text) << c.size;
    else EXPECT_EQ(units[0], TKChar('#')) << c.size;
  }

  char bytes[8] = "xyz";
  EXPECT_EQ(cget(tk("T.UNSET").data(), -1, bytes, 8), 0);
  EXPECT_STREQ(bytes, "");
  // An explicit name length reads only that prefix of the name.
  EXPECT_EQ(cget(tk("T.WORDS").data(), 6, bytes, 8), 5);
  EXPECT_STREQ(bytes, "hello");
}

TEST_F(Settings, SettersRoundTripAndConvert) {
  auto dset = host.fn<DSet>("tknrdset");
  auto dget = host.fn<DGet>("tknrdget");
  auto lset = host.fn<LSet>("tknrlset");
  auto tset = host.fn<TSet>("tknrtset");

  EXPECT_EQ(dset(tk("S.D").data(), -1, 2.5), 0);
  EXPECT_EQ(dget(tk("S.D").data(), -1, 9.0), 2.5);
  EXPECT_EQ(dget(tk("S.NONE").data(), -1, 9.0), 9.0);

  EXPECT_EQ(lset(tk("S.L").data(), -1, -12), 0);
  EXPECT_EQ(lget("S.L", 0), -12);

  // A name that holds text keeps the number as text.
  host.set_setting("S.T", "abc");
  EXPECT_EQ(lset(tk("S.T").data(), -1, -9876543210LL), 0);
  EXPECT_EQ(host.setting_text("S.T").value_or("?"), "-9876543210");
  EXPECT_EQ(lget("S.T", 0), -9876543210LL);

  auto text = tk("value");
  EXPECT_EQ(tset(tk("S.X").data(), -1, text.data(), 3), 0);
  EXPECT_EQ(host.setting_text("S.X").value_or("?"), "val");
  EXPECT_EQ(tset(tk("S.X").data(), -1, nullptr, 5), 0);  // empty text: unset
  EXPECT_FALSE(host.has_setting("S.X"));
}

TEST_F(Settings, FailedReadIsReportedAndTheDefaultStands) {
  host.set_setting("F.TEXT", "abc");
  host.clear_log();
  auto dget = host.fn<DGet>("tknrdget");
  EXPECT_EQ(dget(tk("F.TEXT").data(), -1, 1.5), 1.5);
  bool line = false;
  for (const auto &e : host.log())
    if (e.kind == zeqhost::LogEntry::JournalMessage && e.level == 4 &&
        e.text.find("tkNameValueGet failed for F.TEXT in tknrdget") != std::string::npos)
      line = true;
  EXPECT_TRUE(line) << host.log_text();
  EXPECT_FALSE(host.journal_statuses().empty());
}

TEST_F(Settings, LookUpIsCaseBlindAndIgnoresTrailingBlanks) {
  const struct { const char *value; int32_t want; int reports; bool kept; } cases[] = {
      {"warn", 3, 0, true},
      {"Warning   ", 3, 0, true},
      {"ALL", 0, 0, true},
      {" WARN", -1, 1, false},  // a leading blank makes the word unknown
      {"WARNINGS", -1, 1, false},
      {"WAR", -1, 1, false},
      {"", -1, 0, false},
  };
  for (const auto &c : cases) {
    host.clear_setting("L.SEV");
    if (*c.value) host.set_setting("L.SEV", c.value);
    host.clear_log();
    EXPECT_EQ(severity_look("L.SEV", -1), c.want) << c.value;
    EXPECT_EQ(count_status(kUnknownWord), c.reports) << c.value;
    EXPECT_EQ(host.has_setting("L.SEV"), c.kept) << c.value;
    // A bad word was erased, so it is reported only once.
    host.clear_log();
    EXPECT_EQ(severity_look("L.SEV", -1), c.want) << c.value;
    EXPECT_EQ(count_status(kUnknownWord), 0) << c.value;
  }
}

TEST_F(Settings, CountdownSequences) {
  struct Case {
    const char *label;
    enum { Unset, Int, Text } kind;
    int64_t value;
    const char *text;
    int64_t dflt;
    std::vector<int64_t> answers;
    int notice_on_call;  // 1-based call that issues the limit notice; 0: none
  };
  const Case cases[] = {
      {"unset", Case::Unset, 0, nullptr, 3, {3, 2, 1, 0, -1, -1}, 4},
      {"user 2", Case::Int, 2, nullptr, 100, {1, 0, -1, -1}, 2},
      {"user 1", Case::Int, 1, nullptr, 100, {0, -1}, 1},
      {"user 0", Case::Int, 0, nullptr, 100, {-1, -1}, 0},
      {"negative", Case::Int, -5, nullptr, 100, {-1, -1}, 0},
      {"text 3", Case::Text, 0, "3", 100, {2, 1, 0, -1}, 3},
      {"text padded", Case::Text, 0, " 2.00 ", 100, {1, 0, -1}, 2},
      {"text no number", Case::Text, 0, "lots", 100, {99, 98}, 0},
  };
  for (const auto &c : cases) {
    host.clear_setting("C.LIMIT");
    if (c.kind == Case::Int) host.set_setting_int("C.LIMIT", c.value);
    if (c.kind == Case::Text) host.set_setting("C.LIMIT", c.text);
    for (size_t i = 0; i < c.answers.size(); ++i) {
      host.clear_log();
      EXPECT_EQ(limit("C.LIMIT", c.dflt), c.answers[i]) << c.label << " call " << i + 1;
      EXPECT_EQ(count_status(kLimitNotice), static_cast<int>(i + 1) == c.notice_on_call ? 1 : 0)
          << c.label << " call " << i + 1;
    }
  }
}

TEST_F(Settings, CountdownOfTheDefaultStoresIt) {
  EXPECT_EQ(limit("C.NEW", 100), 100);
  EXPECT_EQ(host.setting_text("C.NEW").value_or("?"), "100");
  EXPECT_EQ(limit("C.NEW", 100), 99);
}

TEST_F(Settings, DebugSettingTracesEveryRead) {
  host.set_setting("OSENV.ZEQ_TKNR_DEBUG", "1");
  host.set_setting_int("D.N", 5);
  host.clear_log();
  EXPECT_EQ(lget("D.N", 0), 5);
  std::vector<std::string> traces;
  for (const auto &e : host.log())
    if (e.kind == zeqhost::LogEntry::JournalMessage && e.level == 1) traces.push_back(e.text);
  ASSERT_EQ(traces.size(), 1u) << host.log_text();
  EXPECT_NE(traces[0].find("tknrlget(D.N)=5"), std::string::npos) << traces[0];

  host.clear_log();
  severity_look("D.UNSET", 4);
  bool final_line = false;
  for (const auto &e : host.log())
    if (e.level == 1 && e.text.find("tknrlook(D.UNSET)=4") != std::string::npos) final_line = true;
  EXPECT_TRUE(final_line) << host.log_text();

  host.clear_setting("OSENV.ZEQ_TKNR_DEBUG");
  host.clear_log();
  lget("D.N", 0);
  EXPECT_TRUE(host.log().empty()) << host.log_text();
}

TEST_F(Settings, NullNameAnswersDefaults) {
  char bytes[4] = "abc";
  TKChar units[4] = {'a', 0};
  EXPECT_EQ(host.fn<CGet>("tknrcget")(nullptr, 3, bytes, 4), 0);
  EXPECT_STREQ(bytes, "");
  EXPECT_EQ(host.fn<TGet>("tknrtget")(nullptr, 3, units, 4), 0);
  EXPECT_EQ(units[0], 0u);
  EXPECT_EQ(host.fn<DGet>("tknrdget")(nullptr, 3, 4.5), 4.5);
  EXPECT_EQ(host.fn<LGet>("tknrlget")(nullptr, 3, 8), 8);
  EXPECT_EQ(host.fn<DSet>("tknrdset")(nullptr, 3, 1.0), 0);
  EXPECT_EQ(host.fn<LSet>("tknrlset")(nullptr, 3, 1), 0);
  EXPECT_EQ(host.fn<TSet>("tknrtset")(nullptr, 3, nullptr, 0), 0);
  EXPECT_EQ(host.fn<Limit>("tknrlimit")(nullptr, 3, 100), 100);
  EXPECT_EQ(host.fn<Look>("tknrlook")(nullptr, 3, 6, static_cast<const TKChar *>(nullptr)), 6);
}

class SettingsWithoutStore : public Settings {
 protected:
  static zeqhost::HostOptions options() {
    zeqhost::HostOptions o;
    o.store = false;
    return o;
  }
  SettingsWithoutStore() : Settings(options()) {}
};

TEST_F(SettingsWithoutStore, GettersDefaultAndSettersAnswerZero) {
  auto name = tk("X");
  char bytes[4] = "abc";
  EXPECT_EQ(host.fn<CGet>("tknrcget")(name.data(), -1, bytes, 4), 0);
  EXPECT_STREQ(bytes, "");
  EXPECT_EQ(host.fn<DGet>("tknrdget")(name.data(), -1, 4.5), 4.5);
  EXPECT_EQ(lget("X", 8), 8);
  EXPECT_EQ(host.fn<LSet>("tknrlset")(name.data(), -1, 1), 0);
  EXPECT_EQ(limit("X", 100), 100);
  EXPECT_EQ(limit("X", 100), 100);
  EXPECT_EQ(severity_look("X", 2), 2);
}

}  // namespace
