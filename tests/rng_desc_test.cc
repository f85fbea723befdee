// Generator descriptors and method selection: the facts and slots every
// builder writes, the descriptor's fixed offsets, the builders' trace
// messages, and zrngmeth's word table, trimming, setting and fallbacks.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "rng/catalogue.h"
#include "zeq/rng.h"

namespace {

using Builder = void (*)(zrng_desc *);
using Meth = int32_t (*)(const void *, int64_t, zrng_desc *, int64_t);

constexpr int32_t kBadMethod = static_cast<int32_t>(0x8C7FE80B);
constexpr int32_t kNoHardware = static_cast<int32_t>(0x8C7FE80C);
constexpr uint64_t k32 = 0xFFFFFFFFull;
constexpr uint64_t k64 = ~0ull;

namespace cat = zeq::rng::catalogue;

// What the catalogue (rng/methods.def) does not say: sizes, limits, the
// blob each method asks for, and whether it has a crude conversion.  Name,
// description, flags and word size are the catalogue's.
struct Facts {
  const char *row;  // the method described
  uint64_t state_bytes;
  uint64_t seed_max;
  uint64_t key_max;
  int64_t blob;
  bool crude;
};

const Facts kFacts[] = {
    {"MT1998", 2496, k32, k32, 2500, true},    {"MTHYBRID", 2496, k32, k32, 2500, true},
    {"MT32", 2496, k32, k32, 2500, true},      {"MT64", 2496, k64, k64, 2504, false},
    {"MH3", 8, k64, 0, 8, false},              {"XOR64", 8, k64, 0, 8, false},
    {"XOR128", 16, k64, 0, 16, false},         {"XOR1024", 128, k64, 0, 136, false},
    {"XOR4096", 512, k64, 0, 520, false},      {"XORGENS", 0, k64, 0, 528, false},
    {"FRY2X32", 8, k32, k32, 28, false},       {"FRY2X64", 16, k64, k64, 56, false},
    {"FRY4X64", 32, k64, k64, 104, false},     {"PCG32I", 4, k32, 0x7FFFFFFF, 8, false},
    {"PCG64I", 8, k64, 0x7FFFFFFFFFFFFFFFull, 16, false},
    {"RANUNI", 0, k32, 0, 8, true},            {"RDRAND", 0, 0, 0, 0, false},
    {"SUBKEY32", 4, k32, k32, 8, false},       {"SUBKEY64", 8, k64, k64, 16, false},
};

// A catalogue row with the facts above.
struct Method : cat::Method, Facts {
  bool family32() const { return (flags & ZRNG_FAMILY_32) != 0; }
  bool family64() const { return (flags & ZRNG_FAMILY_64) != 0; }
  int count() const { return flags & ZRNG_COUNT_32 ? 32 : flags & ZRNG_COUNT_64 ? 64 : 0; }
};

std::vector<Method> methods() {
  std::vector<Method> out;
  for (size_t i = 0; i < std::size(cat::kMethods); ++i) out.push_back({cat::kMethods[i], kFacts[i]});
  return out;
}

std::string wide_to_ascii(const TKChar *w, int n) {
  std::string s;
  for (int i = 0; i < n && w[i] != 0; ++i) s.push_back(static_cast<char>(w[i]));
  return s;
}

std::vector<TKChar> tk(const std::string &s) {
  std::vector<TKChar> v(s.begin(), s.end());
  v.push_back(0);
  return v;
}

class Descriptors : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.loaded()) << host.load_error(); }
  Builder builder(const char *name) {
    return host.fn<Builder>((std::string("zrnf") + name).c_str());
  }
  zeqhost::Host host;
};

TEST_F(Descriptors, FactsFollowTheCatalogue) {
  ASSERT_EQ(std::size(kFacts), std::size(cat::kMethods));
  for (const Method &m : methods()) EXPECT_STREQ(m.row, m.name);
}

