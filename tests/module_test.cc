// tests/module_test.cc - loader records, the function table, result sizing,
// the short-result note and the task context, through the reference host.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "charfn/entry_types.h"
#include "core/frame.h"
#include "host/host.h"
#include "load/entry.h"
#include "task/task_context.h"
#include "tests/support/call.h"

namespace {

using zeqhost::Host;
using zeqtest::Call;
using zeqtest::Result;

// One host for the whole executable: the module's anchors are process-wide.
Host &host() {
  static Host *h = new Host();
  return *h;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host().loaded()) << host().load_error();
    host().clear_log();
    host().global_pool().fail_nth(0);
    host().global_pool().fail_always(false);
  }
};

std::string field(const void *p, size_t n) {
  return std::string(static_cast<const char *>(p), n);
}

// ---------------------------------------------------------------------------
// Loader records.
// ---------------------------------------------------------------------------

TEST_F(ModuleTest, MainAnswersTheImageRecord) {
  EXPECT_EQ(host().image(), host().symbol("vi_mcn"));
  EXPECT_EQ(host().image(), static_cast<const void *>(&vi_mcn));
}

TEST_F(ModuleTest, ImageRecordWireFormat) {
  const auto *b = static_cast<const uint8_t *>(host().symbol("vi_mcn"));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(field(b, 24), std::string("ZEQ_Image_Information=\0\0", 24));
  uint32_t stamp, zero;
  int64_t eight;
  std::memcpy(&stamp, b + 0x18, 4);
  std::memcpy(&zero, b + 0x1C, 4);
  std::memcpy(&eight, b + 0x20, 8);
  EXPECT_EQ(stamp, 0xB0BDEBEDu);
  EXPECT_EQ(zero, 0u);
  EXPECT_EQ(eight, 8);
  EXPECT_EQ(b[0x40], 0);  // two zero bytes before the build date
  EXPECT_EQ(b[0x41], 0);
  EXPECT_NE(b[0x42], 0);
  EXPECT_EQ(field(b + 0x50, 16), std::string(16, '\0'));
  const void *entries, *banner;
  std::memcpy(&entries, b + 0x60, 8);
  std::memcpy(&banner, b + 0x68, 8);
  EXPECT_EQ(entries, host().symbol("mcn_pcns"));
  ASSERT_NE(banner, nullptr);
  EXPECT_GT(std::strlen(static_cast<const char *>(banner)), 0u);
  EXPECT_EQ(field(b + 0x70, 8), std::string("001\0\0\0\0\0", 8));
}

