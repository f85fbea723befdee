// Case mapping, case-blind equality and ordering, class minimum/maximum.
//
// The tables are checked against the Unicode data files themselves, parsed
// here independently of the generator: every code point of 1.1.5 for upper
// and lower case, every code point of 9.0.0 for the case classes (built with
// a union-find instead of the generator's graph walk).  The class routines
// are run in both builds: this process's own copy of the module (the wide
// build where the processor has AVX2) and a private copy of the library
// loaded with ZEQ_FORCE_GENERIC=1.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "host/host.h"
#include "strkernel/strkernel.h"

namespace {

constexpr TKChar kTop = 0x110000;  // one past the last code point

std::string unicode_file(const char *name) {
  return std::string(ZEQ_SOURCE_DIR "/scripts/unicode/") + name;
}

struct Row {
  TKChar u;
  std::vector<std::string> fields;
};

std::vector<Row> read_unicode(const char *name) {
  std::vector<Row> rows;
  std::ifstream in(unicode_file(name));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    Row r;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ';')) r.fields.push_back(f);
    while (r.fields.size() < 15) r.fields.push_back("");
    r.u = (TKChar)std::stoul(r.fields[0], nullptr, 16);
    rows.push_back(std::move(r));
  }
  return rows;
}

TKChar hex_or(const std::string &f, TKChar fallback) {
  return f.empty() ? fallback : (TKChar)std::stoul(f, nullptr, 16);
}

// Simple upper and lower case of Unicode 1.1.5, as full maps over 0..kTop.
struct CaseData {
  std::vector<TKChar> upper, lower;
  CaseData() : upper(kTop), lower(kTop) {
    std::iota(upper.begin(), upper.end(), 0u);
    std::iota(lower.begin(), lower.end(), 0u);
    for (const Row &r : read_unicode("UnicodeData-1.1.5.txt")) {
      upper[r.u] = hex_or(r.fields[12], r.u);
      lower[r.u] = hex_or(r.fields[13], r.u);
    }
  }
};

// Class minimum and maximum of Unicode 9.0.0 below 0x10000: the closure of
// fields 12, 13 and 14 in both directions; a code point with none of the
// three keeps itself.
struct ClassData {
  std::vector<TKChar> minimum, maximum;
  std::vector<TKChar> parent;
  TKChar find(TKChar x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  }
  ClassData() : minimum(kTop), maximum(kTop), parent(kTop) {
    std::iota(parent.begin(), parent.end(), 0u);
    std::vector<bool> mapped(kTop);
    for (const Row &r : read_unicode("UnicodeData-9.0.0.txt"))
      for (int i = 12; i <= 14; i++)
        if (!r.fields[i].empty()) {
          mapped[r.u] = true;
          parent[find(r.u)] = find(hex_or(r.fields[i], r.u));
        }
    std::map<TKChar, std::pair<TKChar, TKChar>> range;  // root -> (min, max)
    for (TKChar u = 0; u < kTop; u++) {
      auto [it, fresh] = range.try_emplace(find(u), u, u);
      if (!fresh) it->second.second = u;
    }
    for (TKChar u = 0; u < kTop; u++) {
      const auto &mm = range[find(u)];
      const bool tabled = u < 0x10000 && mapped[u];
      minimum[u] = tabled ? mm.first : u;
      maximum[u] = tabled ? mm.second : u;
    }
  }
};

const CaseData &case_data() {
  static const CaseData d;
  return d;
}
const ClassData &class_data() {
  static const ClassData d;
  return d;
}

using Mapper = void (*)(TKChar *, int64_t);

std::vector<TKChar> mapped(Mapper f, std::vector<TKChar> v) {
  f(v.data(), (int64_t)v.size());
  return v;
}
TKChar one(Mapper f, TKChar u) {
  f(&u, 1);
  return u;
}

// Every code point, then units beyond Unicode that must pass unchanged.
std::vector<TKChar> all_units() {
  std::vector<TKChar> v(kTop);
  std::iota(v.begin(), v.end(), 0u);
  for (TKChar x : {0x110000u, 0x1FFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x8000004Bu, 0xFFFF004Bu,
                   0xFFFFFFFFu})
    v.push_back(x);
  return v;
}