TEST_F(Descriptors, EveryBuilderWritesItsFactsOverAnyOldContent) {
  for (const Method &f : methods()) {
    SCOPED_TRACE(f.name);
    zrng_desc d;
    std::memset(&d, 0xA5, sizeof d);
    builder(f.name)(&d);
    EXPECT_EQ(d.name_size, 16);
    EXPECT_EQ(d.description_size, 64);
    EXPECT_STREQ(d.name, f.name);
    EXPECT_EQ(wide_to_ascii(d.wide_name, 16), f.name);
    EXPECT_EQ(d.wide_name[std::strlen(f.name)], 0u);
    EXPECT_STREQ(d.description, f.description);
    EXPECT_EQ(d.state_bytes, f.state_bytes);
    EXPECT_EQ(d.state_bits, static_cast<int32_t>(f.state_bytes * 8));
    EXPECT_EQ(d.output_bits, f.output_bits);
    EXPECT_EQ(d.flags, f.flags);
    EXPECT_EQ(d.seed_max, f.seed_max);
    EXPECT_EQ(d.key_max, f.key_max);
    for (uint8_t byte : d.reserved0) EXPECT_EQ(byte, 0);
    for (uint8_t byte : d.reserved1) EXPECT_EQ(byte, 0);
    // Unused tail of the names is zero.
    for (size_t i = std::strlen(f.name); i < sizeof d.name; ++i) EXPECT_EQ(d.name[i], 0);
    for (size_t i = std::strlen(f.description); i < sizeof d.description; ++i)
      EXPECT_EQ(d.description[i], 0);
    // The flag bits agree with the facts.
    EXPECT_EQ((d.flags & 0x4) != 0, f.state_bytes != 0);
    EXPECT_EQ((d.flags & 0x2) != 0, std::string(f.name) != "RDRAND");
  }
}

TEST_F(Descriptors, EveryBuilderFillsExactlyItsSlots) {
  for (const Method &f : methods()) {
    SCOPED_TRACE(f.name);
    zrng_desc d;
    std::memset(&d, 0xA5, sizeof d);
    builder(f.name)(&d);
    // Housekeeping, seeding, keys, threads and integers: every method.
    const void *always[] = {(void *)d.blob_size, (void *)d.dump_blob_32, (void *)d.dump_blob_64,
                            (void *)d.state,     (void *)d.seed_32,      (void *)d.seed_64,
                            (void *)d.seed_double, (void *)d.key_32,     (void *)d.key_64,
                            (void *)d.key_double, (void *)d.thread_32,   (void *)d.thread_64,
                            (void *)d.uint32,    (void *)d.uint64,       (void *)d.double_default,
                            (void *)d.double_with_zero};
    for (const void *slot : always) EXPECT_NE(slot, nullptr);
    EXPECT_EQ(d.reserved_slot, nullptr);
    EXPECT_EQ(d.double_crude != nullptr, f.crude);
    EXPECT_EQ(d.count_32 != nullptr, f.count() == 32);
    EXPECT_EQ(d.count_64 != nullptr, f.count() == 64);
    const bool d32 = f.family32(), d64 = f.family64();
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(d.double_32[i] != nullptr, d32) << i;
      EXPECT_EQ(d.double_53[i] != nullptr, d64) << i;
      EXPECT_EQ(d.double_64[i] != nullptr, d64) << i;
    }
    EXPECT_EQ(d.double_infinite != nullptr, d64);
    if (!d64) {
      EXPECT_EQ(d.double_default, d.double_32[ZRNG_REJECT]);
      EXPECT_EQ(d.double_with_zero, d.double_32[ZRNG_CO]);
    } else {
      EXPECT_EQ(d.double_default, d.double_64[ZRNG_REJECT]);
      EXPECT_EQ(d.double_with_zero, d.double_64[ZRNG_CC]);
    }
  }
}

