#include "tools/zeq/registry.h"

namespace zeqtool {

namespace cat = zeq::catalogue;

std::vector<const Function *> functions() {
  std::vector<const Function *> out;
  for (const Function &f : cat::kFunctions)
    if (!f.has(cat::ZEQ_FN_HIDDEN)) out.push_back(&f);
  return out;
}

const Function *find_function(std::string_view upper_name) {
  const Function *f = cat::find(upper_name);
  return f && !f->has(cat::ZEQ_FN_HIDDEN) ? f : nullptr;
}

const Function *callable(const std::string &upper_name, bool call_form, std::string &error) {
  const Function *f = find_function(upper_name);
  if (!f) error = "unknown function " + upper_name + " (zeq help lists the functions)";
  else if (call_form ? !f->has_call() : !f->has(cat::ZEQ_FN_FUNCTION))
    error = upper_name + (call_form ? " has no CALL form" : " is a call routine") + "; usage: " + usage_line(*f);
  else return f;
  return nullptr;
}

std::string usage_line(const Function &f) {
  const std::string name(f.name);
  std::string out;
  if (f.has(cat::ZEQ_FN_FUNCTION)) out = name + "(" + std::string(f.usage) + ")";
  if (f.has_call()) {
    if (!out.empty()) out += " | ";
    out += "CALL " + name + "(" + std::string(f.call_usage.empty() ? f.usage : f.call_usage) + ")";
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> field_pairs(std::string_view field, char sep) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!field.empty()) {
    size_t end = field.find("; ");
    std::string_view item = field.substr(0, end);
    field = end == std::string_view::npos ? std::string_view{} : field.substr(end + 2);
    size_t at = item.find(sep, item.front() == sep ? 1 : 0);  // a modifier may be the separator itself
    if (at == std::string_view::npos) out.push_back({std::string(item), ""});
    else {
      std::string_view meaning = item.substr(at + 1);
      while (!meaning.empty() && meaning.front() == ' ') meaning.remove_prefix(1);
      out.push_back({std::string(item.substr(0, at)), std::string(meaning)});
    }
  }
  return out;
}

}  // namespace zeqtool
