#include "python/src/signature.h"

#include <cctype>

namespace py = pybind11;

namespace zeqpy {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto &c : out) c = (char)std::tolower((unsigned char)c);
  return out;
}

[[noreturn]] void refuse(const Signature &sig, const std::string &what) {
  throw py::type_error(sig.lower + "(): " + what + "; usage: " + sig.text());
}

// The type a parameter holds: the one every argument pattern gives its
// position, else a number for the names of counts and positions, text for
// the others.
char param_type(const zeq::catalogue::Function &fn, size_t i, const std::string &name) {
  char agreed = 0;
  std::string_view rest = fn.argtypes;
  while (!rest.empty()) {
    size_t sp = rest.find(' ');
    std::string_view pat = rest.substr(0, sp);
    rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
    if (!pat.empty() && pat.back() == '*') return 'x';
    if (pat.size() <= i) continue;
    if (agreed && agreed != pat[i]) agreed = '?';
    else agreed = pat[i];
  }
  if (agreed && agreed != '?') return agreed;
  static const char *const numbers[] = {"cutoff", "start", "n", "position", "length", "level"};
  for (const char *n : numbers)
    if (name == n) return '1';
  return '2';
}

const char *type_words(char t) { return t == '1' ? "a number" : "str or bytes"; }

std::string count_phrase(const zeq::catalogue::Function &fn) {
  if (fn.max_args == zeq::catalogue::kAnyCount) return "at least " + std::to_string(fn.min_args);
  if (fn.min_args == fn.max_args) return std::to_string(fn.min_args);
  return std::to_string(fn.min_args) + " to " + std::to_string(fn.max_args);
}

}  // namespace

Signature signature_of(const zeq::catalogue::Function &fn) {
  Signature sig;
  sig.fn = &fn;
  sig.lower = lower(fn.name);
  int depth = 0;
  std::string word;
  auto flush = [&] {
    if (word == "...") sig.variadic = true;
    else if (!word.empty()) sig.params.push_back({word, depth});
    word.clear();
  };
  for (char c : fn.usage) {
    if (c == '[' || c == ']' || c == ',') {
      flush();
      depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    } else if (c != ' ') {
      word += c;
    }
  }
  flush();
  for (size_t i = 0; i < sig.params.size(); i++)
    sig.params[i].type = sig.variadic ? 'x' : param_type(fn, i, sig.params[i].name);
  return sig;
}

std::string Signature::text(bool self) const {
  std::string out = lower + "(" + (self ? "$self, " : "");
  if (variadic) {  // the leading required arguments, then the items
    for (size_t i = 0; i + 1 < params.size(); i++)
      if (params[i].depth == 0) out += params[i].name + ", ";
    return out + "*" + (params.empty() ? std::string("item") : params.back().name) + "s, threads=1)";
  }
  for (const auto &p : params) out += p.name + (p.depth > 0 ? "=None" : "") + ", ";
  return out + "*, threads=1)";
}

std::string Signature::doc(bool self) const {
  std::string out = text(self) + "\n--\n\n" + std::string(fn->summary) + ".\n\nArguments: " +
                    std::string(fn->args) + ".";
  if (!fn->modifiers.empty()) out += "\nModifiers: " + std::string(fn->modifiers) + ".";
  if (!fn->notes.empty()) out += "\n" + std::string(fn->notes);
  if (!fn->examples.empty()) out += "\nExample: " + std::string(fn->examples);
  out += "\n\nUnit: in a UTF-8 session positions, lengths and counts are " + std::string(fn->unit()) +
         (fn->unit() == "bytes" ? " (complev('Benin', 'B\u00e9nin') is 2)." : ".") +
         "\nTrailing blanks: COMPARE, COMPLEV and COMPGED ignore them, as the host pads text with "
         "blanks ('ab  ' equals 'ab'); the other functions count them unless a T modifier trims them.";
  for (const auto &p : params)
    if (p.name == "cutoff")
      out += "\nCutoff: the result is min(distance, cutoff), exactly; a smaller cutoff only makes the call "
             "faster.";
  return out +
         "\n\nEach argument is a scalar (str, bytes, int, float, None) or an array-like; they broadcast as "
         "numpy arrays do.  Positions are 1-based, as the host counts them.  threads=N splits the rows over N "
         "threads (0: one per core) with the interpreter lock released; calls from several Python threads "
         "run in parallel.";
}

void wrong_keyword_type(const Signature &sig, const std::string &name, char want, const std::string &got) {
  throw py::type_error(sig.lower + "(): argument '" + name + "' must be " + type_words(want) + ", not " + got);
}

Bound bind(const Signature &sig, const py::args &args, const py::kwargs &kwargs) {
  const auto &fn = *sig.fn;
  Bound out;
  if (sig.variadic) {
    if (!kwargs.empty()) refuse(sig, "takes positional arguments only");
    for (auto a : args) out.args.push_back(py::reinterpret_borrow<py::object>(a));
    if (!fn.accepts_count((int)out.args.size()))
      refuse(sig, "takes " + count_phrase(fn) + " arguments, got " + std::to_string(out.args.size()));
    for (size_t i = 0; i < out.args.size(); i++)
      out.names.push_back(sig.params[std::min(i, sig.params.size() - 1)].name);
    out.keyword_types.assign(out.args.size(), 'x');
    return out;
  }
  if (args.size() > sig.params.size())
    refuse(sig, "takes " + count_phrase(fn) + " arguments, got " + std::to_string(args.size()));
  std::vector<py::object> given(sig.params.size());
  std::vector<bool> keyword(sig.params.size());
  for (size_t i = 0; i < args.size(); i++) given[i] = py::reinterpret_borrow<py::object>(args[i]);
  for (auto [key, value] : kwargs) {
    std::string name = py::cast<std::string>(key);
    size_t i = 0;
    while (i < sig.params.size() && sig.params[i].name != name) i++;
    if (i == sig.params.size()) refuse(sig, "unexpected keyword argument '" + name + "'");
    if (given[i]) refuse(sig, "got two values for argument '" + name + "'");
    given[i] = py::reinterpret_borrow<py::object>(value);
    keyword[i] = true;
  }
  bool previous = true;
  const Param *skipped[2] = {nullptr, nullptr};  // the first optional number and text left out
  for (size_t i = 0; i < given.size(); i++) {
    const Param &p = sig.params[i];
    bool omitted = !given[i] || (p.depth > 0 && given[i].is_none());
    if (omitted && p.depth == 0) refuse(sig, "missing argument '" + p.name + "'");
    // "[, delimiters [, modifiers]]": the inner one needs the outer one.
    if (!omitted && p.depth > 1 && !previous)
      refuse(sig, "'" + p.name + "' needs '" + sig.params[i - 1].name + "'");
    // The host tells optional arguments apart by type: text after a text
    // left out would be read as the one left out.
    const Param *&before = skipped[p.type == '2'];
    if (!omitted && p.type != 'x' && before)
      refuse(sig, "'" + p.name + "' needs '" + before->name + "' (give both)");
    if (omitted && p.type != 'x' && !before) before = &p;
    previous = !omitted;
    if (omitted) continue;
    out.args.push_back(given[i]);
    out.names.push_back(p.name);
    out.keyword_types += keyword[i] ? p.type : 'x';
  }
  return out;
}

}  // namespace zeqpy
