// tests/forwarders_test.cc - the host service forwarders: vector forwarders
// reach entry S of vector V with their arguments, rax and a cleared vector
// byte; pool handlers; kernel forwarders with their service numbers, flags
// and argument records; logger forwarders; log-time prefixes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/frame.h"
#include "host/host.h"
#include "load/entry.h"
#include "tests/support/host_fixture.h"

// A stand-in host entry: records r10 and rax as the forwarder left them,
// then continues in capture_body with the caller's arguments untouched.
extern "C" {
int64_t zeqtest_r10;
int64_t zeqtest_rax;
int64_t zeqtest_args[6];
int64_t zeqtest_capture_entry(int64_t, int64_t, int64_t, int64_t, int64_t, int64_t);
int64_t zeqtest_capture_body(int64_t a, int64_t b, int64_t c, int64_t d, int64_t e, int64_t f) {
  const int64_t got[6] = {a, b, c, d, e, f};
  std::memcpy(zeqtest_args, got, sizeof got);
  return 0x5EC0DE;
}
}
asm(R"(
        .text
        .globl  zeqtest_capture_entry
        .type   zeqtest_capture_entry, @function
zeqtest_capture_entry:
        movq    %r10, zeqtest_r10(%rip)
        movq    %rax, zeqtest_rax(%rip)
        jmp     zeqtest_capture_body
        .size   zeqtest_capture_entry, .-zeqtest_capture_entry
)");

namespace {

using zeqhost::Host;

using zeqtest::host;

class ForwarderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host().loaded()) << host().load_error(); }
};

using SixWords = int64_t (*)(int64_t, int64_t, int64_t, int64_t, int64_t, int64_t);

struct VectorCase {
  const char *name;
  int vector, entry;
};

const VectorCase kVectorForwarders[] = {
    {"xjundls", 40, 96},  {"xalanch", 40, 277}, {"xjsympc", 49, 31},  {"wzsxoff", 4, 35},
    {"wzsx8ac", 4, 104},  {"wtrsset", 0, 192},  {"wzfmhc", 0, 293},   {"wzrlchr", 0, 320},
    {"xexit", 39, 4},     {"xmrealc", 39, 34},  {"xyrcgef", 39, 56},  {"xyrngef", 39, 57},
    {"xpmlog", 39, 70},   {"xpsstr", 39, 79},   {"xpslog", 39, 89},   {"xpselec", 39, 108},
    {"xprrlog", 39, 130}, {"xpopset", 39, 138}, {"zfmt", 39, 184},    {"zzeqver", 39, 194},
};

// Swaps the host's entry S of vector V for the capturing stand-in while alive.
class EntrySwap {
 public:
  EntrySwap(int v, int s) : slot_(&host().control_block()->vectors[v][s]) {
    saved_ = *slot_;
    *slot_ = reinterpret_cast<void *>(&zeqtest_capture_entry);
  }
  ~EntrySwap() { *slot_ = saved_; }

 private:
  void **slot_;
  void *saved_;
};

TEST_F(ForwarderTest, VectorForwardersReachTheirEntryUnchanged) {
  for (const VectorCase &c : kVectorForwarders) {
    auto fwd = host().fn<SixWords>(c.name);
    ASSERT_NE(fwd, nullptr) << c.name;
    EntrySwap swap(c.vector, c.entry);
    uint8_t *bytes = host().control_block()->vector_bytes;
    bytes[c.vector] = 0xA5;
    zeqtest_r10 = 0;
    std::memset(zeqtest_args, 0, sizeof zeqtest_args);
    int64_t rc = fwd(-1, 0x1111222233334444, 3, 0x7FFFFFFFFFFFFFFF, 5, INT64_MIN);
    EXPECT_EQ(rc, 0x5EC0DE) << c.name;
    EXPECT_EQ(zeqtest_r10, (int64_t(c.vector) << 32) | c.entry) << c.name;
    EXPECT_EQ(bytes[c.vector], 0) << c.name;
    const int64_t want[6] = {-1, 0x1111222233334444, 3, 0x7FFFFFFFFFFFFFFF, 5, INT64_MIN};
    for (int i = 0; i < 6; i++) EXPECT_EQ(zeqtest_args[i], want[i]) << c.name << " argument " << i;
  }
}

