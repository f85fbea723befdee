#include "tests/support/args.h"

namespace zeqtest {

void add_args(Call &call, const std::vector<Arg> &args) {
  for (const Arg &a : args) {
    switch (a.k) {
      case Arg::Chr: call.str(a.s); break;
      case Arg::Var: call.var(a.s); break;
      case Arg::Num: call.num(a.x); break;
      case Arg::Miss: call.missing(); break;
      case Arg::Absent: call.absent(a.absent_type); break;
    }
  }
}

}  // namespace zeqtest