// A private copy of the module whose class routines were bound with
// ZEQ_FORCE_GENERIC=1 in the environment, so the generic build answers.
class GenericBuild {
 public:
  GenericBuild() {
    // This process's own copy chooses its build first, without the variable.
    TKChar warm = 'k';
    tkzstmin(&warm, 1);
    tkzstmax(&warm, 1);
    std::string module;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&tkzstmin), &info) && info.dli_fname &&
        std::string(info.dli_fname).find(".so") != std::string::npos)
      module = info.dli_fname;
    else if (const char *m = std::getenv("ZEQ_MODULE"))
      module = m;
    if (module.empty()) return;
    char name[] = "/tmp/zeq_generic_XXXXXX.so";
    int fd = mkstemps(name, 3);
    if (fd < 0) return;
    close(fd);
    path_ = name;
    {
      std::ifstream in(module, std::ios::binary);
      std::ofstream out(path_, std::ios::binary);
      out << in.rdbuf();
    }
    const char *before = std::getenv("ZEQ_FORCE_GENERIC");
    const std::string saved = before ? before : "";
    setenv("ZEQ_FORCE_GENERIC", "1", 1);
    handle_ = dlopen(path_.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle_) {
      stmin_ = reinterpret_cast<Mapper>(dlsym(handle_, "tkzstmin"));
      stmax_ = reinterpret_cast<Mapper>(dlsym(handle_, "tkzstmax"));
      if (stmin_ && stmax_) {
        stmin_(&warm, 1);
        stmax_(&warm, 1);
      }
    }
    if (before)
      setenv("ZEQ_FORCE_GENERIC", saved.c_str(), 1);
    else
      unsetenv("ZEQ_FORCE_GENERIC");
  }
  ~GenericBuild() {
    if (handle_) dlclose(handle_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  bool ok() const { return stmin_ && stmax_; }
  Mapper stmin() const { return stmin_; }
  Mapper stmax() const { return stmax_; }

 private:
  std::string path_;
  void *handle_ = nullptr;
  Mapper stmin_ = nullptr, stmax_ = nullptr;
};

GenericBuild &generic() {
  static GenericBuild g;
  return g;
}

struct Build {
  const char *name;
  Mapper stmin, stmax;
};

std::vector<Build> builds() {
  std::vector<Build> b{{"own", tkzstmin, tkzstmax}};
  if (generic().ok()) b.push_back({"generic", generic().stmin(), generic().stmax()});
  return b;
}

// ---------------------------------------------------------------------------
// Upper and lower case
// ---------------------------------------------------------------------------

struct CaseRow {
  TKChar u, upper, lower;
};

TEST(CaseTables, TellingRows) {
  std::vector<CaseRow> rows = {
      {0x00E9, 0x00C9, 0x00E9}, {0x00C9, 0x00C9, 0x00E9},  // é É
      {0x00FF, 0x0178, 0x00FF}, {0x0178, 0x0178, 0x00FF},  // ÿ Ÿ
      {0x017F, 0x0053, 0x017F},                            // long s, through the pair list
      {0x0131, 0x0131, 0x0131}, {0x0130, 0x0130, 0x0130},  // dotless / dotted I: no mapping
      {0x00DF, 0x00DF, 0x00DF}, {0x00B5, 0x00B5, 0x00B5}, {0x03C2, 0x03C2, 0x03C2},
      {0x018E, 0x018E, 0x0258}, {0x0258, 0x018E, 0x0258},  // pair lists both ways
      {0x0181, 0x0181, 0x0253}, {0x0253, 0x0181, 0x0253},
      {0x1FF8, 0x1FF8, 0x1F78}, {0x1F78, 0x1FF8, 0x1F78},  // delta exactly -128
      {0x0189, 0x0189, 0x0189}, {0x0256, 0x0256, 0x0256},
      {0x03DA, 0x03DA, 0x03DB}, {0x03DB, 0x03DB, 0x03DB},  // one-way in this edition
      {0x01C5, 0x01C4, 0x01C6}, {0x01F2, 0x01F1, 0x01F3},  // title-case digraphs
      {0x0400, 0x0400, 0x0400}, {0x0450, 0x0450, 0x0450},  // added later
      {0x1F600, 0x1F600, 0x1F600}, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
  };
  for (TKChar c = 0; c < 26; c++) rows.push_back({'a' + c, 'A' + c, 'a' + c});
  for (TKChar c = 0; c < 26; c++) rows.push_back({'A' + c, 'A' + c, 'a' + c});
  for (TKChar u = 0x0218; u <= 0x0233; u++) rows.push_back({u, u, u});
  for (TKChar u = 0x13A0; u <= 0x13F5; u++) rows.push_back({u, u, u});
  for (TKChar u = 0x10A0; u <= 0x10C5; u++) {
    rows.push_back({u, u, u + 0x30});
    rows.push_back({u + 0x30, u + 0x30, u + 0x30});  // Georgian small: no upper mapping
  }
  for (auto [cap, small, n] : {std::tuple{0x2160u, 0x2170u, 16u}, std::tuple{0x24B6u, 0x24D0u, 26u},
                               std::tuple{0xFF21u, 0xFF41u, 26u}})
    for (TKChar i = 0; i < n; i++) {
      rows.push_back({cap + i, cap + i, small + i});
      rows.push_back({small + i, cap + i, small + i});
    }
  for (const CaseRow &r : rows) {
    EXPECT_EQ(one(tkzstup, r.u), r.upper) << std::hex << "upper U+" << r.u;
    EXPECT_EQ(one(tkzstlo, r.u), r.lower) << std::hex << "lower U+" << r.u;
  }
}

TEST(CaseTables, EveryCodePointMatchesUnicode115) {
  const CaseData &d = case_data();
  const std::vector<TKChar> units = all_units();
  const std::vector<TKChar> up = mapped(tkzstup, units), lo = mapped(tkzstlo, units);
  int changed_up = 0, changed_lo = 0, bad = 0;
  for (size_t i = 0; i < units.size(); i++) {
    const TKChar u = units[i];
    const TKChar eu = u < kTop ? d.upper[u] : u, el = u < kTop ? d.lower[u] : u;
    changed_up += up[i] != u;
    changed_lo += lo[i] != u;
    if ((up[i] != eu || lo[i] != el) && ++bad <= 10)
      ADD_FAILURE() << std::hex << "U+" << u << ": upper " << up[i] << " (want " << eu << "), lower "
                    << lo[i] << " (want " << el << ")";
  }
  EXPECT_EQ(changed_up, 671);
  EXPECT_EQ(changed_lo, 706);
}

TEST(CaseTables, ExportedPageTableCoversTheChangedPages) {
  std::vector<int> present;
  for (int p = 0; p < 512; p++)
    if (skz_metatable[p] >= 0) present.push_back(p);
  const std::vector<int> want = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 33, 60, 61, 62, 63, 66, 73, 510};
  EXPECT_EQ(present, want);
  for (size_t i = 0; i < present.size(); i++) EXPECT_EQ(skz_metatable[present[i]], (int)i * 128);
}

