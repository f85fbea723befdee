// charfn/catalogue.h - the structured view of charfn/functions.def, shared by
// the function table, zeq, the SQL and Python front ends and the generators.
// Header-only and free of module state: a front end includes it without
// linking anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zeq::catalogue {

enum class Result : std::uint8_t {
  Char,     // (FncArgList *, FncString *result)
  Number,   // (FncArgList *, double *result)
  Direct,   // (FncString *argument, FncString *result)
  Routine,  // (FncArgList *): a CALL routine without a result
};

enum Flags : unsigned {
  ZEQ_FN_FUNCTION = 1u << 0,     // NAME(...) is valid as a function
  ZEQ_FN_HIDDEN = 1u << 1,       // a table entry no user calls
  ZEQ_FN_READS_TASK = 1u << 2,   // result depends on task state (COMPCOST's costs)
  ZEQ_FN_WRITES_TASK = 1u << 3,  // changes task state
  ZEQ_FN_SELF_ROUTES = 1u << 4,  // the entry hands multibyte text to MB_ENTRY itself
  ZEQ_FN_HOST_ROUTES = 1u << 5,  // the host calls MB_ENTRY itself on multibyte text
};

inline constexpr int kAnyCount = -1;

struct Function {
  std::string_view name;        // upper case
  int slot, slot2;              // 0 = not in the table
  std::string_view entry;       // exported byte-route entry
  std::string_view mb_entry;    // exported multibyte twin, empty for none
  Result result;
  int min_args, max_args;       // max_args == kAnyCount: no upper bound
  std::string_view argtypes;    // "" or blank-separated patterns of 1/2/x, "*" repeats
  std::string_view usage;       // argument list of the function form
  std::string_view args;        // "name: meaning; ..."
  int call_result;              // -1 no CALL form; 0 numeric variables only; else 1-based
  std::string_view call_usage;  // argument list of the CALL form
  unsigned flags;
  std::string_view modifiers;   // "L=meaning; ..."
  std::string_view summary;
  std::string_view examples;    // "CALL => result | ..."
  std::string_view notes;       // limits and defaults, sentences

  constexpr bool has(unsigned f) const { return (flags & f) != 0; }
  constexpr bool has_call() const { return call_result >= 0; }
  // What positions, lengths and counts are measured in when the session is
  // UTF-8: a function with a multibyte route works on characters, every
  // other one on bytes (COMPLEV("Benin", "B\xC3\xA9nin") is 2).
  constexpr std::string_view unit() const { return mb_entry.empty() ? "bytes" : "characters"; }
  // Whether equal arguments always give an equal result in one encoding:
  // false when the result also depends on the task (COMPCOST's costs).
  constexpr bool deterministic() const { return !has(ZEQ_FN_READS_TASK); }
  constexpr bool accepts_count(int n) const {
    return n >= min_args && (max_args == kAnyCount || n <= max_args);
  }
};

inline constexpr Function kFunctions[] = {
#define ZEQ_FUNCTION(NAME, SLOT, SLOT2, ENTRY, MB, RESULT, MIN, MAX, TYPES, USAGE, ARGS, CALLRES, \
                     CALLUSAGE, FLAGS, MODS, SUMMARY, EXAMPLES, NOTES)                            \
  {#NAME, SLOT, SLOT2, #ENTRY, #MB, Result::RESULT, MIN, MAX, TYPES, USAGE, ARGS, CALLRES,         \
   CALLUSAGE, FLAGS, MODS, SUMMARY, EXAMPLES, NOTES},
#include "charfn/functions.def"
#undef ZEQ_FUNCTION
};

inline constexpr std::size_t kFunctionCount = sizeof(kFunctions) / sizeof(kFunctions[0]);

// The row of an upper-case name, or null.
constexpr const Function *find(std::string_view upper_name) {
  for (const Function &f : kFunctions)
    if (f.name == upper_name) return &f;
  return nullptr;
}

// Whether a pattern of argument types ('1' numeric, '2' character) is one the
// function accepts; the count must already have been checked.
constexpr bool accepts_types(const Function &f, std::string_view types) {
  if (f.argtypes.empty()) return true;
  std::string_view rest = f.argtypes;
  while (!rest.empty()) {
    std::size_t sp = rest.find(' ');
    std::string_view pat = rest.substr(0, sp);
    rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
    bool repeat = !pat.empty() && pat.back() == '*';
    if (repeat) pat.remove_suffix(1);
    if (types.size() < pat.size() - (repeat ? 1 : 0)) continue;
    if (!repeat && types.size() != pat.size()) continue;
    bool ok = true;
    for (std::size_t i = 0; i < types.size() && ok; ++i) {
      char want = i < pat.size() ? pat[i] : pat.back();
      ok = want == 'x' || want == types[i];
    }
    if (ok) return true;
  }
  return false;
}

}  // namespace zeq::catalogue
