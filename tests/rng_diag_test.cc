// Random-engine diagnostics: which messages zrngmsg shows, at which level,
// and how the note and error countdowns limit them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "zeq/abi.h"

namespace {

using Msg = int32_t (*)(int32_t, int32_t, ...);

constexpr int kKeyRange = static_cast<int>(0x8C7FE81C);   // error
constexpr int kSeedUnused = static_cast<int>(0x8C7FE817); // warning
constexpr int kMethodNote = static_cast<int>(0x8C7FE828); // note
constexpr int kBuilder = static_cast<int>(0x8C7FE851);    // trace
constexpr int kUnknownWord = static_cast<int>(0x8C7FE8C9);
constexpr int kLimitNotice = static_cast<int>(0x8C7FE8CA);

const TKChar kStreamName[] = {'M', 'T', '6', '4', 0};

class Diag : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.loaded()) << host.load_error(); }

  // Issues one message of the given severity, with arguments of its kind.
  int32_t issue(int severity) {
    auto msg = host.fn<Msg>("zrngmsg");
    switch (severity) {
      case 4: return msg(4, kKeyRange, 1024LL, 1023LL, kStreamName);
      case 3: return msg(3, kSeedUnused, kStreamName, 5.0);
      case 2: return msg(2, kMethodNote, "64-bit Mersenne Twister");
      default: return msg(severity, kBuilder, "64-bit Mersenne Twister");
    }
  }
  int number_of(int severity) {
    switch (severity) {
      case 4: return kKeyRange;
      case 3: return kSeedUnused;
      case 2: return kMethodNote;
      default: return kBuilder;
    }
  }
  // (level, number) of every journal status written since the last clear.
  std::vector<std::pair<int, int>> statuses() {
    std::vector<std::pair<int, int>> out;
    for (const auto &e : host.log())
      if (e.kind == zeqhost::LogEntry::JournalStatus) out.emplace_back(e.level, e.number);
    return out;
  }

  zeqhost::Host host;
};

TEST_F(Diag, SettingsDecideWhatIsShownAndAtWhichLevel) {
  struct Case {
    const char *label;
    const char *messages;  // OSENV.ZEQ_RNG_MESSAGES, or null
    const char *severity;  // OSENV.ZEQ_RNG_SEVERITY, or null
    int issued;
    int shown_level;       // 0: suppressed
  };
  const Case cases[] = {
      {"default error", nullptr, nullptr, 4, 4},
      {"default warning", nullptr, nullptr, 3, 0},
      {"default note", nullptr, nullptr, 2, 0},
      {"default trace", nullptr, nullptr, 1, 0},
      {"all: trace as note", "all", nullptr, 1, 2},
      {"all: severity 0 as note", "ALL", nullptr, 0, 2},
      {"all: warning", "all", nullptr, 3, 3},
      {"warnings", "Warnings", nullptr, 3, 3},
      {"warnings hide notes", "WARN", nullptr, 2, 0},
      {"yes shows notes", "yes", nullptr, 2, 2},
      {"info shows traces", "INFO", nullptr, 1, 2},
      {"none silences errors", "none", nullptr, 4, 0},
      {"no silences errors", "NO", nullptr, 4, 0},
      {"traces promoted to errors", nullptr, "ERROR", 1, 4},
      {"traces promoted to warnings", "warning", "warn", 1, 3},
      {"severity setting ignores notes", "error", "error", 2, 0},
      {"traces demoted to all", "note", "all", 1, 0},
  };
  for (const auto &c : cases) {
    host.clear_setting("OSENV.ZEQ_RNG_MESSAGES");
    host.clear_setting("OSENV.ZEQ_RNG_SEVERITY");
    host.clear_setting("OSENV.ZEQ_RNG_NOTE_LIMIT");
    host.clear_setting("OSENV.ZEQ_RNG_ERROR_LIMIT");
    if (c.messages) host.set_setting("OSENV.ZEQ_RNG_MESSAGES", c.messages);
    if (c.severity) host.set_setting("OSENV.ZEQ_RNG_SEVERITY", c.severity);
    host.clear_log();
    EXPECT_EQ(issue(c.issued), 0) << c.label;
    auto got = statuses();
    if (c.shown_level == 0) {
      EXPECT_TRUE(got.empty()) << c.label << "\n" << host.log_text();
    } else {
      ASSERT_EQ(got.size(), 1u) << c.label << "\n" << host.log_text();
      EXPECT_EQ(got[0], std::make_pair(c.shown_level, number_of(c.issued))) << c.label;
    }
  }
}

TEST_F(Diag, ErrorLimitLetsTheSetNumberThrough) {
  host.set_setting_int("OSENV.ZEQ_RNG_ERROR_LIMIT", 2);
  host.clear_log();
  for (int i = 0; i < 4; ++i) issue(4);
  const std::vector<std::pair<int, int>> want = {
      {4, kKeyRange}, {2, kLimitNotice}, {4, kKeyRange}};
  EXPECT_EQ(statuses(), want) << host.log_text();
}

TEST_F(Diag, UnsetNoteLimitLetsOneHundredAndOneThrough) {
  host.set_setting("OSENV.ZEQ_RNG_MESSAGES", "NOTES");
  host.clear_log();
  for (int i = 0; i < 105; ++i) issue(2);
  int notes = 0, notices = 0;
  for (const auto &s : statuses()) {
    notes += s.second == kMethodNote;
    notices += s.second == kLimitNotice;
  }
  EXPECT_EQ(notes, 101);
  EXPECT_EQ(notices, 1);
  // The error countdown is separate and still untouched.
  host.clear_log();
  issue(4);
  EXPECT_EQ(statuses().size(), 1u);
  EXPECT_EQ(host.setting_text("OSENV.ZEQ_RNG_ERROR_LIMIT").value_or("?"), "100");
}

TEST_F(Diag, UnknownWordIsReportedOnceAndTheDefaultApplies) {
  host.set_setting("OSENV.ZEQ_RNG_MESSAGES", "WARNIGN");
  host.clear_log();
  issue(3);  // default threshold: errors only
  issue(4);
  const std::vector<std::pair<int, int>> want = {{4, kUnknownWord}, {4, kKeyRange}};
  EXPECT_EQ(statuses(), want) << host.log_text();
  EXPECT_FALSE(host.has_setting("OSENV.ZEQ_RNG_MESSAGES"));
}

TEST_F(Diag, FailingJournalIsReportedAndAnswered) {
  host.set_journal_fails(true);
  host.clear_log();
  EXPECT_NE(issue(4), 0);
  host.set_journal_fails(false);
  EXPECT_EQ(issue(2), 0);  // suppressed: nothing written, 0 answered
}

TEST(DiagWithoutJournal, AnswersZero) {
  zeqhost::HostOptions o;
  o.journal = false;
  zeqhost::Host host(o);
  ASSERT_TRUE(host.loaded()) << host.load_error();
  auto msg = host.fn<Msg>("zrngmsg");
  EXPECT_EQ(msg(4, kKeyRange, 1024LL, 1023LL, kStreamName), 0);
  // Without a journal nothing is counted down either.
  EXPECT_FALSE(host.has_setting("OSENV.ZEQ_RNG_ERROR_LIMIT"));
}

}  // namespace