// A variadic call passes the number of vector registers in al; the
// forwarder must hand it on.
TEST_F(ForwarderTest, VariadicForwardersKeepTheVectorCount) {
  {
    EntrySwap swap(39, 89);
    zeqtest_rax = -1;
    xpslog("%2zvalue %f %f", 1.5, 2.5);
    EXPECT_EQ(zeqtest_rax & 0xFF, 2);
  }
  {
    EntrySwap swap(39, 70);
    zeqtest_rax = -1;
    xpmlog(744, 6, "X", 1.0);
    EXPECT_EQ(zeqtest_rax & 0xFF, 1);
  }
}

TEST_F(ForwarderTest, OtherVectorBytesStayAsTheyWere) {
  EntrySwap swap(39, 70);
  uint8_t *bytes = host().control_block()->vector_bytes;
  bytes[38] = 7;
  bytes[40] = 9;
  xpmlog(744, 1);
  EXPECT_EQ(bytes[38], 7);
  EXPECT_EQ(bytes[40], 9);
  bytes[38] = bytes[40] = 0;
}

TEST_F(ForwarderTest, ReachesTheHostMessageService) {
  host().clear_log();
  xpmlog(744, 28, "CATX", static_cast<i64>(4), static_cast<i64>(3));
  EXPECT_EQ(host().message_numbers(), std::vector<int>{28});
}

