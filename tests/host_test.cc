// tests/host_test.cc - the reference host on its own: pools and failure
// injection, scratch arenas, the journal formatter, catalogue rendering, the
// name/value store, number formatting, options, the small services, the
// kernel service entry, the session transcoders and module loading.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cpuid.h>
#include <cstring>
#include <functional>
#include <sys/mman.h>
#include <string>
#include <vector>

#include "charfn/entry_types.h"
#include "host/host.h"
#include "tests/support/call.h"

namespace {

using zeqhost::Host;
using zeqhost::HostOptions;
using zeqhost::LogEntry;

// Calls a vector entry as a forwarder does: V*2^32+S in r10, then a jump.
extern "C" int64_t zeqhost_test_call_r10(void *entry, uint64_t vs);
asm(R"(
        .text
        .globl  zeqhost_test_call_r10
        .type   zeqhost_test_call_r10, @function
zeqhost_test_call_r10:
        movq    %rsi, %r10
        jmp     *%rdi
        .size   zeqhost_test_call_r10, .-zeqhost_test_call_r10
)");

template <class F>
F entry(Host &h, int v, int s) {
  return reinterpret_cast<F>(h.control_block()->vectors[v][s]);
}

std::vector<TKChar> tk(const std::string &s) {
  auto v = zeqhost::to_tkchar(s);
  v.push_back(0);
  return v;
}

int jnl(ZeqLogger *lg, int level, const TKChar *format, ...) {
  va_list ap;
  va_start(ap, format);
  int rc = lg->message_to_jnl(lg, level, format, ap);
  va_end(ap);
  return rc;
}

int status_jnl(ZeqLogger *lg, int level, int32_t status, ...) {
  va_list ap;
  va_start(ap, status);
  int rc = lg->status_to_jnl(lg, level, status, ap);
  va_end(ap);
  return rc;
}

int to_buf(ZeqLogger *lg, TKChar *buf, int64_t room, const TKChar *format, ...) {
  va_list ap;
  va_start(ap, format);
  int rc = lg->message_to_buf(lg, buf, room, format, ap);
  va_end(ap);
  return rc;
}

// ---------------------------------------------------------------------------
// Pools and scratch arenas.
// ---------------------------------------------------------------------------
TEST(HostPool, BlocksAreZeroFilledAndCounted) {
  Host h;
  zeqhost::Pool &p = h.new_pool();
  ZeqPool *raw = p.raw();
  auto *a = static_cast<uint8_t *>(raw->alloc(raw, 64, 0x80000000u));
  auto *b = static_cast<uint8_t *>(raw->alloc(raw, 0, ZEQ_FLAGS_ZERO));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  for (int i = 0; i < 64; i++) EXPECT_EQ(a[i], 0) << i;
  EXPECT_EQ(p.live_blocks(), 2u);
  EXPECT_EQ(p.allocations(), 2u);
  EXPECT_EQ(p.last_flags(), (uint32_t)ZEQ_FLAGS_ZERO);
  EXPECT_EQ(p.last_size(), 0u);
  raw->release(raw, a);
  raw->release(raw, nullptr);  // ignored
  EXPECT_EQ(p.live_blocks(), 1u);
  EXPECT_FALSE(p.double_free_seen());
  raw->release(raw, a);  // second release is caught, not passed to free
  EXPECT_TRUE(p.double_free_seen());
  EXPECT_EQ(p.live_blocks(), 1u);
}

TEST(HostPool, FailureInjection) {
  Host h;
  zeqhost::Pool &p = h.task_pool();
  ZeqPool *raw = p.raw();
  p.fail_nth(3);
  EXPECT_NE(raw->alloc(raw, 8, 0), nullptr);
  EXPECT_NE(raw->alloc(raw, 8, 0), nullptr);
  EXPECT_EQ(raw->alloc(raw, 8, 0), nullptr);  // the third from the arming
  EXPECT_NE(raw->alloc(raw, 8, 0), nullptr);  // one failure only
  p.fail_always(true);
  EXPECT_EQ(raw->alloc(raw, 8, 0), nullptr);
  EXPECT_EQ(raw->alloc(raw, 8, 0), nullptr);
  p.fail_always(false);
  EXPECT_NE(raw->alloc(raw, 8, 0), nullptr);
  p.fail_nth(1);
  p.fail_nth(0);  // disarmed
  EXPECT_NE(raw->alloc(raw, 8, 0), nullptr);
  // A negative size widened to 64 bits is refused, not attempted.
  EXPECT_EQ(raw->alloc(raw, (uint64_t)(int64_t)-1, 0), nullptr);
  EXPECT_EQ(p.allocations(), 5u);
}

TEST(HostPool, TasksHaveTheirOwnPoolsSlotsAndScratch) {
  Host h;
  FncTask *t1 = h.task();
  FncTask *t2 = h.new_task();
  ASSERT_NE(t1, t2);
  EXPECT_EQ(h.control_block()->thread->task, t1);
  EXPECT_EQ(t1->pool, h.pool_of(t1).raw());
  EXPECT_EQ(t2->pool, h.pool_of(t2).raw());
  EXPECT_NE(t1->pool, t2->pool);
  EXPECT_NE(t1->scratch, nullptr);
  EXPECT_NE(h.thread()->scratch, nullptr);
  EXPECT_NE(h.thread()->scratch, t1->scratch);
  for (int i = 0; i < 64; i++) EXPECT_EQ(t1->slots[i], nullptr);
  h.set_current_task(t2);
  EXPECT_EQ(h.task(), t2);
  EXPECT_EQ(&h.task_pool(), &h.pool_of(t2));
}

TEST(HostPool, ScratchGivesBackToTheMark) {
  Host h;
  ZeqScratch *s = h.task()->scratch;
  ASSERT_NE(s, nullptr);
  uint64_t m0 = s->mark(s);
  auto *a = static_cast<uint8_t *>(s->alloc(s, 100));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a[99], 0);
  uint64_t m1 = s->mark(s);
  s->alloc(s, 10);
  s->alloc(s, 10);
  EXPECT_EQ(h.scratch_live(), 3u);
  s->release(s, m1);
  EXPECT_EQ(h.scratch_live(), 1u);
  s->release(s, m0);
  EXPECT_EQ(h.scratch_live(), 0u);
}

