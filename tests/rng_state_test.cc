// Loading a generator's state from bytes (zrng_state) and the journal dumps
// of a blob: result codes, the repeat / keep / fmix64-chain fills, what stays
// untouched, and the dump lines with their omission note.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "rng/mt/mt.h"
#include "rng/threefry/threefry.h"
#include "tests/support/rng_support.h"
#include "zeq/rng.h"

namespace {

using zeqtest::fmix64;

using Builder = void (*)(zrng_desc *);

class StateLoading : public zeqtest::RngTest<2504, 0xEE> {
 protected:
  uint64_t word(int j) {
    uint64_t w;
    std::memcpy(&w, blob + 8 * j, 8);
    return w;
  }
};

const unsigned char kBytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
                                0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14,
                                0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E,
                                0x1F, 0x20, 0x21, 0x22, 0x23, 0x24};

TEST_F(StateLoading, ResultCodes) {
  const struct { const char *method; int64_t length; int32_t mode; int32_t want; } cases[] = {
      {"XOR128", 0, 0, 0},   {"XOR128", -5, 3, 0},  {"XOR128", 16, 0, 2}, {"XOR128", 36, 0, 2},
      {"XOR128", 5, 2, 3},   {"XOR128", 5, 3, 3},   {"XOR128", 5, 1, 1},  {"XOR128", 5, 0, 4},
      {"PCG32I", 2, 0, 4},   {"PCG32I", 4, 0, 2},   {"SUBKEY64", 7, 1, 1}, {"FRY4X64", 31, 0, 4},
      {"RANUNI", 8, 0, -1},  {"RANUNI", 0, 0, 0},   {"XORGENS", 3, 2, -1}, {"XORGENS", -1, 0, 0},
      {"RDRAND", 8, 0, 0},   {"RDRAND", 0, 0, 0},
  };
  for (const auto &c : cases) {
    zrng_desc d = build(c.method);
    EXPECT_EQ(d.state(blob, kBytes, c.length, c.mode), c.want)
        << c.method << " " << c.length << " " << c.mode;
  }
}

TEST_F(StateLoading, NullArgumentsAreRefused) {
  zrng_desc d = build("XOR64");
  EXPECT_EQ(d.state(nullptr, kBytes, 8, 0), -1);
  EXPECT_EQ(d.state(blob, nullptr, 8, 0), -1);
  EXPECT_EQ(d.state(blob, nullptr, 0, 0), 0);
}

TEST_F(StateLoading, Mt32ShortLoadChainsTheRest) {
  zrng_desc d = build("MT32");
  d.seed_32(blob, 1);
  auto *mt = reinterpret_cast<zeq::rng::Mt32Blob *>(blob);
  mt->index = 17;
  EXPECT_EQ(d.state(blob, kBytes, 8, 0), 4);
  uint64_t w0;
  std::memcpy(&w0, kBytes, 8);
  EXPECT_EQ(word(0), w0);
  for (int j = 1; j < 312; ++j) ASSERT_EQ(word(j), fmix64(word(j - 1))) << j;
  EXPECT_EQ(mt->index, 17);  // position untouched
}

TEST_F(StateLoading, ChainStartsNWordsBack) {
  zrng_desc d = build("XOR1024");  // 16 words
  EXPECT_EQ(d.state(blob, kBytes, 20, 0), 4);  // n = 2
  uint64_t w[2];
  std::memcpy(w, kBytes, 16);
  EXPECT_EQ(word(0), w[0]);
  EXPECT_EQ(word(1), w[1]);
  for (int j = 2; j < 16; ++j) ASSERT_EQ(word(j), fmix64(word(j - 2))) << j;
  // The caller's bytes 16..19 were overwritten by the chain.
  EXPECT_NE(std::memcmp(blob + 16, kBytes + 16, 4), 0);
}

TEST_F(StateLoading, Xor128TwelveBytes) {
  zrng_desc d = build("XOR128");
  EXPECT_EQ(d.state(blob, kBytes, 12, 0), 4);
  uint64_t w0;
  std::memcpy(&w0, kBytes, 8);
  EXPECT_EQ(word(0), w0);
  EXPECT_EQ(word(1), fmix64(w0));
}