TEST_F(ModuleTest, EntryListHoldsOneRecordThenNull) {
  auto *list = static_cast<void *const *>(host().symbol("mcn_pcns"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list[0], host().symbol("pcn_ZEQWUCHA"));
  EXPECT_EQ(list[1], nullptr);
}

TEST_F(ModuleTest, EntryRecordWireFormat) {
  const auto *b = static_cast<const uint8_t *>(host().symbol("pcn_ZEQWUCHA"));
  ASSERT_NE(b, nullptr);
  const uint8_t marker[8] = {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(b, marker, 8), 0);
  EXPECT_EQ(field(b + 0x18, 16), std::string("zeqwucha\0\0\0\0\0\0\0\0", 16));
  struct Word {
    int offset;
    int64_t value;
  } const words[] = {{0x08, 1024}, {0x10, 1024}, {0x30, 1}, {0x38, 9683}, {0x40, 0x2001CC7E}, {0x48, 15}};
  for (const Word &w : words) {
    int64_t v;
    std::memcpy(&v, b + w.offset, 8);
    EXPECT_EQ(v, w.value) << "offset 0x" << std::hex << w.offset;
  }
  void *entry;
  std::memcpy(&entry, b + 0x28, 8);
  EXPECT_EQ(entry, host().symbol("zeqwucha"));
}

// ---------------------------------------------------------------------------
// Function table.
// ---------------------------------------------------------------------------

const char *const kSlotNames[41] = {
    nullptr,       "fncanyfirst", "fncanyname", "fnccat",   "fnccatb",     "fnccatb",
    "fnccatc",     "fnccatc",     "fnccatm",    "fnccatm",  "fnccatn",     "fnccatn",
    "fnccatq",     "fnccatq",     "fnccats",    "fnccats",  "fnccatt",     "fnccatt",
    "fnccatx",     "fnccatx",     "fncchar",    "fncomcos", "fncomged",    "fncomlev",
    "fnccouc",     "fnccouq",     "fnccouw",    "fncfind",  "fncfndc",     "fncfndl",
    "fncfndw",     "fncfirst",    "fncndxt",    "fncninv",  "fncnlit",     "fncnotfirst",
    "fncnotname",  "fncnval",     "fncscnq",    "fncscnq",  "fncsubp",
};

TEST_F(ModuleTest, TableSlotsHoldTheirEntries) {
  ASSERT_NE(host().table(), nullptr);
  for (int slot = 1; slot <= 40; slot++) {
    void *expected = host().symbol(kSlotNames[slot]);
    ASSERT_NE(expected, nullptr) << kSlotNames[slot];
    EXPECT_EQ(host().slot(slot), expected) << "slot " << slot << " " << kSlotNames[slot];
  }
}

TEST_F(ModuleTest, TableLeavesSlotZeroAndTheTailEmpty) {
  for (int slot : {0, 41, 42, 43}) EXPECT_EQ(host().slot(slot), nullptr) << "slot " << slot;
}

TEST_F(ModuleTest, TableRepeatsTheTwoSlotEntries) {
  for (int first : {4, 6, 8, 10, 12, 14, 16, 18, 38})
    EXPECT_EQ(host().slot(first), host().slot(first + 1)) << "slots " << first << "/" << first + 1;
  EXPECT_NE(host().slot(4), nullptr);
}

TEST_F(ModuleTest, TableComesFromTheGlobalPoolZeroFilled) {
  auto &pool = host().global_pool();
  size_t before = pool.live_blocks();
  void **table = zeqwucha();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(pool.last_size(), 352u);
  EXPECT_EQ(pool.last_flags(), 8198u);
  EXPECT_EQ(pool.live_blocks(), before + 1);
  EXPECT_EQ(table[0], nullptr);
  EXPECT_EQ(table[43], nullptr);
}

TEST_F(ModuleTest, TableIsNullWhenThePoolRefuses) {
  host().global_pool().fail_nth(1);
  EXPECT_EQ(zeqwucha(), nullptr);
}

// ---------------------------------------------------------------------------
// Result sizing: ComputeLength and tkfncSetRetstg.
// ---------------------------------------------------------------------------

struct GrowCase {
  const char *name;
  int64_t max_length, capacity, needed;
  int64_t want_capacity;
  int want_resizes;
};

TEST_F(ModuleTest, SetRetstgGrowsByWholeKilobytesWithinMaxLength) {
  const GrowCase cases[] = {
      {"rounds up to 1024", 4000, 0, 1500, 2048, 1},
      {"clamps to maxLength", 4000, 2048, 3990, 4000, 1},
      {"keeps a larger buffer", 4000, 2048, 100, 2048, 0},
      {"exact multiple stays", 8000, 0, 2048, 2048, 1},
      {"need above maxLength clamps", 1500, 0, 9000, 1500, 1},
      {"need equal to capacity", 4000, 1024, 1024, 1024, 0},
      {"zero need", 4000, 0, 0, 0, 0},
      {"negative need", 4000, 0, -5, 0, 0},
  };
  for (const GrowCase &c : cases) {
    Result r(c.max_length, true, c.capacity);
    EXPECT_EQ(tkfncSetRetstg(&r.rec, c.needed), FNC_RC_OK) << c.name;
    EXPECT_EQ(r.rec.capacity, c.want_capacity) << c.name;
    EXPECT_EQ(r.grow.resizes, c.want_resizes) << c.name;
    if (c.want_resizes) {
      EXPECT_NE(r.rec.data, nullptr) << c.name;
    }
  }
}

TEST_F(ModuleTest, SetRetstgGivesAFixedResultItsMaxLength) {
  Result r(77);
  r.rec.capacity = 3;
  EXPECT_EQ(tkfncSetRetstg(&r.rec, 500), FNC_RC_OK);
  EXPECT_EQ(r.rec.capacity, 77);
  EXPECT_EQ(tkfncSetRetstg(nullptr, 5), FNC_RC_OK);
}

// A failed resize reports NOROOM and leaves the new capacity with a null
// data; the next sizing of that record asks the host again rather than
// taking the null buffer as big enough.
TEST_F(ModuleTest, SetRetstgFailureLeavesNullDataAndRetries) {
  Result r(4000, true, 1024);
  r.grow.fail = true;
  EXPECT_EQ(tkfncSetRetstg(&r.rec, 3000), FNC_RC_NOROOM);
  EXPECT_EQ(r.rec.data, nullptr);
  EXPECT_EQ(r.rec.capacity, 3072);
  r.grow.fail = false;
  EXPECT_EQ(tkfncSetRetstg(&r.rec, 10), FNC_RC_OK);
  EXPECT_NE(r.rec.data, nullptr);
  EXPECT_EQ(r.rec.capacity, 1024);
  EXPECT_EQ(r.grow.resizes, 2);
}

TEST_F(ModuleTest, ComputeLengthSumsPresentArguments) {
  struct Case {
    const char *name;
    Call call;
    int32_t extra;
    int64_t want;
  };
  std::vector<Case> cases;
  cases.push_back({"number, text, absent", Call().form(2).num(1).str("abcde").absent(), 1, 19});
  cases.push_back({"varchar and char", Call().form(2).var("xy").str("pqr"), 0, 5});
  cases.push_back({"missing number counts 12", Call().form(2).missing(), 3, 15});
  cases.push_back({"negative extra", Call().form(2).str("abcdef").str("ab"), -1, 6});
  cases.push_back({"no arguments", Call().form(2), 4, 0});
  for (Case &c : cases) {
    Result r(100000, true, 0);
    EXPECT_EQ(ComputeLength(c.call.block(), &r.rec, c.extra), FNC_RC_OK) << c.name;
    int64_t want_capacity = c.want == 0 ? 0 : ((c.want + 1023) / 1024) * 1024;
    EXPECT_EQ(r.rec.capacity, want_capacity) << c.name;
  }
}

TEST_F(ModuleTest, ComputeLengthLeavesFunctionFormFixedResultsAlone) {
  Call call;
  call.form(FNC_FORM_FUNCTION).str("abcdef");
  Result fixed(10);
  fixed.rec.capacity = -7;
  EXPECT_EQ(ComputeLength(call.block(), &fixed.rec, 0), FNC_RC_OK);
  EXPECT_EQ(fixed.rec.capacity, -7);  // untouched: returned before sizing
  Call other;
  other.form(0).str("abcdef");
  EXPECT_EQ(ComputeLength(other.block(), &fixed.rec, 0), FNC_RC_OK);
  EXPECT_EQ(fixed.rec.capacity, 10);
  EXPECT_EQ(ComputeLength(call.block(), nullptr, 0), FNC_RC_OK);
}

TEST_F(ModuleTest, ComputeLengthPassesResizeFailureOn) {
  Call call;
  call.form(2).str(std::string(3000, 'x'));
  Result r(8000, true, 0);
  r.grow.fail = true;
  EXPECT_EQ(ComputeLength(call.block(), &r.rec, 0), FNC_RC_NOROOM);
}

// ---------------------------------------------------------------------------
// Short-result note, through CAT (the family that issues it).
// ---------------------------------------------------------------------------

using CharEntry = zeq::typed::CharEntry;

std::vector<int> notes_of(uint8_t kind, int64_t start_count, int calls, std::vector<int32_t> *rcs,
                          int64_t *final_count, CharEntry entry, uint8_t form) {
  Call call;
  call.kind(kind).form(form).str("abcdef").str("gh");
  call.block()->noteCount = start_count;
  host().clear_log();
  for (int i = 0; i < calls; i++) {
    Result r(3);
    rcs->push_back(entry(call.block(), &r.rec));
  }
  *final_count = call.block()->noteCount;
  return host().message_numbers();
}

TEST_F(ModuleTest, ShortResultNotesAreLimitedInFourEnvironments) {
  auto cat = zeq::typed::entry<zeq::typed::CAT>(host());
  ASSERT_NE(cat, nullptr);
  struct Case {
    uint8_t kind;
    int64_t start;
    int calls;
    std::vector<int> want;
    int64_t want_count;
  } const cases[] = {
      {0x58, 0, 6, {28, 28, 28, 28, 28, 29}, 6},
      {0x88, 0, 7, {28, 28, 28, 28, 28, 29}, 7},
      {0x48, 4, 3, {28, 29}, 7},
      {0x68, 5, 2, {}, 7},
      {0x00, 0, 6, {28, 28, 28, 28, 28, 28}, 0},
      {0x78, 0, 6, {28, 28, 28, 28, 28, 28}, 0},
      {0x50, 3, 2, {28, 28}, 3},
  };
  for (const Case &c : cases) {
    std::vector<int32_t> rcs;
    int64_t count = 0;
    std::vector<int> got = notes_of(c.kind, c.start, c.calls, &rcs, &count, cat, FNC_FORM_FUNCTION);
    EXPECT_EQ(got, c.want) << "kind 0x" << std::hex << int(c.kind);
    EXPECT_EQ(count, c.want_count) << "kind 0x" << std::hex << int(c.kind);
    for (int32_t rc : rcs) EXPECT_EQ(rc, FNC_RC_NOTE);
  }
}

TEST_F(ModuleTest, ResultThatFitsGivesNoNoteAndNoCount) {
  auto cat = zeq::typed::entry<zeq::typed::CAT>(host());
  ASSERT_NE(cat, nullptr);
  Call call;
  call.kind(0x58).str("ab").str("c");
  Result r(3);
  EXPECT_EQ(cat(call.block(), &r.rec), FNC_RC_OK);
  EXPECT_EQ(call.block()->noteCount, 0);
  EXPECT_TRUE(host().message_numbers().empty());
}

TEST_F(ModuleTest, NoteCarriesNameNeededAndRoom) {
  auto cat = zeq::typed::entry<zeq::typed::CAT>(host());
  ASSERT_NE(cat, nullptr);
  Call call;
  call.str("abcdef").str("gh");
  Result r(3);
  EXPECT_EQ(cat(call.block(), &r.rec), FNC_RC_NOTE);
  ASSERT_EQ(host().log().size(), 1u);
  const auto &e = host().log()[0];
  EXPECT_EQ(e.number, 28);
  ASSERT_EQ(e.args.size(), 3u);
  EXPECT_EQ(e.args[0], "CAT");
  EXPECT_EQ(e.args[1], "8");
  EXPECT_EQ(e.args[2], "3");
}

TEST_F(ModuleTest, InvalidModifierMessageCarriesNameAndByte) {
  printBadmodLog("FINDC", 'Z');
  ASSERT_EQ(host().log().size(), 1u);
  const auto &e = host().log()[0];
  EXPECT_EQ(e.set, 744);
  EXPECT_EQ(e.number, 6);
  ASSERT_EQ(e.args.size(), 2u);
  EXPECT_EQ(e.args[0], "FINDC");
  EXPECT_EQ(e.args[1], "Z");
}

// ---------------------------------------------------------------------------
// Task context.
// ---------------------------------------------------------------------------

FncContext *context_of(FncTask *task) {
  return static_cast<FncContext *>(task->slots[FNC_TASK_SLOT_CONTEXT]);
}

// Allocations fncinit makes from a fresh task's pool when nothing fails.
uint64_t init_allocations() {
  FncTask *t = host().new_task();
  auto &pool = host().pool_of(t);
  size_t before = pool.allocations();
  EXPECT_EQ(fncinit(t), FNC_RC_OK);
  return pool.allocations() - before;
}

TEST_F(ModuleTest, InitRegistersAFilledContext) {
  host().set_version("ab      ");
  host().set_yearcutoff(1926);
  FncTask *t = host().new_task();
  ASSERT_EQ(fncinit(t), FNC_RC_OK);
  FncContext *ctx = context_of(t);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->resetWord, 0);
  uint64_t bits;
  std::memcpy(&bits, &ctx->resetDouble, 8);
  EXPECT_EQ(bits, 0xC00921FB54442D18ull);
  EXPECT_NE(ctx->stream, nullptr);
  EXPECT_EQ(std::string(ctx->hostVersion, 8), "ab      ");
  EXPECT_EQ(ctx->hostVersionLength, 2);
  double cutoff;
  std::memcpy(&cutoff, ctx->yearCutoff, 8);
  EXPECT_EQ(cutoff, 1926);
  ASSERT_NE(ctx->auxTable, nullptr);
  for (int i = 0; i < 256; i++) EXPECT_EQ(ctx->auxTable[i], 0) << i;
  EXPECT_EQ(ctx->editCosts, nullptr);
  host().set_version("1.0     ");
}

