// tests/route_agreement_test.cc - every function that has two routes, run on
// random ASCII text through its byte-route entry and its multibyte-route
// entry (called directly with the session's string service, as the tests
// force that route elsewhere): the two answers must be equal, except where
// the routes are meant to differ.  Each such difference is listed below with
// the rule that calls for it, and only those calls are let through.
#include <cctype>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "tests/support/host_fixture.h"

namespace {

using zeqtest::Arg;
using zeqtest::C;
using zeqtest::host;
using zeqtest::Miss;
using zeqtest::N;

using MbNum = zeq::typed::MbNumberEntry;
using ScanEntry = zeq::typed::CharEntry;
using ScanMb = zeq::typed::MbCharEntry;

// One generated call: the arguments, and what the exceptions look at.
struct Case {
  std::vector<Arg> args;
  std::string text;     // the source string (string-1 for COMPARE)
  std::string other;    // the second string, where there is one
  std::string mods;     // the modifier letters, upper case
  bool has_start = false;
  double start = 0;     // NaN for a missing start
  bool has(char letter) const { return mods.find(letter) != std::string::npos; }
  bool missing_start() const { return has_start && std::isnan(start); }
  // The source as the function sees it: T drops its trailing blanks.
  bool empty_text() const {
    return text.find_last_not_of(' ') == std::string::npos && (text.empty() || has('T'));
  }
  bool start_zero_or_beyond() const {
    return has_start && (std::trunc(start) == 0 || start > static_cast<double>(text.size()));
  }
};

// A difference the routes are meant to have: the rule and the calls it
// covers.
struct Exception {
  const char *function;
  const char *rule;
  std::function<bool(const Case &)> covers;
};

// The allowed differences.
const std::vector<Exception> &exceptions() {
  static const std::vector<Exception> list = {
      // "On this route T and O have no effect" (the multibyte route of COUNT
      // and COUNTC; the byte route trims the string, substring or list).
      {"COUNT", "T on COUNT", [](const Case &c) { return c.has('T'); }},
      {"COUNTC", "T on COUNTC", [](const Case &c) { return c.has('T'); }},
      // "On this route B is honoured, T has no effect" (FIND's multibyte
      // route; the byte route reports B and trims with T).
      {"FIND", "B and T on FIND", [](const Case &c) { return c.has('B') || c.has('T'); }},
      // "T and O have no effect" (FINDC's multibyte route).
      {"FINDC", "T on FINDC", [](const Case &c) { return c.has('T'); }},
      // "a missing start or one above 2147483647 gives 0 (no missing value on
      // this route)" against "Missing start on the byte route: the missing
      // value and FNC_RC_MISSING".
      {"FIND", "a missing start", [](const Case &c) { return c.missing_start(); }},
      {"FINDC", "a missing start", [](const Case &c) { return c.missing_start(); }},
      {"FINDW", "a missing start", [](const Case &c) { return c.missing_start(); }},
      // "a positive start scans left to right from s, and with B right to
      // left from the last character" against the byte route's "s greater
      // than the string length: the result is 0" and "Every start whose
      // truncation is 0 (-1 < s < 1) therefore yields 0".
      // (FINDW's byte route: "s above the string length gives 0".)
      {"FINDC", "B with a start of 0 or beyond the length",
       [](const Case &c) { return c.has('B') && c.start_zero_or_beyond(); }},
      {"FINDW", "B with a start of 0 or beyond the length",
       [](const Case &c) { return c.has('B') && c.start_zero_or_beyond(); }},
      // "when it is zero or positive and B is set, the scan limit becomes the
      // smaller of the value and the source length, and the start becomes
      // the source length" (the multibyte route's start) against FINDW's
      // byte route, which searches right to left from the start position.
      {"FINDW", "B with a positive start", [](const Case &c) { return c.has('B') && c.start > 0; }},
      {"FIND", "a start of 0",
       [](const Case &c) { return c.has_start && std::trunc(c.start) == 0; }},
      // "'' (empty) without M: 0; with M: 1 on the byte route, 0 on the
      // multibyte route."
      // (A text of blanks is empty once T has trimmed it.)
      {"COUNTW", "empty text with M", [](const Case &c) { return c.empty_text() && c.has('M'); }},
      // "An empty or missing source string in the function form: the result
      // is one blank" (SCAN's multibyte route) against the byte route's "the
      // result is empty when R or M was given".
      {"SCAN", "empty text with M or R",
       [](const Case &c) { return c.empty_text() && (c.has('M') || c.has('R')); }},
      // "c1 = 0 gives -1 when c2 > 0 and 0 when c2 = 0; c2 = 0 (c1 > 0)
      // gives 1." (COMPARE's multibyte route; the byte route pads the empty
      // side with blanks).
      {"COMPARE", "COMPARE with an empty side",
       [](const Case &c) { return c.text.empty() || c.other.empty(); }},
      // "With R and Q together, the word is unquoted into the result by
      // zdequote" (byte route) against "With R and Q, when the word begins
      // and ends with the same quote character, the outer quotes are
      // removed, every doubled quote of that kind becomes one, and any other
      // lone quote of that kind is dropped." (multibyte route).
      {"SCAN", "the two unquoting rules", [](const Case &c) { return c.has('R') && c.has('Q'); }},
  };
  return list;
}

const Exception *exception_for(const char *function, const Case &c) {
  for (const Exception &e : exceptions())
    if (std::string(e.function) == function && e.covers(c)) return &e;
  return nullptr;
}

// Random ASCII pieces.
class Gen {
 public:
  explicit Gen(uint32_t seed) : rng_(seed) {}
  uint32_t below(uint32_t n) { return rng_() % n; }
  bool coin() { return below(2) == 0; }
  std::string text(const char *alphabet, int max_length) {
    std::string s(below(static_cast<uint32_t>(max_length) + 1), ' ');
    const uint32_t n = static_cast<uint32_t>(std::char_traits<char>::length(alphabet));
    for (char &ch : s) ch = alphabet[below(n)];
    return s;
  }
  // Up to three letters of `letters`, sometimes in lower case.
  std::string mods(const char *letters) {
    std::string m = text(letters, 3);
    for (char &ch : m)
      if (coin()) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return m;
  }
  double start(int length) {
    switch (below(6)) {
      case 0: return std::nan("");
      case 1: return 0.5;
      default: return static_cast<double>(static_cast<int>(below(2 * length + 5)) - length - 2);
    }
  }