TEST_F(StateLoading, ShortLoadIsZeroPaddedToOneWord) {
  zrng_desc d = build("XOR128");
  EXPECT_EQ(d.state(blob, kBytes, 3, 0), 4);
  EXPECT_EQ(word(0), 0x030201u);
  EXPECT_EQ(word(1), fmix64(0x030201u));
  zrng_desc p = build("PCG32I");  // S = 4: padded to 4 bytes only
  std::memset(blob, 0xEE, sizeof blob);
  EXPECT_EQ(p.state(blob, kBytes, 2, 0), 4);
  const unsigned char want[] = {0x01, 0x02, 0x00, 0x00, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(std::memcmp(blob, want, 8), 0);
}

TEST_F(StateLoading, RepeatFillsAndKeepLeavesTheRest) {
  zrng_desc d = build("XOR64");
  EXPECT_EQ(d.state(blob, kBytes, 3, 0x2), 3);
  const unsigned char repeated[] = {1, 2, 3, 1, 2, 3, 1, 2, 0xEE};
  EXPECT_EQ(std::memcmp(blob, repeated, 9), 0);
  std::memset(blob, 0xEE, sizeof blob);
  EXPECT_EQ(d.state(blob, kBytes, 3, 0x1), 1);
  const unsigned char kept[] = {1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(std::memcmp(blob, kept, 9), 0);
  std::memset(blob, 0xEE, sizeof blob);
  zrng_desc m = build("MT64");
  EXPECT_EQ(m.state(blob, kBytes, 36, 0x2), 3);
  for (int i = 0; i < 2496; ++i) ASSERT_EQ(blob[i], kBytes[i % 36]) << i;
  EXPECT_EQ(blob[2496], 0xEE);  // the index is not part of the state
}

TEST_F(StateLoading, FullLoadTakesTheFirstSBytes) {
  zrng_desc d = build("FRY2X64");
  EXPECT_EQ(d.state(blob, kBytes, 36, 0), 2);
  EXPECT_EQ(std::memcmp(blob, kBytes, 16), 0);
  EXPECT_EQ(blob[16], 0xEE);
}

TEST_F(StateLoading, ThreefryFinishesItsBufferedBlockFirst) {
  zrng_desc d = build("FRY2X64");
  d.seed_64(blob, 8);
  const uint64_t first = d.uint64(blob);  // index now 1: one buffered word left
  (void)first;
  auto *b = reinterpret_cast<zeq::rng::FryBlob<2, uint64_t> *>(blob);
  const uint64_t pending = b->buf[1];
  const uint64_t counter[2] = {100, 0};
  EXPECT_EQ(d.state(blob, counter, 16, 0), 2);
  EXPECT_EQ(d.uint64(blob), pending);
  EXPECT_EQ(b->ctr[0], 101u);  // the loaded counter itself is skipped
  uint64_t block[2];
  zeq::rng::threefry2x64_R(b->ctr, b->key, block);
  EXPECT_EQ(d.uint64(blob), block[0]);
}

TEST_F(StateLoading, LoadedMh3ZeroStaysZero) {
  zrng_desc d = build("MH3");
  const uint64_t zero = 0;
  EXPECT_EQ(d.state(blob, &zero, 8, 0), 2);
  EXPECT_EQ(d.uint64(blob), 0u);
  EXPECT_EQ(d.double_default(blob), 0.0);  // gives up instead of looping
}

// --- dumps --------------------------------------------------------------------------

class Dumps : public StateLoading {
 protected:
  std::vector<zeqhost::LogEntry> lines() {
    std::vector<zeqhost::LogEntry> out;
    for (const auto &e : host.log())
      if (e.kind == zeqhost::LogEntry::JournalMessage) out.push_back(e);
    return out;
  }
};

constexpr const char *kNote = "        Further elements omitted.";

TEST_F(Dumps, Mt64WholeBlob) {
  zrng_desc d = build("MT64");
  std::vector<uint64_t> words(1000);
  for (size_t i = 0; i < words.size(); ++i) words[i] = 0x1000000000000000ull + i;
  host.clear_log();
  d.dump_blob_64(words.data(), 1000);
  auto l = lines();
  ASSERT_EQ(l.size(), 79u);  // 313 words: 78 lines of four and one of one
  for (size_t i = 0; i < 78; ++i) ASSERT_EQ(l[i].args.size(), 8u);
  EXPECT_EQ(l[78].args.size(), 2u);
  EXPECT_EQ(l[78].args[0], "312");
  EXPECT_EQ(l[0].level, 0);
  EXPECT_EQ(l[0].text,
            "     0: 1000000000000000    1: 1000000000000001    2: 1000000000000002    3: "
            "1000000000000003");
  EXPECT_EQ(l[78].text, "   312: 1000000000000138");
}

TEST_F(Dumps, ShortRequestEndsWithTheNote) {
  zrng_desc d = build("MT64");
  const uint64_t words[5] = {1, 2, 3, 4, 0xABC};
  host.clear_log();
  d.dump_blob_64(words, 5);
  auto l = lines();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].args.size(), 8u);
  EXPECT_EQ(l[1].text, "     4:              abc");
  EXPECT_EQ(l[2].text, kNote);
}

