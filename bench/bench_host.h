// bench/bench_host.h - the reference host the benchmarks of one program
// share, and a call site over two texts and an optional number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace zeqbench {

// One host for the whole program, built on first use and never torn down.
inline zeqhost::Host &host() {
  static zeqhost::Host *h = new zeqhost::Host();
  return *h;
}

// A task without a scratch arena: scratch memory then comes from the task's
// pool, a zero-filled block per request, as under hosts that give no arena.
inline FncTask *arenaless_task() {
  static FncTask *task = [] {
    FncTask *t = host().new_task();
    t->scratch = nullptr;
    return t;
  }();
  return task;
}

// One call site of two character arguments and, when `number` is above 0, a
// numeric third (a cutoff, say); point() aims the texts at another pair
// without building the block again.
struct PairSite {
  FncString s1{}, s2{};
  double cutoff = 0;
  std::vector<unsigned char> raw;
  explicit PairSite(double number) : cutoff(number) {
    const int n = number > 0 ? 3 : 2;
    raw.assign(FNC_ARGLIST_SIZE(n), 0);
    FncArgList *b = list();
    b->callForm = FNC_FORM_FUNCTION;
    b->argCount = n;
    b->task = host().task();
    b->args[0].type = FNC_ARG_CHAR;
    b->args[0].value = &s1;
    b->args[1].type = FNC_ARG_CHAR;
    b->args[1].value = &s2;
    if (n == 3) {
      b->args[2].type = FNC_ARG_NUMERIC;
      b->args[2].value = &cutoff;
    }
  }
  FncArgList *list() { return reinterpret_cast<FncArgList *>(raw.data()); }
  void point(const std::string &a, const std::string &b) {
    s1.data = const_cast<char *>(a.data());
    s1.length = s1.maxLength = (int64_t)a.size();
    s2.data = const_cast<char *>(b.data());
    s2.length = s2.maxLength = (int64_t)b.size();
  }
};

}  // namespace zeqbench