TEST(CaseTables, ConvertsInPlaceAndIgnoresEmptyInput) {
  std::vector<TKChar> t = {'a', 0x00E9, 'Z', 0x1F600, ' '};
  tkzstup(t.data(), 3);  // only the first three units
  EXPECT_EQ(t, (std::vector<TKChar>{'A', 0x00C9, 'Z', 0x1F600, ' '}));
  tkzstlo(t.data(), 0);
  tkzstlo(t.data(), -5);
  tkzstup(nullptr, 4);
  EXPECT_EQ(t[0], (TKChar)'A');
}

// ---------------------------------------------------------------------------
// Locale object
// ---------------------------------------------------------------------------

// A locale whose case entries answer recognisable values and record how they
// were called.
struct FakeLocale {
  ZeqLocale rec{};
  static inline std::vector<std::pair<TKChar, int32_t>> calls;
  static TKChar upper(ZeqLocale *, TKChar u, int32_t one) {
    calls.push_back({u, one});
    return u + 0x1000;
  }
  static TKChar lower(ZeqLocale *, TKChar u, int32_t one) {
    calls.push_back({u, one});
    return u + 0x2000;
  }
  FakeLocale() {
    rec.upper = upper;
    rec.lower = lower;
    calls.clear();
  }
};

class LocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.loaded()) << host_.load_error();
    saved_ = host_.kernel()->locale;
    host_.kernel()->locale = &fake_.rec;
  }
  void TearDown() override {
    if (host_.loaded()) host_.kernel()->locale = saved_;
  }
  zeqhost::Host host_;
  FakeLocale fake_;
  ZeqLocale *saved_ = nullptr;
};