TEST_F(ModuleTest, DefaultDelimitersAreExactlySeventeen) {
  FncTask *t = host().new_task();
  ASSERT_EQ(fncinit(t), FNC_RC_OK);
  const uint8_t *punct = context_of(t)->punctTable;
  ASSERT_NE(punct, nullptr);
  const std::string want = " .<(+&!$*);^-/,%|";
  for (int c = 0; c < 256; c++)
    EXPECT_EQ(punct[c], want.find(static_cast<char>(c)) != std::string::npos ? 1 : 0) << "byte " << c;
}

TEST_F(ModuleTest, InitWithoutMemoryLeavesNoContext) {
  FncTask *t = host().new_task();
  host().pool_of(t).fail_nth(1);
  EXPECT_EQ(fncinit(t), FNC_RC_NOMEM);
  EXPECT_EQ(context_of(t), nullptr);
}

TEST_F(ModuleTest, InitShortOfMemoryForTablesKeepsThePartialContext) {
  uint64_t n = init_allocations();
  ASSERT_GE(n, 3u);
  // The last two requests are the delimiter table and the work table.
  for (uint64_t failing : {n - 1, n}) {
    FncTask *t = host().new_task();
    host().pool_of(t).fail_nth(static_cast<int>(failing));
    EXPECT_EQ(fncinit(t), FNC_RC_NOMEM) << failing;
    FncContext *ctx = context_of(t);
    ASSERT_NE(ctx, nullptr) << failing;
    EXPECT_EQ(ctx->punctTable == nullptr, failing == n - 1);
    EXPECT_EQ(ctx->auxTable, nullptr);
  }
}