TEST(HostPool, WithoutScratchTheFieldsAreNull) {
  HostOptions o;
  o.scratch = false;
  Host h(o);
  EXPECT_EQ(h.task()->scratch, nullptr);
  EXPECT_EQ(h.thread()->scratch, nullptr);
  EXPECT_EQ(h.new_task()->scratch, nullptr);
}

// ---------------------------------------------------------------------------
// Byte tables.
// ---------------------------------------------------------------------------
TEST(HostTables, AsciiClassesAgreeWithCctype) {
  Host h;
  const uint8_t *cls = h.control_block()->charclass;
  for (int c = 0; c < 128; c++) {
    SCOPED_TRACE(c);
    EXPECT_EQ((cls[c] & ZEQ_CLASS_UPPER) != 0, isupper(c) != 0);
    EXPECT_EQ((cls[c] & ZEQ_CLASS_LOWER) != 0, islower(c) != 0);
    EXPECT_EQ((cls[c] & ZEQ_CLASS_DIGIT) != 0, isdigit(c) != 0);
    EXPECT_EQ((cls[c] & ZEQ_CLASS_SPACE) != 0, isspace(c) != 0);
    EXPECT_EQ((cls[c] & ZEQ_CLASS_PUNCT) != 0, ispunct(c) != 0);
    EXPECT_EQ((cls[c] & ZEQ_CLASS_CONTROL) != 0, iscntrl(c) != 0);
    EXPECT_EQ((cls[c] & ZEQ_CLASS_XDIGIT) != 0, isxdigit(c) != 0);
    EXPECT_EQ(h.control_block()->upcase[c], toupper(c));
    EXPECT_EQ(h.control_block()->lowcase[c], tolower(c));
  }
}

TEST(HostTables, Latin1Letters) {
  Host h;
  const auto *cb = h.control_block();
  struct Case { int byte, upper, lower, bits; } cases[] = {
      {0xE9, 0xC9, 0xE9, ZEQ_CLASS_LOWER},  // e acute
      {0xC9, 0xC9, 0xE9, ZEQ_CLASS_UPPER},
      {0xDF, 0xDF, 0xDF, ZEQ_CLASS_LOWER},  // sharp s: no upper case in Latin-1
      {0xFF, 0xFF, 0xFF, ZEQ_CLASS_LOWER},  // y diaeresis: its upper case is outside
      {0xD7, 0xD7, 0xD7, ZEQ_CLASS_PUNCT},  // multiplication sign
      {0xA0, 0xA0, 0xA0, ZEQ_CLASS_SPACE | 0x20},
      {0x85, 0x85, 0x85, ZEQ_CLASS_SPACE | ZEQ_CLASS_CONTROL},
      {0x9F, 0x9F, 0x9F, ZEQ_CLASS_CONTROL},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.byte);
    EXPECT_EQ(cb->upcase[c.byte], c.upper);
    EXPECT_EQ(cb->lowcase[c.byte], c.lower);
    EXPECT_EQ(cb->charclass[c.byte], c.bits);
  }
  h.set_class_bits('1', 0);
  EXPECT_EQ(cb->charclass['1'], 0);
}

// In a UTF-8 session a byte above 0x7F is part of a multibyte character: no
// case and no class, so that the byte-only functions never see a
// continuation byte (0x85, 0xA0) as white space.  ASCII keeps its tables.
TEST(HostTables, Utf8SessionBytesAboveAsciiHaveNoCaseOrClass) {
  Host h;
  const auto *cb = h.control_block();
  const std::vector<uint8_t> latin1(cb->charclass, cb->charclass + 256);
  h.set_utf8(true);
  for (int c = 0; c < 256; c++) {
    SCOPED_TRACE(c);
    if (c < 0x80) {
      EXPECT_EQ(cb->charclass[c], latin1[c]);
      continue;
    }
    EXPECT_EQ(cb->upcase[c], c);
    EXPECT_EQ(cb->lowcase[c], c);
    EXPECT_EQ(cb->charclass[c], 0);
  }

  using NumEntry = zeq::typed::NumberEntry;
  struct Case { const char *entry; std::vector<const char *> texts; double expected; } cases[] = {
      {"fncomged", {"\xC3\xA0" "b", "ab"}, 300},  // first byte replaced, 0xA0 deleted (no BLANK cost)
      {"fnccouq", {"\xC3\xA0" "b"}, 1},           // one word: 0xA0 is no delimiter
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.entry);
    zeqtest::Call call;
    for (const char *t : tc.texts) call.str(t);
    double out = -1;
    EXPECT_EQ(h.fn<NumEntry>(tc.entry)(call.block(), &out), FNC_RC_OK);
    EXPECT_EQ(out, tc.expected);
  }

  h.set_utf8(false);
  EXPECT_EQ(std::vector<uint8_t>(cb->charclass, cb->charclass + 256), latin1);
  EXPECT_EQ(cb->upcase[0xE9], 0xC9);
}

// ---------------------------------------------------------------------------
// Journal formatter.
// ---------------------------------------------------------------------------
TEST(HostJournal, FormatterConversions) {
  Host h;
  ZeqLogger *lg = h.kernel()->journal;
  ASSERT_NE(lg, nullptr);
  auto name = tk("tkbug.RNGSEED");
  auto word = tk("ERROR");
  struct Case {
    const char *format;
    std::function<void(const TKChar *)> call;
    const char *want;
  };
  std::vector<Case> cases = {
      {"%hs(%.*S)=%lli", [&](const TKChar *f) { jnl(lg, 0, f, "tknrlget", 5, name.data(), 42LL); },
       "tknrlget(tkbug)=42"},
      {"'%s' '%S' '%ls'", [&](const TKChar *f) { jnl(lg, 0, f, word.data(), word.data(), word.data()); },
       "'ERROR' 'ERROR' 'ERROR'"},
      {"%20g|%g", [&](const TKChar *f) { jnl(lg, 0, f, 0.5, 1e21); }, "                 0.5|1e+21"},
      {"   %3i: %16llx  %3i: %8x",
       [&](const TKChar *f) { jnl(lg, 0, f, 4, 0xABCDEFull, 17, 0x1Fu); },
       "     4:           abcdef   17:       1f"},
      {"%d%%%c|%-6s|%6s", [&](const TKChar *f) { jnl(lg, 0, f, -3, (int)0xE9, word.data(), word.data()); },
       "-3%\xC3\xA9|ERROR | ERROR"},
      {"%hs|%s", [&](const TKChar *f) { jnl(lg, 0, f, (const char *)nullptr, (const TKChar *)nullptr); },
       "(null)|(null)"},
      {"%.2S|%.*hs", [&](const TKChar *f) { jnl(lg, 0, f, word.data(), 3, "abcdef"); }, "ER|abc"},
      {"%u %lli %i", [&](const TKChar *f) { jnl(lg, 0, f, 4294967295u, -9007199254740992LL, (int)-1); },
       "4294967295 -9007199254740992 -1"},
  };
  for (const auto &c : cases) {
    h.clear_log();
    auto f = tk(c.format);
    c.call(f.data());
    ASSERT_EQ(h.log().size(), 1u) << c.format;
    EXPECT_EQ(h.log()[0].text, c.want) << c.format;
    EXPECT_EQ(h.log()[0].kind, LogEntry::JournalMessage);
  }
}