TEST_F(Descriptors, BlobSizeAnswersAndTracesTheSize) {
  host.set_setting("OSENV.ZEQ_RNG_MESSAGES", "ALL");
  for (const Method &f : methods()) {
    SCOPED_TRACE(f.name);
    zrng_desc d;
    builder(f.name)(&d);
    host.clear_log();
    EXPECT_EQ(d.blob_size(), f.blob);
    ASSERT_EQ(host.log().size(), 1u);
    const zeqhost::LogEntry &e = host.log()[0];
    EXPECT_EQ(e.kind, zeqhost::LogEntry::JournalStatus);
    EXPECT_EQ(static_cast<uint32_t>(e.number), 0x8C7FE852u);
    ASSERT_EQ(e.args.size(), 2u);
    EXPECT_EQ(e.args[0], f.name);
    EXPECT_EQ(e.args[1], std::to_string(f.blob));
    EXPECT_LE(f.blob, ZRAND_INLINE_BYTES);
  }
}

TEST_F(Descriptors, BuildersTraceTheirDescriptionOrName) {
  host.set_setting("OSENV.ZEQ_RNG_MESSAGES", "ALL");
  for (const Method &f : methods()) {
    SCOPED_TRACE(f.name);
    host.clear_log();
    zrng_desc d;
    builder(f.name)(&d);
    ASSERT_EQ(host.journal_statuses().size(), 1u);
    const zeqhost::LogEntry &e = host.log().back();
    EXPECT_EQ(static_cast<uint32_t>(e.number), 0x8C7FE851u);
    ASSERT_EQ(e.args.size(), 1u);
    EXPECT_EQ(e.args[0], *f.description ? f.description : f.name);
  }
  // By default traces are not shown.
  host.clear_setting("OSENV.ZEQ_RNG_MESSAGES");
  host.clear_log();
  zrng_desc d;
  builder("MT64")(&d);
  EXPECT_TRUE(host.journal_statuses().empty());
}

TEST_F(Descriptors, NullDescriptorIsIgnored) {
  for (const Method &f : methods()) builder(f.name)(nullptr);
  EXPECT_EQ(host.fn<Meth>("zrngmeth")("MT64", 4, nullptr, 0), 0);
}

// --- method words -------------------------------------------------------------

class MethodWords : public Descriptors {
 protected:
  int32_t resolve(const std::string &word, int64_t length, zrng_desc *d) {
    return host.fn<Meth>("zrngmeth")(word.c_str(), length, d, 0);
  }
  int32_t resolve(const std::string &word, zrng_desc *d) {
    return resolve(word, static_cast<int64_t>(word.size()), d);
  }
};

TEST_F(MethodWords, EveryAcceptedWordBuildsItsMethod) {
  struct Row {
    const char *word, *method;
  };
  std::vector<Row> table;
  for (const auto &m : cat::kMethods) table.push_back({m.name, m.name});
  for (const auto &a : cat::kAliases) table.push_back({a.word, a.name});
  EXPECT_EQ(table.size(), 32u);
  for (const auto &row : table) {
    for (std::string word : {std::string(row.word), [&] {
                               std::string lower = row.word;
                               for (char &c : lower) c = static_cast<char>(std::tolower(c));
                               return lower;
                             }()}) {
      zrng_desc d;
      EXPECT_EQ(resolve(word, &d), 0) << word;
      EXPECT_STREQ(d.name, row.method) << word;
      EXPECT_EQ(wide_to_ascii(d.wide_name, 16), row.method) << word;
    }
  }
}