TEST_F(ModuleTest, InitPassesTheOptionStatusOn) {
  FncTask *t = host().new_task();
  host().set_option_fails(zeqhost::kOptionYearCutoff, 77);
  EXPECT_EQ(fncinit(t), 77);
  host().set_option_fails(zeqhost::kOptionYearCutoff, 0);
  FncContext *ctx = context_of(t);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->punctTable, nullptr);  // stopped before the tables
}

TEST_F(ModuleTest, ReinitBuildsAMissingContextFirst) {
  FncTask *t = host().new_task();
  ASSERT_EQ(context_of(t), nullptr);
  EXPECT_EQ(fncrini(t), FNC_RC_OK);
  ASSERT_NE(context_of(t), nullptr);
  EXPECT_NE(context_of(t)->punctTable, nullptr);
}

TEST_F(ModuleTest, ReinitResetsTheFieldsAndKeepsTheTables) {
  FncTask *t = host().new_task();
  ASSERT_EQ(fncinit(t), FNC_RC_OK);
  FncContext *ctx = context_of(t);
  uint8_t *punct = ctx->punctTable;
  void *stream = ctx->stream;
  ctx->resetWord = 99;
  ctx->resetDouble = 1.5;
  EXPECT_EQ(fncrini(t), FNC_RC_OK);
  EXPECT_EQ(context_of(t), ctx);
  EXPECT_EQ(ctx->resetWord, 0);
  EXPECT_EQ(ctx->resetDouble, -3.141592653589793);
  EXPECT_EQ(ctx->punctTable, punct);
  EXPECT_EQ(ctx->stream, stream);
}

TEST_F(ModuleTest, ReinitEndsTheHostWhenNoContextCanBeHad) {
  FncTask *t = host().new_task();
  EXPECT_EXIT(
      {
        host().pool_of(t).fail_always(true);
        fncrini(t);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1016 & 0xFF), "");
}

}  // namespace
