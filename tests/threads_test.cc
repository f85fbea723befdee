// tests/threads_test.cc - tasks on threads: N workers (N = 4 and 16), each
// with a task of its own from Host::new_task() in every FncArgList it passes,
// run a seeded random mix of calls of every family (counting, finding,
// scanning, comparing, edit distances with the task's own COMPCOST costs,
// concatenation, names, call sites with caches in resultKind 0x58, the
// multibyte route, random streams made, seeded, cloned and drawn).  Every
// worker's answers must equal those of the same sequence run alone.  And
// `zeq batch --jobs 4` writes what `--jobs 1` writes, in both encodings.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "charfn/entry_types.h"
#include "tests/support/host_fixture.h"
#include "zeq/rng.h"

namespace {

using zeqtest::Arg;
using zeqtest::C;
using zeqtest::host;
using zeqtest::N;

using zeq::typed::CharEntry;
using zeq::typed::MbNumberEntry;
using zeq::typed::NumberEntry;
using zeq::typed::RoutineEntry;
using AllocReb = zrand_stream *(*)(FncTask *, uint64_t, uint64_t);
using AllocTk = zrand_stream *(*)(ZeqPool *, ...);
using CloneFrom = zrand_stream *(*)(ZeqPool *, uint64_t, zrand_stream *);
using Init = int32_t (*)(void *);
using Free = void (*)(void *);

// A table entry and the argument types it is called with ('2' character,
// '1' numeric).
struct Form {
  const char *entry;
  bool text_result;
  const char *types;
};
constexpr Form kForms[] = {
    {"fnccous", false, "22"},  {"fnccous", false, "222"}, {"fnccouc", false, "222"},
    {"fncfind", false, "221"}, {"fncfndc", false, "221"}, {"fncfndw", false, "2222"},
    {"fnccouw", false, "222"}, {"fnccouq", false, "22"},  {"fncompar", false, "222"},
    {"fncomlev", false, "22"}, {"fncomlev", false, "221"}, {"fncnval", false, "22"},
    {"fncndxt", false, "22"},  {"fncanyfirst", false, "21"}, {"fncscan", true, "212"},
    {"fncscnq", true, "21"},   {"fnccatx", true, "2222"}, {"fnccatq", true, "222"},
    {"fncsubp", true, "211"},  {"fncchar", true, "21"},
};

// Everything one worker does (each answer is noted after its call: the
// arguments of note() are not sequenced), from its seed, in its own task.
class Worker {
 public:
  Worker(uint32_t seed, FncTask *task) : rng_(seed), task_(task) {}

  std::vector<std::string> run(int steps) {
    for (int i = 0; i < steps; i++) {
      switch (below(6)) {
        case 0: case 1: table_call(); break;
        case 2: costs_and_distance(); break;
        case 3: cached_site(); break;
        case 4: multibyte_call(); break;
        default: stream(); break;
      }
    }
    return out_;
  }

 private:
  uint32_t below(uint32_t n) { return rng_() % n; }
  std::string text() {
    static const char kAlphabet[] = "abAB ,;'\"1iqmx";
    std::string s(below(12), ' ');
    for (char &ch : s) ch = kAlphabet[below(sizeof kAlphabet - 1)];
    return s;
  }
  zeqtest::Call &own(zeqtest::Call &c) { return c.task(task_); }
  void note(int32_t rc, const std::string &what) { out_.push_back(std::to_string(rc) + " " + what); }
  static std::string num(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    return buf;
  }
  double call_number(const char *entry, zeqtest::Call &c) {
    double r = -1;
    const int32_t rc = host().fn<NumberEntry>(entry)(c.block(), &r);
    note(rc, num(r));
    return r;
  }
  void call_text(const char *entry, zeqtest::Call &c) {
    zeqtest::Result r(40);
    const int32_t rc = host().fn<CharEntry>(entry)(c.block(), &r.rec);
    note(rc, r.text());
  }

  void table_call() {
    const Form &f = kForms[below(sizeof kForms / sizeof kForms[0])];
    zeqtest::Call c;
    own(c);
    for (const char *t = f.types; *t; t++) {
      if (*t == '2') c.str(text());
      else c.num(static_cast<double>(below(14)) - 3);
    }
    if (f.text_result) call_text(f.entry, c);
    else call_number(f.entry, c);
  }

  // COMPCOST sets this task's costs; COMPGED then prices with them.
  void costs_and_distance() {
    static const char *kOps[] = {"insert=", "delete=", "replace=", "swap=", "blank=", "append="};
    zeqtest::Call cost;
    own(cost).str(kOps[below(6)]).num(below(300)).str(kOps[below(6)]).num(below(300));
    note(zeq::typed::entry<zeq::typed::COMPCOST>(host())(cost.block()), "costs");
    zeqtest::Call ged;
    own(ged).str(text()).str(text());
    call_number("fncomged", ged);
  }

  // One call site in a caching environment, called again and again: the
  // first call keeps its table for the site.
  void cached_site() {
    zeqtest::Call c;
    own(c).kind(0x58);
    const char *entry;
    switch (below(3)) {
      case 0: entry = "fncfndw"; c.str(text()).str("a").str(" ,").str("OI"); break;
      case 1: entry = "fnccouw"; c.str(text()).str(" ;").str("OM"); break;
      default: entry = "fnccouc"; c.str(text()).str("ab").str("O"); break;
    }
    for (int i = 0; i < 3; i++) call_number(entry, c);
  }