TEST_F(MethodWords, WordsAreTrimmedAndNulTerminatedWhenTheLengthIsNegative) {
  const struct { const char *word; int64_t length; const char *method; int32_t rc; } cases[] = {
      {"  mt64  ", 8, "MT64", 0},
      {"mt64", -1, "MT64", 0},
      {"  Xor128   ", -1, "XOR128", 0},
      {"MT64xyz", 4, "MT64", 0},             // the length cuts the word
      {"MT6", 3, "MTHYBRID", kBadMethod},    // a proper prefix is no method
      {"MT644", 5, "MTHYBRID", kBadMethod},
      {"9MT", 3, "MTHYBRID", kBadMethod},
      {"M T64", 5, "MTHYBRID", kBadMethod},  // inner blanks stay
      {"THREEFRY4X64XYZ", 15, "MTHYBRID", kBadMethod},
      {"  THREEFRY4X64XYZW  ", -1, "MTHYBRID", kBadMethod},  // 16 characters
      {"\tMT64", -1, "MTHYBRID", kBadMethod},  // only the blank is trimmed
  };
  for (const auto &c : cases) {
    zrng_desc d;
    EXPECT_EQ(resolve(c.word, c.length, &d), c.rc) << c.word;
    EXPECT_STREQ(d.name, c.method) << c.word;
  }
}

TEST_F(MethodWords, TkcharWordsAreReadWhenModeBitOneIsSet) {
  auto meth = host.fn<Meth>("zrngmeth");
  std::vector<TKChar> w = tk("  threefry2x64 ");
  zrng_desc d;
  EXPECT_EQ(meth(w.data(), -1, &d, 1), 0);
  EXPECT_STREQ(d.name, "FRY2X64");
  w = tk("pcg");
  EXPECT_EQ(meth(w.data(), 3, &d, 0x7), 0);  // other mode bits are not read
  EXPECT_STREQ(d.name, "PCG64I");
  // A word in the descriptor's own work buffer.
  zrng_desc e;
  std::vector<TKChar> x = tk("xor64");
  std::memcpy(e.wide_name, x.data(), x.size() * sizeof(TKChar));
  EXPECT_EQ(meth(e.wide_name, -1, &e, 1), 0);
  EXPECT_STREQ(e.name, "XOR64");
}

TEST_F(MethodWords, EmptyWordTakesTheSettingOrTheDefault) {
  auto meth = host.fn<Meth>("zrngmeth");
  zrng_desc d;
  EXPECT_EQ(meth(nullptr, 0, &d, 0), 0);
  EXPECT_STREQ(d.name, "MTHYBRID");
  EXPECT_EQ(resolve("    ", &d), 0);
  EXPECT_STREQ(d.name, "MTHYBRID");

  host.set_setting("OSENV.ZEQ_RNG_METHOD", "pcg32i");
  EXPECT_EQ(meth(nullptr, 0, &d, 0), 0);
  EXPECT_STREQ(d.name, "PCG32I");
  EXPECT_EQ(resolve("   ", &d), 0);
  EXPECT_STREQ(d.name, "PCG32I");
  EXPECT_EQ(resolve("MT64", &d), 0);  // a word given wins
  EXPECT_STREQ(d.name, "MT64");

  host.set_setting("OSENV.ZEQ_RNG_METHOD", " MT64");  // used as stored: no trimming
  EXPECT_EQ(meth(nullptr, 0, &d, 0), kBadMethod);
  EXPECT_STREQ(d.name, "MTHYBRID");
  host.set_setting("OSENV.ZEQ_RNG_METHOD", "THREEFRY4X64");
  EXPECT_EQ(meth(nullptr, -1, &d, 0), 0);
  EXPECT_STREQ(d.name, "FRY4X64");
}

TEST_F(MethodWords, ResolverAloneIssuesNoMessage) {
  host.set_setting("OSENV.ZEQ_RNG_MESSAGES", "ALL");
  host.clear_log();
  zrng_desc d;
  EXPECT_EQ(resolve("nonsense", &d), kBadMethod);
  // Only the builder's trace of the fallback.
  std::vector<int> statuses = host.journal_statuses();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(static_cast<uint32_t>(statuses[0]), 0x8C7FE851u);
}

