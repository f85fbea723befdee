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
  return sig;
}

std::string Signature::text() const {
  std::string out = lower + "(";
  const char *sep = "";
  for (const auto &p : params) {
    out += sep + p.name + (p.depth > 0 && !variadic ? "=None" : "");
    sep = ", ";
  }
  if (variadic) out += std::string(sep) + "...";
  return out + (variadic ? ", threads=1)" : std::string(sep) + "*, threads=1)");
}

std::string Signature::doc() const {
  std::string out = text() + "\n\n" + std::string(fn->summary) + ".\n\nArguments: " + std::string(fn->args) + ".";
  if (!fn->modifiers.empty()) out += "\nModifiers: " + std::string(fn->modifiers) + ".";
  if (!fn->notes.empty()) out += "\n" + std::string(fn->notes);
  if (!fn->examples.empty()) out += "\nExample: " + std::string(fn->examples);
  return out +
         "\n\nEach argument is a scalar (str, bytes, int, float, None) or an array-like; they "
         "broadcast as numpy arrays do.  threads=N splits long inputs over N threads.";
}

std::vector<py::object> bind(const Signature &sig, const py::args &args, const py::kwargs &kwargs) {
  const auto &fn = *sig.fn;
  std::vector<py::object> out;
  if (sig.variadic) {
    if (!kwargs.empty()) refuse(sig, "takes positional arguments only");
    for (auto a : args) out.push_back(py::reinterpret_borrow<py::object>(a));
    if (!fn.accepts_count((int)out.size()))
      refuse(sig, "takes " + count_phrase(fn) + " arguments, got " + std::to_string(out.size()));
    return out;
  }
  if (args.size() > sig.params.size())
    refuse(sig, "takes " + count_phrase(fn) + " arguments, got " + std::to_string(args.size()));
  std::vector<py::object> given(sig.params.size());
  for (size_t i = 0; i < args.size(); i++) given[i] = py::reinterpret_borrow<py::object>(args[i]);
  for (auto [key, value] : kwargs) {
    std::string name = py::cast<std::string>(key);
    size_t i = 0;
    while (i < sig.params.size() && sig.params[i].name != name) i++;
    if (i == sig.params.size()) refuse(sig, "unexpected keyword argument '" + name + "'");
    if (given[i]) refuse(sig, "got two values for argument '" + name + "'");
    given[i] = py::reinterpret_borrow<py::object>(value);
  }
  bool previous = true;
  for (size_t i = 0; i < given.size(); i++) {
    const Param &p = sig.params[i];
    bool omitted = !given[i] || (p.depth > 0 && given[i].is_none());
    if (omitted && p.depth == 0) refuse(sig, "missing argument '" + p.name + "'");
    // "[, delimiters [, modifiers]]": the inner one needs the outer one.
    if (!omitted && p.depth > 1 && !previous)
      refuse(sig, "'" + p.name + "' needs '" + sig.params[i - 1].name + "'");
    previous = !omitted;
    if (!omitted) out.push_back(given[i]);
  }
  return out;
}

}  // namespace zeqpy