TEST(HostJournal, LevelWordsAndArguments) {
  Host h;
  ZeqLogger *lg = h.kernel()->journal;
  auto f = tk("x=%i");
  const char *want[] = {"x=7", "INFO: x=7", "NOTE: x=7", "WARNING: x=7", "ERROR: x=7"};
  for (int level = 0; level <= 4; level++) {
    h.clear_log();
    EXPECT_EQ(jnl(lg, level, f.data(), 7), 0);
    ASSERT_EQ(h.log().size(), 1u);
    EXPECT_EQ(h.log()[0].text, want[level]);
    EXPECT_EQ(h.log()[0].level, level);
    EXPECT_EQ(h.log()[0].args, std::vector<std::string>{"7"});
  }
}

TEST(HostJournal, BufferIsCutAndTerminated) {
  Host h;
  ZeqLogger *lg = h.kernel()->journal;
  auto f = tk("%lli");
  TKChar buf[8];
  std::fill(std::begin(buf), std::end(buf), 0xFFFFu);
  EXPECT_EQ(to_buf(lg, buf, 4, f.data(), 123456LL), 0);
  EXPECT_EQ(zeqhost::to_utf8(buf, -1), "123");
  EXPECT_EQ(buf[4], 0xFFFFu);  // nothing beyond the room
  EXPECT_EQ(to_buf(lg, buf, 0, f.data(), 1LL), 0);
  EXPECT_EQ(buf[0], (TKChar)'1');  // room 0 writes nothing
  EXPECT_TRUE(h.log().empty());
}

TEST(HostJournal, StatusesRenderFromTheCatalogue) {
  Host h;
  ZeqLogger *lg = h.kernel()->journal;
  auto name = tk("MTHYBRID");
  auto text = tk("4x2");
  auto setting = tk("OSENV.ZEQ_RNG_NOTE_LIMIT");
  status_jnl(lg, 3, (int32_t)0x8C7FE817, name.data(), 5.0);
  status_jnl(lg, 4, (int32_t)0x8C7FE81C, 1024LL, 1023LL, name.data());
  status_jnl(lg, 2, (int32_t)0x8C7FE82A, "Mersenne", 7LL, 7LL, 2LL, 2LL);
  status_jnl(lg, 4, (int32_t)0x8C7FE819, 4294967295LL, 7.5, 0.0);
  status_jnl(lg, 4, (int32_t)0x8C7FE8C8, 3, text.data(), 24, setting.data(), -9007199254740992LL,
             9007199254740992LL);
  status_jnl(lg, 4, (int32_t)0x12345678);
  std::vector<int> want = {(int)0x8C7FE817, (int)0x8C7FE81C, (int)0x8C7FE82A, (int)0x8C7FE819,
                           (int)0x8C7FE8C8, 0x12345678};
  EXPECT_EQ(h.journal_statuses(), want);
  const auto &log = h.log();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0].text, "WARNING: The random-number method MTHYBRID takes no seed; the seed 5 was ignored.");
  EXPECT_EQ(log[1].text,
            "ERROR: The key 1024 is larger than 1023, the largest key of the random-number method MTHYBRID.");
  EXPECT_EQ(log[2].text, "NOTE: The random-number method is Mersenne with seed 7 (0x7) and key 2 (0x2).");
  EXPECT_EQ(log[3].text, "ERROR: The seed 7.5 could not be mapped into 1 to 4294967295: it gave 0.");
  EXPECT_NE(log[4].text.find("'4x2'"), std::string::npos) << log[4].text;
  EXPECT_NE(log[4].text.find("OSENV.ZEQ_RNG_NOTE_LIMIT "), std::string::npos) << log[4].text;
  EXPECT_EQ(log[5].text, "ERROR: Status 0x12345678.");
}

TEST(HostJournal, EveryEngineAndSettingsStatusHasAText) {
  Host h;
  const uint32_t statuses[] = {0x8C7FE80A, 0x8C7FE80B, 0x8C7FE80C, 0x8C7FE80D, 0x8C7FE80F, 0x8C7FE810,
                               0x8C7FE817, 0x8C7FE818, 0x8C7FE819, 0x8C7FE81A, 0x8C7FE81B, 0x8C7FE81C,
                               0x8C7FE828, 0x8C7FE829, 0x8C7FE82A, 0x8C7FE851, 0x8C7FE852, 0x8C7FE8C8,
                               0x8C7FE8C9, 0x8C7FE8CA, 0x803FC002, 0x803FC26A, 0x803FC009, 0x803FC264,
                               (uint32_t)zeqhost::kStatusJournalFailed};
  for (uint32_t s : statuses) EXPECT_FALSE(h.catalogue_text(0, (int)s).empty()) << std::hex << s;
  const int numbers[] = {1, 2, 3, 6, 7, 8, 9, 27, 28, 29, 32, 33, 34, 39, 40, 41, 80};
  for (int n : numbers) EXPECT_FALSE(h.catalogue_text(FNC_MSG_SET, n).empty()) << n;
  EXPECT_TRUE(h.catalogue_text(FNC_MSG_SET, 5).empty());
}

TEST(HostJournal, FailingJournalStillKeepsTheLine) {
  Host h;
  ZeqLogger *lg = h.kernel()->journal;
  auto f = tk("x");
  h.set_journal_fails(true);
  EXPECT_EQ(jnl(lg, 2, f.data()), zeqhost::kStatusJournalFailed);
  EXPECT_EQ(status_jnl(lg, 4, (int32_t)0x8C7FE80B), zeqhost::kStatusJournalFailed);
  h.set_journal_fails(false);
  EXPECT_EQ(jnl(lg, 2, f.data()), 0);
  EXPECT_EQ(h.log().size(), 3u);
}

