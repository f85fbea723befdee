// tests/support/call.h - builds argument blocks and result records for
// calling table entries directly.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "zeq/abi.h"

namespace zeqtest {

// A growable result's allocator backed by malloc/realloc, with a switch to
// make the next resize fail.
struct Growable {
  FncStringAllocator rec{};
  bool fail = false;
  int resizes = 0;
  Growable();
  ~Growable();
  std::vector<void *> blocks;
};

// One call site: arguments are added in order; the block persists between
// calls (noteCount and marks survive, as in a host).
class Call {
 public:
  Call &str(std::string_view text, uint8_t type = FNC_ARG_CHAR);
  Call &var(std::string_view text) { return str(text, FNC_ARG_VARCHAR); }
  Call &num(double x);
  Call &missing();                  // numeric NaN
  Call &absent(uint8_t type = FNC_ARG_CHAR);  // optional argument not written (value null)
  Call &form(uint8_t call_form) { form_ = call_form; return *this; }
  Call &kind(uint8_t result_kind) { kind_ = result_kind; return *this; }
  Call &task(FncTask *t) { task_ = t; return *this; }

  FncArgList *block();              // built on first use, then kept
  uint8_t mark(int i) { return block()->args[i].mark; }
  FncString *string_arg(int i) { return static_cast<FncString *>(block()->args[i].value); }
  double *number_arg(int i) { return static_cast<double *>(block()->args[i].value); }

 private:
  struct Item { uint8_t type; bool present; std::string text; double x; };
  std::vector<Item> items_;
  std::deque<FncString> strings_;
  std::deque<std::string> buffers_;
  std::deque<double> numbers_;
  std::vector<unsigned char> raw_;
  uint8_t form_ = 1, kind_ = 0;
  FncTask *task_ = nullptr;
  bool built_ = false;
};

// A fixed result of maxLength n (filled with '#' so stray writes show).
struct Result {
  explicit Result(int64_t max_length, bool growable = false, int64_t capacity = 0);
  FncString rec{};
  std::string buf;
  Growable grow;
  std::string text() const { return std::string(rec.data ? rec.data : "", (size_t)rec.length); }
};

}  // namespace zeqtest