TEST_F(ForwarderTest, PoolHandlersAllocateAndRelease) {
  auto &pool = host().new_pool();
  for (auto alloc : {vmalcp_handler, vmalloc_handler}) {
    size_t live = pool.live_blocks();
    void *b = alloc(pool.raw(), 64, 8198);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pool.last_size(), 64u);
    EXPECT_EQ(pool.last_flags(), 8198u);
    EXPECT_EQ(pool.live_blocks(), live + 1);
    vmfree_handler(pool.raw(), b);
    EXPECT_EQ(pool.live_blocks(), live);
  }
  EXPECT_FALSE(pool.double_free_seen());
  EXPECT_EQ(vmalloc_handler(nullptr, 8, 0), nullptr);
  vmfree_handler(nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Kernel forwarders: a recording service entry replaces the host's.
// ---------------------------------------------------------------------------

struct KernelCall {
  int64_t number = -1, argument = -1, flags = -1;
  uint8_t record[48] = {};
};
KernelCall g_call;
int64_t g_result_field_offset = -1;  // where the recorder stores 0x77 in a record

int64_t recording_service(int64_t number, int64_t argument, int64_t flags) {
  g_call.number = number;
  g_call.argument = argument;
  g_call.flags = flags;
  if (g_result_field_offset >= 0) {
    auto *rec = reinterpret_cast<uint8_t *>(argument);
    std::memcpy(g_call.record, rec, (size_t)g_result_field_offset + 8);  // the whole record
    int64_t result = 0x77;
    std::memcpy(rec + g_result_field_offset, &result, 8);
  }
  if (number == 16 && (flags & 0x800000)) {
    auto *t = reinterpret_cast<double *>(argument);
    EXPECT_EQ(t[0], 0.0);
    EXPECT_EQ(t[1], 0.0);
    t[0] = 100.75;
    t[1] = 40.5;
  }
  return 0x123;
}

class KernelTest : public ForwarderTest {
 protected:
  void SetUp() override {
    ForwarderTest::SetUp();
    saved_ = host().kernel()->service;
    host().kernel()->service = recording_service;
    g_call = KernelCall{};
    g_result_field_offset = -1;
  }
  void TearDown() override { host().kernel()->service = saved_; }
  ZeqKernelService saved_ = nullptr;
};

using NoArg = int64_t (*)();
using OneArg = int64_t (*)(int64_t);
using FlagsArg = int64_t (*)(int64_t, unsigned);

struct KernelCase {
  const char *name;
  int kind;  // 0 none, 1 one argument, 2 argument + flags
  int64_t number;
  int64_t sub;
};

const KernelCase kKernelForwarders[] = {
    {"tktConfigureSignals", 2, 0, 0},        {"tktInitializeTKSignalHandlers", 1, 1, 0},
    {"tkbStartTKAT", 2, 3, 0},               {"tkbLogStatMessage", 2, 4, 0},
    {"tkbProcessTKATcommand", 2, 5, 0},      {"tkbProcessTKATrequest", 2, 6, 0},
    {"tkzSetSupVerNum", 2, 7, 0},            {"tkzstats", 1, 8, 0},
    {"tkzSetDefaultLocale", 1, 9, 0},        {"tkzGetIOCount", 1, 10, 0},
    {"tklSetLogLoc", 1, 11, 0},              {"tkbLogTraceMessage", 1, 12, 0},
    {"tkModuleLoadp", 1, 13, 0},             {"tkzinfo", 1, 16, 0x200000},
    {"tkzGetStartPort", 0, 16, 0x1000},      {"tkzGetMinPort", 0, 16, 0x2000},
    {"tkzGetMaxPort", 0, 16, 0x4000},        {"tkzGetGlobalFlags", 0, 16, 0x8000},
    {"tkexit", 1, 17, 0},                    {"tkzSetEncodings", 1, 19, 0},
    {"skSetAttentionNotify", 1, 20, 0},      {"tkatnenq", 1, 21, 0},
    {"tkatndeq", 1, 22, 0},                  {"tktChangeMethods", 1, 24, 0},
    {"tktGetExcSupport", 0, 25, 0},          {"tktResetMethods", 0, 26, 0},
    {"tktSetAsyncThreadId", 1, 27, 0},       {"tktClearAsyncThreadid", 0, 28, 0},
    {"tktSetSignalHandlers", 1, 29, 0},      {"tktClearSignalHandlers", 0, 30, 0},
    {"bktThreadInit", 1, 31, 0},             {"bktSetupThreadStackGuar", 1, 32, 0},
    {"bktRestoreStackWindows", 0, 33, 0},    {"tkbEnableRtrace", 1, 34, 0},
    {"tkbDisableRtrace", 0, 35, 0},          {"tkLogRtraceEntry", 1, 36, 0},
    {"tkSetExternalRtrace", 1, 37, 0},       {"tkbRtraceReleaseEntry", 1, 38, 0},
    {"tkInvokeAbortCallbacks", 0, 41, 0},    {"tkSetExtendedPaths", 1, 42, 0},
    {"tktSaveFPControl", 1, 43, 0},          {"tktRestoreFPControl", 1, 44, 0},
    {"tktMaskAllFPExceptions", 0, 45, 0},    {"tkmGuessHostFriendlyMemAvail", 0, 46, 0},
    {"tkmrlmem", 0, 46, 0},                  {"tktSetPthreadId", 1, 48, 0},
    {"tkbSetIsNative", 0, 49, 0},            {"tkbClearIsNative", 0, 50, 0},
    {"tkzGetShortVer", 1, 51, 0},            {"tkGetOSPath", 1, 52, 0},
    {"tkReleaseOSPath", 1, 53, 0},           {"tkbRegisterPerfmon", 1, 55, 0},
    {"tkzPopTrackResourceHandler", 0, 58, 0}, {"tkzGetCurrRootAddr", 0, 60, 0},
    {"tksFindLoadlibs", 1, 62, 0},
};

TEST_F(KernelTest, WordForwardersCallTheirService) {
  for (const KernelCase &c : kKernelForwarders) {
    void *f = host().symbol(c.name);
    ASSERT_NE(f, nullptr) << c.name;
    g_call = KernelCall{};
    int64_t rc = 0, want_argument = 0, want_flags = 0x10000000 | c.sub;
    switch (c.kind) {
      case 0: rc = reinterpret_cast<NoArg>(f)(); break;
      case 1:
        rc = reinterpret_cast<OneArg>(f)(-42);
        want_argument = -42;
        break;
      case 2:
        rc = reinterpret_cast<FlagsArg>(f)(0x55, 0x0004);
        want_argument = 0x55;
        want_flags |= 0x0004;
        break;
    }
    EXPECT_EQ(rc, 0x123) << c.name;
    EXPECT_EQ(g_call.number, c.number) << c.name;
    EXPECT_EQ(g_call.argument, want_argument) << c.name;
    EXPECT_EQ(g_call.flags, want_flags) << c.name;
  }
}

TEST_F(KernelTest, ClockReadingIsTheDifferenceOfTheTwoDoubles) {
  EXPECT_EQ(tkzdttme(), 60.25);
  EXPECT_EQ(g_call.number, 16);
  EXPECT_EQ(g_call.flags, 0x10800000);
}

TEST_F(KernelTest, InfoPassesTheBufferItself) {
  uint8_t buffer[352];
  EXPECT_EQ(tkzinfo(buffer), 0x123);
  EXPECT_EQ(g_call.argument, reinterpret_cast<int64_t>(buffer));
  EXPECT_EQ(g_call.flags, 0x10200000);
}

TEST_F(KernelTest, MemorySizeTravelsAsTheDoublesBits) {
  auto f = host().fn<int64_t (*)(double)>("tkmSetRealMemsize");
  f(2.5);
  double d;
  std::memcpy(&d, &g_call.argument, 8);
  EXPECT_EQ(g_call.number, 47);
  EXPECT_EQ(d, 2.5);
}

TEST_F(KernelTest, SeveralArgumentsTravelInARecord) {
  int dummy_a, dummy_b;
  using TwoPtr = int64_t (*)(void *, void *);
  const struct {
    const char *name;
    int64_t number;
  } pairs[] = {{"tkAddAbortCallback", 39},
               {"tkRemoveAbortCallback", 40},
               {"tkzPushTrackResourceHandler", 57},
               {"tkzSetCurrRootCB", 61}};
  for (const auto &p : pairs) {
    g_result_field_offset = 16;
    int64_t rc = host().fn<TwoPtr>(p.name)(&dummy_a, &dummy_b);
    EXPECT_EQ(rc, 0x77) << p.name;  // the record's result field, not the service's answer
    EXPECT_EQ(g_call.number, p.number) << p.name;
    void *first, *second;
    std::memcpy(&first, g_call.record, 8);
    std::memcpy(&second, g_call.record + 8, 8);
    EXPECT_EQ(first, &dummy_a) << p.name;
    EXPECT_EQ(second, &dummy_b) << p.name;
  }

  g_result_field_offset = 24;
  auto sk = host().fn<int64_t (*)(const char *, const char *, int)>("skassert");
  const char *expr = "x > 0", *file = "f.c";
  EXPECT_EQ(sk(expr, file, -12), 0x77);
  EXPECT_EQ(g_call.number, 54);
  int32_t line;
  std::memcpy(&line, g_call.record + 16, 4);
  EXPECT_EQ(line, -12);

  g_result_field_offset = 16;
  auto rc_change = host().fn<int64_t (*)(int, int64_t)>("tkzResourceChange");
  EXPECT_EQ(rc_change(3, -9), 0x77);
  EXPECT_EQ(g_call.number, 59);
  int32_t kind;
  int64_t amount;
  std::memcpy(&kind, g_call.record, 4);
  std::memcpy(&amount, g_call.record + 8, 8);
  EXPECT_EQ(kind, 3);
  EXPECT_EQ(amount, -9);
}

TEST_F(KernelTest, VerconInfoAlsoStoresItsStatus) {
  auto f = host().fn<int64_t (*)(void *, void *, void *, int *)>("tkzGetVerconInfo");
  g_result_field_offset = 32;
  int status = -1;
  EXPECT_EQ(f(nullptr, nullptr, nullptr, &status), 0x77);
  EXPECT_EQ(g_call.number, 14);
  EXPECT_EQ(status, 0x77);
  int *passed;
  std::memcpy(&passed, g_call.record + 24, 8);
  EXPECT_EQ(passed, &status);
  EXPECT_EQ(f(nullptr, nullptr, nullptr, nullptr), 0x77);
}

TEST_F(KernelTest, DefaultLocaleIsTheWordTheKernelPointsTo) {
  auto f = host().fn<int64_t (*)()>("tkzGetDefLocale");
  int64_t *word = host().kernel()->default_locale;
  ASSERT_NE(word, nullptr);
  int64_t saved = *word;
  *word = 0x4A;
  EXPECT_EQ(f(), 0x4A);
  *word = saved;
}

// ---------------------------------------------------------------------------
// Logger forwarders, on a logger object of the test's own.
// ---------------------------------------------------------------------------

struct FakeLogger {
  ZeqLogger rec{};
  int which = -1;
  int level = 0;
  int status = 0;
  int64_t room = 0;
  int first_vararg = 0;
};

FakeLogger *fake(ZeqLogger *lg) { return reinterpret_cast<FakeLogger *>(lg); }

FakeLogger make_logger() {
  FakeLogger f;
  f.rec.message_to_buf = [](ZeqLogger *lg, TKChar *, int64_t room, const TKChar *, va_list ap) {
    fake(lg)->which = 0x20, fake(lg)->room = room, fake(lg)->first_vararg = va_arg(ap, int);
    return 1;
  };
  f.rec.message_to_jnl = [](ZeqLogger *lg, int32_t level, const TKChar *, va_list ap) {
    fake(lg)->which = 0x28, fake(lg)->level = level, fake(lg)->first_vararg = va_arg(ap, int);
    return 2;
  };
  f.rec.status_to_buf = [](ZeqLogger *lg, TKChar *, int64_t room, int32_t status, va_list ap) {
    fake(lg)->which = 0x30, fake(lg)->room = room, fake(lg)->status = status;
    fake(lg)->first_vararg = va_arg(ap, int);
    return 3;
  };
  f.rec.status_to_jnl = [](ZeqLogger *lg, int32_t level, int32_t status, va_list ap) {
    fake(lg)->which = 0x38, fake(lg)->level = level, fake(lg)->status = status;
    fake(lg)->first_vararg = va_arg(ap, int);
    return 4;
  };
  f.rec.get_locale = [](ZeqLogger *lg) -> void * { return lg; };
  return f;
}

TEST_F(ForwarderTest, LoggerForwardersCallTheirEntryWithTheList) {
  FakeLogger f = make_logger();
  const TKChar fmt[] = {'%', 'd', 0};
  TKChar buf[8];
  EXPECT_EQ(tklMessageToBuf(&f.rec, buf, 8, fmt, 11), 1);
  EXPECT_EQ(f.which, 0x20);
  EXPECT_EQ(f.room, 8);
  EXPECT_EQ(f.first_vararg, 11);
  EXPECT_EQ(tklMessageToJnl(&f.rec, 2, fmt, 12), 2);
  EXPECT_EQ(f.which, 0x28);
  EXPECT_EQ(f.level, 2);
  EXPECT_EQ(f.first_vararg, 12);
  EXPECT_EQ(tklStatusToBuf(&f.rec, buf, 5, static_cast<int>(0x8C7FE817), 13), 3);
  EXPECT_EQ(f.which, 0x30);
  EXPECT_EQ(f.status, static_cast<int>(0x8C7FE817));
  EXPECT_EQ(f.first_vararg, 13);
  EXPECT_EQ(tklStatusToJnl(&f.rec, 3, 77, 14), 4);
  EXPECT_EQ(f.which, 0x38);
  EXPECT_EQ(f.level, 3);
  EXPECT_EQ(f.first_vararg, 14);
  EXPECT_EQ(tklGetLocale(&f.rec), &f.rec);
}

TEST_F(ForwarderTest, LoggerForwardersWithoutLoggerDoNothing) {
  const TKChar fmt[] = {0};
  EXPECT_EQ(tklMessageToJnl(nullptr, 1, fmt), 0);
  EXPECT_EQ(tklStatusToJnl(nullptr, 1, 5), 0);
  EXPECT_EQ(tklGetLocale(nullptr), nullptr);
  ZeqLogger empty{};
  EXPECT_EQ(tklMessageToBuf(&empty, nullptr, 0, fmt), 0);
}

// ---------------------------------------------------------------------------
// Log-time prefixes and the version block.
// ---------------------------------------------------------------------------

extern "C" {
char *bkzGetLogTime(char *buffer);
TKChar *bkzAddTimeT(const TKChar *text, TKChar *out, void *unused, unsigned flags);
void *tkvercn1(void *buffer);
}

bool is_prefix(const std::string &p) {
  if (p.size() != 11 || p[0] != '[' || p[3] != ':' || p[6] != ':' || p[9] != ']' || p[10] != ' ')
    return false;
  for (int i : {1, 2, 4, 5, 7, 8})
    if (p[i] < '0' || p[i] > '9') return false;
  return std::stoi(p.substr(1, 2)) < 24 && std::stoi(p.substr(4, 2)) < 60 && std::stoi(p.substr(7, 2)) < 61;
}

TEST_F(ForwarderTest, LogTimeIsBracketedLocalTime) {
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  time_t before = time(nullptr);
  ASSERT_EQ(bkzGetLogTime(buf), buf);
  time_t after = time(nullptr);
  EXPECT_TRUE(is_prefix(std::string(buf, 11))) << std::string(buf, 11);
  EXPECT_EQ(buf[11], '\0');
  EXPECT_EQ(buf[12], '#');
  bool matches = false;
  // time() reads the kernel's coarse clock, which may lag the clock behind
  // the prefix by a tick: the next second is accepted too.
  for (time_t t = before; t <= after + 1; t++) {
    struct tm lt;
    localtime_r(&t, &lt);
    char want[16];
    std::snprintf(want, sizeof want, "[%02d:%02d:%02d] ", lt.tm_hour, lt.tm_min, lt.tm_sec);
    matches |= std::string(buf, 11) == want;
  }
  EXPECT_TRUE(matches) << buf;
}

TEST_F(ForwarderTest, AddTimeTPrefixesOnlyWhenAsked) {
  const TKChar text[] = {'h', 'i', 0};
  struct Case {
    unsigned flags;
    bool prefixed;
  } const cases[] = {{0, false}, {0x20000, true}, {0x220000, false}, {0x200000, false}, {0x20001, true}};
  for (const Case &c : cases) {
    TKChar out[20];
    for (TKChar &u : out) u = 0xFFFF;
    EXPECT_EQ(bkzAddTimeT(text, out, nullptr, c.flags), out);
    size_t at = c.prefixed ? 11 : 0;
    if (c.prefixed) {
      std::string p;
      for (int i = 0; i < 11; i++) p += static_cast<char>(out[i]);
      EXPECT_TRUE(is_prefix(p)) << p;
    }
    EXPECT_EQ(out[at], 'h') << c.flags;
    EXPECT_EQ(out[at + 1], 'i') << c.flags;
    EXPECT_EQ(out[at + 2], 0u) << c.flags;
    EXPECT_EQ(out[at + 3], 0xFFFFu) << c.flags;
  }
}

TEST_F(ForwarderTest, VersionBlockIsExactly208Bytes) {
  uint8_t buf[220];
  std::memset(buf, 0xEE, sizeof buf);
  EXPECT_EQ(tkvercn1(buf), buf);
  for (size_t i = 208; i < sizeof buf; i++) EXPECT_EQ(buf[i], 0xEE) << i;
  int nonzero = 0;
  for (size_t i = 0; i < 208; i++) nonzero += buf[i] != 0 && buf[i] != 0xEE;
  EXPECT_GT(nonzero, 8);
  EXPECT_EQ(tkvercn1(nullptr), nullptr);
}

// Without a host (anchors cleared) every forwarder answers 0 instead of
// jumping through a null pointer; run in a child so the host stays intact.
TEST_F(ForwarderTest, WithoutAHostForwardersAnswerZero) {
  EXPECT_EXIT(
      {
        mcn_main(nullptr, nullptr);
        int bad = 0;
        bad |= xpmlog(744, 28, "CAT", 1LL, 2LL) != 0;
        bad |= wtrsset(nullptr, 37, nullptr) != 0;
        xexit(1016, 0);
        bad |= zeqwucha() != nullptr;
        bad |= tkzstats(nullptr) != 0;
        uint8_t info[352];
        std::memset(info, 0xFF, sizeof info);
        tkzinfo(info);
        for (uint8_t b : info) bad |= b != 0;
        bad |= !(tkzdttme() > 1.0e9);
        std::_Exit(bad ? 3 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