TEST(HostJournal, OptionalRecordsCanBeLeftOut) {
  HostOptions o;
  o.journal = false;
  o.store = false;
  o.encoding = false;
  o.locale = false;
  Host h(o);
  EXPECT_EQ(h.kernel()->journal, nullptr);
  EXPECT_EQ(h.kernel()->store, nullptr);
  EXPECT_EQ(h.kernel()->encoding, nullptr);
  EXPECT_EQ(h.kernel()->locale, nullptr);
  HostOptions with;
  with.locale = true;
  Host h2(with);
  ASSERT_NE(h2.kernel()->locale, nullptr);
  ZeqLocale *loc = h2.kernel()->locale;
  EXPECT_EQ(loc->upper(loc, 0x3B1, 1), 0x391u);  // Greek alpha
  EXPECT_EQ(loc->lower(loc, 0xC9, 1), 0xE9u);
}

// ---------------------------------------------------------------------------
// Catalogue messages (xpmlog) and formatted lines (xpslog).
// ---------------------------------------------------------------------------
using Xpmlog = int (*)(int, int, ...);
using Xpslog = int (*)(const char *, ...);

TEST(HostCatalogue, RendersEachMessageWithItsArguments) {
  Host h;
  auto xpmlog = entry<Xpmlog>(h, 39, 70);
  const char bytes[] = "abcXYZ";  // not terminated after 3
  struct Case {
    int number;
    std::function<void()> call;
    std::vector<std::string> args;
    const char *want;
  };
  std::vector<Case> cases = {
      {28, [&] { xpmlog(744, 28, "CATX", 12LL, 10LL); }, {"CATX", "12", "10"},
       "NOTE: Invalid argument to function CATX. The result was truncated: 12 bytes were needed, 10 were available."},
      {27, [&] { xpmlog(744, 27, "CATB", 5LL, 4LL); }, {"CATB", "5", "4"},
       "NOTE: Invalid argument to function CATB. The target was truncated: 5 bytes were needed, 4 were available."},
      {29, [&] { xpmlog(744, 29, "CAT"); }, {"CAT"}, nullptr},
      {6, [&] { xpmlog(744, 6, "FINDC", (int)'Z'); }, {"FINDC", "Z"},
       "NOTE: Invalid modifier \"Z\" in function FINDC. The modifier was ignored."},
      {6, [&] { xpmlog(744, 6, "COUNT", (int)(signed char)0xE9); }, {"COUNT", "\xC3\xA9"}, nullptr},
      {2, [&] { xpmlog(744, 2, 4LL, 3LL, bytes); }, {"4", "abc"}, nullptr},
      {2, [&] { xpmlog(744, 2, 4LL, "abc"); }, {"4", "abc"}, nullptr},
      {3, [&] { xpmlog(744, 3, 2LL, -2147483647LL, 2147483647LL); }, {"2", "-2147483647", "2147483647"},
       "ERROR: Argument 2 to function COMPCOST must be a whole number from -2147483647 to 2147483647."},
      {41, [&] { xpmlog(744, 41, 4LL, 3LL, 3LL, bytes); }, {"4", "3", "abc"}, nullptr},
      {41, [&] { xpmlog(744, 41, 4LL, 3LL, bytes); }, {"4", "3", "abc"}, nullptr},
      {40, [&] { xpmlog(744, 40); }, {}, nullptr},
      {80, [&] { xpmlog(744, 80, 39, 5LL); }, {"'", "5"}, nullptr},
      {32, [&] { xpmlog(744, 32, "SCAN", 3LL); }, {"SCAN", "3"}, "NOTE: Argument 3 to function SCAN has no value."},
      // A text argument that is no address reads as "?", never as a crash.
      {29, [&] { xpmlog(744, 29, (const char *)0x20, (const char *)nullptr); }, {"?"}, nullptr},
      {2, [&] { xpmlog(744, 2, 1LL, 5LL, (const char *)0x40); }, {"1", "?"}, nullptr},
  };
  for (const auto &c : cases) {
    h.clear_log();
    c.call();
    ASSERT_EQ(h.log().size(), 1u) << c.number;
    const LogEntry &e = h.log()[0];
    EXPECT_EQ(e.kind, LogEntry::Catalogue);
    EXPECT_EQ(e.set, 744);
    EXPECT_EQ(e.number, c.number);
    EXPECT_EQ(e.args, c.args) << c.number;
    if (c.want) {
      EXPECT_EQ(e.text, c.want);
    }
    EXPECT_EQ(e.text.find('{'), std::string::npos) << e.text;
  }
  h.clear_log();
  xpmlog(744, 28, "CAT", 1LL, 0LL);
  xpmlog(744, 6, "CATQ", (int)'Q');
  xpmlog(12, 3);
  EXPECT_EQ(h.message_numbers(), (std::vector<int>{28, 6}));
  EXPECT_EQ(h.log()[2].text, "NOTE: Message 3 of set 12.");
}

TEST(HostCatalogue, UnmappedTextIsNotRead) {
  Host h;
  auto xpmlog = entry<Xpmlog>(h, 39, 70);
  void *page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  std::memcpy(page, "CATT", 5);
  xpmlog(744, 29, static_cast<const char *>(page));
  munmap(page, 4096);  // the same address now faults
  xpmlog(744, 29, static_cast<const char *>(page));
  xpmlog(744, 2, 7LL, 3LL, static_cast<const char *>(page));
  ASSERT_EQ(h.log().size(), 3u);
  EXPECT_EQ(h.log()[0].args, std::vector<std::string>{"CATT"});
  EXPECT_EQ(h.log()[1].args, std::vector<std::string>{"?"});
  EXPECT_EQ(h.log()[2].args, (std::vector<std::string>{"7", "?"}));
}

TEST(HostCatalogue, FormattedLinesStripTheLevelDirective) {
  Host h;
  auto xpslog = entry<Xpslog>(h, 39, 89);
  xpslog("%2zThe modifier\"%c\" in the %s function is not valid.", 'X', "COMPARE");
  xpslog("%3zArgument type=%i", 1);
  xpslog("no level %d%%", 5);
  const auto &log = h.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].text, "NOTE: The modifier\"X\" in the COMPARE function is not valid.");
  EXPECT_EQ(log[0].level, 2);
  EXPECT_EQ(log[0].args, (std::vector<std::string>{"X", "COMPARE"}));
  EXPECT_EQ(log[1].text, "WARNING: Argument type=1");
  EXPECT_EQ(log[2].text, "no level 5%");
  EXPECT_EQ(log[2].kind, LogEntry::Formatted);
}