TEST_F(LocaleTest, UnitsAbove127GoToTheLocaleObject) {
  std::vector<TKChar> t = {'a', 127, 128, 0x00E9, 0x1F600};
  tkzstup(t.data(), (int64_t)t.size());
  EXPECT_EQ(t, (std::vector<TKChar>{'A', 127, 128 + 0x1000, 0x00E9 + 0x1000, 0x1F600 + 0x1000}));
  const std::vector<std::pair<TKChar, int32_t>> want_up = {{128, 1}, {0x00E9, 1}, {0x1F600, 1}};
  EXPECT_EQ(FakeLocale::calls, want_up);

  FakeLocale::calls.clear();
  std::vector<TKChar> s = {'Q', 0x0181};
  tkzstlo(s.data(), 2);
  EXPECT_EQ(s, (std::vector<TKChar>{'q', 0x0181 + 0x2000}));
  EXPECT_EQ(FakeLocale::calls.size(), 1u);
}

TEST_F(LocaleTest, ComparisonsAndClassesNeverConsultIt) {
  const TKChar l[] = {0x00C9, 'a'}, r[] = {0x00E9, 'A'};
  EXPECT_EQ(tkzseqn(l, 2, r, 2), 1);
  EXPECT_EQ(tkzsncmp(l, 2, r, 2), -1);
  TKChar k[] = {0x212A, 0x00E9};
  tkzstmin(k, 2);
  tkzstmax(k, 2);
  EXPECT_TRUE(FakeLocale::calls.empty());
}

TEST(CaseNoLocale, HostWithoutLocaleUsesTheTables) {
  zeqhost::Host host;
  ASSERT_TRUE(host.loaded()) << host.load_error();
  ASSERT_EQ(host.kernel()->locale, nullptr);
  EXPECT_EQ(one(tkzstup, 0x00FF), 0x0178u);
  EXPECT_EQ(one(tkzstlo, 0x0181), 0x0253u);
}

// ---------------------------------------------------------------------------
// Equality and ordering
// ---------------------------------------------------------------------------

std::vector<TKChar> units_of(const char *s) { return std::vector<TKChar>(s, s + strlen(s)); }

TEST(CaseOrder, EqualityIgnoresCaseOnly) {
  struct {
    const char *l, *r;
    int32_t want;
  } cases[] = {
      {"abc", "ABC", 1}, {"abc", "abd", 0}, {"", "", 1},       {"abc", "abc ", 0},
      {"abcdef", "abcdefg", 0}, {"Hello", "hELLO", 1}, {"a b", "A B", 1},
  };
  for (const auto &c : cases) {
    const auto l = units_of(c.l), r = units_of(c.r);
    EXPECT_EQ(tkzseqn(l.data(), (int64_t)l.size(), r.data(), (int64_t)r.size()), c.want)
        << c.l << " / " << c.r;
  }
  const TKChar l[] = {0x0181, 0x1FF9, 0x00DF}, r[] = {0x0253, 0x1F79, 0x00DF};
  EXPECT_EQ(tkzseqn(l, 3, r, 3), 1);
  const TKChar dotless[] = {0x0131}, i[] = {'i'};  // not a case pair in these tables
  EXPECT_EQ(tkzseqn(dotless, 1, i, 1), 0);
  EXPECT_EQ(tkzseqn(nullptr, 0, nullptr, 0), 1);
}