TEST(MethodWordsWithoutHardware, StatelessMethodsFallBack) {
  zeqhost::HostOptions o;
  o.rdrand = false;
  zeqhost::Host host(o);
  ASSERT_TRUE(host.loaded());
  auto meth = host.fn<Meth>("zrngmeth");
  const struct { const char *word; const char *method; int32_t rc; } cases[] = {
      {"RDRAND", "MTHYBRID", kNoHardware}, {"hardware", "MTHYBRID", kNoHardware},
      {"RANUNI", "MTHYBRID", kNoHardware}, {"XORGENS", "MTHYBRID", kNoHardware},
      {"XOR4096", "XOR4096", 0},           {"MT", "MT64", 0},
      {"bogus", "MTHYBRID", kBadMethod},
  };
  for (const auto &c : cases) {
    zrng_desc d;
    EXPECT_EQ(meth(c.word, -1, &d, 0), c.rc) << c.word;
    EXPECT_STREQ(d.name, c.method) << c.word;
  }
}

// --- known answers -------------------------------------------------------------------

// Runs every rng/<family>/testdata/*.kat file through the descriptors: each
// case names a method, a seed, a thread number and a key (applied through
// the 32-bit or 64-bit slots by the method's output width, thread first) and
// lists chosen 0-based draws of one integer slot.  The files are written by
// the make_kat.py scripts beside them from reference implementations.
struct KatCase {
  std::string file, method, slot;
  uint64_t seed = 0, thread = 0, key = 0;
  std::vector<std::pair<uint64_t, uint64_t>> words;  // (draw index, value)
};

std::vector<KatCase> read_kat_files() {
  std::vector<KatCase> cases;
  namespace fs = std::filesystem;
  for (const auto &family : fs::directory_iterator(fs::path(ZEQ_SOURCE_DIR) / "rng")) {
    fs::path dir = family.path() / "testdata";
    if (!fs::is_directory(dir)) continue;
    for (const auto &entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() != ".kat") continue;
      std::ifstream in(entry.path());
      std::string line;
      KatCase c;
      while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream f(line);
        std::string a, b;
        f >> a >> b;
        if (a == "method") {
          c = KatCase{};
          c.file = entry.path().filename().string();
          c.method = b;
        } else if (a == "seed") {
          c.seed = std::stoull(b);
        } else if (a == "thread") {
          c.thread = std::stoull(b);
        } else if (a == "key") {
          c.key = std::stoull(b);
        } else if (a == "slot") {
          c.slot = b;
        } else if (a == "end") {
          cases.push_back(c);
        } else {
          c.words.emplace_back(std::stoull(a), std::stoull(b, nullptr, 16));
        }
      }
    }
  }
  return cases;
}

TEST_F(Descriptors, KnownAnswerFiles) {
  std::vector<KatCase> cases = read_kat_files();
  std::set<std::string> methods;
  std::vector<unsigned char> blob(ZRAND_INLINE_BYTES);
  for (const KatCase &c : cases) {
    SCOPED_TRACE(c.file + " " + c.method + " seed " + std::to_string(c.seed) + " thread " +
                 std::to_string(c.thread) + " key " + std::to_string(c.key));
    methods.insert(c.method);
    zrng_desc d;
    builder(c.method.c_str())(&d);
    std::fill(blob.begin(), blob.end(), 0);
    void *b = blob.data();
    if (d.output_bits <= 32) {
      d.seed_32(b, static_cast<uint32_t>(c.seed));
      d.thread_32(b, static_cast<uint32_t>(c.thread));
      d.key_32(b, static_cast<uint32_t>(c.key));
    } else {
      d.seed_64(b, c.seed);
      d.thread_64(b, c.thread);
      d.key_64(b, c.key);
    }
    uint64_t drawn = 0;
    for (const auto &[index, want] : c.words) {
      uint64_t got = 0;
      for (; drawn <= index; ++drawn) got = c.slot == "uint32" ? d.uint32(b) : d.uint64(b);
      ASSERT_EQ(got, want) << "draw " << index;
    }
  }
  // Every method with a reproducible output has known answers.
  EXPECT_EQ(methods.size(), 18u);
}

}  // namespace