TEST(HostCatalogue, MissingVectorEntryIsReportedWithItsNumbers) {
  Host h;
  void *e = h.control_block()->vectors[39][5];
  EXPECT_EQ(zeqhost_test_call_r10(e, (39ull << 32) | 5), 0);
  ASSERT_EQ(h.log().size(), 1u);
  EXPECT_EQ(h.log()[0].text, "ERROR: The host service 39/5 is not available.");
}

// ---------------------------------------------------------------------------
// Name/value store.
// ---------------------------------------------------------------------------
struct Store {
  ZeqNameValueStore *nv;
  std::vector<TKChar> name;
  int32_t get(int32_t type, int32_t unit, void *value, int64_t room, int64_t *produced) {
    return nv->get(nv, name.data(), (int64_t)name.size() - 1, type, unit, value, room, produced);
  }
};

TEST(HostStore, StatusesByStoredAndAskedType) {
  Host h;
  Store s{h.kernel()->store, tk("OSENV.X")};
  ASSERT_NE(s.nv, nullptr);
  enum Stored { None, Double, Int, Text };
  struct Case { Stored stored; int32_t asked; int32_t status; } cases[] = {
      {None, ZEQ_NV_DOUBLE, ZEQ_RC_NV_NOVALUE},   {None, ZEQ_NV_TEXT, ZEQ_RC_NV_NOVALUE},
      {Double, ZEQ_NV_DOUBLE, 0},                 {Double, ZEQ_NV_INT64, ZEQ_RC_NV_WRONGTYPE2},
      {Int, ZEQ_NV_INT64, 0},                     {Int, ZEQ_NV_DOUBLE, ZEQ_RC_NV_WRONGTYPE2},
      {Text, ZEQ_NV_INT64, ZEQ_RC_NV_WRONGTYPE1}, {Text, ZEQ_NV_DOUBLE, ZEQ_RC_NV_WRONGTYPE1},
      {Text, ZEQ_NV_TEXT, 0},                     {Int, ZEQ_NV_TEXT, 0},
  };
  for (const auto &c : cases) {
    h.clear_setting("OSENV.X");
    if (c.stored == Double) h.set_setting("OSENV.X", 2.5);
    if (c.stored == Int) h.set_setting_int("OSENV.X", -7);
    if (c.stored == Text) h.set_setting("OSENV.X", std::string("abc"));
    uint8_t buf[64] = {};
    int64_t produced = -1;
    EXPECT_EQ(s.get(c.asked, 4, buf, sizeof buf, &produced), c.status) << c.stored << "/" << c.asked;
    EXPECT_EQ(s.nv->has_value(s.nv, s.name.data(), 0), c.stored != None);
  }
  h.set_setting_int("OSENV.X", -7);
  int64_t v = 0;
  EXPECT_EQ(s.get(ZEQ_NV_INT64, 0, &v, 8, nullptr), 0);
  EXPECT_EQ(v, -7);
  TKChar text[8];
  int64_t produced = 0;
  EXPECT_EQ(s.get(ZEQ_NV_TEXT, 4, text, sizeof text, &produced), 0);  // a number read as text
  EXPECT_EQ(zeqhost::to_utf8(text, produced / 4), "-7");
}

TEST(HostStore, TextIsCutAtCharacterBoundaries) {
  Host h;
  Store s{h.kernel()->store, tk("k")};
  h.set_setting("k", std::string("a\xC3\xA9z"));  // a, e acute, z
  char bytes[8];
  int64_t produced = 0;
  EXPECT_EQ(s.get(ZEQ_NV_TEXT, 1, bytes, 2, &produced), 0);  // Latin-1 session: one byte each
  EXPECT_EQ(produced, 2);
  EXPECT_EQ(std::string(bytes, 2), "a\xE9");
  h.set_utf8(true);
  EXPECT_EQ(s.get(ZEQ_NV_TEXT, 1, bytes, 2, &produced), 0);  // the 2-byte e acute does not fit
  EXPECT_EQ(produced, 1);
  EXPECT_EQ(s.get(ZEQ_NV_TEXT, 1, bytes, 8, &produced), 0);
  EXPECT_EQ(std::string(bytes, (size_t)produced), "a\xC3\xA9z");
  TKChar units[2];
  EXPECT_EQ(s.get(ZEQ_NV_TEXT, 4, units, 11, &produced), 0);  // room for two whole units
  EXPECT_EQ(produced, 8);
  EXPECT_EQ(units[1], 0xE9u);
}

TEST(HostStore, SetRulesAndExactNames) {
  Host h;
  ZeqNameValueStore *nv = h.kernel()->store;
  auto name = tk("Limit");
  int64_t i = 5;
  double d = 1.5;
  EXPECT_EQ(nv->set(nv, name.data(), 0, 1, ZEQ_NV_INT64, &i, 8), 0);
  EXPECT_EQ(h.setting_text("Limit").value_or("?"), "5");
  EXPECT_FALSE(h.has_setting("LIMIT"));  // names are compared exactly
  EXPECT_EQ(nv->set(nv, name.data(), 0, 1, ZEQ_NV_DOUBLE, &d, 8), ZEQ_RC_NV_WRONGTYPE2);
  EXPECT_EQ(h.setting_text("Limit").value_or("?"), "5");  // unchanged
  auto text = tk("12");
  EXPECT_EQ(nv->set(nv, name.data(), 5, 1, ZEQ_NV_TEXT, text.data(), 8), 0);  // text replaces
  EXPECT_EQ(h.setting_text("Limit").value_or("?"), "12");
  EXPECT_EQ(nv->set(nv, name.data(), 5, 1, ZEQ_NV_INT64, &i, 8), ZEQ_RC_NV_WRONGTYPE2);
  EXPECT_EQ(nv->set(nv, name.data(), 5, 1, ZEQ_NV_TEXT, nullptr, 0), 0);  // empty text: no value
  EXPECT_FALSE(h.has_setting("Limit"));
  EXPECT_NE(nv->set(nv, name.data(), 5, 1, ZEQ_NV_INT64, &i, 4), 0);  // a number takes 8 bytes
  EXPECT_NE(nv->set(nv, nullptr, 5, 1, ZEQ_NV_INT64, &i, 8), 0);
  EXPECT_EQ(nv->get(nv, nullptr, 0, ZEQ_NV_INT64, 0, &i, 8, nullptr), ZEQ_RC_NV_NOVALUE);
  h.set_setting("x", 0.1);
  EXPECT_EQ(h.setting_text("x").value_or("?"), "0.10000000000000001");
}