TEST(CaseOrder, OrderingRules) {
  struct {
    const char *l, *r;
    int32_t want;
  } cases[] = {
      {"abc", "ABC  ", 1},   // case only, at the first difference a > A; blank tail
      {"ABC", "abc", -1},    {"abc", "abc", 0},   {"abc", "abd", -2},  {"abd", "abc", 2},
      {"ab", "ab!", -2},     {"ab!", "ab", 2},    {"ab", "ab  ", 0},   {"ab  ", "ab", 0},
      {"", "", 0},           {"", "   ", 0},      {"", " x", -2},      {"  ", "", 0},
      {"x", "", 2},          {"aBc", "AbD", -2},  // beyond case wins over an earlier case difference
      {"Ab", "aB", -1},      // the first raw difference decides the sign
      {"ab", "AB x", -2},    // non-blank tail of the longer right text
      {"AB x", "ab", 2},
      {"a", "B", -2},        {"B", "a", 2},       // lower-cased: a < b
      {"[", "A", -2},        // '[' (0x5B) > 'A' raw, but < 'a' after lower-casing
  };
  for (const auto &c : cases) {
    const auto l = units_of(c.l), r = units_of(c.r);
    EXPECT_EQ(tkzsncmp(l.data(), (int64_t)l.size(), r.data(), (int64_t)r.size()), c.want)
        << '"' << c.l << "\" / \"" << c.r << '"';
  }
}

TEST(CaseOrder, UnitsAreSignedAndCountsNeverOverread) {
  const TKChar big[] = {0x80000000u}, small[] = {'a'};
  EXPECT_EQ(tkzsncmp(big, 1, small, 1), -2);  // negative as a signed unit
  const TKChar blanks[] = {' ', ' ', 'x'};
  // A negative count is an empty text: only the other text's own units are read.
  EXPECT_EQ(tkzsncmp(blanks, -1, blanks, 2), 0);
  EXPECT_EQ(tkzsncmp(blanks, 2, blanks, -7), 0);
  EXPECT_EQ(tkzsncmp(blanks, -3, blanks, 3), -2);
  EXPECT_EQ(tkzsncmp(nullptr, 4, blanks, 1), 0);
  EXPECT_EQ(tkzsncmp(blanks, 3, nullptr, 2), 2);
}

// ---------------------------------------------------------------------------
// Class minimum and maximum, both builds
// ---------------------------------------------------------------------------

TEST(CaseClasses, TellingRows) {
  const std::vector<std::vector<TKChar>> classes = {
      {0x0049, 0x0069, 0x0130, 0x0131}, {0x004B, 0x006B, 0x212A},   {0x0053, 0x0073, 0x017F},
      {0x00C5, 0x00E5, 0x212B},         {0x00B5, 0x039C, 0x03BC},   {0x03A3, 0x03C2, 0x03C3},
      {0x0398, 0x03B8, 0x03D1, 0x03F4}, {0x0345, 0x0399, 0x03B9, 0x1FBE},
      {0x0422, 0x0442, 0x1C84, 0x1C85}, {0x026A, 0xA7AE},           {0x13A0, 0xAB70},
      {0x13EF, 0xABBF},                 {0x13F0, 0x13F8},           {0x13F5, 0x13FD},
  };
  std::vector<TKChar> alone = {0x10D0, 0x10FF, 0x1C90, 0x1CBF, 0xA7B8, 0xA7B9, 0xA7C0, 0xA7FF,
                               0x10400, 0x10428, 0xFFFFFFFF};
  for (const Build &b : builds()) {
    SCOPED_TRACE(b.name);
    for (const auto &cls : classes)
      for (TKChar u : cls) {
        EXPECT_EQ(one(b.stmin, u), cls.front()) << std::hex << "min U+" << u;
        EXPECT_EQ(one(b.stmax, u), cls.back()) << std::hex << "max U+" << u;
      }
    for (TKChar u : alone) {
      EXPECT_EQ(one(b.stmin, u), u) << std::hex << "U+" << u;
      EXPECT_EQ(one(b.stmax, u), u) << std::hex << "U+" << u;
    }
    // U+00DF has no mapping of its own: it keeps itself; U+1E9E reaches it.
    EXPECT_EQ(one(b.stmin, 0x1E9E), 0x00DFu);
    EXPECT_EQ(one(b.stmax, 0x1E9E), 0x1E9Eu);
    EXPECT_EQ(one(b.stmin, 0x00DF), 0x00DFu);
    EXPECT_EQ(one(b.stmax, 0x00DF), 0x00DFu);
  }
}