  void multibyte_call() {
    static const char *kTexts[] = {"\u00e9t\u00e9 a,b", "a \u00e9 b \u00e9", "\u00c9\u00e9 ,x"};
    zeqtest::Call c;
    own(c).str(kTexts[below(3)]);
    const char *entry = "COUNTW_FUNCTION", *name = "COUNTW";
    if (below(2)) {
      entry = "FINDW_FUNCTION";
      name = "FINDW";
      c.str("\u00e9").str(" ,").str(below(2) ? "I" : "B");
    }
    double r = -1;
    const int32_t rc = host().fn<MbNumberEntry>(entry)(c.block(), &r, host().string_service(), 0, name);
    note(rc, num(r));
  }

  // A stream of a seeded method, a clone under another key, draws from both.
  void stream() {
    static const char *kMethods[] = {"MT32", "MT64", "XOR64", "XOR128", "TF2", "PCG32I", "PCG64I", "MTHYBRID"};
    zrand_stream *s = below(2) ? host().fn<AllocReb>("zrand_alloc_mva_reb")(task_, 0, 0)
                               : host().fn<AllocTk>("zrand_alloc_tk")(pool());
    ASSERT_NE(s, nullptr);
    s->method_word = kMethods[below(8)];
    s->seed = 1 + below(1000000);
    const int32_t rc = host().fn<Init>("zrand_init")(s);
    note(rc, s->desc->name);
    draw(s);
    zrand_stream *c = host().fn<CloneFrom>("zrand_clone_tk")(pool(), below(100), s);
    ASSERT_NE(c, nullptr);
    draw(c);
  }
  void draw(zrand_stream *s) {
    std::string d;
    for (int i = 0; i < 4; i++)
      d += " " + (s->desc->uint64 ? std::to_string(s->desc->uint64(s->state)) : num(s->double_fn(s->state)));
    note(s->status, d);
  }
  ZeqPool *pool() { return host().pool_of(task_).raw(); }

  std::mt19937 rng_;
  FncTask *task_;
  std::vector<std::string> out_;
};

constexpr int kSteps = 400;

std::vector<std::string> alone(uint32_t seed) {
  FncTask *task = host().new_task();
  std::vector<std::string> out = Worker(seed, task).run(kSteps);
  host().free_task(task);
  return out;
}

class Threads : public ::testing::TestWithParam<int> {};

TEST_P(Threads, EachWorkerAnswersAsItDoesAlone) {
  const int n = GetParam();
  std::vector<std::vector<std::string>> want(n), got(n);
  for (int i = 0; i < n; i++) want[i] = alone(1000 + i);

  std::vector<FncTask *> tasks(n);
  std::vector<std::thread> workers;
  for (int i = 0; i < n; i++)
    workers.emplace_back([&, i] {
      tasks[i] = host().new_task();
      got[i] = Worker(1000 + i, tasks[i]).run(kSteps);
    });
  for (auto &w : workers) w.join();
  for (int i = 0; i < n; i++) {
    EXPECT_TRUE(host().free_task(tasks[i]));
    ASSERT_EQ(got[i].size(), want[i].size()) << "worker " << i;
    for (size_t k = 0; k < want[i].size(); k++) ASSERT_EQ(got[i][k], want[i][k]) << "worker " << i << " step " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, Threads, ::testing::Values(4, 16));

// zeq's output and exit status for a command line (its stderr goes to the test's).
std::pair<std::string, int> run_zeq(const std::string &args) {
  const char *tool = std::getenv("ZEQ_TOOL");
  std::string out;
  FILE *p = popen((std::string(tool ? tool : ZEQ_BINARY_DIR "/zeq") + " " + args).c_str(), "r");
  if (!p) return {"", -1};
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  return {out, pclose(p)};
}

TEST(BatchJobs, FourJobsWriteWhatOneJobWrites) {
  const std::string csv = testing::TempDir() + "threads_batch.csv";
  {
    std::ofstream f(csv, std::ios::binary);
    std::mt19937 rng(7);
    const char *words[] = {"kitten", "sitting", "\xc3\xa9t\xc3\xa9", "Stra\xc3\x9f" "e", "a,b;c", "", "x  y"};
    f << "a,b\n";
    for (int i = 0; i < 20000; i++)
      f << '"' << words[rng() % 7] << ' ' << words[rng() % 7] << "\",\"" << words[rng() % 7] << "\"\n";
  }
  const std::string cols =
      " 'l=COMPLEV(a, b)' 'g=COMPGED(a, b)' 'w=COUNTW(a)' 's=SCAN(a, 2)' 'c=CATX(\"-\", a, b)'";
  for (const char *encoding : {"latin1", "utf-8"}) {
    const std::string batch = std::string("--encoding ") + encoding + " batch --no-progress --jobs ";
    const auto one = run_zeq(batch + "1 " + csv + cols), four = run_zeq(batch + "4 " + csv + cols);
    EXPECT_EQ(one.second, 0) << encoding;
    EXPECT_EQ(four.second, 0) << encoding;
    EXPECT_GT(one.first.size(), 20000u) << encoding;
    EXPECT_TRUE(one.first == four.first) << encoding;
  }
  std::remove(csv.c_str());
}

}  // namespace