// ---------------------------------------------------------------------------
// Number formatting (zfmt, format code 99).
// ---------------------------------------------------------------------------
std::string zfmt_text(Host &h, double x, int width, int32_t *status = nullptr) {
  char out[40];
  std::memset(out, '#', sizeof out);
  ZeqFmtRequest r{};
  r.width = width;
  r.code = 99;
  r.value = &x;
  r.value_size = 8;
  r.out = out;
  r.width2 = width;
  int rc = entry<int (*)(void *)>(h, 39, 184)(&r);
  if (status) *status = rc;
  EXPECT_EQ(out[32 + 1], '#');  // never beyond the widest width and its stop byte
  return std::string(out, (size_t)r.width);
}

TEST(HostFormat, BestFitTable) {
  Host h;
  struct Case { double x; int width; const char *want; } cases[] = {
      {12, 12, "12"},
      {-12, 12, "-12"},
      {std::nan(""), 12, "."},
      {1.0 / 3, 12, "0.3333333333"},
      {-1.0 / 3, 12, "-0.333333333"},
      {2.5, 12, "2.5"},
      {123.456, 12, "123.456"},
      {1e10, 12, "10000000000"},
      {9999999999.99, 12, "10000000000"},
      {1234567.891, 12, "1234567.891"},
      {0.0001, 12, "0.0001"},
      {0.1 + 0.2, 12, "0.3"},
      {0, 32, "0"},
      {-0.0, 32, "0"},
      {1e15, 32, "1000000000000000"},
      {9007199254740993.0, 32, "9007199254740992"},
      {1e20, 32, "100000000000000000000"},
      {0.00001, 32, "0.00001"},
      {1.5e-7, 32, "1.5E-7"},
      {1.5e40, 32, "1.5E40"},
      {-1e-300, 32, "-1E-300"},
      {1.0 / 3 * 1e-10, 32, "3.33333333333333E-11"},
      {123456789, 5, "1.2E8"},
      {std::numeric_limits<double>::infinity(), 12, "************"},
  };
  for (const auto &c : cases) {
    std::string got = zfmt_text(h, c.x, c.width);
    SCOPED_TRACE(c.want);
    ASSERT_EQ((int)got.size(), c.width);
    size_t lead = got.find_first_not_of(' ');
    EXPECT_EQ(got.substr(lead), c.want);
  }
}

TEST(HostFormat, OtherCodesAreRefused) {
  Host h;
  double x = 1;
  char out[40];
  ZeqFmtRequest r{};
  r.width = 12;
  r.code = 12;
  r.value = &x;
  r.value_size = 8;
  r.out = out;
  EXPECT_NE(entry<int (*)(void *)>(h, 39, 184)(&r), 0);
  EXPECT_EQ(r.width, 0);
}

// ---------------------------------------------------------------------------
// Options, version, macro variables and the small services.
// ---------------------------------------------------------------------------
using Xyrngef = int (*)(const char *, int, int, int, int, void *, int, void *);
using Xyrcgef = int (*)(int, int, int, int, int, char *, int *, int, void *);

TEST(HostOptions, YearCutoff) {
  Host h;
  auto f = entry<Xyrngef>(h, 39, 57);
  double v = 0;
  EXPECT_EQ(f("YEARCUTOFF", 10, 0, 0, 0, &v, 0, h.task()), 0);
  EXPECT_EQ(v, 1940);
  h.set_yearcutoff(1926);
  EXPECT_EQ(f("yearcutoff", 10, 0, 0, 0, &v, 0, h.task()), 0);
  EXPECT_EQ(v, 1926);
  EXPECT_EQ(f("YEARCUT", 7, 0, 0, 0, &v, 0, h.task()), zeqhost::kStatusNoOption);
  h.set_option_fails(zeqhost::kOptionYearCutoff, 77);
  v = 0;
  EXPECT_EQ(f("YEARCUTOFF", 10, 0, 0, 0, &v, 0, h.task()), 77);
  EXPECT_EQ(v, 0);
}

TEST(HostOptions, TextOptions) {
  Host h;
  auto f = entry<Xyrcgef>(h, 39, 56);
  char buf[32];
  int len = sizeof buf;
  EXPECT_EQ(f(0, 4429, 0, 0, 0, buf, &len, 0, h.task()), 0);
  EXPECT_EQ(std::string(buf, (size_t)len), "V7");
  len = sizeof buf;
  EXPECT_EQ(f(0, 4163, 0, 0, 0, buf, &len, 0, h.task()), 0);
  EXPECT_EQ(len, 0);
  h.set_option(4163, "rngseed=12 other");
  len = 7;
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(f(0, 4163, 0, 0, 0, buf, &len, 0, h.task()), 0);
  EXPECT_EQ(std::string(buf, 8), "rngseed#");  // cut to the room, nothing beyond it
  EXPECT_EQ(len, 7);
  h.set_option_fails(4429, -5);
  len = sizeof buf;
  EXPECT_EQ(f(0, 4429, 0, 0, 0, buf, &len, 0, h.task()), -5);
  EXPECT_EQ(len, 0);
  len = sizeof buf;
  EXPECT_EQ(f(0, 1, 0, 0, 0, buf, &len, 0, h.task()), zeqhost::kStatusNoOption);
}