TEST(CaseClasses, EveryCodePointMatchesUnicode900) {
  const ClassData &d = class_data();
  const std::vector<TKChar> units = all_units();
  ASSERT_TRUE(generic().ok()) << "the generic build could not be loaded";
  for (const Build &b : builds()) {
    SCOPED_TRACE(b.name);
    const std::vector<TKChar> mn = mapped(b.stmin, units), mx = mapped(b.stmax, units);
    int changed_min = 0, changed_max = 0, bad = 0;
    for (size_t i = 0; i < units.size(); i++) {
      const TKChar u = units[i];
      const TKChar emin = u < kTop ? d.minimum[u] : u, emax = u < kTop ? d.maximum[u] : u;
      changed_min += mn[i] != u;
      changed_max += mx[i] != u;
      if ((mn[i] != emin || mx[i] != emax) && ++bad <= 10)
        ADD_FAILURE() << std::hex << "U+" << u << ": min " << mn[i] << " (want " << emin << "), max "
                      << mx[i] << " (want " << emax << ")";
    }
    EXPECT_EQ(changed_min, 1134);
    EXPECT_EQ(changed_max, 1133);
  }
}

TEST(CaseClasses, BuildsAgreeOnRandomTextOfEveryLengthAndAlignment) {
  ASSERT_TRUE(generic().ok());
  const ClassData &d = class_data();
  std::mt19937 rng(20240607);
  auto draw = [&]() -> TKChar {
    switch (rng() % 6) {
      case 0: return rng() % 0x80;
      case 1: return rng() % 0x800;
      case 2: return rng() % 0x10000;
      case 3: return 0x10000 + rng() % 0x100000;
      case 4: return (TKChar)rng();
      default: return 0x1C80 + rng() % 0x60;  // dense pages
    }
  };
  for (int round = 0; round < 400; round++) {
    const size_t n = round < 70 ? (size_t)round : 70 + rng() % 2000;
    const size_t skew = rng() % 8;  // start at any unit of a 32-byte block
    std::vector<TKChar> base(n + skew);
    for (auto &x : base) x = draw();
    for (bool is_min : {true, false}) {
      std::vector<TKChar> own = base, gen = base;
      (is_min ? tkzstmin : tkzstmax)(own.data() + skew, (int64_t)n);
      (is_min ? generic().stmin() : generic().stmax())(gen.data() + skew, (int64_t)n);
      ASSERT_EQ(own, gen) << "round " << round << (is_min ? " min" : " max");
      for (size_t i = 0; i < skew; i++) ASSERT_EQ(own[i], base[i]) << "wrote before the text";
      for (size_t i = skew; i < base.size(); i++) {
        const TKChar u = base[i];
        const TKChar want = u < kTop ? (is_min ? d.minimum[u] : d.maximum[u]) : u;
        ASSERT_EQ(own[i], want) << std::hex << "U+" << u;
      }
    }
  }
}

TEST(CaseClasses, EmptyAndNullInputAreLeftAlone) {
  for (const Build &b : builds()) {
    TKChar k = 'k';
    b.stmin(&k, 0);
    b.stmax(&k, -3);
    b.stmin(nullptr, 10);
    EXPECT_EQ(k, (TKChar)'k');
  }
}

}  // namespace