 private:
  std::mt19937 rng_;
};

std::string upper(std::string s) {
  for (char &ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

constexpr const char *kText = "ab A,'\" ";

void add_mods(Case &c, std::string m) {
  c.mods = upper(m);
  c.args.push_back(C(std::move(m)));
}
void add_start(Case &c, double s) {
  c.has_start = true;
  c.start = s;
  c.args.push_back(std::isnan(s) ? Miss() : N(s));
}

// Argument generators, one per function, in the shapes both routes accept.
Case gen_count(Gen &g) {
  Case c;
  c.text = g.text(kText, 12);
  c.other = g.text("ab ", 3);
  c.args = {C(c.text), C(c.other)};
  if (g.coin()) add_mods(c, g.mods("IT "));
  return c;
}
Case gen_countc(Gen &g) {
  Case c;
  c.text = g.text(kText, 12);
  c.args = {C(c.text), C(g.text("a ,'", 3))};
  if (g.coin()) add_mods(c, g.mods("ADILPSUVXT"));
  return c;
}
// Modifiers and a start, each perhaps, in either order.
void add_mods_and_start(Case &c, Gen &g, const char *letters) {
  const bool mods = g.coin(), start = g.coin(), mods_first = g.coin();
  if (mods && mods_first) add_mods(c, g.mods(letters));
  if (start) add_start(c, g.start(static_cast<int>(c.text.size())));
  if (mods && !mods_first) add_mods(c, g.mods(letters));
}
Case gen_find(Gen &g) {
  Case c;
  c.text = g.text(kText, 12);
  c.other = g.text("ab ", 3);
  c.args = {C(c.text), C(c.other)};
  add_mods_and_start(c, g, "IT");
  return c;
}
Case gen_findc(Gen &g) {
  Case c;
  c.text = g.text(kText, 12);
  c.args = {C(c.text), C(g.text("a ,'", 3))};
  add_mods_and_start(c, g, "ADIKLPSUVXBT");
  return c;
}
Case gen_findw(Gen &g) {
  Case c;
  c.text = g.text(kText, 12);
  const char *words[] = {"a", "b", "ab", "A", "a b", ",a", "'a'", "a,"};
  c.other = words[g.below(8)];
  c.args = {C(c.text), C(c.other)};
  switch (g.below(4)) {
    case 0: break;
    case 1: c.args.push_back(C(g.text(" ,'", 2))); break;
    case 2:
      c.args.push_back(C(g.text(" ,'", 2)));
      add_mods(c, g.mods("BEIKMQRTV"));
      if (g.coin()) add_start(c, g.start(static_cast<int>(c.text.size())));
      break;
    default:
      add_start(c, g.start(static_cast<int>(c.text.size())));
      if (g.coin()) c.args.push_back(C(g.text(" ,'", 2)));
      break;
  }
  return c;
}
Case gen_countw(Gen &g) {
  Case c;
  c.text = g.text(kText, 12);
  c.args = {C(c.text)};
  if (g.coin()) {
    c.args.push_back(C(g.text(" ,'", 2)));
    if (g.coin()) add_mods(c, g.mods("BMQT"));
  }
  return c;
}
Case gen_scan(Gen &g) {
  Case c;
  c.text = g.text(kText, 12);
  const int n = static_cast<int>(g.below(7)) - 3;
  c.args = {C(c.text), N(n == 0 ? 1 : n)};
  if (g.coin()) {
    c.args.push_back(C(g.text(" ,'", 2)));
    if (g.coin()) add_mods(c, g.mods("BMQRT"));
  }
  return c;
}
Case gen_compare(Gen &g) {
  Case c;
  c.text = g.text("aAb ", 5);
  c.other = g.text("aAb ", 5);
  c.args = {C(c.text), C(c.other)};
  if (g.coin()) add_mods(c, g.mods("IL:"));
  return c;
}

// Both routes of one call, as comparable text: status and answer.
std::string byte_route(const char *entry, bool scan, const Case &c) {
  zeqtest::Call call;
  zeqtest::add_args(call, c.args);
  if (scan) {
    zeqtest::Result r(64);
    const int32_t rc = host().fn<ScanEntry>(entry)(call.block(), &r.rec);
    return std::to_string(rc) + " '" + r.text() + "'";
  }
  double out = -1;
  const int32_t rc = host().fn<zeqtest::NumEntry>(entry)(call.block(), &out);
  return std::to_string(rc) + " " + (std::isnan(out) ? "." : std::to_string(out));
}
std::string multibyte_route(const char *entry, const char *name, bool scan, const Case &c) {
  zeqtest::Call call;
  zeqtest::add_args(call, c.args);
  ZeqStringService *svc = host().string_service();
  if (scan) {
    zeqtest::Result r(64);
    const int32_t rc = host().fn<ScanMb>(entry)(call.block(), &r.rec, svc, 0, name);
    return std::to_string(rc) + " '" + r.text() + "'";
  }
  double out = -1;
  const int32_t rc = host().fn<MbNum>(entry)(call.block(), &out, svc, 0, name);
  return std::to_string(rc) + " " + (std::isnan(out) ? "." : std::to_string(out));
}

std::string describe(const Case &c) {
  std::string out;
  for (const Arg &a : c.args) {
    if (!out.empty()) out += ", ";
    if (a.k == Arg::Num) out += std::to_string(a.x);
    else if (a.k == Arg::Miss) out += ".";
    else out += "'" + a.s + "'";
  }
  return out;
}

struct Function {
  const char *name, *byte, *multibyte;
  bool scan;
  Case (*gen)(Gen &);
};

void PrintTo(const Function &f, std::ostream *os) { *os << f.name; }

class RouteAgreement : public ::testing::TestWithParam<Function> {};

TEST_P(RouteAgreement, RandomAsciiCalls) {
  const Function &f = GetParam();
  zeqtest::Utf8Session on;
  Gen g(20261207);
  int compared = 0;
  for (int round = 0; round < 3000; round++) {
    const Case c = f.gen(g);
    if (exception_for(f.name, c)) continue;
    compared++;
    const std::string b = byte_route(f.byte, f.scan, c);
    const std::string m = multibyte_route(f.multibyte, f.name, f.scan, c);
    ASSERT_EQ(b, m) << f.name << "(" << describe(c) << ")";
  }
  EXPECT_GT(compared, 1000);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFunction, RouteAgreement,
    ::testing::Values(Function{"COUNT", "fnccous", "COUNT_FUNCTION", false, gen_count},
                      Function{"COUNTC", "fnccouc", "COUNTC_FUNCTION", false, gen_countc},
                      Function{"FIND", "fncfind", "FIND_FUNCTION", false, gen_find},
                      Function{"FINDC", "fncfndc", "FINDC_FUNCTION", false, gen_findc},
                      Function{"FINDW", "fncfndw", "FINDW_FUNCTION", false, gen_findw},
                      Function{"COUNTW", "fnccouw", "COUNTW_FUNCTION", false, gen_countw},
                      Function{"SCAN", "fncscan", "SCAN_FUNCTION", true, gen_scan},
                      Function{"COMPARE", "fncompar", "COMPARE_FUNCTION", false, gen_compare}),
    [](const ::testing::TestParamInfo<Function> &info) { return std::string(info.param.name); });

}  // namespace