TEST(HostServices, VersionAndSmallFormatters) {
  Host h;
  char v[9] = {};
  auto zzeqver = entry<int (*)(char *)>(h, 39, 194);
  EXPECT_EQ(zzeqver(v), 0);
  EXPECT_EQ(std::string(v, 8), "1.0     ");
  h.set_version("V9");
  zzeqver(v);
  EXPECT_EQ(std::string(v, 8), "V9      ");

  char buf[24];
  std::memset(buf, '#', sizeof buf);
  auto xpsstr = entry<int (*)(char *, int, const char *, ...)>(h, 39, 79);
  EXPECT_EQ(xpsstr(buf, 20, "%20lld", 1234LL), 20);
  EXPECT_EQ(std::string(buf, 21), std::string(16, ' ') + "1234#");
  EXPECT_EQ(xpsstr(buf, 20, "%s", "ab"), 2);
  EXPECT_EQ(std::string(buf, 3), std::string("ab\0", 3));

  auto wzfmhc = entry<int (*)(const void *, int, int, int, char *)>(h, 0, 293);
  const unsigned char data[] = {0x00, 0x1F, 0xAB, 0xFF};
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(wzfmhc(data, 4, 8, 1, buf), 8);
  EXPECT_EQ(std::string(buf, 9), "001FABFF#");

  auto wzrlchr = entry<int (*)(const char *, int, int, int *, double *)>(h, 0, 320);
  struct Num { const char *text; int length; int status; int consumed; double value; } nums[] = {
      {"12 next", 7, 0, 2, 12},  {"-3.5e2", 6, 0, 6, -350}, {"123456", 3, 0, 3, 123},
      {" 7", 2, 0, 2, 7},        {"x1", 2, 1, 0, 0},        {"0x10", 4, 1, 0, 0},
      {"", 0, 1, 0, 0},
  };
  for (const auto &n : nums) {
    int consumed = -1;
    double value = 0;
    int rc = wzrlchr(n.text, n.length, 0, &consumed, &value);
    EXPECT_EQ(rc != 0, n.status != 0) << n.text;
    EXPECT_EQ(consumed, n.consumed) << n.text;
    if (!rc) {
      EXPECT_EQ(value, n.value) << n.text;
    }
  }
}

TEST(HostServices, ReallocationKeepsContent) {
  Host h;
  auto xmrealc = entry<void *(*)(void *, void *, long long, long long, int)>(h, 39, 34);
  zeqhost::Pool &p = h.task_pool();
  ZeqPool *raw = p.raw();
  auto *a = static_cast<char *>(raw->alloc(raw, 4, 0));
  std::memcpy(a, "abcd", 4);
  auto *b = static_cast<char *>(xmrealc(raw, a, 4, 10, 0));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::string(b, 10), std::string("abcd\0\0\0\0\0\0", 10));
  EXPECT_EQ(p.live_blocks(), 1u);
  p.fail_nth(1);
  EXPECT_EQ(xmrealc(raw, b, 10, 20, 0), nullptr);
  EXPECT_EQ(std::string(b, 4), "abcd");  // a failed growth keeps the old block
  EXPECT_EQ(p.live_blocks(), 1u);
  EXPECT_FALSE(p.double_free_seen());
}

TEST(HostServices, MacroVariablesTaskSlotsAndRecordedCalls) {
  Host h;
  auto xalanch = entry<void *(*)(void *)>(h, 40, 277);
  auto xjsympc = entry<int (*)(void *, const char *, int, const char *, int, int, int)>(h, 49, 31);
  void *handle = xalanch(h.task());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(xjsympc(handle, "SYSRANDOM", 9, "                  42", 20, 70, 0), 0);
  EXPECT_EQ(h.macro("sysrandom").value_or("?"), "                  42");
  EXPECT_EQ(h.macro_scope("SYSRANDOM"), 70);
  EXPECT_FALSE(h.macro("SYSRANEND").has_value());

  auto xjundls = entry<int (*)(void *, char *, void *)>(h, 40, 96);
  char text[] = "'a b'n";
  EXPECT_EQ(xjundls(handle, text, nullptr), 0);
  h.set_unquote_hook([](char *t, FncString *) { t[0] = 'X'; return 1; });
  EXPECT_EQ(xjundls(handle, text, nullptr), 1);
  EXPECT_EQ(text[0], 'X');

  auto wtrsset = entry<int (*)(void *, int, void *)>(h, 0, 192);
  int marker;
  EXPECT_EQ(wtrsset(h.task(), FNC_TASK_SLOT_CONTEXT, &marker), 0);
  EXPECT_EQ(h.task()->slots[FNC_TASK_SLOT_CONTEXT], &marker);
  EXPECT_NE(wtrsset(h.task(), -1, &marker), 0);
  EXPECT_NE(wtrsset(h.task(), 100000, &marker), 0);

  h.clear_service_calls();
  entry<int (*)(int, int)>(h, 39, 108)(0, -1);
  entry<int (*)(int, int, int)>(h, 39, 138)(0, 28, 1);
  entry<int (*)(int)>(h, 39, 130)(-5);
  const auto &calls = h.service_calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].name, "xpselec");
  EXPECT_EQ(calls[0].args, (std::vector<int64_t>{0, -1}));
  EXPECT_EQ(calls[1].args, (std::vector<int64_t>{0, 28, 1}));
  EXPECT_EQ(calls[2].name, "xprrlog");
}

TEST(HostServicesDeath, FatalExitEndsTheProcess) {
  EXPECT_EXIT(
      {
        Host h;
        entry<void (*)(int, int)>(h, 39, 4)(1016, 0);
      },
      testing::ExitedWithCode(1016 & 0xFF), "ERROR: fatal exit 1016");
}

// ---------------------------------------------------------------------------
// Kernel service entry.
// ---------------------------------------------------------------------------
TEST(HostKernel, ClockInfoAndStatistics) {
  Host h;
  ZeqKernel *k = h.kernel();
  double t[2] = {-1, -1};
  h.set_clock(1234.5);
  EXPECT_EQ(k->service(16, (int64_t)(intptr_t)t, ZEQ_KFLAGS | 0x800000), 0);
  EXPECT_EQ(t[0], 1234.5);
  EXPECT_EQ(t[1], 0);
  h.set_clock(std::nan(""));
  k->service(16, (int64_t)(intptr_t)t, ZEQ_KFLAGS | 0x800000);
  EXPECT_GT(t[0], 1.6e9);  // seconds since the epoch

  uint8_t info[ZEQ_INFO_BYTES];
  std::memset(info, 0xAA, sizeof info);
  EXPECT_EQ(k->service(16, (int64_t)(intptr_t)info, ZEQ_KFLAGS | 0x200000), 0);
  uint8_t *rec;
  std::memcpy(&rec, info + ZEQ_INFO_PROCESSOR, 8);
  ASSERT_EQ(rec, h.processor_record());
  uint32_t status;
  std::memcpy(&status, rec, 4);
  EXPECT_EQ(status, 0u);
  unsigned a, b, c, d;
  ASSERT_TRUE(__get_cpuid(1, &a, &b, &c, &d));
  EXPECT_EQ((rec[ZEQ_CPU_RDRAND_BYTE] & ZEQ_CPU_RDRAND_BIT) != 0, (c & (1u << 30)) != 0);

  int64_t stats[9];
  stats[8] = 77;
  EXPECT_EQ(k->service(8, (int64_t)(intptr_t)stats, ZEQ_KFLAGS), 0);
  EXPECT_GT(stats[3], 0);
  EXPECT_EQ(stats[8], 77);  // eight words, no more
  EXPECT_EQ(k->service(51, 0, ZEQ_KFLAGS), 0);  // everything else: 0

  void *pr = k->process_record();
  int64_t pid;
  std::memcpy(&pid, static_cast<uint8_t *>(pr) + 0x38, 8);
  EXPECT_EQ(pid, (int64_t)getpid());
  ASSERT_NE(k->clock_change, nullptr);
  k->clock_change->changed();
  EXPECT_EQ(h.clock_changes(), 1);
  EXPECT_NE(k->default_locale, nullptr);
}