TEST_F(Dumps, ThirtyTwoBitLinesAndRemainders) {
  zrng_desc d = build("FRY2X32");  // blob 28 bytes: limit 7 words
  const uint32_t words[9] = {0xDEADBEEF, 1, 2, 3, 4, 5, 6, 7, 8};
  const struct { int64_t count; std::vector<std::string> want; } cases[] = {
      {9, {"     0: deadbeef    1:        1    2:        2    3:        3",
           "     4:        4    5:        5    6:        6"}},
      {7, {"     0: deadbeef    1:        1    2:        2    3:        3",
           "     4:        4    5:        5    6:        6"}},
      {6, {"     0: deadbeef    1:        1    2:        2    3:        3",
           "     4:        4    5:        5", kNote}},
      {1, {"     0: deadbeef", kNote}},
      {0, {kNote}},
      {-3, {kNote}},
  };
  for (const auto &c : cases) {
    host.clear_log();
    d.dump_blob_32(words, c.count);
    auto l = lines();
    ASSERT_EQ(l.size(), c.want.size()) << c.count;
    for (size_t i = 0; i < l.size(); ++i) EXPECT_EQ(l[i].text, c.want[i]) << c.count;
  }
}

TEST_F(Dumps, LimitsFollowTheBlobSize) {
  const struct { const char *method; int64_t l64, l32; } cases[] = {
      {"SUBKEY32", 1, 2}, {"RANUNI", 1, 2},   {"MT32", 312, 625},  {"MT64", 313, 626},
      {"XOR1024", 17, 34}, {"XORGENS", 66, 132}, {"FRY4X64", 13, 26}, {"PCG64I", 2, 4},
  };
  std::vector<uint64_t> words(700, 7);
  for (const auto &c : cases) {
    zrng_desc d = build(c.method);
    host.clear_log();
    d.dump_blob_64(words.data(), 700);
    int64_t n = 0;
    for (const auto &e : lines()) n += static_cast<int64_t>(e.args.size()) / 2;
    EXPECT_EQ(n, c.l64) << c.method;
    host.clear_log();
    d.dump_blob_32(reinterpret_cast<const uint32_t *>(words.data()), 1400);
    n = 0;
    for (const auto &e : lines()) n += static_cast<int64_t>(e.args.size()) / 2;
    EXPECT_EQ(n, c.l32) << c.method;
  }
}

TEST_F(Dumps, RdrandAndNullWordsAndNoJournal) {
  zrng_desc r = build("RDRAND");
  const uint64_t words[4] = {1, 2, 3, 4};
  host.clear_log();
  r.dump_blob_64(words, 4);
  r.dump_blob_32(reinterpret_cast<const uint32_t *>(words), 8);
  EXPECT_TRUE(lines().empty());
  zrng_desc d = build("XOR128");
  d.dump_blob_64(nullptr, 2);
  auto l = lines();
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].text, kNote);
}

TEST(DumpsWithoutJournal, NothingIsWritten) {
  zeqhost::HostOptions o;
  o.journal = false;
  zeqhost::Host host(o);
  ASSERT_TRUE(host.loaded());
  zrng_desc d;
  host.fn<Builder>("zrnfMT32")(&d);
  const uint32_t words[3] = {1, 2, 3};
  d.dump_blob_32(words, 3);
  d.dump_blob_64(reinterpret_cast<const uint64_t *>(words), 1);
  EXPECT_TRUE(host.log().empty());
}

}  // namespace