TEST(HostKernel, ProcessorRecordCanHideOrDropRdrand) {
  HostOptions o;
  o.rdrand = false;
  Host h(o);
  uint8_t info[ZEQ_INFO_BYTES];
  h.kernel()->service(16, (int64_t)(intptr_t)info, ZEQ_KFLAGS | 0x200000);
  uint8_t *rec;
  std::memcpy(&rec, info + ZEQ_INFO_PROCESSOR, 8);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec[ZEQ_CPU_RDRAND_BYTE] & ZEQ_CPU_RDRAND_BIT, 0);
  HostOptions none;
  none.processor = false;
  Host h2(none);
  h2.kernel()->service(16, (int64_t)(intptr_t)info, ZEQ_KFLAGS | 0x200000);
  std::memcpy(&rec, info + ZEQ_INFO_PROCESSOR, 8);
  EXPECT_EQ(rec, nullptr);
}

// ---------------------------------------------------------------------------
// Session encoding and the national-language service.
// ---------------------------------------------------------------------------
struct Converted {
  int32_t status;
  std::string bytes;
};

Converted convert(ZeqTranscoder *t, const void *in, int64_t n, int64_t room) {
  std::string out((size_t)room, '\0');
  int64_t produced = -1;
  int32_t rc = t->convert(t, in, n, out.data(), room, &produced);
  out.resize((size_t)produced);
  return {rc, out};
}

TEST(HostSession, TranscodersFollowTheSessionEncoding) {
  Host h;
  ZeqSessionEncoding *enc = h.kernel()->encoding;
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(enc->encoding_id, ZEQ_ENC_LATIN1);
  EXPECT_EQ(enc->multibyte, 0);
  Converted c = convert(enc->to_tkchar, "a\xE9", 2, 16);
  EXPECT_EQ(c.status, 0);
  ASSERT_EQ(c.bytes.size(), 8u);
  TKChar u[2];
  std::memcpy(u, c.bytes.data(), 8);
  EXPECT_EQ(u[1], 0xE9u);

  h.set_utf8(true);
  EXPECT_TRUE(h.utf8());
  EXPECT_EQ(enc->encoding_id, ZEQ_ENC_UTF8);
  EXPECT_EQ(enc->multibyte, 1);
  c = convert(enc->to_tkchar, "a\xC3\xA9\xF0\x9F\x98\x80", 7, 16);
  EXPECT_EQ(c.status, 0);
  ASSERT_EQ(c.bytes.size(), 12u);
  TKChar w[3];
  std::memcpy(w, c.bytes.data(), 12);
  EXPECT_EQ(w[1], 0xE9u);
  EXPECT_EQ(w[2], 0x1F600u);
  c = convert(enc->to_tkchar, "abc", 3, 9);  // room for two units only
  EXPECT_EQ(c.status, ZEQ_RC_UTF8_NOROOM);
  EXPECT_EQ(c.bytes.size(), 8u);

  const TKChar back[] = {'a', 0xE9, 0x20AC};
  c = convert(enc->from_tkchar, back, 12, 16);
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.bytes, "a\xC3\xA9\xE2\x82\xAC");
  c = convert(enc->from_tkchar, back, 12, 4);  // the euro sign does not fit whole
  EXPECT_EQ(c.status, ZEQ_RC_UTF8_NOROOM);
  EXPECT_EQ(c.bytes, "a\xC3\xA9");

  ZeqNls *nls = h.kernel()->nls;
  EXPECT_EQ(nls->open(nls, 999, ZEQ_NLS_TO_TKCHAR), nullptr);
  ZeqTranscoder *t = nls->open(nls, ZEQ_ENC_LATIN1, ZEQ_NLS_FROM_TKCHAR);
  ASSERT_NE(t, nullptr);
  c = convert(t, back, 12, 8);
  EXPECT_EQ(c.bytes, "a\xE9\x1A");  // the euro sign is not Latin-1: substitution byte
  t->close(t);
  t->close(t);  // a second close is harmless
  EXPECT_NE(convert(t, back, 12, 8).status, 0);
}

// ---------------------------------------------------------------------------
// Module loading.
// ---------------------------------------------------------------------------
TEST(HostLoading, LoadsTheModuleAndFollowsTheEntryRecord) {
  Host h;
  ASSERT_TRUE(h.loaded()) << h.load_error();
  ASSERT_NE(h.table(), nullptr);
  EXPECT_EQ(h.kernel(), h.control_block()->kernel);
  EXPECT_EQ(std::strncmp(static_cast<const char *>(h.image()), "ZEQ_Image_Information=", 22), 0);
  EXPECT_EQ(h.slot(-1), nullptr);
  EXPECT_EQ(h.slot(ZEQ_TABLE_SLOTS), nullptr);
  EXPECT_EQ(h.symbol("no_such_symbol_here"), nullptr);
  EXPECT_NE(h.symbol("mcn_main"), nullptr);
}

TEST(HostLoading, MissingModuleIsReported) {
  HostOptions o;
  o.module_path = "/nonexistent/libzeqwucha.so";
  Host h(o);
  EXPECT_FALSE(h.loaded());
  EXPECT_FALSE(h.load_error().empty());
  EXPECT_EQ(h.table(), nullptr);
  EXPECT_EQ(h.symbol("mcn_main"), nullptr);
  EXPECT_NE(h.control_block()->global_pool, nullptr);  // the host itself still works
}

}  // namespace
